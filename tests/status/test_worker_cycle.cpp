// The status worker's cycle, driven in-process on a list of entries that the test owns and
// changes the way the device manager does (whole entries, under the list lock). The job watch
// runs the real lpstat against the private scheduler of orvo-testenv. Ports that name no model
// make the USB poll fail at once (code -1), so an iteration is the job watch and the write-back.

#include "tests/support/TestEnv.h"

#include "service/FixedPaths.h"
#include "service/PrinterRecords.h"
#include "service/SharedPrinterList.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>

namespace {
stPrinterManager Entry(const QString& name, const QString& uri, int status, const QString& job)
{
    stPrinterManager entry;
    entry.stInfo.strName = name;
    entry.stInfo.strURI = uri;
    entry.stInfo.iConnectType = CONNECT_TYPE_USB;
    entry.stInfo.strPort = QStringLiteral("NoModel?serial=0000000001"); // no model: fails at once
    entry.stState.iStatus = status;
    // A job no listing shows: the job watch drops it, so its presence tells whether the
    // worker wrote its copy back.
    stJobState marker;
    marker.strJobID = job;
    marker.iStatus = 1;
    entry.listJobState.append(marker);
    return entry;
}

QStringList JobIds(const stPrinterManager& entry)
{
    QStringList ids;
    for (const stJobState& job : entry.listJobState) {
        ids << job.strJobID;
    }
    return ids;
}
} // namespace

class TestWorkerCycle : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QTemporaryDir m_root;
    QList<stPrinterManager> m_list;
    TrdGetPrinterStatus* m_worker = nullptr;
    QThread* m_thread = nullptr;

    // Every line the log holds so far.
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

    stPrinterManager Shared(int index)
    {
        stPrinterManager entry;
        SharedPrinterList::CopyEntry(&m_list, index, entry);
        return entry;
    }
    int SharedSize() { return SharedPrinterList::Copy(&m_list).size(); }
    void SetList(const QList<stPrinterManager>& list) { SharedPrinterList::Replace(&m_list, list); }

    // Wired the way the device manager wires a worker: own thread, queued start.
    void StartWorker(int index, bool init = true)
    {
        m_worker = new TrdGetPrinterStatus(nullptr);
        m_thread = new QThread();
        m_worker->moveToThread(m_thread);
        if (init) {
            m_worker->Init(index, &m_list);
        }
        m_thread->start(QThread::InheritPriority);
        QMetaObject::invokeMethod(m_worker, "SlotTaskStart", Qt::QueuedConnection);
    }
    // Asks the cycle to quit and waits until its thread has ended. False when the cycle did
    // not end within `ms`. Workers and threads are kept for the whole run, as the device
    // manager keeps them: Qt's ordering of a thread's end before a delete is invisible to
    // ThreadSanitizer, which would report the delete as racing with the worker's last steps.
    bool StopWorker(int ms = 3000)
    {
        if (!m_worker) {
            return true;
        }
        m_worker->RequestQuit();
        m_thread->quit(); // ends the thread's event loop once the cycle has returned
        const bool ended = m_thread->wait(ms);
        Kept() << m_worker << m_thread;
        m_worker = nullptr;
        m_thread = nullptr;
        return ended;
    }
    static QList<QObject*>& Kept()
    {
        static auto* s_listKept = new QList<QObject*>(); // reachable to the end: no leak
        return *s_listKept;
    }
    bool WaitForLog(const QString& message, int count, int ms)
    {
        return m_env.waitFor([&] { return LogCount(message) >= count; }, ms,
                             QStringLiteral("log line \"%1\" %2 times").arg(message).arg(count));
    }

private slots:
    void initTestCase();
    void cleanup();
    void idleWithoutPosition_data();
    void idleWithoutPosition();
    void replacedEntryDropsWriteBack_data();
    void replacedEntryDropsWriteBack();
    void positionLeavesAndReturns();
    void quitDuringJobWatch_data();
    void quitDuringJobWatch();
};

void TestWorkerCycle::initTestCase()
{
    QVERIFY(m_root.isValid());
    FixedPaths::SetRootForTesting(m_root.path());
    QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));
    UtilLog::SetLogEnable(true);
    // Queues for the names the entries carry, so the job watch's lpstat finds them.
    for (const char* name : {"Lonely", "Alpha", "Beta", "Gamma", "Delta", "Stay", "Quitter"}) {
        TESTENV_VERIFY(m_env, m_env.addRawQueue(name, QStringLiteral("usb://Orvo/Q7020DN?serial=") +
                                                          QLatin1String(name)));
    }
}

void TestWorkerCycle::cleanup()
{
    QVERIFY2(StopWorker(), "the worker's cycle did not end on the quit request");
    SetList({});
}

void TestWorkerCycle::idleWithoutPosition_data()
{
    QTest::addColumn<bool>("init");
    QTest::addColumn<int>("index");
    QTest::newRow("never given a position") << false << 0;
    QTest::newRow("position beyond the list") << true << 1;
}

void TestWorkerCycle::idleWithoutPosition()
{
    QFETCH(bool, init);
    QFETCH(int, index);
    SetList({Entry("Lonely", "usb://Orvo/X?serial=1", 4, "Lonely-0")});
    const QString before = Log();
    StartWorker(index, init);
    // Idling is the absence of everything: two of its one-second checks pass without a poll,
    // a log line, a tool output file or a change to the list.
    QVERIFY(TestEnv::holdsFor(
        [&] {
            return Log() == before && QDir(FixedPaths::CfgDir()).entryList(QDir::Files).isEmpty();
        },
        2500));
    QCOMPARE(JobIds(Shared(0)), QStringList{"Lonely-0"});
}

void TestWorkerCycle::replacedEntryDropsWriteBack_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("newUri");
    QTest::addColumn<bool>("replace");
    QTest::newRow("not replaced: written back") << "Alpha"
                                                << "usb://Orvo/Q7020DN?serial=A1" << false;
    QTest::newRow("another queue") << "Beta"
                                   << "usb://Orvo/Q7020DN?serial=B1" << true;
    QTest::newRow("same queue, another URI") << "Alpha"
                                             << "usb://Orvo/Q7020DN?serial=A2" << true;
}

void TestWorkerCycle::replacedEntryDropsWriteBack()
{
    QFETCH(QString, newName);
    QFETCH(QString, newUri);
    QFETCH(bool, replace);

    SetList({Entry("Alpha", "usb://Orvo/Q7020DN?serial=A1", 4, "Alpha-0")});
    const QString connectAlpha = QStringLiteral("try to connect Alpha");
    const int alphaBefore = LogCount(connectAlpha);
    StartWorker(0);
    QVERIFY2(WaitForLog(connectAlpha, alphaBefore + 1, 5000), qPrintable(m_env.lastError()));

    if (!replace) {
        // The iteration ends with the write-back: the job watch found no job, so the marker goes.
        QVERIFY2(m_env.waitFor([&] { return JobIds(Shared(0)).isEmpty(); }, 5000,
                               "the write-back of the first iteration"),
                 qPrintable(m_env.lastError()));
        QCOMPARE(Shared(0).stState.iStatus, 4);
        return;
    }

    // The device manager replaces the list while the worker is in its job watch.
    SetList({Entry(newName, newUri, 7, "New-0")});
    const QString connectNew = QStringLiteral("try to connect ") + newName;
    const int newBefore = LogCount(connectNew);
    QVERIFY2(WaitForLog(connectNew, newBefore + 1, 5000), qPrintable(m_env.lastError()));
    // The next iteration took the new entry; the old iteration's copy did not land on it (its
    // own write-back comes only at the end of this iteration, 1.5 s from now).
    const stPrinterManager entry = Shared(0);
    QCOMPARE(entry.stInfo.strName, newName);
    QCOMPARE(entry.stInfo.strURI, newUri);
    QCOMPARE(entry.stState.iStatus, 7);
    QCOMPARE(JobIds(entry), QStringList{"New-0"});
    // And then the new entry is the worker's own: its iteration writes back.
    QVERIFY2(m_env.waitFor([&] { return JobIds(Shared(0)).isEmpty(); }, 5000,
                           "the write-back of the new entry's iteration"),
             qPrintable(m_env.lastError()));
    QCOMPARE(Shared(0).stInfo.strURI, newUri);
}

void TestWorkerCycle::positionLeavesAndReturns()
{
    const stPrinterManager first = Entry("Stay", "usb://Orvo/Q7020DN?serial=S1", 4, "Stay-0");
    SetList({first});
    StartWorker(1);

    const QString connectGamma = QStringLiteral("try to connect Gamma");
    const int gammaBefore = LogCount(connectGamma);
    SetList({first, Entry("Gamma", "usb://Orvo/Q7020DN?serial=G1", 4, "Gamma-0")});
    QVERIFY2(WaitForLog(connectGamma, gammaBefore + 1, 5000), qPrintable(m_env.lastError()));

    // The list shrinks under the running iteration: its results are dropped, then it idles.
    SetList({first});
    const int gammaSeen = LogCount(connectGamma);
    QVERIFY(TestEnv::holdsFor([&] { return LogCount(connectGamma) == gammaSeen; }, 3500));
    QCOMPARE(SharedSize(), 1);
    QCOMPARE(Shared(0).stInfo.strName, QStringLiteral("Stay"));
    QCOMPARE(JobIds(Shared(0)), QStringList{"Stay-0"}); // nobody's write-back landed on it

    // It grows again: the same worker takes up its position.
    SetList({first, Entry("Delta", "usb://Orvo/Q7020DN?serial=D1", 4, "Delta-0")});
    QVERIFY2(WaitForLog(QStringLiteral("try to connect Delta"), 1, 5000),
             qPrintable(m_env.lastError()));
    QVERIFY2(m_env.waitFor([&] { return JobIds(Shared(1)).isEmpty(); }, 5000,
                           "the write-back at the position taken up again"),
             qPrintable(m_env.lastError()));
    QCOMPARE(JobIds(Shared(0)), QStringList{"Stay-0"});
}

void TestWorkerCycle::quitDuringJobWatch_data()
{
    QTest::addColumn<int>("connectType");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("maxStopMs");
    // USB: the job watch waits 150 ms; the quit is seen after the current pass.
    QTest::newRow("usb printer") << 1 << "NoModel?serial=0000000001" << 4 << 1500;
    // Unreachable network printer: 1000 ms waits, the quit is seen within a 500 ms slice.
    // Nothing listens on 127.0.0.1:9300 in the private network.
    QTest::newRow("unreachable network printer") << 2 << "127.0.0.1" << 2 << 1500;
}

void TestWorkerCycle::quitDuringJobWatch()
{
    QFETCH(int, connectType);
    QFETCH(QString, port);
    QFETCH(int, status);
    QFETCH(int, maxStopMs);

    stPrinterManager entry = Entry("Quitter", "usb://Orvo/Q7020DN?serial=Q1", status, "Quitter-0");
    entry.stInfo.iConnectType = connectType;
    entry.stInfo.strPort = port;
    SetList({entry});
    const QString failed = QStringLiteral("connect Quitter fail, ret = ");
    const int failedBefore = Log().count(failed);
    const int connectBefore = LogCount(QStringLiteral("try to connect Quitter"));
    StartWorker(0);
    QVERIFY2(m_env.waitFor([&] { return Log().count(failed) > failedBefore; }, 8000,
                           "the failed poll before the job watch"),
             qPrintable(m_env.lastError()));

    QElapsedTimer timer;
    timer.start();
    QVERIFY2(StopWorker(maxStopMs), "the cycle did not end during the job watch");
    QVERIFY2(timer.elapsed() < maxStopMs, qPrintable(QString::number(timer.elapsed())));
    // No write-back: the marker job is still there, the state as it was.
    QCOMPARE(JobIds(Shared(0)), QStringList{"Quitter-0"});
    QCOMPARE(Shared(0).stState.iStatus, status);
    QCOMPARE(Shared(0).stState.iFailCount, 0);
    QCOMPARE(LogCount(QStringLiteral("try to connect Quitter")), connectBefore + 1);
}

QTEST_GUILESS_MAIN(TestWorkerCycle)
#include "test_worker_cycle.moc"
