#include "status/UdpStatusChannel.h"

#include <QByteArray>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

const unsigned char UdpStatusChannel::c_ucRequest[REQUEST_SIZE] = {
    0xA5, 0x00, 0x0C, 0x50, 0xE0, 0x74, 0x08, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

namespace {
// Closes the poll's socket on every way out.
class SocketGuard
{
public:
    explicit SocketGuard(int fd) : iFd(fd) {}
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    ~SocketGuard()
    {
        if (iFd >= 0) {
            ::close(iFd);
        }
    }
    int iFd;
};
} // namespace

bool UdpStatusChannel::ResolveHost(const QString& host, in_addr& address)
{
    const QByteArray text = host.toLatin1();
    if (inet_pton(AF_INET, text.constData(), &address) == 1) {
        return true;
    }

    // A queue may name its printer by host name. Anything the resolver cannot turn into an
    // IPv4 address is no destination: sending to 0.0.0.0 would reach this machine instead.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.constData(), nullptr, &hints, &found) != 0 || !found) {
        return false;
    }
    bool ok = false;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

int UdpStatusChannel::Poll(const QString& host, unsigned char* buffer)
{
    std::memset(buffer, 0, BUFFER_SIZE);
    if (host.isEmpty()) {
        return RESULT_NO_HOST;
    }

    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_port = htons(STATUS_PORT);
    if (!ResolveHost(host, destination.sin_addr)) {
        return RESULT_NO_HOST;
    }

    SocketGuard socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (socket.iFd < 0) {
        return RESULT_NO_SOCKET;
    }

    // Connected to the printer's status port, the socket takes datagrams from there alone: the
    // kernel drops whatever another host or a local program sends to the poll's port.
    if (::connect(socket.iFd, reinterpret_cast<const sockaddr*>(&destination),
                  sizeof destination) != 0) {
        return RESULT_SEND_FAILED;
    }
    if (::send(socket.iFd, c_ucRequest, REQUEST_SIZE, 0) != REQUEST_SIZE) {
        return RESULT_SEND_FAILED;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(RECEIVE_TIMEOUT_S);
    timeval timeout;
    timeout.tv_sec = RECEIVE_TIMEOUT_S;
    timeout.tv_usec = 0;
    for (;;) {
        if (::setsockopt(socket.iFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
            return RESULT_NO_TIMEOUT;
        }
        const ssize_t received = ::recv(socket.iFd, buffer, BUFFER_SIZE, 0);
        if (received >= 0 || errno != ECONNREFUSED) {
            return received < MIN_REPLY_SIZE ? RESULT_NO_REPLY : static_cast<int>(received);
        }
        // An ICMP "port unreachable" for the request (nothing listens on the status port, or
        // someone pretends so) arrives on a connected socket as this error, at once. It is no
        // reply: the poll waits out its time as for a silent printer, and takes a reply that
        // still comes.
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return RESULT_NO_REPLY;
        }
        timeout.tv_sec = static_cast<time_t>(left.count() / 1000000);
        // Never zero, which would mean no time-out at all.
        timeout.tv_usec = static_cast<suseconds_t>(std::max<long long>(left.count() % 1000000, 1));
    }
}
