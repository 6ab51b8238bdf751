#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

typedef struct _http_s http_t;
typedef struct _ipp_s ipp_t;

// The questions the service asks CUPS, over IPP on a connection of its own: the queues with
// their device URIs, whether a queue is printing, the jobs of a queue and a queue's state
// reasons. The one change made here is a queue's printer-state-reasons and message, which no
// command-line tool sets; the other changes (cancel, lpadmin, lpinfo) stay with the tools.
//
// It talks to the scheduler the CUPS tools would talk to (CUPS_SERVER, client.conf, else the
// local socket). One object per thread: the connection is opened at the first question, kept
// for the next ones and opened again after the scheduler dropped it (a restart). Only
// KEPT_MAX clients of the process keep theirs (see there); the others open one per question.
// A scheduler that is down or does not answer within the timeout gives no answer: `false` (or
// `answered` false), with empty results that no caller may take for the truth.
class CupsClient
{
public:
    struct stQueue
    {
        QString strName;
        QString strDeviceUri; // empty for a class or a queue without one
        QByteArray baName;    // the name's bytes as CUPS gave them, which need not be UTF-8
    };

    struct stJob
    {
        int iId = 0;
        QStringList listReasons; // job-state-reasons, as CUPS gives them
        bool bHasMessage = false;
        QString strMessage; // job-printer-state-message, when bHasMessage
    };

    // Waiting longer for an answer than this makes the question fail, connecting included.
    // Short: every question stands in a worker's cycle, and a hung scheduler must not stop the
    // cycle for long.
    static constexpr int TIMEOUT_MS = 2000;
    // How long a question found the scheduler silent counts for clients that hold back (below)
    // when no other question has been answered or gone unanswered since. The device manager
    // asks every few seconds and renews it, so its workers stay quiet for a whole outage; a
    // holding client alone asks again after it.
    static constexpr int SILENT_HOLD_MS = 10000;

    // What a client does while the scheduler is silent: the last question any client of the
    // process asked got no answer (it timed out or found no scheduler).
    enum enWhenSilent
    {
        ASK_ANYWAY, // asks and waits: the device manager, which finds out when CUPS is back
        // Gives up at once without asking: a worker, whose polls must keep their pace while
        // each question would wait out the timeout.
        HOLD_BACK,
    };
    // cupsd serves MaxClients connections at once (100 by default) and accepts no more from
    // anyone, print dialogs and lp included, until one closes. A connection kept by every
    // worker would hand that whole limit to the service once about a hundred queues are
    // watched, so the kept ones are bounded; a client beyond the bound holds a connection only
    // for the length of a question.
    static constexpr int KEPT_MAX = 32;

    explicit CupsClient(enWhenSilent whenSilent = ASK_ANYWAY);
    ~CupsClient();
    CupsClient(const CupsClient&) = delete;
    CupsClient& operator=(const CupsClient&) = delete;

    // Every destination CUPS has, in its order (sorted by name), with its device URI.
    bool GetQueues(QList<stQueue>& queues);
    // Whether `queue` prints now (printer-state "processing"). False also when it is stopped,
    // unknown, or CUPS does not answer; `answered` tells the last apart.
    bool IsPrinting(const QString& queue, bool* answered = nullptr);
    // The queue's jobs that are not finished, plus those of `alsoIds` whatever their state
    // (CUPS keeps finished jobs in its history), sorted by job id. Finished jobs beyond those
    // are not asked for: with a long history they would be most of the answer, and nothing
    // decides on them.
    bool GetJobs(const QString& queue, const QList<int>& alsoIds, QList<stJob>& jobs);

    // How a change was taken: done, refused (no such queue, not allowed), or no answer at all.
    enum enChange
    {
        CHANGE_DONE,
        CHANGE_REFUSED,
        CHANGE_NO_ANSWER,
    };
    // The queue's printer-state-reasons ("none" left out) and printer-state-message.
    enChange GetStateReasons(const QString& queue, QStringList& reasons, QString& message);
    // Replaces the queue's whole printer-state-reasons list and its message (one
    // CUPS-Add-Modify-Printer request; cupsd takes it from root over the local socket).
    enChange SetStateReasons(const QString& queue, const QStringList& reasons,
                             const QString& message);

    // Event subscriptions (the event watcher's questions), all on the whole server.
    struct stSubscription
    {
        int iId = 0;
        QString strRecipient; // notify-recipient-uri; empty for a pull subscription
    };
    // Create-Printer-Subscriptions for `events`, pushed to `recipient`, for `leaseSeconds`.
    // `why` receives CUPS' reason when it refuses (too many subscriptions, recipient in use).
    enChange CreateSubscription(const QString& recipient, const QStringList& events,
                                int leaseSeconds, int& id, QString* why = nullptr);
    // Every subscription on the whole server (none is an empty list).
    enChange GetSubscriptions(QList<stSubscription>& subscriptions);
    enChange RenewSubscription(int id, int leaseSeconds);
    enChange CancelSubscription(int id);
    // A change of `queue` that changes nothing (CUPS-Add-Modify-Printer without attributes):
    // cupsd tells its subscribers that the queue was modified, which proves that events reach
    // their recipient, and logs nothing at its default level. True when cupsd took it.
    bool Touch(const QString& queue);

    // Open connections made so far, for the tests of the reconnect.
    int ConnectCount() const { return m_iConnects; }
    // Whether this client keeps its connection between questions.
    bool KeepsConnection() const { return m_bKeeps; }
    // Whether the scheduler runs on this machine (its local socket, or localhost): only then
    // can its notifiers reach the service.
    static bool SchedulerIsLocal();
    // Whether the last question asked in this process went unanswered (see enWhenSilent).
    static bool SchedulerSilent();

private:
    // Sends the request (freeing it) and returns the response, or nullptr when CUPS gave none
    // or answered with an error status. A connection that fails is closed and, when it had
    // served a question before (the scheduler may have been restarted since), opened again
    // for one more try.
    ipp_t* Ask(ipp_t* request, bool* answered, const char* resource = "/");
    // CHANGE_DONE for a response with a successful status; otherwise what the failure was.
    static enChange Outcome(ipp_t* response);
    http_t* Connection(int timeoutMs);
    // libcups' callback when a wait for the scheduler ends without data: wait on until the
    // question's deadline.
    static int WaitOn(http_t* http, void* client);
    void Disconnect();
    static QString PrinterUri(const QString& queue);
    static QString ServerUri();
    enChange SubscriptionRequest(int operation, int id, int leaseSeconds);

    http_t* m_pHttp = nullptr;
    int m_iConnects = 0;
    bool m_bKeeps = false; // holds one of the KEPT_MAX places, for its lifetime
    enWhenSilent m_eWhenSilent = ASK_ANYWAY;
    qint64 m_iDeadlineMs = 0; // of the question under way, on the steady clock
    static std::atomic<int> s_iKept;
    // When a question last went unanswered (steady clock, ms), or -1 after an answer.
    static std::atomic<qint64> s_iSilentSinceMs;
};
