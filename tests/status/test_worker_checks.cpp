#include "service/CupsTool.h"
#include "status/TrdGetPrinterStatus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestWorkerChecks : public QObject
{
    Q_OBJECT
private slots:
    void statusChange_data();
    void statusChange();
};

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
    if (field == "iStatus") {
        after.iStatus = 5;
    } else if (field == "ulSupply1000") {
        after.ulSupply1000 = 69;
    } else if (field == "listError1") {
        after.listError1.append(ERROR_STATUS_4);
    } else if (field == "listError2") {
        after.listError2.clear();
    } else if (field == "order") {
        after.listError1 = {ERROR_STATUS_12, ERROR_STATUS_3};
    } else if (field == "texts") {
        after.strStatusText = after.strInfo1 = QStringLiteral("changed");
    } else if (field == "ulSupply1001") {
        after.ulSupply1001 = 1;
    } else if (field == "iErrorCount1") {
        after.iErrorCount1 = 9;
    } else if (field == "iFailCount") {
        after.iFailCount = 3;
    }
    QCOMPARE(TrdGetPrinterStatus::CheckStatusChange(before, after), changed);
    QCOMPARE(TrdGetPrinterStatus::CheckStatusChange(after, before), changed);
}

QTEST_GUILESS_MAIN(TestWorkerChecks)
#include "test_worker_checks.moc"
