#include "service/ModelTable.h"
#include "service/PrinterRecords.h"

#include <QSet>
#include <QtTest>

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void freshEntryDefaults();
    void tableShape();
    void findByModelName_data();
    void findByModelName();
    void findByPortText_data();
    void findByPortText();
    void findByModelKey_data();
    void findByModelKey();
};

void TestRecords::freshEntryDefaults()
{
    const stPrinterManager entry;
    QVERIFY(entry.stInfo.strName.isEmpty() && entry.stInfo.strURI.isEmpty());
    QCOMPARE(entry.stInfo.iConnectType, 0);
    QCOMPARE(entry.stState.iStatus, 2);
    QCOMPARE(entry.stState.iErrorCount1 + entry.stState.iErrorCount2, 0);
    QVERIFY(entry.stState.listError1.isEmpty() && entry.stState.listError2.isEmpty());
    QVERIFY(entry.stState.strStatusText.isEmpty() && entry.stState.strSuppliesText.isEmpty());
    QCOMPARE(entry.stState.ulSupply1000 + entry.stState.ulSupply1102, quint64(0));
    QCOMPARE(entry.stState.iFailCount, 0);
    QVERIFY(entry.listJobState.isEmpty());
    QCOMPARE(stJobState().iReserved, -1);
}

void TestRecords::tableShape()
{
    QSet<QString> keys;
    QSet<int> pids;
    for (const stModelInfo& row : c_stModelInfoList) {
        keys.insert(row.strModelKey);
        pids.insert(row.iPid);
        QCOMPARE(row.iVid, 0x3A5C);
        QCOMPARE(row.strModelName, QStringLiteral("Orvo ") + row.strModelKey);
        QCOMPARE(row.strPPDName, QStringLiteral("Orvo_") + row.strModelKey + ".ppd");
    }
    QCOMPARE(keys.size(), MODEL_COUNT);
    QCOMPARE(pids.size(), MODEL_COUNT);
    // Four series of 5, 6, 4 and 6 rows: the high nibble of the product ID's low byte.
    const int firstOfSeries[] = {0, 5, 11, 15};
    const int series[] = {0x00, 0x10, 0x20, 0x30};
    for (int s = 0; s < 4; ++s) {
        QCOMPARE(c_stModelInfoList[firstOfSeries[s]].iPid & 0xF0, series[s]);
    }
}

void TestRecords::findByModelName_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("key");
    QTest::newRow("exact") << "Orvo Q7020DN"
                           << "Q7020DN";
    QTest::newRow("lower case") << "orvo q7020dn"
                                << "Q7020DN";
    QTest::newRow("series 4") << "ORVO QM7068FDW"
                              << "QM7068FDW";
    QTest::newRow("prefix only") << "Orvo Q7020"
                                 << "Q7020";
    QTest::newRow("trailing space") << "Orvo Q7020 "
                                    << "";
    QTest::newRow("key alone") << "Q7020"
                               << "";
    QTest::newRow("other maker") << "Acme Q7020"
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestRecords::findByModelName()
{
    QFETCH(QString, value);
    QFETCH(QString, key);
    const stModelInfo* row = ModelTable::FindByModelName(value);
    QCOMPARE(row ? row->strModelKey : QString(), key);
}

void TestRecords::findByPortText_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("pid");
    QTest::newRow("short key not taken for longer") << "Orvo/Q7020DN?serial=1" << 0x0703;
    QTest::newRow("short key") << "Orvo/Q7020?serial=1" << 0x0701;
    QTest::newRow("series 4") << "Orvo/QM7065FDW?serial=AB" << 0x0735;
    QTest::newRow("case counts") << "Orvo/q7020dn?serial=1" << -1;
    QTest::newRow("no question mark") << "Orvo/Q7020DN" << -1;
    QTest::newRow("unknown model") << "Orvo/Q9999?serial=1" << -1;
    QTest::newRow("network host") << "192.168.1.20" << -1;
}

void TestRecords::findByPortText()
{
    QFETCH(QString, port);
    QFETCH(int, pid);
    const stModelInfo* row = ModelTable::FindByPortText(port);
    QCOMPARE(row ? row->iPid : -1, pid);
}

void TestRecords::findByModelKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("ppd");
    QTest::newRow("exact") << "Q7045DW"
                           << "Orvo_Q7045DW.ppd";
    QTest::newRow("lower case") << "q7045dw"
                                << "Orvo_Q7045DW.ppd";
    QTest::newRow("longer") << "Q7045DWX"
                            << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestRecords::findByModelKey()
{
    QFETCH(QString, key);
    QFETCH(QString, ppd);
    const stModelInfo* row = ModelTable::FindByModelKey(key);
    QCOMPARE(row ? row->strPPDName : QString(), ppd);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
