// The real service watching simulated network printers (tests/doubles/printersim) in the private
// network of orvo-testenv: one that answers with status code 1 (status 4, polled every second)
// and one with status code 0 (status 3: polled only while its queue prints) whose queue name
// is full of shell characters. Jobs go to the simulators' TCP ports, read slowly enough to
// stay "printing". The scenarios follow one another in one service run.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <functional>

namespace {
struct stNetPrinter
{
    QString strQueue;
    QString strAddress;
    QString strControl;
};

const stNetPrinter c_stAnswering = {QStringLiteral("NetFloor"), QStringLiteral("127.0.0.2"),
                                    QStringLiteral("/net-floor.ctl")};
// Runs nothing when it reaches a shell: the file it would create shows if it ever did.
const stNetPrinter c_stIdle = {QStringLiteral("n$(touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned)"),
                               QStringLiteral("127.0.0.3"), QStringLiteral("/net-idle.ctl")};

QByteArray Reply(quint8 statusCode, const QByteArray& text)
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7040DN")
        .setStatusCode(statusCode)
        .setStatusText(text)
        .addSupplyValue(0x1000, 55, 2)
        .build();
}

// Big enough to outlast the test at the simulators' reading speed.
const QByteArray c_jobData(256 * 1024, 'x');
constexpr int c_iReadSpeed = 2000;
} // namespace

class TestMonitoringNet : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QProcess* m_service = nullptr;
    QElapsedTimer m_idleFirstFile; // since the idle printer's first status file
    QString m_strIdleJob;
    const QByteArray m_replyReady = Reply(1, "Ready");
    const QByteArray m_replyToner = Reply(1, "Toner low");
    const QByteArray m_replyIdle = Reply(0, "Sleeping");

    static QString StatusFile(const stNetPrinter& printer)
    {
        return TestEnv::cfgDir() + printer.strQueue + QStringLiteral(".dat");
    }
    static QByteArray StatusFileContent(const stNetPrinter& printer)
    {
        bool ok = false;
        const QByteArray data = TestEnv::readFile(StatusFile(printer), &ok);
        return ok ? data : QByteArray("<missing>");
    }
    QString Ctl(const stNetPrinter& printer, const QString& command) const
    {
        const ToolResult result =
            m_env.runTool(QStringLiteral(ORVO_PRINTER_SIM),
                          {"ctl", TestEnv::controlDir() + printer.strControl, command}, 5000);
        return result.ok() ? result.out().trimmed() : QStringLiteral("error: ") + result.describe();
    }
    // Status requests received since the last reset; -1 when the simulator does not answer.
    int Requests(const stNetPrinter& printer) const
    {
        const QStringList words = Ctl(printer, "count").split(QLatin1Char(' '));
        return words.size() > 1 && words.at(0) == "requests" ? words.at(1).toInt() : -1;
    }
    // Requests left unanswered since the last reset: the failed polls of a silent printer.
    int Unanswered(const stNetPrinter& printer) const
    {
        const QStringList words = Ctl(printer, "count").split(QLatin1Char(' '));
        if (words.size() < 6 || words.at(0) != "requests" || words.at(4) != "replies") {
            return -1;
        }
        return words.at(1).toInt() - words.at(5).toInt();
    }
    bool WaitForRequests(const stNetPrinter& printer, int count, int ms)
    {
        return m_env.waitFor(
            [&] { return Requests(printer) >= count; }, ms,
            QStringLiteral("%1 status requests to %2").arg(count).arg(printer.strAddress));
    }
    static bool NothingRan() { return !QFile::exists(TestEnv::controlDir() + "/pwned"); }

    bool StartSimulator(const stNetPrinter& printer, const QByteArray& reply)
    {
        const QString ready = TestEnv::controlDir() + printer.strControl + ".ready";
        QProcess* sim = m_env.startProcess(
            QStringLiteral(ORVO_PRINTER_SIM),
            {"serve", "--address", printer.strAddress, "--reply-hex",
             QString::fromLatin1(reply.toHex()), "--speed", QString::number(c_iReadSpeed),
             "--control", TestEnv::controlDir() + printer.strControl, "--ready", ready},
            {}, true);
        return sim && m_env.waitFor([&] { return TestEnv::fileExists(ready); }, 10000,
                                    "simulator at " + printer.strAddress);
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void answeringPrinter();
    void idlePrinterPolledOnlyWhilePrinting();
    void printersThatStopAnswering();
};

void TestMonitoringNet::initTestCase()
{
    TESTENV_VERIFY(m_env, StartSimulator(c_stAnswering, m_replyReady));
    TESTENV_VERIFY(m_env, StartSimulator(c_stIdle, m_replyIdle));
    for (const stNetPrinter& printer : {c_stAnswering, c_stIdle}) {
        TESTENV_VERIFY(m_env, m_env.addQueue(printer.strQueue,
                                             "socket://" + printer.strAddress + ":9100/?snmp=false",
                                             "Orvo Q7040DN"));
    }
    m_service = m_env.startProcess(TestEnv::serviceBinary(), {});
    TESTENV_VERIFY(m_env, m_service);
    // A new entry knows no status: both are polled at once.
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return TestEnv::fileExists(StatusFile(c_stIdle)); },
                                        20000, "the idle printer's first status file"));
    m_idleFirstFile.start();
}

void TestMonitoringNet::cleanupTestCase()
{
    for (const stNetPrinter& printer : {c_stAnswering, c_stIdle}) {
        m_env.cancelAllJobs(printer.strQueue);
    }
    if (m_service) {
        m_env.stopProcess(m_service);
    }
    QVERIFY(NothingRan());
}

void TestMonitoringNet::answeringPrinter()
{
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent(c_stAnswering) == m_replyReady; }, 10000,
                           "the reply in the status file"),
             StatusFileContent(c_stAnswering).toHex().constData());
    // A new entry knows no status, so its first iteration waits 1 s between job-watch passes;
    // the second poll starts the first iteration at the one-second pace of status 4.
    TESTENV_VERIFY(m_env, WaitForRequests(c_stAnswering, 2, 15000));
    QCOMPARE(Ctl(c_stAnswering, "set-reply-hex " + m_replyToner.toHex()), QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent(c_stAnswering) == m_replyToner; }, 5000,
                           "the changed reply in the status file"),
             StatusFileContent(c_stAnswering).toHex().constData());
    QCOMPARE(StatusFileContent(c_stIdle), m_replyIdle);
}

void TestMonitoringNet::idlePrinterPolledOnlyWhilePrinting()
{
    // The first iteration (status still unknown) runs its job watch 1 s apart; from its
    // write-back on the printer shows status 3, and an idle queue means no more polls. The
    // window reaches past that write-back, where a poll every second would otherwise start.
    const int first = Requests(c_stIdle);
    QCOMPARE(first, 1);
    QVERIFY(TestEnv::holdsFor([&] { return Requests(c_stIdle) == first; },
                              int(qMax<qint64>(0, 14000 - m_idleFirstFile.elapsed()))));

    // A job prints: polled while it does.
    QCOMPARE(Ctl(c_stIdle, "reset-count"), QStringLiteral("ok"));
    m_strIdleJob = m_env.submitRawJob(c_stIdle.strQueue, c_jobData);
    TESTENV_VERIFY(m_env, !m_strIdleJob.isEmpty());
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.isPrinting(c_stIdle.strQueue); }, 10000,
                                        "the idle printer's queue printing"));
    TESTENV_VERIFY(m_env, WaitForRequests(c_stIdle, 3, 6000));
    QVERIFY(NothingRan());
}

void TestMonitoringNet::printersThatStopAnswering()
{
    QVERIFY(!m_strIdleJob.isEmpty());
    const QString job = m_env.submitRawJob(c_stAnswering.strQueue, c_jobData);
    TESTENV_VERIFY(m_env, !job.isEmpty());
    TESTENV_VERIFY(m_env,
                   m_env.waitForJobAlert(c_stAnswering.strQueue, job, "job-printing", 10000));
    TESTENV_VERIFY(m_env,
                   m_env.waitForJobAlert(c_stIdle.strQueue, m_strIdleJob, "job-printing", 5000));

    // A poll answered between the reset and the silence counts as answered, not failed.
    for (const stNetPrinter& printer : {c_stAnswering, c_stIdle}) {
        QCOMPARE(Ctl(printer, "reset-count"), QStringLiteral("ok"));
        QCOMPARE(Ctl(printer, "silent"), QStringLiteral("ok"));
    }
    // Five failed polls keep the last state and its file; the sixth gives the printer up.
    int goneAfterAnswering = -1;
    int goneAfterIdle = -1;
    QVERIFY2(m_env.waitFor(
                 [&] {
                     if (goneAfterAnswering < 0 &&
                         !TestEnv::fileExists(StatusFile(c_stAnswering))) {
                         goneAfterAnswering = Unanswered(c_stAnswering);
                     }
                     if (goneAfterIdle < 0 && !TestEnv::fileExists(StatusFile(c_stIdle))) {
                         goneAfterIdle = Unanswered(c_stIdle);
                     }
                     return goneAfterAnswering >= 0 && goneAfterIdle >= 0;
                 },
                 30000, "both status files removed"),
             qPrintable(m_env.lastError()));
    QCOMPARE(goneAfterAnswering, 6);
    QCOMPARE(goneAfterIdle, 6);

    // The answering printer showed status 4 before: its printing job is cancelled in CUPS.
    QVERIFY2(m_env.waitFor([&] { return !m_env.jobIds(c_stAnswering.strQueue).contains(job); },
                           3000, "the job of the printer that went away cancelled"),
             qPrintable(m_env.lastError()));
    if (TestEnv::serviceLogOn()) {
        QVERIFY(TestEnv::serviceLogCount("offline cancel cups job:" + c_stAnswering.strQueue) >= 1);
    }

    // Given up, it is polled every ten seconds: the first poll follows the write-back at once,
    // the next one ten job-watch waits later. It answers again and comes back.
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return Unanswered(c_stAnswering) >= 7; }, 5000,
                                        "the first poll of the given-up printer"));
    QElapsedTimer sinceSeventh;
    sinceSeventh.start();
    QCOMPARE(Ctl(c_stAnswering, "answer"), QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent(c_stAnswering) == m_replyToner; }, 16000,
                           "the printer back in its status file"),
             qPrintable(m_env.lastError()));
    QVERIFY2(sinceSeventh.elapsed() >= 10000, qPrintable(QString::number(sinceSeventh.elapsed())));
    QCOMPARE(Unanswered(c_stAnswering), 7);

    // The idle printer showed status 3 before: its job is left to CUPS, also after the
    // iteration that gave it up (its seventh poll starts the next one).
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return Unanswered(c_stIdle) >= 7; }, 5000,
                                        "the idle printer's first poll after it was given up"));
    QVERIFY(m_env.jobIds(c_stIdle.strQueue).contains(m_strIdleJob));
    QVERIFY(m_env.isPrinting(c_stIdle.strQueue));
    QVERIFY(NothingRan());
}

QTEST_GUILESS_MAIN(TestMonitoringNet)
#include "test_monitoring_net.moc"
