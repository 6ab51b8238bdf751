// The event-driven job watch against the one that asks CUPS on every pass, side by side on the
// private scheduler: in every pass the reference chain asks afresh and decides on its own
// previous list, the worker decides through the event watcher (asking only when an event may
// have changed the answer). Cancels are recorded, not sent. Both must decide the same actions
// in the same order, the worker at most one pass later.
#include "protocol/DoorbellMessage.h"
#include "service/CupsClient.h"
#include "service/CupsEventWatcher.h"
#include "status/JobWatchRule.h"
#include "status/TrdGetPrinterStatus.h"
#include "tests/support/PrintJobs.h"
#include "tests/support/TestEnv.h"

#include <QtTest>

#include <csignal>

namespace {
constexpr int PASS_MS = 100; // the pass pace of a network printer
constexpr int PASSES_PER_ITERATION = 10;
const QString A = QStringLiteral("ShadowA");
const QString B = QStringLiteral("ShadowB");

struct stDecision
{
    int iPass;
    QString strAction; // "offline JOB" or "printer JOB"
};

QString Describe(const JobWatchRule::stAction& action)
{
    return (action.eAction == JobWatchRule::ACTION_OFFLINE_CANCEL ? QStringLiteral("offline ")
                                                                  : QStringLiteral("printer ")) +
           action.strJobID;
}

// One queue watched both ways.
struct stChains
{
    QString strQueue;
    TrdGetPrinterStatus worker;
    CupsClient reference;
    QList<stJobState> listReference;
    QList<stDecision> listWorker, listRef;
};
} // namespace

class tst_JobWatchShadow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameDecisions_data();
    void sameDecisions();
    void cleanupTestCase();

private:
    void Passes(int count);
    bool Step(const QString& step);
    int OurSubscription();

    TestEnv m_env;
    stChains m_chains[2];
    int m_iPass = 0;
    int m_iOfflinePasses = 0;
    int m_iQuestionsWorker = 0;
    QString m_strLastJob[2];
    QList<int> m_listOthers; // subscriptions of "another client"
};

void tst_JobWatchShadow::initTestCase()
{
    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    const QString uris[2] = {QStringLiteral("usb://Orvo/Q7020DN?serial=SHADOW1"),
                             QStringLiteral("usb://Orvo/Q7020DN?serial=SHADOW2")};
    for (int i = 0; i < 2; ++i) {
        const QString queue = i ? B : A;
        TESTENV_VERIFY(m_env, m_env.addQueueWithDriver(queue, uris[i], QStringLiteral("Q7020DN")));
        m_chains[i].strQueue = queue;
        stPrinterInfo& info = m_chains[i].worker.Printer().stInfo;
        info.strName = queue;
        info.strURI = uris[i];
        info.iConnectType = CONNECT_TYPE_USB;
        m_chains[i].worker.Printer().stState.iStatus = PRINTER_STATUS_IDLE;
    }
    CupsEventWatcher::Instance().Start();
    CupsEventWatcher::Instance().Watch({A, B});
    TESTENV_VERIFY(m_env, m_env.waitFor([] { return CupsEventWatcher::Instance().QueueStamp(A); },
                                        5000, QStringLiteral("the watcher to be sure")));
}

void tst_JobWatchShadow::cleanupTestCase()
{
    CupsEventWatcher::Instance().Finish(3000);
    QCOMPARE(OurSubscription(), 0);
}

int tst_JobWatchShadow::OurSubscription()
{
    CupsClient cups;
    QList<CupsClient::stSubscription> subscriptions;
    cups.GetSubscriptions(subscriptions);
    for (const CupsClient::stSubscription& subscription : subscriptions) {
        if (subscription.strRecipient == QLatin1String(stDoorbellMessage::RECIPIENT)) {
            return subscription.iId;
        }
    }
    return 0;
}

void tst_JobWatchShadow::Passes(int count)
{
    for (int n = 0; n < count; ++n, ++m_iPass) {
        const bool first = m_iPass % PASSES_PER_ITERATION == 0;
        const bool offline = m_iOfflinePasses > 0;
        m_iOfflinePasses = std::max(0, m_iOfflinePasses - 1);
        for (stChains& chains : m_chains) {
            QList<CupsClient::stJob> jobs;
            const QList<int> ids = JobWatchRule::WatchedIds(chains.strQueue, chains.listReference);
            if (chains.reference.GetJobs(chains.strQueue, ids, jobs)) {
                const JobWatchRule::stPass pass =
                    JobWatchRule::Apply(chains.strQueue, jobs, chains.listReference, offline);
                chains.listReference = pass.listJobs;
                for (const JobWatchRule::stAction& action : pass.listActions) {
                    chains.listRef.append({m_iPass, Describe(action)});
                }
            }
            JobWatchRule::stPass pass;
            if (chains.worker.JobPass(first, offline, pass)) {
                for (const JobWatchRule::stAction& action : pass.listActions) {
                    chains.listWorker.append({m_iPass, Describe(action)});
                }
            }
        }
        QTest::qWait(PASS_MS);
    }
}

bool tst_JobWatchShadow::Step(const QString& step)
{
    const QStringList words = step.split(QLatin1Char(' '));
    const QString& verb = words.at(0);
    const int q = words.value(1) == B ? 1 : 0;
    const QString queue = q ? B : A;
    QString error;
    if (verb == QLatin1String("print") || verb == QLatin1String("hold")) {
        if (verb == QLatin1String("hold")) {
            const ToolResult held = m_env.runTool(
                QStringLiteral("lp"),
                {QStringLiteral("-d"), queue, QStringLiteral("-H"), QStringLiteral("indefinite"),
                 QStringLiteral("-o"), QStringLiteral("raw"), QStringLiteral("/etc/hostname")});
            m_strLastJob[q] = PrintJobs::jobIds(queue).value(PrintJobs::jobIds(queue).size() - 1);
            return held.exitCode == 0;
        }
        m_strLastJob[q] = PrintJobs::submitRaw(queue, "shadow job", &error);
        return !m_strLastJob[q].isEmpty();
    }
    if (verb == QLatin1String("cancel")) {
        return PrintJobs::cancel(m_strLastJob[q]).exitCode == 0;
    }
    if (verb == QLatin1String("release")) {
        return m_env
                   .runTool(QStringLiteral("lp"), {QStringLiteral("-i"), m_strLastJob[q],
                                                   QStringLiteral("-H"), QStringLiteral("resume")})
                   .exitCode == 0;
    }
    if (verb == QLatin1String("complete")) {
        return m_env.releaseUsbJobs(0) &&
               m_env.waitFor([&] { return PrintJobs::jobIds(queue).isEmpty(); }, 10000,
                             QStringLiteral("jobs done")) &&
               m_env.holdUsbJobs();
    }
    if (verb == QLatin1String("disable") || verb == QLatin1String("enable")) {
        return m_env.runTool(QLatin1String("cups") + verb, {queue}).exitCode == 0;
    }
    if (verb == QLatin1String("offline")) {
        m_iOfflinePasses = PASSES_PER_ITERATION;
        return true;
    }
    if (verb == QLatin1String("lpmove")) {
        return m_env.runTool(QStringLiteral("lpmove"), {m_strLastJob[q], q ? A : B}).exitCode == 0;
    }
    if (verb == QLatin1String("cupsd-term")) {
        return m_env.stopCupsd() && m_env.startCupsd();
    }
    if (verb == QLatin1String("cupsd-kill")) {
        return m_env.signalCupsd(SIGKILL) &&
               m_env.waitFor([&] { return !m_env.cupsdRunning(); }, 5000,
                             QStringLiteral("cupsd gone")) &&
               m_env.startCupsd();
    }
    if (verb == QLatin1String("cupsd-down")) {
        if (!m_env.stopCupsd()) {
            return false;
        }
        Passes(100);
        return m_env.startCupsd();
    }
    if (verb == QLatin1String("lease-lost")) {
        CupsClient other;
        return other.CancelSubscription(OurSubscription()) == CupsClient::CHANGE_DONE;
    }
    if (verb == QLatin1String("fill")) {
        // Another client takes every place CUPS has for subscriptions.
        CupsClient other;
        for (int i = 0; i < 200; ++i) {
            int id = 0;
            if (other.CreateSubscription(QStringLiteral("orvo://other/%1").arg(i),
                                         {QStringLiteral("job-completed")}, 600,
                                         id) != CupsClient::CHANGE_DONE) {
                break;
            }
            m_listOthers.append(id);
        }
        return !m_listOthers.isEmpty();
    }
    if (verb == QLatin1String("free")) {
        CupsClient other;
        for (const int id : m_listOthers) {
            other.CancelSubscription(id);
        }
        m_listOthers.clear();
        return true;
    }
    if (verb == QLatin1String("unlink")) {
        // The runtime directory cleaned under the running service.
        return QFile::remove(QLatin1String(stDoorbellMessage::SOCKET_PATH));
    }
    if (verb == QLatin1String("mute")) {
        // From the next subscription on, the notifier cupsd starts reads its events and never
        // rings, as one that cannot reach the socket would (a confined cupsd).
        const QString notifier = QStringLiteral("/usr/lib/cups/notifier/orvo");
        QFile::remove(notifier);
        QFile file(notifier);
        return file.open(QIODevice::WriteOnly) &&
               file.write("#!/bin/sh\nexec cat >/dev/null\n") > 0 &&
               file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                   QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                   QFileDevice::ExeGroup);
    }
    return false;
}

void tst_JobWatchShadow::sameDecisions_data()
{
    QTest::addColumn<QStringList>("steps");
    const auto steps = [](const char* text) {
        return QString::fromLatin1(text).split(QLatin1Char(','));
    };
    QTest::newRow("user cancels a printing job") << steps("print ShadowA,cancel ShadowA");
    QTest::newRow("user cancels a pending job")
        << steps("disable ShadowA,print ShadowA,cancel ShadowA,enable ShadowA");
    QTest::newRow("held job released, then cancelled")
        << steps("hold ShadowA,release ShadowA,cancel ShadowA");
    QTest::newRow("job completes") << steps("print ShadowA,complete ShadowA");
    QTest::newRow("disable and enable while printing")
        << steps("print ShadowA,disable ShadowA,enable ShadowA,cancel ShadowA");
    QTest::newRow("offline cancel, several jobs")
        << steps("print ShadowA,print ShadowA,print ShadowA,offline ShadowA,complete ShadowA");
    QTest::newRow("two queues, lpmove")
        << steps("print ShadowB,disable ShadowA,print ShadowA,lpmove ShadowA,cancel ShadowB,enable "
                 "ShadowA,complete ShadowB");
    QTest::newRow("cupsd stopped with SIGTERM") << steps("print ShadowA,cupsd-term,cancel ShadowA");
    QTest::newRow("cupsd killed") << steps(
        "print ShadowA,cupsd-kill,print ShadowA,cancel ShadowA,complete ShadowA");
    QTest::newRow("cupsd down for 10 s") << steps("print ShadowA,cupsd-down,cancel ShadowA");
    QTest::newRow("lease lost") << steps("print ShadowA,lease-lost,cancel ShadowA");
    QTest::newRow("all subscriptions taken")
        << steps("fill,lease-lost,print ShadowA,cancel ShadowA,free");
    QTest::newRow("doorbell's socket removed") << steps("unlink,print ShadowA,cancel ShadowA");
    QTest::newRow("doorbell never rings")
        << steps("mute,lease-lost,print ShadowA,cancel ShadowA,complete ShadowA");
}

void tst_JobWatchShadow::sameDecisions()
{
    QFETCH(QStringList, steps);
    for (stChains& chains : m_chains) {
        chains.listWorker.clear();
        chains.listRef.clear();
    }
    for (const QString& step : steps) {
        QVERIFY2(Step(step), qPrintable(step + QStringLiteral(": ") + m_env.lastError()));
        Passes(8);
    }
    Passes(PASSES_PER_ITERATION * 2);
    for (const stChains& chains : m_chains) {
        QStringList worker, reference;
        for (int i = 0; i < std::max(chains.listWorker.size(), chains.listRef.size()); ++i) {
            const stDecision w = chains.listWorker.value(i, {-1, QString()});
            const stDecision r = chains.listRef.value(i, {-1, QString()});
            worker.append(w.strAction);
            reference.append(r.strAction);
            QVERIFY2(w.iPass <= r.iPass + 1, qPrintable(QStringLiteral("%1: pass %2 against %3")
                                                            .arg(w.strAction)
                                                            .arg(w.iPass)
                                                            .arg(r.iPass)));
        }
        QCOMPARE(worker, reference);
    }
}

QTEST_GUILESS_MAIN(tst_JobWatchShadow)
#include "test_jobwatch_shadow.moc"
