// Which queue names the service can watch: the service's log and orvo-status --verbose both tell
// this reason for a queue it skips.

#include "service/QueueNameCheck.h"

#include <QtTest>

class TestQueueNameCheck : public QObject
{
    Q_OBJECT

private slots:
    void problem_data();
    void problem();
};

void TestQueueNameCheck::problem_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("expected");

    const QString tooLong =
        QStringLiteral("the queue name is too long for the CUPS commands (%1 bytes)");
    QTest::newRow("plain") << QByteArray("Office") << QString();
    QTest::newRow("UTF-8") << QByteArray("B\xc3\xbcro \xe6\x89\x93") << QString();
    QTest::newRow("Latin-1 byte") << QByteArray("B\xfcro")
                                  << QStringLiteral("the queue name is not valid UTF-8");
    QTest::newRow("cut sequence") << QByteArray("Office\xe6\x89")
                                  << QStringLiteral("the queue name is not valid UTF-8");
    // "cancel " and the name fill the 255 bytes a command may have.
    QTest::newRow("longest that fits") << QByteArray(248, 'L') << QString();
    QTest::newRow("one byte over") << QByteArray(249, 'L') << tooLong.arg(249);
    // A name that needs quoting takes two bytes more in the command.
    QTest::newRow("quoted, longest that fits") << QByteArray(244, 'L') + "(x" << QString();
    QTest::newRow("quoted, one byte over") << QByteArray(245, 'L') + "(x" << tooLong.arg(247);
    QTest::newRow("leading dash") << QByteArray("-Office")
                                  << QStringLiteral("the queue name begins with \"-\", which the "
                                                    "CUPS commands would take for an option");
    QTest::newRow("dash inside") << QByteArray("Office-2") << QString();
    const QString beyondBmp = QStringLiteral(
        "the queue name has a character beyond U+FFFF, which the printer list cannot hold");
    QTest::newRow("emoji") << QByteArray("Office\xf0\x9f\x96\xa8") << beyondBmp;
    QTest::newRow("emoji in front") << QByteArray("\xf0\x9f\x96\xa8"
                                                  "Desk")
                                    << beyondBmp;
    QTest::newRow("long and not UTF-8")
        << QByteArray(300, '\xfc') << QStringLiteral("the queue name is not valid UTF-8");
}

void TestQueueNameCheck::problem()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, expected);
    QCOMPARE(QueueNameCheck::Problem(name), expected);
}

QTEST_GUILESS_MAIN(TestQueueNameCheck)
#include "test_queuenamecheck.moc"
