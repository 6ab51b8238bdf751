#include "protocol/ReplyCondition.h"

#include <QStringList>
#include <QtTest>

// The printer-state-reasons keywords CUPS is given: desktops and CUPS' own clients act on them,
// so each condition must carry the registered keyword with the suffix of its severity.
class TestReplyCondition : public QObject
{
    Q_OBJECT
private slots:
    void ippReasons_data();
    void ippReasons();
    void everyReasonIsListed();
};

using Codes = std::vector<std::uint64_t>;
Q_DECLARE_METATYPE(Codes)

void TestReplyCondition::ippReasons_data()
{
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<Codes>("codes1");
    QTest::addColumn<Codes>("codes2");
    QTest::addColumn<QStringList>("reasons");

    QTest::newRow("ready") << 1 << Codes{} << Codes{} << QStringList{};
    QTest::newRow("paper out") << 3 << Codes{0x1106} << Codes{} << QStringList{"media-empty-error"};
    QTest::newRow("jam, two codes")
        << 3 << Codes{0x1109, 0x110D} << Codes{} << QStringList{"media-jam-error"};
    QTest::newRow("cover open") << 3 << Codes{0x110F} << Codes{} << QStringList{"cover-open-error"};
    QTest::newRow("toner empty") << 3 << Codes{0x11A1} << Codes{}
                                 << QStringList{"toner-empty-error"};
    QTest::newRow("toner low while printing")
        << 16 << Codes{} << Codes{0x11A0} << QStringList{"toner-low-warning"};
    QTest::newRow("unnamed codes of both lists")
        << 3 << Codes{0x1200} << Codes{0x1300} << QStringList{"other-error", "other-warning"};
    QTest::newRow("error status without a code")
        << 3 << Codes{} << Codes{} << QStringList{"other-error"};
    QTest::newRow("warning status without a code")
        << 2 << Codes{} << Codes{} << QStringList{"other-warning"};
    QTest::newRow("status code without a meaning")
        << 7 << Codes{} << Codes{} << QStringList{"other-warning"};
}

void TestReplyCondition::ippReasons()
{
    QFETCH(int, statusCode);
    QFETCH(Codes, codes1);
    QFETCH(Codes, codes2);
    QFETCH(QStringList, reasons);

    const ReplyCondition reply = ReplyCondition::Classify(statusCode, codes1, codes2);
    QStringList got;
    for (const stReplyCondition& condition : reply.Conditions()) {
        got << QString::fromLatin1(condition.pszIppReason);
    }
    QCOMPARE(got, reasons);
}

void TestReplyCondition::everyReasonIsListed()
{
    QStringList listed;
    for (const char* reason : ReplyCondition::IppReasons()) {
        listed << QString::fromLatin1(reason);
    }
    listed.sort();
    QCOMPARE(listed, QStringList({"cover-open-error", "media-empty-error", "media-jam-error",
                                  "offline-report", "other-error", "other-warning",
                                  "toner-empty-error", "toner-low-warning"}));
}

QTEST_APPLESS_MAIN(TestReplyCondition)
#include "tst_ReplyCondition.moc"
