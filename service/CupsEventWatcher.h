#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CupsClient;
struct stDoorbellMessage;

// How the service learns that something changed in CUPS without asking. In a thread of its own
// it holds one subscription to the job, printer and server events of all queues, whose events
// cupsd hands to our notifier (ServerBin/notifier/orvo); the notifier rings a datagram socket in
// the service's runtime directory, here, within a millisecond of the change.
//
// The workers keep the answers of their last questions with the stamp this watcher gave them,
// and ask again only when the stamp changed. An event only ever means "ask again": its contents
// are not what CUPS would answer. A stamp of 0 means the watcher is not sure it would hear of a
// change (no subscription yet, cupsd gone or restarted, a ring missing, a doorbell that does not
// ring): then every question is asked, as if there were no watcher.
//
// Sure means: a subscription of ours exists and has rung for a change made to prove it (a
// change of a watched queue that changes nothing), the notifier has not told of its end, and no
// ring went missing.
class CupsEventWatcher
{
public:
    // A subscription left behind by a killed service ends within this; the running one renews
    // it long before.
    static constexpr int LEASE_S = 3600;
    static constexpr int RENEW_MS = 20 * 60 * 1000;
    // The proving event rings within a few milliseconds; longer means the doorbell is broken.
    static constexpr int PROOF_WAIT_MS = 2000;
    // After CUPS gave no answer: it may be restarting.
    static constexpr int RETRY_MS = 2000;
    // After a refusal (all subscriptions taken) or a doorbell that did not ring: meanwhile every
    // question is asked anyway, so trying again costs more than it saves.
    static constexpr int RETRY_REFUSED_MS = 60000;
    // A proof that does not ring is tried again after RETRY_REFUSED_MS, twice that, and so on up
    // to this.
    static constexpr int RETRY_LONGEST_MS = 3600 * 1000;

    static CupsEventWatcher& Instance();
    CupsEventWatcher(const CupsEventWatcher&) = delete;
    CupsEventWatcher& operator=(const CupsEventWatcher&) = delete;

    // Starts the thread. Without it (the unit tests of the worker) the watcher is never sure.
    void Start();
    // The queues the service watches; the first proves the subscription.
    void Watch(const QStringList& queues);
    // Cancels the subscription and ends the thread, waiting at most `timeoutMs`.
    void Finish(int timeoutMs);

    // What may have changed in the jobs and the state of `queue`; 0 while not sure.
    std::uint64_t QueueStamp(const QString& queue) const;
    // What may have changed in the list of queues and their device URIs; 0 while not sure.
    std::uint64_t ListStamp() const;
    // Waits at most `ms` for QueueStamp(queue) to differ from `stamp`; true when it does.
    bool WaitForChange(const QString& queue, std::uint64_t stamp, int ms) const;

private:
    CupsEventWatcher() = default;

    void Run();
    bool OpenDoorbell();
    // Whether the directory watch saw the socket removed, replaced or changed.
    bool DoorbellChanged();
    // Finds or makes our subscription and sends the proving request.
    void Subscribe(CupsClient& cups);
    void Receive();
    void Apply(const stDoorbellMessage& message);
    // Not sure any more; `why` goes to the log once while it stays the reason.
    void Unsure(const QString& why, int retryMs);
    void Bump(std::uint64_t& last); // under m_mutex
    static std::int64_t NowMs();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    // Event counter and the last event of each kind; queues by name.
    std::uint64_t m_uCounter = 0;
    std::uint64_t m_uServer = 0;
    std::uint64_t m_uList = 0;
    QHash<QString, std::uint64_t> m_hashQueue;
    QString m_strProofQueue;
    std::atomic<bool> m_bSure{false};

    // The watcher thread's own state.
    enum enState
    {
        STATE_UNSURE,
        STATE_PROVING,
        STATE_SURE,
    };
    enState m_eState = STATE_UNSURE;
    int m_iSubscription = 0;
    int m_iNotifier = 0; // the notifier whose sequence numbers are followed
    int m_iSequence = 0;
    int m_iProofFailures = 0; // in a row
    std::int64_t m_llRetryAt = 0;
    std::int64_t m_llProofUntil = 0;
    std::int64_t m_llRenewAt = 0;
    QString m_strTold; // the reason last logged, empty while sure
    int m_iSocket = -1;
    int m_iWakePipe[2] = {-1, -1};
    int m_iDirWatch = -1; // inotify on the socket's directory
    unsigned m_uLpUid = 0;

    std::thread m_thread;
    bool m_bStarted = false;
    std::atomic<bool> m_bFinishing{false};
    std::mutex m_finishMutex;
    std::condition_variable m_finished;
    bool m_bDone = false;
};
