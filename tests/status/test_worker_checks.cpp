#include "CupsTool.h"
#include "QueuePrintingCheck.h"
#include "TrdGetPrinterStatus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestWorkerChecks : public QObject
{
    Q_OBJECT
private slots:
    void printingLine_data();
    void printingLine();
    void capturedPrinterLine_data();
    void capturedPrinterLine();
    void statusChange_data();
    void statusChange();
};

void TestWorkerChecks::printingLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("queue");
    QTest::addColumn<bool>("printing");

    QTest::newRow("printing") << "printer Q now printing Q-8.  enabled since Mon Dec  7 2026\n"
                              << "Q" << true;
    QTest::newRow("idle") << "printer Q is idle.  enabled since Mon Dec  7 2026\n"
                          << "Q" << false;
    QTest::newRow("any letter case") << "printer Q now PRINTING Q-8.\n"
                                     << "Q" << true;
    QTest::newRow("zh_CN printing")
        << QString::fromUtf8("打印机 Q 正在打印 Q-8。\n") << "Q" << true;
    QTest::newRow("zh_CN idle") << QString::fromUtf8("打印机 Q 目前空闲。\n") << "Q" << false;
    QTest::newRow("queue named after the word, idle")
        << "printer printing-room is idle.  enabled since Mon Dec  7 2026\n"
        << "printing-room" << false;
    QTest::newRow("queue named after the word, printing")
        << "printer printing-room now printing printing-room-3.  enabled since Mon Dec  7 2026\n"
        << "printing-room" << true;
    QTest::newRow("zh_CN queue named after the word, idle")
        << QString::fromUtf8("打印机 正在打印 目前空闲。\n") << QString::fromUtf8("正在打印")
        << false;
    QTest::newRow("empty line") << ""
                                << "Q" << false;
}

void TestWorkerChecks::printingLine()
{
    QFETCH(QString, line);
    QFETCH(QString, queue);
    QFETCH(bool, printing);
    QCOMPARE(QueuePrintingCheck::ShowsPrinting(line, queue), printing);
}

void TestWorkerChecks::capturedPrinterLine_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("queue");
    QTest::addColumn<bool>("printing");

    const QString shell = QStringLiteral("q$(touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned)");
    for (const QString& locale : {QStringLiteral("C"), QStringLiteral("zh_CN")}) {
        QTest::newRow(qPrintable("printing " + locale)) << "printer-printing." + locale + ".txt"
                                                        << "Office" << true;
        QTest::newRow(qPrintable("idle " + locale)) << "printer-idle." + locale + ".txt"
                                                    << "Office" << false;
        QTest::newRow(qPrintable("shell characters, printing " + locale))
            << "printer-shell-name." + locale + ".txt" << shell << true;
    }
}

void TestWorkerChecks::capturedPrinterLine()
{
    QFETCH(QString, file);
    QFETCH(QString, queue);
    QFETCH(bool, printing);

    QTemporaryDir dir;
    const QString copy = dir.filePath("printer_0.tmp");
    QVERIFY(QFile::copy(QStringLiteral(ORVO_TEST_DATA_DIR "/lpstat-jobs/") + file, copy));
    const QStringList lines = CupsTool::ReadAndRemove(copy);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(QueuePrintingCheck::ShowsPrinting(lines.first(), queue), printing);
}

void TestWorkerChecks::statusChange_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("changed");

    QTest::newRow("nothing") << "" << false;
    QTest::newRow("status") << "iStatus" << true;
    QTest::newRow("supply 1000") << "ulSupply1000" << true;
    QTest::newRow("first error list") << "listError1" << true;
    QTest::newRow("second error list") << "listError2" << true;
    QTest::newRow("order of an error list") << "order" << true;
    QTest::newRow("texts are not compared") << "texts" << false;
    QTest::newRow("other supplies are not compared") << "ulSupply1001" << false;
    QTest::newRow("error counts are not compared") << "iErrorCount1" << false;
    QTest::newRow("fail counter is not compared") << "iFailCount" << false;
}

void TestWorkerChecks::statusChange()
{
    QFETCH(QString, field);
    QFETCH(bool, changed);

    stPrinterState before;
    before.iStatus = 4;
    before.ulSupply1000 = 70;
    before.listError1 = {ERROR_STATUS_3, ERROR_STATUS_12};
    before.listError2 = {ERROR_STATUS_1};
    stPrinterState after = before;
    if (field == "iStatus")
        after.iStatus = 5;
    else if (field == "ulSupply1000")
        after.ulSupply1000 = 69;
    else if (field == "listError1")
        after.listError1.append(ERROR_STATUS_4);
    else if (field == "listError2")
        after.listError2.clear();
    else if (field == "order")
        after.listError1 = {ERROR_STATUS_12, ERROR_STATUS_3};
    else if (field == "texts")
        after.strStatusText = after.strInfo1 = QStringLiteral("changed");
    else if (field == "ulSupply1001")
        after.ulSupply1001 = 1;
    else if (field == "iErrorCount1")
        after.iErrorCount1 = 9;
    else if (field == "iFailCount")
        after.iFailCount = 3;
    QCOMPARE(TrdGetPrinterStatus::CheckStatusChange(before, after), changed);
    QCOMPARE(TrdGetPrinterStatus::CheckStatusChange(after, before), changed);
}

QTEST_GUILESS_MAIN(TestWorkerChecks)
#include "test_worker_checks.moc"
