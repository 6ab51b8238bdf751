#pragma once

#include <QString>

#include <netinet/in.h>

// One status poll of a network printer: the fixed request datagram to UDP port 9300 and one
// reply datagram back from that address and port, on a socket of the poll's own.
class UdpStatusChannel
{
public:
    enum
    {
        RESULT_NO_HOST = -1,
        RESULT_NO_SOCKET = -2,
        RESULT_SEND_FAILED = -3,
        RESULT_NO_TIMEOUT = -4,
        RESULT_NO_REPLY = -5,
    };

    static constexpr unsigned short STATUS_PORT = 9300;
    static constexpr int REQUEST_SIZE = 15;
    static constexpr int BUFFER_SIZE = 2048;
    static constexpr int RECEIVE_TIMEOUT_S = 2;
    // A datagram this short holds no more than a reply header.
    static constexpr int MIN_REPLY_SIZE = 8;

    static const unsigned char c_ucRequest[REQUEST_SIZE];

    // Sends the request to `host` and receives the reply into `buffer` (BUFFER_SIZE bytes,
    // zeroed here). Returns the reply's length (at least MIN_REPLY_SIZE) or a RESULT_* code.
    static int Poll(const QString& host, unsigned char* buffer);

    // The IPv4 address of a host text: a dotted address as it stands, a name through the
    // system resolver. False when neither gives one.
    static bool ResolveHost(const QString& host, in_addr& address);
};
