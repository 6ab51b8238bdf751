#include "service/CupsEventWatcher.h"

#include "protocol/DoorbellMessage.h"
#include "service/CupsClient.h"
#include "service/UtilLog.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Everything that can change a watched job's state or reasons, a queue's state, or the list of
// queues.
const QStringList& SubscribedEvents()
{
    static const QStringList events = {
        QStringLiteral("job-created"),        QStringLiteral("job-completed"),
        QStringLiteral("job-state-changed"),  QStringLiteral("job-stopped"),
        QStringLiteral("job-config-changed"), QStringLiteral("printer-state-changed"),
        QStringLiteral("printer-added"),      QStringLiteral("printer-deleted"),
        QStringLiteral("printer-modified"),   QStringLiteral("server-started"),
        QStringLiteral("server-stopped"),     QStringLiteral("server-restarted")};
    return events;
}

// More queues than any machine has: beyond it the table starts afresh (everyone asks once).
constexpr int MAX_QUEUES_TRACKED = 4096;
// A worker's wait wakes at least this often to look at its own quit flag.
constexpr int WAIT_SLICE_MS = 500;
} // namespace

CupsEventWatcher& CupsEventWatcher::Instance()
{
    // Never destroyed: the workers may still wait on it while the process ends, and the service
    // ends with _exit() anyway.
    static CupsEventWatcher* const watcher = new CupsEventWatcher;
    return *watcher;
}

std::int64_t CupsEventWatcher::NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CupsEventWatcher::Start()
{
    if (m_bStarted) {
        return;
    }
    m_bStarted = true;
    if (pipe2(m_iWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_iWakePipe[0] = m_iWakePipe[1] = -1;
    }
    if (const passwd* lp = getpwnam("lp")) {
        m_uLpUid = lp->pw_uid;
    }
    m_thread = std::thread([this] { Run(); });
}

void CupsEventWatcher::Finish(int timeoutMs)
{
    if (!m_bStarted || m_bFinishing.exchange(true)) {
        return;
    }
    if (m_iWakePipe[1] >= 0) {
        [[maybe_unused]] const ssize_t written = write(m_iWakePipe[1], "x", 1);
    }
    std::unique_lock<std::mutex> lock(m_finishMutex);
    if (m_finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_bDone; })) {
        lock.unlock();
        m_thread.join();
    }
    // Otherwise the thread is left to the process's end.
}

std::uint64_t CupsEventWatcher::QueueStamp(const QString& queue) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bSure.load()) {
        return 0;
    }
    return std::max(m_uServer, m_hashQueue.value(queue, 0));
}

std::uint64_t CupsEventWatcher::ListStamp() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bSure.load() ? std::max(m_uServer, m_uList) : 0;
}

bool CupsEventWatcher::WaitForChange(const QString& queue, std::uint64_t stamp, int ms) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto changed = [&] {
        const std::uint64_t now =
            m_bSure.load() ? std::max(m_uServer, m_hashQueue.value(queue, 0)) : 0;
        return now != stamp;
    };
    return m_changed.wait_for(lock, std::chrono::milliseconds(std::min(ms, WAIT_SLICE_MS)),
                              changed);
}

void CupsEventWatcher::Bump(std::uint64_t& last)
{
    last = ++m_uCounter;
}

bool CupsEventWatcher::OpenDoorbell()
{
    const QByteArray path = stDoorbellMessage::SOCKET_PATH;
    const QByteArray dir = path.left(path.lastIndexOf('/'));
    // systemd makes the runtime directory; a start by hand makes it here.
    if (mkdir(dir.constData(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    // A socket left by an earlier run would make bind fail.
    unlink(path.constData());
    const int on = 1;
    // The notifier runs as CUPS' user: the socket must be writable by it, and the unit has no
    // CAP_CHOWN to hand it to group lp. The credentials of each datagram tell who rang.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.constData(), 0666) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        close(fd);
        return false;
    }
    m_iSocket = fd;
    // A socket removed or changed under the running service (its runtime directory cleaned, a
    // changed mode) would silence the doorbell without a word: the watcher must hear of that
    // too, and listen anew.
    if (m_iDirWatch < 0) {
        m_iDirWatch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_iDirWatch >= 0 &&
            inotify_add_watch(m_iDirWatch, dir.constData(),
                              IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
            close(m_iDirWatch);
            m_iDirWatch = -1;
        }
    }
    return true;
}

bool CupsEventWatcher::DoorbellChanged()
{
    const QByteArray name =
        QByteArray(stDoorbellMessage::SOCKET_PATH)
            .mid(QByteArray(stDoorbellMessage::SOCKET_PATH).lastIndexOf('/') + 1);
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(m_iDirWatch, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const ssize_t size = static_cast<ssize_t>(sizeof event + event.len);
            if (at + size > got) {
                break;
            }
            const char* eventName = buffer + at + sizeof event;
            if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) ||
                (event.len > static_cast<std::uint32_t>(name.size()) &&
                 std::strncmp(eventName, name.constData(), event.len) == 0)) {
                changed = true;
            }
            at += size;
        }
    }
    return changed;
}

void CupsEventWatcher::Unsure(const QString& why, int retryMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSure.store(false);
    }
    m_changed.notify_all();
    m_eState = STATE_UNSURE;
    m_llRetryAt = NowMs() + retryMs;
    if (why != m_strTold) {
        ORVO_LOG(
            QStringLiteral("not told of changes in CUPS (%1): asking CUPS on every pass").arg(why));
        m_strTold = why;
    }
}

void CupsEventWatcher::Subscribe(CupsClient& cups)
{
    // The proof is a change of a watched queue that changes nothing: without one, nothing
    // needs the events yet, and CUPS is not asked.
    QString queue;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queue = m_strProofQueue;
    }
    if (queue.isEmpty()) {
        m_llRetryAt = NowMs() + RETRY_MS;
        return;
    }
    if (!CupsClient::SchedulerIsLocal()) {
        Unsure(QStringLiteral("CUPS runs on another machine, whose notifiers cannot ring here"),
               RETRY_LONGEST_MS);
        return;
    }
    QList<CupsClient::stSubscription> subscriptions;
    if (cups.GetSubscriptions(subscriptions) != CupsClient::CHANGE_DONE) {
        Unsure(QStringLiteral("CUPS does not answer"), RETRY_MS);
        return;
    }
    // CUPS refuses a second subscription with our recipient, so there is at most one left by an
    // earlier run (killed, or not finished in time): it is taken over when its lease renews.
    int id = 0;
    for (const CupsClient::stSubscription& subscription : subscriptions) {
        if (subscription.strRecipient != QLatin1String(stDoorbellMessage::RECIPIENT)) {
            continue;
        }
        if (id == 0 &&
            cups.RenewSubscription(subscription.iId, LEASE_S) == CupsClient::CHANGE_DONE) {
            id = subscription.iId;
        } else {
            cups.CancelSubscription(subscription.iId);
        }
    }
    if (id == 0) {
        QString why;
        const CupsClient::enChange made = cups.CreateSubscription(
            QLatin1String(stDoorbellMessage::RECIPIENT), SubscribedEvents(), LEASE_S, id, &why);
        if (made == CupsClient::CHANGE_NO_ANSWER) {
            Unsure(QStringLiteral("CUPS does not answer"), RETRY_MS);
            return;
        }
        if (made == CupsClient::CHANGE_REFUSED) {
            Unsure(QStringLiteral("CUPS refuses a subscription: ") + why, RETRY_REFUSED_MS);
            return;
        }
    }
    m_iSubscription = id;
    m_eState = STATE_PROVING;
    m_llProofUntil = NowMs() + PROOF_WAIT_MS;
    m_llRenewAt = NowMs() + RENEW_MS;
    if (!cups.Touch(queue)) {
        Unsure(QStringLiteral("CUPS does not answer"), RETRY_MS);
    }
}

void CupsEventWatcher::Watch(const QStringList& queues)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strProofQueue = queues.value(0);
    }
    if (m_iWakePipe[1] >= 0) {
        [[maybe_unused]] const ssize_t written = write(m_iWakePipe[1], "w", 1);
    }
}

void CupsEventWatcher::Apply(const stDoorbellMessage& message)
{
    const bool ours = message.iSubscription == m_iSubscription && m_iSubscription > 0;
    if (message.eKind == stDoorbellMessage::KIND_END) {
        // A notifier that read no event cannot say whose it was.
        if ((ours || message.iSubscription == 0) && m_eState != STATE_UNSURE) {
            Unsure(QStringLiteral("CUPS ended the events of the subscription"), 0);
        }
        return;
    }
    if (!ours || m_eState == STATE_UNSURE) {
        // An earlier subscription's last events, or somebody else's with our scheme.
        return;
    }
    const QString event = QString::fromStdString(message.strEvent);
    const QString queue = QString::fromUtf8(message.strQueue.c_str());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Sequence numbers count per notifier: a new one (cupsd restarted) starts afresh.
        const bool missing =
            message.iNotifier == m_iNotifier && message.iSequence != m_iSequence + 1;
        m_iNotifier = message.iNotifier;
        m_iSequence = message.iSequence;
        if (m_eState == STATE_PROVING || missing) {
            // Proven, or a ring was lost: whatever was asked before may be out of date.
            Bump(m_uServer);
        } else if (event.startsWith(QLatin1String("printer-")) && !queue.isEmpty() &&
                   event != QLatin1String("printer-state-changed")) {
            Bump(m_uList);
            Bump(m_hashQueue[queue]);
        } else if (!queue.isEmpty() && event != QLatin1String("job-config-changed")) {
            if (m_hashQueue.size() >= MAX_QUEUES_TRACKED && !m_hashQueue.contains(queue)) {
                m_hashQueue.clear();
                Bump(m_uServer);
            }
            Bump(m_hashQueue[queue]);
        } else {
            // Server events, and a job moved between queues (lpmove), which concerns two.
            Bump(m_uServer);
            Bump(m_uList);
        }
        m_bSure.store(true);
    }
    m_changed.notify_all();
    if (m_eState == STATE_PROVING) {
        m_eState = STATE_SURE;
        m_iProofFailures = 0;
        if (!m_strTold.isEmpty()) {
            ORVO_LOG("told of changes in CUPS again");
            m_strTold.clear();
        }
    }
}

void CupsEventWatcher::Receive()
{
    for (;;) {
        char data[stDoorbellMessage::MAX_SIZE + 1];
        iovec vector{data, sizeof data};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr header{};
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(m_iSocket, &header, MSG_DONTWAIT);
        if (got < 0) {
            return;
        }
        const cmsghdr* credentials = CMSG_FIRSTHDR(&header);
        if (!credentials || credentials->cmsg_level != SOL_SOCKET ||
            credentials->cmsg_type != SCM_CREDENTIALS ||
            credentials->cmsg_len != CMSG_LEN(sizeof(ucred)) || (header.msg_flags & MSG_TRUNC)) {
            continue;
        }
        ucred sender{};
        std::memcpy(&sender, CMSG_DATA(credentials), sizeof sender);
        // Only cupsd's notifiers ring: as CUPS' user, or as root where cupsd runs them so.
        if (sender.uid != 0 && sender.uid != m_uLpUid) {
            continue;
        }
        stDoorbellMessage message;
        if (stDoorbellMessage::Decode(data, static_cast<std::size_t>(got), message)) {
            Apply(message);
        }
    }
}

void CupsEventWatcher::Run()
{
    CupsClient cups;
    for (;;) {
        if (m_bFinishing.load()) {
            break;
        }
        const std::int64_t now = NowMs();
        if (m_iSocket < 0 && now < m_llRetryAt) {
            // Waits below for the retry.
        } else if (m_iSocket < 0 && !OpenDoorbell()) {
            Unsure(QStringLiteral("cannot listen at ") +
                       QLatin1String(stDoorbellMessage::SOCKET_PATH) + QStringLiteral(": ") +
                       QString::fromLocal8Bit(std::strerror(errno)),
                   RETRY_REFUSED_MS);
        } else if (m_eState == STATE_UNSURE && now >= m_llRetryAt) {
            Subscribe(cups);
        } else if (m_eState == STATE_PROVING && now >= m_llProofUntil) {
            // Each proof changes a queue (printers.conf is written again): a doorbell that stays
            // broken is tried less and less often.
            const int retry =
                m_iProofFailures >= 6
                    ? RETRY_LONGEST_MS
                    : std::min(RETRY_LONGEST_MS, RETRY_REFUSED_MS << m_iProofFailures);
            ++m_iProofFailures;
            Unsure(QStringLiteral("the events of the subscription do not reach the service"),
                   retry);
        } else if (m_eState == STATE_SURE && now >= m_llRenewAt) {
            const CupsClient::enChange renewed = cups.RenewSubscription(m_iSubscription, LEASE_S);
            if (renewed == CupsClient::CHANGE_DONE) {
                m_llRenewAt = now + RENEW_MS;
            } else {
                Unsure(renewed == CupsClient::CHANGE_REFUSED
                           ? QStringLiteral("the subscription is gone")
                           : QStringLiteral("CUPS does not answer"),
                       0);
            }
        }

        std::int64_t until = m_llRetryAt;
        if (m_eState == STATE_PROVING) {
            until = m_llProofUntil;
        } else if (m_eState == STATE_SURE) {
            until = m_llRenewAt;
        }
        const std::int64_t wait = std::max<std::int64_t>(0, until - NowMs());
        pollfd fds[3] = {
            {m_iSocket, POLLIN, 0}, {m_iWakePipe[0], POLLIN, 0}, {m_iDirWatch, POLLIN, 0}};
        if (poll(fds, 3, static_cast<int>(std::min<std::int64_t>(wait, RETRY_REFUSED_MS))) <= 0) {
            continue;
        }
        if ((fds[2].revents & POLLIN) && DoorbellChanged() && m_iSocket >= 0) {
            close(m_iSocket);
            m_iSocket = -1;
            if (m_iDirWatch >= 0) {
                // The directory itself may be new: watch it afresh.
                close(m_iDirWatch);
                m_iDirWatch = -1;
            }
            Unsure(QStringLiteral("the doorbell's socket was removed or changed"), 0);
            continue;
        }
        if (fds[1].revents & POLLIN) {
            char drain[16];
            while (read(m_iWakePipe[0], drain, sizeof drain) > 0) {
            }
            // A new list of queues: a watcher waiting for a queue to prove with goes on now.
            if (m_eState == STATE_UNSURE && m_strTold.isEmpty()) {
                m_llRetryAt = 0;
            }
        }
        if (m_iSocket >= 0 && (fds[0].revents & POLLIN)) {
            Receive();
        }
    }

    // Nothing of the service may outlive it in CUPS, nor its socket in the runtime directory.
    // The socket goes first: it costs nothing, while CUPS may take the rest of the time given.
    if (m_iSocket >= 0) {
        unlink(stDoorbellMessage::SOCKET_PATH);
    }
    if (m_iSubscription > 0) {
        cups.CancelSubscription(m_iSubscription);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSure.store(false);
    }
    m_changed.notify_all();
    std::lock_guard<std::mutex> lock(m_finishMutex);
    m_bDone = true;
    m_finished.notify_all();
}
