// Queues of the maker that the service cannot carry in its printer list, found from the PPDs
// CUPS keeps, with the reason orvo-status --verbose tells.

#include "tools/status/SkippedQueueFinder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class TestSkippedQueueFinder : public QObject
{
    Q_OBJECT

private slots:
    void find_data();
    void find();
};

void TestSkippedQueueFinder::find_data()
{
    QTest::addColumn<QByteArray>("name"); // the queue name as bytes on disk
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QStringList>("expected");

    const QByteArray orvo("Orvo Q7020DN");
    QTest::newRow("listed") << QByteArray("Office") << orvo << QStringList();
    QTest::newRow("not the maker's")
        << QByteArray("Other") << QByteArray("Acme 1") << QStringList();
    QTest::newRow("not valid UTF-8")
        << QByteArray("B\xfcro") << orvo
        << QStringList{"B\\xfcro (Orvo Q7020DN): the queue name is not valid UTF-8"};
    const QByteArray longName(250, 'L');
    QTest::newRow("too long for a command")
        << longName << orvo
        << QStringList{QString::fromLatin1(longName) +
                       " (Orvo Q7020DN): the queue name is too long for the CUPS commands (250 "
                       "bytes)"};
    QTest::newRow("not listed for another reason")
        << QByteArray("Fresh") << orvo
        << QStringList{"Fresh (Orvo Q7020DN): not in the printer list (not a USB or network "
                       "queue, or made since the service last looked)"};
}

void TestSkippedQueueFinder::find()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, model);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Written by its bytes: QFile would re-encode a name that is not UTF-8.
    const QByteArray path = QFile::encodeName(dir.path()) + '/' + name + ".ppd";
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0640);
    QVERIFY(fd >= 0);
    const QByteArray ppd = "*PPD-Adobe: \"4.3\"\n*ModelName: \"" + model + "\"\n";
    QCOMPARE(::write(fd, ppd.constData(), size_t(ppd.size())), ssize_t(ppd.size()));
    ::close(fd);

    QCOMPARE(SkippedQueueFinder::Find(dir.path() + QLatin1Char('/'), {QStringLiteral("Office")}),
             expected);
}

QTEST_GUILESS_MAIN(TestSkippedQueueFinder)
#include "tst_SkippedQueueFinder.moc"
