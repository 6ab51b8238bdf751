#pragma once

#include "service/PrinterReasons.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CupsClient;

// Keeps each watched queue's printer-state-reasons and printer-state-message in CUPS in step
// with its printer, in a thread of its own: a worker only hands over what its printer's reply
// means (Report, a comparison under a lock), and a scheduler that is slow or gone holds up this
// thread alone, never a worker's cycle.
//
// CUPS replaces a queue's whole reasons list on every change, so each change reads the list
// fresh and sends it back with only the service's keywords added or taken away: those it set
// itself, and, the first time a queue is watched, any keyword of its own table an earlier run
// left behind (a crash, a kill). CUPS hears from it only when what a printer asks for changes.
class CupsReasonPublisher
{
public:
    // A change CUPS did not answer is tried again after this long.
    static constexpr int RETRY_MS = 5000;

    static CupsReasonPublisher& Instance();
    ~CupsReasonPublisher();
    CupsReasonPublisher(const CupsReasonPublisher&) = delete;
    CupsReasonPublisher& operator=(const CupsReasonPublisher&) = delete;

    // Starts the thread. Before it (in the unit tests of the worker) reports are dropped.
    void Start();
    // The queues the service watches now, set before the workers see the new list. A queue that
    // leaves gets back what the service set on it; a new one is cleared of leftovers.
    void Watch(const QStringList& queues);
    // What the printer of a watched queue asks CUPS to show; ignored for any other queue.
    void Report(const QString& queue, const stPrinterReasons& reasons);
    // Takes back everything the service set, waiting at most `timeoutMs`; reports after it are
    // ignored. True when CUPS took every change.
    bool Finish(int timeoutMs);

    // Requests that changed a queue so far (CUPS-Add-Modify-Printer), for the log and the tests.
    int ChangeCount() const;

private:
    CupsReasonPublisher() = default;

    struct stQueueState
    {
        bool bWatched = true;
        bool bLeftoverCheck = true; // not synchronised yet: own keywords found are leftovers
        bool bDue = true;           // CUPS may not show `stWanted` yet
        stPrinterReasons stWanted;
        QStringList listApplied; // the keywords the service set and CUPS carries
        std::int64_t llRetryAt = 0;
    };

    void Run();
    // One queue's change: fresh read, merge, write. Called without the lock.
    enum enSync
    {
        SYNC_DONE,
        SYNC_GONE, // CUPS does not know the queue (any more) or refuses the change
        SYNC_RETRY,
    };
    enSync Sync(CupsClient& cups, const QString& queue, const stQueueState& state, bool& wrote);
    static std::int64_t NowMs();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    QHash<QString, stQueueState> m_hashQueues;
    bool m_bStarted = false;
    bool m_bFinishing = false;
    bool m_bBusy = false; // the thread works on a change outside the lock
    int m_iChanges = 0;
    std::thread m_thread;
};
