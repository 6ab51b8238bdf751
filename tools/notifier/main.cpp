// The CUPS notifier of orvo-statusd. cupsd runs it as ServerBin/notifier/orvo for the service's
// subscription, as CUPS' user, and writes the subscription's events to its standard input; it
// rings the service's datagram socket once per event with the event's name and queue, and once
// more when cupsd closes its input (cupsd stopped, or the subscription is gone).
//
// It lives as long as cupsd keeps its input open, so it is started once per subscription and
// cupsd never has to log that it went away. Nothing goes to standard error, which cupsd copies
// into its error_log. It always drains its input: cupsd writes to the pipe without blocking and
// drops events (with a log line) when it is full. Where it rings is fixed, whatever the recipient
// URI says, so a subscription of anyone else with this scheme can only make the service ask once
// more.
#include "protocol/DoorbellMessage.h"

#include <cups/cups.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

void Ring(int bell, const sockaddr_un& address, const stDoorbellMessage& message)
{
    std::string bytes = message.Encode();
    if (bytes.empty()) {
        // A name that cannot be carried still rings, for the whole server: asking everyone
        // once more is the safe side.
        stDoorbellMessage plain = message;
        plain.strQueue.clear();
        bytes = plain.Encode();
    }
    // A full queue at the service, or no service at all: the event is consumed either way.
    (void)sendto(bell, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
}
} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    const int bell = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof(address.sun_path) >
                      std::char_traits<char>::length(stDoorbellMessage::SOCKET_PATH),
                  "socket path too long");
    std::strcpy(address.sun_path, stDoorbellMessage::SOCKET_PATH);

    stDoorbellMessage message;
    message.iNotifier = static_cast<int>(getpid());
    for (;;) {
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
        if (bell >= 0) {
            Ring(bell, address, message);
        }
    }
    message.eKind = stDoorbellMessage::KIND_END;
    message.iSequence = 0;
    message.strEvent.clear();
    message.strQueue.clear();
    if (bell >= 0) {
        Ring(bell, address, message);
    }
    return 0;
}
