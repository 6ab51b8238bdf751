#include "service/CupsReasonPublisher.h"

#include "service/CupsClient.h"
#include "service/UtilLog.h"

#include <chrono>

CupsReasonPublisher& CupsReasonPublisher::Instance()
{
    static CupsReasonPublisher s_publisher;
    return s_publisher;
}

// The process ends with _exit(), which never gets here; a test that started the thread ends it.
CupsReasonPublisher::~CupsReasonPublisher()
{
    if (m_thread.joinable()) {
        m_thread.detach();
    }
}

std::int64_t CupsReasonPublisher::NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CupsReasonPublisher::Start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bStarted) {
        return;
    }
    m_bStarted = true;
    m_thread = std::thread([this] { Run(); });
}

void CupsReasonPublisher::Watch(const QStringList& queues)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bStarted || m_bFinishing) {
        return;
    }
    for (auto it = m_hashQueues.begin(); it != m_hashQueues.end(); ++it) {
        const bool watched = queues.contains(it.key());
        if (it->bWatched && !watched) {
            it->bWatched = false;
            it->stWanted = stPrinterReasons();
            it->bDue = true;
            it->llRetryAt = 0;
        } else if (!it->bWatched && watched) {
            // Back before its removal went through: what it asks for comes with its next reply.
            it->bWatched = true;
        }
    }
    for (const QString& queue : queues) {
        if (!m_hashQueues.contains(queue)) {
            m_hashQueues.insert(queue, stQueueState());
        }
    }
    m_wake.notify_one();
}

void CupsReasonPublisher::Report(const QString& queue, const stPrinterReasons& reasons)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_hashQueues.find(queue);
    if (!m_bStarted || m_bFinishing || it == m_hashQueues.end() || !it->bWatched ||
        it->stWanted == reasons) {
        return;
    }
    it->stWanted = reasons;
    it->bDue = true;
    it->llRetryAt = 0;
    m_wake.notify_one();
}

bool CupsReasonPublisher::Finish(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bStarted) {
        return true;
    }
    m_bFinishing = true;
    for (auto it = m_hashQueues.begin(); it != m_hashQueues.end(); ++it) {
        it->bWatched = false;
        it->stWanted = stPrinterReasons();
        it->bDue = true;
        it->llRetryAt = 0;
    }
    m_wake.notify_one();
    // Every queue is dropped from the table once CUPS took its change.
    return m_settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_hashQueues.isEmpty() && !m_bBusy; });
}

int CupsReasonPublisher::ChangeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iChanges;
}

void CupsReasonPublisher::Run()
{
    CupsClient cups; // this thread's own connection
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // The next queue whose change is due; otherwise sleep until a report or a retry time.
        const std::int64_t now = NowMs();
        std::int64_t nextRetry = -1;
        QString queue;
        for (auto it = m_hashQueues.cbegin(); it != m_hashQueues.cend(); ++it) {
            if (!it->bDue) {
                continue;
            }
            if (it->llRetryAt <= now) {
                queue = it.key();
                break;
            }
            if (nextRetry < 0 || it->llRetryAt < nextRetry) {
                nextRetry = it->llRetryAt;
            }
        }
        if (queue.isEmpty()) {
            m_settled.notify_all();
            if (nextRetry < 0) {
                m_wake.wait(lock);
            } else {
                m_wake.wait_for(lock, std::chrono::milliseconds(nextRetry - now));
            }
            continue;
        }

        const stQueueState state = m_hashQueues.value(queue);
        m_hashQueues[queue].bDue = false;
        m_bBusy = true;
        lock.unlock();
        bool wrote = false;
        const enSync result = Sync(cups, queue, state, wrote);
        lock.lock();
        m_bBusy = false;

        auto it = m_hashQueues.find(queue);
        if (it == m_hashQueues.end()) {
            continue;
        }
        if (result == SYNC_RETRY) {
            it->bDue = true;
            // While finishing there is no time to wait: the deadline ends the process.
            it->llRetryAt = m_bFinishing ? NowMs() + 200 : NowMs() + RETRY_MS;
            continue;
        }
        if (wrote) {
            ++m_iChanges;
        }
        it->listApplied = result == SYNC_DONE ? state.stWanted.listReasons : QStringList();
        it->bLeftoverCheck = false;
        if (!it->bWatched && !it->bDue) {
            m_hashQueues.erase(it);
        }
    }
}

CupsReasonPublisher::enSync CupsReasonPublisher::Sync(CupsClient& cups, const QString& queue,
                                                      const stQueueState& state, bool& wrote)
{
    wrote = false;
    QStringList current;
    QString message;
    const CupsClient::enChange read = cups.GetStateReasons(queue, current, message);
    if (read == CupsClient::CHANGE_NO_ANSWER) {
        return SYNC_RETRY;
    }
    if (read == CupsClient::CHANGE_REFUSED) {
        return SYNC_GONE;
    }

    // What the service set before, and on a queue not yet synchronised every keyword of its own
    // table: nobody but an earlier run of the service puts those on an Orvo queue outside a job.
    QStringList remove = state.listApplied;
    if (state.bLeftoverCheck) {
        for (const QString& keyword : current) {
            if (PrinterReasons::IsOwnReason(keyword)) {
                remove.append(keyword);
            }
        }
    }
    const stPrinterReasons& wanted = state.stWanted;
    const QStringList reasons = PrinterReasons::Merge(current, remove, wanted.listReasons);
    // The message goes with the reasons; somebody else's (a backend's during a job) stays while
    // the printer has nothing to say.
    QString newMessage = message;
    if (!wanted.listReasons.isEmpty()) {
        newMessage = wanted.strMessage;
    } else if (PrinterReasons::IsOwnMessage(message)) {
        newMessage.clear();
    }
    if (PrinterReasons::SameSet(reasons, current) && newMessage == message) {
        return SYNC_DONE;
    }
    const CupsClient::enChange write = cups.SetStateReasons(queue, reasons, newMessage);
    const QByteArray name = queue.toUtf8();
    if (write == CupsClient::CHANGE_NO_ANSWER) {
        ORVO_LOG(QStringLiteral("CUPS does not answer, state reasons of %s later"),
                 name.constData());
        return SYNC_RETRY;
    }
    if (write == CupsClient::CHANGE_REFUSED) {
        ORVO_LOG(QStringLiteral("CUPS refused the state reasons of %s"), name.constData());
        return SYNC_GONE;
    }
    wrote = true;
    ORVO_LOG(QStringLiteral("state reasons of %s: %s"), name.constData(),
             reasons.isEmpty() ? "none" : reasons.join(QLatin1Char(' ')).toUtf8().constData());
    return SYNC_DONE;
}
