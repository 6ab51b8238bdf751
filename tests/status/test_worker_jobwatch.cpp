// The job watch and the idle check of network printers, called directly against the private
// scheduler of orvo-testenv. Jobs on usb queues stay "printing" until the test cancels them
// (the test environment's usb backend holds them).

#include "tests/support/TestEnv.h"

#include "service/FixedPaths.h"
#include "service/PrinterRecords.h"
#include "service/SharedPrinterList.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString c_strShellQueue = QStringLiteral("q$(touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned)");
const QString c_strShellQueue2 = QStringLiteral("w`touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned`");
const QString c_strLongName = QString(240, QLatin1Char('x'));

QString UsbUri(const QString& serial)
{
    return QStringLiteral("usb://Orvo/Q7020DN?serial=") + serial;
}
} // namespace

class TestWorkerJobWatch : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QTemporaryDir m_root;
    QList<stPrinterManager> m_list;
    TrdGetPrinterStatus m_worker;

    QString Log() const
    {
        QString text;
        const QDir dir(FixedPaths::LogDir());
        for (const QString& name : dir.entryList({"log_srv*.log"}, QDir::Files, QDir::Name)) {
            text += QString::fromLocal8Bit(TestEnv::readFile(dir.filePath(name)));
        }
        return text;
    }
    int LogCount(const QString& message) const { return Log().count(") " + message + "\n"); }

    stPrinterManager Entry(const QString& name, int connectType, int status) const
    {
        stPrinterManager entry;
        entry.stInfo.strName = name;
        entry.stInfo.strURI = UsbUri(QStringLiteral("WA00000001"));
        entry.stInfo.iConnectType = connectType;
        // No model in the port: a forwarded cancel goes nowhere; the log shows it was sent.
        entry.stInfo.strPort = QStringLiteral("NoModel?serial=WA00000001");
        entry.stState.iStatus = status;
        return entry;
    }
    void SetShared(const QList<stPrinterManager>& list)
    {
        SharedPrinterList::Replace(&m_list, list);
    }
    QString PrintingJob(const QString& queue)
    {
        const QString id = m_env.submitRawJob(queue, "job data\n");
        if (id.isEmpty()) {
            return id;
        }
        // The queue says "printing" a moment before the job's own alerts do; the job watch
        // reads the alerts.
        const auto alerted = [&] {
            const ToolResult listing = m_env.runTool("lpstat", {"-l", "-o", queue});
            return listing.ok() && listing.out().contains("job-printing");
        };
        if (!m_env.waitFor(alerted, 10000, "job-printing alert on " + queue)) {
            return QString();
        }
        return id;
    }
    bool NothingRan() const
    {
        return !QFile::exists(TestEnv::controlDir() + QStringLiteral("/pwned"));
    }
    QStringList CfgFiles() const { return QDir(FixedPaths::CfgDir()).entryList(QDir::Files); }

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void idleCheck_data();
    void idleCheck();
    void offlineRule_data();
    void offlineRule();
    void userCancelIsForwardedOnce();
    void cancelOfJobNeverSeenPrinting();
    void shellCharactersInQueueName();
    void nameTooLongIsRefused();
};

void TestWorkerJobWatch::initTestCase()
{
    QVERIFY(m_root.isValid());
    FixedPaths::SetRootForTesting(m_root.path());
    QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));
    UtilLog::SetLogEnable(true);
    m_worker.Init(0, &m_list);

    TESTENV_VERIFY(m_env, m_env.addRawQueue("Watch", UsbUri("WA00000001")));
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Idle3", UsbUri("ID00000001")));
    TESTENV_VERIFY(m_env, m_env.addRawQueue("printing-room", UsbUri("PR00000001")));
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Printing3", UsbUri("PP00000001")));
    TESTENV_VERIFY(m_env, m_env.addRawQueue(c_strShellQueue, UsbUri("SH00000001")));
    TESTENV_VERIFY(m_env, m_env.addRawQueue(c_strShellQueue2, UsbUri("SH00000002")));
    TESTENV_VERIFY(m_env, !PrintingJob("Printing3").isEmpty());
    TESTENV_VERIFY(m_env, !PrintingJob(c_strShellQueue).isEmpty());
}

void TestWorkerJobWatch::cleanup()
{
    m_env.cancelAllJobs("Watch");
    m_env.cancelAllJobs(c_strShellQueue2);
    QVERIFY(
        m_env.waitFor([&] { return m_env.jobIds("Watch").isEmpty(); }, 5000, "no job on Watch"));
    // Every tool output is removed after reading.
    QCOMPARE(CfgFiles(), QStringList());
    QVERIFY(NothingRan());
}

void TestWorkerJobWatch::cleanupTestCase()
{
    m_env.cancelAllJobs("Printing3");
    m_env.cancelAllJobs(c_strShellQueue);
}

void TestWorkerJobWatch::idleCheck_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<int>("connectType");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("poll");
    QTest::addColumn<int>("interval");

    QTest::newRow("usb printer: always") << "Idle3" << 1 << 3 << true << 1500;
    QTest::newRow("network, unreachable") << "Idle3" << 2 << 2 << true << 10000;
    QTest::newRow("network, status 4") << "Idle3" << 2 << 4 << true << 1000;
    QTest::newRow("network, status 0") << "Idle3" << 2 << 0 << true << 1000;
    QTest::newRow("undetermined type counts as network") << "Idle3" << 0 << 4 << true << 1000;
    QTest::newRow("network, status 3, idle queue") << "Idle3" << 2 << 3 << false << 100;
    QTest::newRow("network, status 3, printing queue") << "Printing3" << 2 << 3 << true << 1000;
    QTest::newRow("network, status 3, idle queue named printing-room")
        << "printing-room" << 2 << 3 << false << 100;
    QTest::newRow("network, status 3, unknown queue") << "NoSuchQueue" << 2 << 3 << false << 100;
    QTest::newRow("network, status 3, printing queue with shell characters")
        << c_strShellQueue << 2 << 3 << true << 1000;
    QTest::newRow("network, status 3, name too long for the command")
        << c_strLongName << 2 << 3 << false << 100;
    QTest::newRow("no entry at the position") << "" << 2 << 3 << false << 1000;
}

void TestWorkerJobWatch::idleCheck()
{
    QFETCH(QString, queue);
    QFETCH(int, connectType);
    QFETCH(int, status);
    QFETCH(bool, poll);
    QFETCH(int, interval);

    if (queue.isEmpty()) {
        SetShared({});
    } else {
        SetShared({Entry(queue, connectType, status)});
    }
    int got = -1;
    QCOMPARE(m_worker.CheckNeedStatus(got), poll);
    QCOMPARE(got, interval);
}

void TestWorkerJobWatch::offlineRule_data()
{
    QTest::addColumn<int>("connectType");
    QTest::addColumn<int>("workerStatus");
    QTest::addColumn<QString>("shared"); // the entry at the worker's position: same, other, none
    QTest::addColumn<int>("sharedStatus");
    QTest::addColumn<bool>("cancelled");

    QTest::newRow("usb answering: job stored") << 1 << 4 << "same" << 4 << false;
    QTest::newRow("usb gone, was 4: cancelled") << 1 << 2 << "same" << 4 << true;
    QTest::newRow("usb gone, was already gone: stays") << 1 << 2 << "same" << 2 << false;
    QTest::newRow("network gone, was 5: cancelled") << 2 << 2 << "same" << 5 << true;
    QTest::newRow("network gone, was 3: stays") << 2 << 2 << "same" << 3 << false;
    QTest::newRow("network gone, was 12: stays") << 2 << 2 << "same" << 12 << false;
    QTest::newRow("another queue's entry at the position: stays")
        << 1 << 2 << "other" << 4 << false;
    QTest::newRow("no entry at the position: stays") << 1 << 2 << "none" << 4 << false;
}

void TestWorkerJobWatch::offlineRule()
{
    QFETCH(int, connectType);
    QFETCH(int, workerStatus);
    QFETCH(QString, shared);
    QFETCH(int, sharedStatus);
    QFETCH(bool, cancelled);

    const QString job = PrintingJob("Watch");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    if (shared == "same") {
        SetShared({Entry("Watch", connectType, sharedStatus)});
    } else if (shared == "other") {
        SetShared({Entry("Elsewhere", connectType, sharedStatus)});
    } else {
        SetShared({});
    }
    m_worker.Printer() = Entry("Watch", connectType, workerStatus);

    const int cancelsBefore = LogCount("offline cancel cups job:Watch");
    const int storedBefore = LogCount("job[0] status: 1");
    QCOMPARE(m_worker.CheckJobStatus(), 0);

    if (cancelled) {
        QVERIFY(m_worker.Printer().listJobState.isEmpty());
        QCOMPARE(LogCount("offline cancel cups job:Watch"), cancelsBefore + 1);
        QVERIFY(m_env.waitFor([&] { return !m_env.jobIds("Watch").contains(job); }, 5000,
                              "the job cancelled in CUPS"));
    } else {
        QCOMPARE(m_worker.Printer().listJobState.size(), 1);
        QCOMPARE(m_worker.Printer().listJobState.at(0).strJobID, job);
        QCOMPARE(m_worker.Printer().listJobState.at(0).iStatus, 1);
        QCOMPARE(LogCount("job[0] status: 1"), storedBefore + 1);
        QCOMPARE(LogCount("offline cancel cups job:Watch"), cancelsBefore);
        QVERIFY(m_env.isPrinting("Watch"));
        QCOMPARE(m_env.jobIds("Watch"), QStringList{job});
    }
}

void TestWorkerJobWatch::userCancelIsForwardedOnce()
{
    const QString job = PrintingJob("Watch");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    SetShared({Entry("Watch", 1, 4)});
    m_worker.Printer() = Entry("Watch", 1, 4);
    m_worker.CheckJobStatus();
    QCOMPARE(m_worker.Printer().listJobState.size(), 1);

    // The owner cancels it in CUPS; passes follow at the USB pace until the cancel is told
    // to the printer. Passes that meet the job while CUPS stops it must not lose it.
    TESTENV_VERIFY(m_env, m_env.cancelJob(job));
    const QString forwarded = QStringLiteral("Cancel printer job:Watch");
    const int before = LogCount(forwarded);
    QVERIFY(m_env.waitFor(
        [&] {
            m_worker.CheckJobStatus();
            return LogCount(forwarded) > before;
        },
        5000, "the cancel forwarded to the printer"));
    QCOMPARE(LogCount(forwarded), before + 1);
    QVERIFY(m_worker.Printer().listJobState.isEmpty());
    m_worker.CheckJobStatus();
    m_worker.CheckJobStatus();
    QCOMPARE(LogCount(forwarded), before + 1);
}

void TestWorkerJobWatch::cancelOfJobNeverSeenPrinting()
{
    const QString job = PrintingJob("Watch");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    SetShared({Entry("Watch", 1, 4)});
    m_worker.Printer() = Entry("Watch", 1, 4);
    TESTENV_VERIFY(m_env, m_env.cancelJob(job));
    const int before = LogCount("Cancel printer job:Watch");
    // Passes until CUPS lists the job as cancelled by its user.
    QVERIFY(m_env.waitFor(
        [&] {
            m_worker.CheckJobStatus();
            const ToolResult listing = m_env.runTool("lpstat", {"-W", "all", "-l", "-o", "Watch"});
            return listing.out().section(job + " ", -1).contains("job-canceled-by-user");
        },
        5000, "the job listed as cancelled"));
    m_worker.CheckJobStatus();
    QCOMPARE(LogCount("Cancel printer job:Watch"), before);
    QVERIFY(m_worker.Printer().listJobState.isEmpty());
}

void TestWorkerJobWatch::shellCharactersInQueueName()
{
    // Watched like any other queue: its printing job is listed, and cancelled when the
    // printer goes; the name never reaches the shell as code.
    const QString job = PrintingJob(c_strShellQueue2);
    TESTENV_VERIFY(m_env, !job.isEmpty());
    SetShared({Entry(c_strShellQueue2, 1, 4)});
    m_worker.Printer() = Entry(c_strShellQueue2, 1, 4);
    m_worker.CheckJobStatus();
    QCOMPARE(m_worker.Printer().listJobState.size(), 1);
    QCOMPARE(m_worker.Printer().listJobState.at(0).strJobID, job);

    m_worker.Printer().stState.iStatus = 2;
    m_worker.CheckJobStatus();
    QVERIFY(m_worker.Printer().listJobState.isEmpty());
    QVERIFY(m_env.waitFor([&] { return !m_env.jobIds(c_strShellQueue2).contains(job); }, 5000,
                          "the job cancelled in CUPS"));
    QVERIFY(NothingRan());
}

void TestWorkerJobWatch::nameTooLongIsRefused()
{
    SetShared({Entry(c_strLongName, 1, 4)});
    m_worker.Printer() = Entry(c_strLongName, 1, 2);
    stJobState old;
    old.strJobID = QStringLiteral("x-1");
    old.iStatus = 1;
    m_worker.Printer().listJobState = {old};
    const int refusedBefore = Log().count("command refused");
    m_worker.CheckJobStatus();
    // No queue carries such a name: nothing listed, so nothing is printing; the name is never
    // cut to fit (a cut name could be another queue's).
    QVERIFY(m_worker.Printer().listJobState.isEmpty());
    m_worker.CancelCUPSJob(c_strLongName + c_strLongName);
    QCOMPARE(Log().count("command refused"), refusedBefore + 1);
}

QTEST_GUILESS_MAIN(TestWorkerJobWatch)
#include "test_worker_jobwatch.moc"
