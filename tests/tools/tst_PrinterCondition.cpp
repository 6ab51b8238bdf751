// The wording of a printer's state: decoded replies, missing files and a stopped service turned
// into the state, the condition keys and the one-line summary people read.

#include "tests/tools/DecodedReport.h"
#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusReader.h"

#include <QtTest>

Q_DECLARE_METATYPE(stPrinterReport)

namespace {

stPrinterReport WithFile(StatusFileState state)
{
    stPrinterReport report;
    report.enFileState = state;
    report.strFileProblem = QStringLiteral("status file is empty (no reply: USB time-out)");
    return report;
}

} // namespace

class TestPrinterCondition : public QObject
{
    Q_OBJECT

private slots:
    void classify_data();
    void classify();
};

void TestPrinterCondition::classify_data()
{
    QTest::addColumn<stPrinterReport>("printer");
    QTest::addColumn<int>("service"); // ServiceState
    QTest::addColumn<qint64>("listAgeMs");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("attention");

    const int alive = int(ServiceState::Alive);
    QTest::newRow("ready, toner 80 %") << DecodedReport(1, {}, {}, 80) << alive << qint64(60000)
                                       << "ready" << QStringList() << "ready; toner 80 %" << false;
    QTest::newRow("idle counts as ready") << DecodedReport(0, {}, {}, -1) << alive << qint64(60000)
                                          << "ready" << QStringList() << "ready" << false;
    QTest::newRow("busy code prints")
        << DecodedReport(17, {}, {}, 50) << alive << qint64(-1) << "printing" << QStringList()
        << "printing; toner 50 %" << false;
    QTest::newRow("paper jam with an unnamed code")
        << DecodedReport(3, {0x1200, 0x110D}, {}, 80) << alive << qint64(60000) << "error"
        << QStringList{"jam", "other-error"}
        << "error - paper jam (0x110D), printer error 0x1200; toner 80 %" << true;
    QTest::newRow("paper out") << DecodedReport(2, {0x1106}, {}, 80) << alive << qint64(60000)
                               << "error" << QStringList{"paper-out"}
                               << "error - paper out (0x1106); toner 80 %" << true;
    QTest::newRow("toner low is a warning")
        << DecodedReport(1, {}, {0x11A0}, 4) << alive << qint64(60000) << "warning"
        << QStringList{"toner-low"} << "warning - toner low (0x11A0); toner 4 %" << true;
    QTest::newRow("printing with toner low needs attention")
        << DecodedReport(16, {}, {0x11A0}, 4) << alive << qint64(60000) << "printing"
        << QStringList{"toner-low"} << "printing - toner low (0x11A0); toner 4 %" << true;
    QTest::newRow("stopping conditions first, one jam for two jam codes")
        << DecodedReport(3, {}, {0x11A0, 0x110F, 0x1109, 0x110D, 0x11A1}, -1) << alive << qint64(-1)
        << "error" << QStringList{"cover-open", "jam", "toner-empty", "toner-low"}
        << "error - cover open (0x110F), paper jam (0x1109), toner empty (0x11A1), toner low "
           "(0x11A0)"
        << true;
    QTest::newRow("error code without a code")
        << DecodedReport(3, {}, {}, -1) << alive << qint64(-1) << "error"
        << QStringList{"printer-error"} << "error - printer error" << true;
    QTest::newRow("warning code without a code")
        << DecodedReport(2, {}, {}, -1) << alive << qint64(-1) << "warning"
        << QStringList{"printer-warning"} << "warning - printer warning" << true;
    QTest::newRow("unknown status code")
        << DecodedReport(7, {}, {0x2200}, -1) << alive << qint64(-1) << "warning"
        << QStringList{"other-warning", "unknown-status"}
        << "warning - printer warning 0x2200, unknown printer "
           "status 7"
        << true;
    QTest::newRow("toner value beyond 100 is no level")
        << DecodedReport(1, {}, {}, 300) << alive << qint64(-1) << "ready" << QStringList()
        << "ready" << false;
    QTest::newRow("listed just now, no file yet")
        << WithFile(StatusFileState::Missing) << alive << qint64(5000) << "no-status"
        << QStringList() << "no status - waiting for the first reply" << true;
    QTest::newRow("file gone long after listing")
        << WithFile(StatusFileState::Missing) << alive << qint64(40000) << "unreachable"
        << QStringList{"unreachable"} << "unreachable - not answering" << true;
    QTest::newRow("USB time-out") << WithFile(StatusFileState::Empty) << alive << qint64(40000)
                                  << "no-status" << QStringList()
                                  << "no status - status file is empty (no reply: USB time-out)"
                                  << true;
    QTest::newRow("stale service hides a jam")
        << DecodedReport(3, {0x110D}, {}, 80) << int(ServiceState::Stale) << qint64(60000)
        << "unknown" << QStringList() << "unknown - the service is not running" << true;
    QTest::newRow("no heartbeat hides ready")
        << DecodedReport(1, {}, {}, 80) << int(ServiceState::NotRunning) << qint64(60000)
        << "unknown" << QStringList() << "unknown - the service is not running" << true;
}

void TestPrinterCondition::classify()
{
    QFETCH(stPrinterReport, printer);
    QFETCH(int, service);
    QFETCH(qint64, listAgeMs);
    QFETCH(QString, state);
    QFETCH(QStringList, keys);
    QFETCH(QString, summary);
    QFETCH(bool, attention);

    const PrinterCondition condition =
        PrinterCondition::Classify(printer, ServiceState(service), listAgeMs);
    QCOMPARE(PrinterCondition::StateKey(condition.State()), state);
    QStringList actualKeys;
    for (const stCondition& entry : condition.Conditions()) {
        actualKeys << entry.strKey;
    }
    QCOMPARE(actualKeys, keys);
    QCOMPARE(condition.Summary(), summary);
    QCOMPARE(condition.NeedsAttention(), attention);
}

QTEST_GUILESS_MAIN(TestPrinterCondition)
#include "tst_PrinterCondition.moc"
