// Which reasons and messages the service takes as its own, and the list it sends CUPS back: the
// rules that keep everybody else's reasons and messages in place.

#include "service/PrinterReasons.h"

#include <QtTest>

class TestPrinterReasons : public QObject
{
    Q_OBJECT

private slots:
    void ownMessage_data();
    void ownMessage();
    void merge_data();
    void merge();
};

void TestPrinterReasons::ownMessage_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("own");
    QTest::newRow("one condition") << "Paper jam" << true;
    QTest::newRow("with the toner level") << "Paper out, toner low (4 %)" << true;
    QTest::newRow("bare codes") << "Printer error 0x1200, printer warning 0x1300" << true;
    QTest::newRow("unreachable") << "Not answering" << true;
    QTest::newRow("cupsd's own") << "Paused" << false;
    QTest::newRow("a backend's") << "Printing page 2, 40% complete." << false;
    QTest::newRow("ours with more after it") << "Paper jam, call the office" << false;
    QTest::newRow("a level that is no percentage") << "Toner low (1234 %)" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("nothing before the first comma") << ", paper jam" << false;
}

void TestPrinterReasons::ownMessage()
{
    QFETCH(QString, message);
    QFETCH(bool, own);
    QCOMPARE(PrinterReasons::IsOwnMessage(message), own);
}

void TestPrinterReasons::merge_data()
{
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<QStringList>("remove");
    QTest::addColumn<QStringList>("wanted");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("others kept, ours replaced")
        << QStringList{"paused", "media-jam-error", "cups-missing-filter-warning"}
        << QStringList{"media-jam-error"} << QStringList{"media-empty-error"}
        << QStringList{"paused", "cups-missing-filter-warning", "media-empty-error"};
    QTest::newRow("one somebody else also set stays once")
        << QStringList{"offline-report"} << QStringList{} << QStringList{"offline-report"}
        << QStringList{"offline-report"};
    QTest::newRow("none is no reason")
        << QStringList{"none"} << QStringList{} << QStringList{"toner-low-warning"}
        << QStringList{"toner-low-warning"};
    QTest::newRow("all taken back")
        << QStringList{"toner-low-warning", "other-warning"}
        << QStringList{"toner-low-warning", "other-warning"} << QStringList{} << QStringList{};
}

void TestPrinterReasons::merge()
{
    QFETCH(QStringList, current);
    QFETCH(QStringList, remove);
    QFETCH(QStringList, wanted);
    QFETCH(QStringList, expected);
    QCOMPARE(PrinterReasons::Merge(current, remove, wanted), expected);
}

QTEST_APPLESS_MAIN(TestPrinterReasons)
#include "test_printerreasons.moc"
