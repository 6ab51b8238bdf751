#pragma once

#include <cstddef>
#include <string>

// One ring of the doorbell: what the service's CUPS notifier tells the service about one event
// of its subscription, or about the end of the events. An event only ever means "ask CUPS
// again" (its contents are not the job's attributes); the queue name says whom to ring and the
// numbers let the listener see a ring that went missing. Shared by the notifier, which encodes,
// and the service, which decodes: no Qt, no I/O.
struct stDoorbellMessage
{
    enum enKind
    {
        KIND_EVENT, // one event of the subscription
        KIND_END,   // cupsd closed the notifier's input: a stop of cupsd or the subscription gone
    };

    enKind eKind = KIND_EVENT;
    int iSubscription = 0; // notify-subscription-id
    int iSequence = 0;     // notify-sequence-number, 0 for KIND_END
    int iNotifier = 0;     // the notifier's process id: sequence numbers count per notifier
    std::string strEvent;  // notify-subscribed-event, e.g. "job-state-changed"
    std::string strQueue;  // printer-name, empty for an event of the whole server

    // The recipient scheme: cupsd runs ServerBin/notifier/SCHEME for the subscription.
    static constexpr const char* SCHEME = "orvo";
    // The recipient URI of the service's subscription. cupsd refuses a second subscription with
    // the same recipient, so the machine holds at most one of the service's.
    static constexpr const char* RECIPIENT = "orvo://orvo-statusd/doorbell";
    // Where the notifier rings, whatever its recipient URI says: the service's runtime directory.
    static constexpr const char* SOCKET_PATH = "/run/orvo-statusd/doorbell";
    // Largest message: a queue name has at most 127 bytes, an event name about 30.
    static constexpr std::size_t MAX_SIZE = 512;

    // The datagram's bytes; empty when a field cannot be carried (a name too long, a line break).
    std::string Encode() const;
    // False for anything that is not a whole, well-formed message.
    static bool Decode(const char* data, std::size_t size, stDoorbellMessage& message);
};
