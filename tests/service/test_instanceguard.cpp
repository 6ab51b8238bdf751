#include "service/InstanceGuard.h"

#include <QFile>
#include <QtTest>

class TestInstanceGuard : public QObject
{
    Q_OBJECT
private slots:
    void processName_data();
    void processName();
    void countLines_data();
    void countLines();
};

void TestInstanceGuard::processName_data()
{
    QTest::addColumn<QString>("app");
    QTest::addColumn<QString>("name");
    QTest::newRow("short") << "orvo-statusd"
                           << "orvo-statusd";
    QTest::newRow("exactly 15") << "orvo-statusd-ab"
                                << "orvo-statusd-ab";
    QTest::newRow("longer") << "orvo-statusd-longer-name"
                            << "orvo-statusd-lo";
}

void TestInstanceGuard::processName()
{
    QFETCH(QString, app);
    QFETCH(QString, name);
    QCOMPARE(InstanceGuard::ProcessName(app), name);
}

void TestInstanceGuard::countLines_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    // Captured "ps -A | grep orvo-statusd" outputs.
    QTest::newRow("only itself") << "ps_self.txt"
                                 << "orvo-statusd" << 1;
    QTest::newRow("two copies") << "ps_two.txt"
                                << "orvo-statusd" << 2;
    QTest::newRow("prefix of another program") << "ps_prefix.txt"
                                               << "orvo-statusd" << 1;
    QTest::newRow("letter case ignored") << "ps_two.txt"
                                         << "ORVO-STATUSD" << 2;
    QTest::newRow("truncated long name") << "ps_long.txt"
                                         << "orvo-statusd-lo" << 2;
}

void TestInstanceGuard::countLines()
{
    QFETCH(QString, fixture);
    QFETCH(QString, name);
    QFETCH(int, count);
    QFile file(QStringLiteral(ORVO_TEST_DATA_DIR "/ps/") + fixture);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList lines;
    while (!file.atEnd()) {
        lines << QString::fromUtf8(file.readLine());
    }
    QCOMPARE(InstanceGuard::CountProcessLines(lines, name), count);
}

QTEST_GUILESS_MAIN(TestInstanceGuard)
#include "test_instanceguard.moc"
