// The CUPS notifier of orvo-statusd. cupsd runs it as ServerBin/notifier/orvo for the service's
// subscription, as CUPS' user, and writes the subscription's events to its standard input; it
// rings the service's datagram socket once per event with the event's name and queue, and once
// more when cupsd closes its input or ends it (cupsd stopped, or the subscription is gone).
//
// It lives as long as cupsd keeps its input open, so it is started once per subscription and
// cupsd never has to log that it went away. Nothing goes to standard error, which cupsd copies
// into its error_log. It always drains its input: cupsd writes to the pipe without blocking and
// drops events (with a log line) when it is full. Where it rings is fixed, whatever the recipient
// URI says, so a subscription of anyone else with this scheme can only make the service ask once
// more.
#include "protocol/DoorbellMessage.h"

#include <cups/cups.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {
int Integer(ipp_t* event, const char* name)
{
    ipp_attribute_t* attr = ippFindAttribute(event, name, IPP_TAG_INTEGER);
    return attr ? ippGetInteger(attr, 0) : 0;
}

std::string Text(ipp_t* event, const char* name, ipp_tag_t tag)
{
    const char* value = ippGetString(ippFindAttribute(event, name, tag), 0, nullptr);
    return value ? std::string(value) : std::string();
}

// cupsd ends its notifiers with SIGTERM when it stops, often before they read the end of their
// input: the last ring is made ready at the start, for the handler to send as it is, on a socket
// of its own that waits a little for room at the service.
int s_iTermBell = -1;
sockaddr_un s_address{};
std::string s_strEnd;

extern "C" void OnTerm(int)
{
    (void)sendto(s_iTermBell, s_strEnd.data(), s_strEnd.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&s_address), sizeof s_address);
    _exit(0);
}

// The service's socket takes only a few datagrams before it is read, and a burst of events (a
// cancelled job makes several) would lose the last ones, after which the service would hold an
// old answer until the next event. So the socket is connected, which makes a full queue at the
// service show as "not writable": a ring that finds no room is kept, the next one replaces it,
// and it goes out when there is room. The gap in sequence numbers makes the service ask about
// everything.
class Bell
{
public:
    explicit Bell(const sockaddr_un& address)
        : m_iFd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)), m_address(address)
    {
    }

    int Fd() const { return m_iFd; }
    bool Waiting() const { return !m_strKept.empty(); }

    void Ring(std::string bytes)
    {
        m_strKept = std::move(bytes);
        Flush();
    }

    void Flush()
    {
        if (m_iFd < 0) {
            m_strKept.clear();
        }
        if (m_strKept.empty()) {
            return;
        }
        // Twice: the service may have made its socket anew since the last ring.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!m_bConnected) {
                m_bConnected = connect(m_iFd, reinterpret_cast<const sockaddr*>(&m_address),
                                       sizeof m_address) == 0;
            }
            if (!m_bConnected) {
                break;
            }
            if (send(m_iFd, m_strKept.data(), m_strKept.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
                break;
            }
            if (errno == EAGAIN) {
                return;
            }
            // A new socket needs a new connection; the old one may not be undone on every
            // kernel, so the socket itself is replaced.
            close(m_iFd);
            m_iFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            m_bConnected = false;
        }
        // No service listening: nobody to ring.
        m_strKept.clear();
    }

private:
    int m_iFd;
    bool m_bConnected = false;
    sockaddr_un m_address;
    std::string m_strKept;
};

std::string Encode(const stDoorbellMessage& message)
{
    std::string bytes = message.Encode();
    if (bytes.empty()) {
        // A name that cannot be carried still rings, for the whole server: asking everyone
        // once more is the safe side.
        stDoorbellMessage plain = message;
        plain.strQueue.clear();
        bytes = plain.Encode();
    }
    return bytes;
}
} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof(address.sun_path) >
                      std::char_traits<char>::length(stDoorbellMessage::SOCKET_PATH),
                  "socket path too long");
    std::strcpy(address.sun_path, stDoorbellMessage::SOCKET_PATH);
    Bell bell(address);

    stDoorbellMessage message;
    message.iNotifier = static_cast<int>(getpid());
    stDoorbellMessage end = message;
    end.eKind = stDoorbellMessage::KIND_END;
    s_strEnd = end.Encode();
    s_address = address;
    s_iTermBell = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const timeval patience{1, 0};
    if (s_iTermBell >= 0 &&
        setsockopt(s_iTermBell, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience) == 0) {
        signal(SIGTERM, OnTerm);
    }
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0},
                         {bell.Fd(), static_cast<short>(bell.Waiting() ? POLLOUT : 0), 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents) {
            bell.Flush();
        }
        if (!fds[0].revents) {
            continue;
        }
        ipp_t* event = ippNew();
        ipp_state_t state = IPP_STATE_IDLE;
        while ((state = ippReadFile(STDIN_FILENO, event)) != IPP_STATE_DATA) {
            if (state <= IPP_STATE_IDLE) {
                break;
            }
        }
        if (state != IPP_STATE_DATA) {
            ippDelete(event);
            break;
        }
        message.eKind = stDoorbellMessage::KIND_EVENT;
        message.iSubscription = Integer(event, "notify-subscription-id");
        message.iSequence = Integer(event, "notify-sequence-number");
        message.strEvent = Text(event, "notify-subscribed-event", IPP_TAG_KEYWORD);
        message.strQueue = Text(event, "printer-name", IPP_TAG_NAME);
        ippDelete(event);
        if (end.iSubscription == 0 && message.iSubscription != 0) {
            // Whose events ended, for the service to tell them from an earlier subscription's.
            sigset_t term, saved;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            sigprocmask(SIG_BLOCK, &term, &saved);
            end.iSubscription = message.iSubscription;
            s_strEnd = end.Encode();
            sigprocmask(SIG_SETMASK, &saved, nullptr);
        }
        bell.Ring(Encode(message));
    }
    // The last ring replaces whatever is still kept, and waits a little for room.
    bell.Ring(Encode(end));
    for (int waited = 0; bell.Waiting() && waited < 20; ++waited) {
        pollfd room{bell.Fd(), POLLOUT, 0};
        poll(&room, 1, 100);
        bell.Flush();
    }
    return 0;
}
