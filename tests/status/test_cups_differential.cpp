// The service's in-process questions to CUPS against the CUPS tools they replaced, on the same
// private scheduler: the discovered queues, the printing verdicts and the job watch's records
// and cancels must be the same, except where the tools are blind (job lists of a queue whose
// name is not ASCII), where the in-process answer must see what the tools miss.

#include "tests/support/TestEnv.h"

#include "devices/TrdDeviceManage.h"
#include "service/CupsClient.h"
#include "status/JobWatchRule.h"
#include "tests/devices/LpstatDeviceParser.h"
#include "tests/status/JobListParser.h"
#include "tests/status/QueuePrintingCheck.h"

#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {
const QString c_strShellQueue = QStringLiteral("q$(touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned)");
const QString c_strBuero = QString::fromUtf8("Büro");

QString Describe(const stPrinterInfo& info)
{
    return QStringLiteral("%1|%2|%3|%4")
        .arg(info.strName)
        .arg(info.iConnectType)
        .arg(info.strPort, info.strURI);
}

// The reference parser and the rule give the same shapes, each in its own class.
template <typename Rule, typename Pass> QStringList Describe(const Pass& pass)
{
    QStringList out;
    for (const stJobState& job : pass.listJobs) {
        out << QStringLiteral("%1:%2").arg(job.strJobID).arg(job.iStatus);
    }
    for (const auto& action : pass.listActions) {
        out << (action.eAction == Rule::ACTION_OFFLINE_CANCEL ? QStringLiteral("offline:")
                                                              : QStringLiteral("printer:")) +
                   action.strJobID;
    }
    return out;
}
} // namespace

class TestCupsDifferential : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    CupsClient m_cups;
    QStringList m_queues;

    QStringList Lines(const QStringList& args) const
    {
        const ToolResult result = m_env.runTool(QStringLiteral("lpstat"), args);
        return result.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    bool Submit(const QString& queue, const QString& user, bool hold = false)
    {
        QStringList args{"-U", user, "-d", queue, "-o", "raw"};
        if (hold) {
            args << "-H"
                 << "hold";
        }
        const QString file = TestEnv::controlDir() + QStringLiteral("/job.txt");
        return m_env.writeFile(file, "job\n") &&
               m_env.runTool(QStringLiteral("lp"), args << file).ok();
    }
    bool WaitPrinting(const QString& queue)
    {
        return m_env.waitFor([&] { return m_env.isPrinting(queue); }, 10000,
                             queue + QStringLiteral(" printing"));
    }

private slots:
    void initTestCase();
    void discovery();
    void printingVerdicts();
    void jobRecords_data();
    void jobRecords();
    void reconnectAfterRestart();
    void hungSchedulerTimesOut();
    void keptConnectionsAreBounded();
};

void TestCupsDifferential::initTestCase()
{
    m_queues = QStringList{"Office", c_strBuero, c_strShellQueue, "Stopped", "Idle", "Done"};
    for (const QString& queue : m_queues) {
        TESTENV_VERIFY(m_env, m_env.addRawQueue(queue, "usb://Orvo/Q7020DN?serial=" +
                                                           QString::number(qHash(queue))));
    }
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Net", "socket://127.0.0.20:9100/?snmp=false"));
    TESTENV_VERIFY(m_env, m_env.addRawQueue(QString::fromUtf8("打印机"), "socket://[::1]:9100"));
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Ipp", "ipp://127.0.0.1/printers/x"));
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Lpd", "lpd://127.0.0.1/queue"));

    // Office: one job completed, one cancelled by its owner while printing, one printing,
    // one pending of another user, one held of a third.
    TESTENV_VERIFY(m_env, Submit("Office", "root"));
    TESTENV_VERIFY(m_env, WaitPrinting("Office"));
    TESTENV_VERIFY(m_env, m_env.releaseUsbJobs(0));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.jobIds("Office").isEmpty(); }, 10000,
                                        "the first job completed"));
    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    // Done: a job that completed while the printer's message said "Processing". (Finished jobs
    // are asked for only when the last pass kept them; the listing's rule would have taken a
    // finished job still carrying such a message for a printing one, but CUPS clears the
    // message when the job ends.)
    TESTENV_VERIFY(m_env, m_env.setUsbState({"INFO: Processing page 1"}));
    TESTENV_VERIFY(m_env, Submit("Done", "root"));
    TESTENV_VERIFY(
        m_env, m_env.waitFor(
                   [&] {
                       return Lines({"-l", "-o", "Done"}).contains("\tStatus: Processing page 1");
                   },
                   10000, "the job's message"));
    TESTENV_VERIFY(m_env, m_env.releaseUsbJobs(0));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.jobIds("Done").isEmpty(); }, 10000,
                                        "the job on Done completed"));
    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    TESTENV_VERIFY(m_env, m_env.setUsbState({}));
    TESTENV_VERIFY(m_env, Submit("Office", "alice"));
    TESTENV_VERIFY(m_env, WaitPrinting("Office"));
    const QString cancelled = m_env.jobIds("Office").value(0);
    TESTENV_VERIFY(m_env, m_env.cancelJob(cancelled));
    TESTENV_VERIFY(m_env,
                   m_env.waitForJobAlert("Office", cancelled, "job-canceled-by-user", 10000));
    TESTENV_VERIFY(m_env, Submit("Office", "root"));
    TESTENV_VERIFY(m_env, WaitPrinting("Office"));
    TESTENV_VERIFY(m_env, Submit("Office", "alice"));
    TESTENV_VERIFY(m_env, Submit("Office", "bob", true));
    // Büro and the shell-character queue: one printing job each, Büro one pending too.
    for (const QString& queue : {c_strBuero, c_strShellQueue}) {
        TESTENV_VERIFY(m_env, Submit(queue, "root"));
        TESTENV_VERIFY(m_env, WaitPrinting(queue));
    }
    TESTENV_VERIFY(m_env, Submit(c_strBuero, "alice"));
    // A stopped queue with a waiting job.
    TESTENV_VERIFY(m_env, m_env.runTool("cupsdisable", {"Stopped"}).ok());
    TESTENV_VERIFY(m_env, Submit("Stopped", "root"));
}

void TestCupsDifferential::discovery()
{
    QStringList tool;
    for (const QString& line : Lines({"-v"})) {
        stPrinterInfo info;
        if (LpstatDeviceParser::ParseLine(line, info)) {
            tool << Describe(info);
        }
    }
    QList<CupsClient::stQueue> queues;
    QVERIFY(m_cups.GetQueues(queues));
    QStringList inProcess;
    TrdDeviceManage manager;
    for (const stPrinterInfo& info : manager.SelectQueues(queues, false)) {
        inProcess << Describe(info);
    }
    QCOMPARE(inProcess, tool);
    QCOMPARE(inProcess.size(), 8); // ipp and lpd are not this service's
}

void TestCupsDifferential::printingVerdicts()
{
    QStringList tool, inProcess;
    for (const QString& queue : m_queues + QStringList{"Net", "NoSuchQueue"}) {
        const QStringList lines = Lines({"-p", queue});
        tool << queue + (!lines.isEmpty() && QueuePrintingCheck::ShowsPrinting(lines.first(), queue)
                             ? QStringLiteral(": printing")
                             : QStringLiteral(": not printing"));
        inProcess << queue + (m_cups.IsPrinting(queue) ? QStringLiteral(": printing")
                                                       : QStringLiteral(": not printing"));
    }
    QCOMPARE(inProcess, tool);
    QVERIFY(inProcess.contains(c_strBuero + ": printing"));
    QVERIFY(inProcess.contains("Stopped: not printing"));
}

void TestCupsDifferential::jobRecords_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("previous"); // none, all (every listed job seen printing)
    QTest::addColumn<bool>("offline");
    for (const QString& queue : m_queues + QStringList{"Net", "NoSuchQueue"}) {
        for (const char* previous : {"none", "all"}) {
            for (bool offline : {false, true}) {
                QTest::newRow(qPrintable(
                    QStringLiteral("%1, previous %2%3")
                        .arg(queue, QLatin1String(previous), offline ? ", offline" : "")))
                    << queue << QString::fromLatin1(previous) << offline;
            }
        }
    }
}

void TestCupsDifferential::jobRecords()
{
    QFETCH(QString, queue);
    QFETCH(QString, previous);
    QFETCH(bool, offline);

    // The previous pass saw every job of the queue printing, whatever its state now.
    QList<stJobState> seenTool, seenInProcess;
    if (previous == QLatin1String("all")) {
        for (const QString& id : m_env.jobIds(queue, "all")) {
            stJobState job;
            job.iStatus = JobWatchRule::JOB_PRINTING;
            job.strJobID = id;
            seenTool << job;
            job.strJobID = JobWatchRule::JobId(queue, id.section(QLatin1Char('-'), -1).toInt());
            seenInProcess << job;
        }
    }
    const QStringList tool = Describe<JobListParser>(JobListParser::Parse(
        Lines({"-u", "root", "-W", "all", "-l", "-o", queue}), seenTool, offline));
    QList<CupsClient::stJob> jobs;
    QVERIFY(m_cups.GetJobs(queue, JobWatchRule::WatchedIds(queue, seenInProcess), jobs));
    const QStringList inProcess =
        Describe<JobWatchRule>(JobWatchRule::Apply(queue, jobs, seenInProcess, offline));

    if (queue != c_strBuero) {
        QCOMPARE(inProcess, tool);
        return;
    }
    // The tools list no job of Büro at all; the job watch now sees its printing job.
    QCOMPARE(tool, QStringList());
    const QString printing = JobWatchRule::JobId(queue, jobs.value(0).iId);
    QVERIFY(!jobs.isEmpty());
    QCOMPARE(inProcess,
             QStringList{(offline ? "offline:" : "") + printing + (offline ? "" : ":1")});
}

void TestCupsDifferential::reconnectAfterRestart()
{
    // The same client across a scheduler restart: down, it answers like a failed tool run;
    // back, it answers again on a new connection.
    QVERIFY(m_cups.IsPrinting("Office"));
    const int connects = m_cups.ConnectCount();
    TESTENV_VERIFY(m_env, m_env.stopCupsd());
    QList<CupsClient::stQueue> queues;
    QVERIFY(!m_cups.GetQueues(queues));
    QVERIFY(queues.isEmpty());
    bool answered = true;
    QVERIFY(!m_cups.IsPrinting("Office", &answered));
    QVERIFY(!answered);
    QList<CupsClient::stJob> jobs;
    QVERIFY(!m_cups.GetJobs("Office", {1}, jobs));
    QVERIFY(jobs.isEmpty());
    TESTENV_VERIFY(m_env, m_env.startCupsd());
    QVERIFY(m_cups.GetQueues(queues));
    QCOMPARE(queues.size(), 10);
    QVERIFY(m_cups.ConnectCount() > connects);
}

void TestCupsDifferential::hungSchedulerTimesOut()
{
    // A scheduler that takes the question and never answers: not printing, after one timeout
    // (no second try on a fresh connection that would only wait again), and the timeout is
    // the whole question's, libcups' wait for "100 Continue" included.
    QVERIFY(m_cups.IsPrinting("Office"));
    const pid_t cupsd =
        TestEnv::readFile(TestEnv::controlDir() + QStringLiteral("/cupsd.pid")).trimmed().toInt();
    QVERIFY(cupsd > 1);
    QCOMPARE(kill(cupsd, SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    bool answered = true;
    const bool printing = m_cups.IsPrinting("Office", &answered);
    const qint64 waited = timer.elapsed();
    // Meanwhile a client that holds back gives up without waiting, until one is answered.
    CupsClient holding(CupsClient::HOLD_BACK);
    timer.restart();
    bool heldAnswered = true;
    holding.IsPrinting("Office", &heldAnswered);
    const qint64 held = timer.elapsed();
    QCOMPARE(kill(cupsd, SIGCONT), 0);
    QVERIFY(!printing);
    QVERIFY(!answered);
    QVERIFY2(waited >= CupsClient::TIMEOUT_MS - 100 && waited <= CupsClient::TIMEOUT_MS + 200,
             qPrintable(QString::number(waited)));
    QVERIFY(!heldAnswered);
    QVERIFY2(held < 100, qPrintable(QString::number(held)));
    QVERIFY(m_cups.IsPrinting("Office"));
    QVERIFY(holding.IsPrinting("Office", &heldAnswered));
}

void TestCupsDifferential::keptConnectionsAreBounded()
{
    // One client more than the bound: the one beyond still answers, on a connection per
    // question, and a place given back goes to the next client.
    QVERIFY(m_cups.KeepsConnection());
    std::vector<std::unique_ptr<CupsClient>> clients;
    QList<CupsClient::stQueue> queues;
    for (int i = 0; i < CupsClient::KEPT_MAX; ++i) {
        clients.push_back(std::make_unique<CupsClient>());
        for (int question = 0; question < 2; ++question) {
            QVERIFY(clients.back()->GetQueues(queues));
            QCOMPARE(queues.size(), 10);
        }
    }
    const CupsClient& beyond = *clients.back();
    QVERIFY(!beyond.KeepsConnection());
    QCOMPARE(beyond.ConnectCount(), 2);
    QVERIFY(clients.front()->KeepsConnection());
    QCOMPARE(clients.front()->ConnectCount(), 1);
    clients.erase(clients.begin());
    CupsClient next;
    QVERIFY(next.GetQueues(queues));
    QVERIFY(next.KeepsConnection());
}

QTEST_GUILESS_MAIN(TestCupsDifferential)
#include "test_cups_differential.moc"
