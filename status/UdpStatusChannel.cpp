#include "UdpStatusChannel.h"

#include <QByteArray>

#include <arpa/inet.h>
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
        if (iFd >= 0)
            ::close(iFd);
    }
    int iFd;
};
} // namespace

bool UdpStatusChannel::ResolveHost(const QString& host, in_addr& address)
{
    const QByteArray text = host.toLatin1();
    if (inet_pton(AF_INET, text.constData(), &address) == 1)
        return true;

    // A queue may name its printer by host name. Anything the resolver cannot turn into an
    // IPv4 address is no destination: sending to 0.0.0.0 would reach this machine instead.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
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
    if (host.isEmpty())
        return RESULT_NO_HOST;

    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_port = htons(STATUS_PORT);
    if (!ResolveHost(host, destination.sin_addr))
        return RESULT_NO_HOST;

    SocketGuard socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (socket.iFd < 0)
        return RESULT_NO_SOCKET;

    const ssize_t sent =
        ::sendto(socket.iFd, c_ucRequest, REQUEST_SIZE, 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    if (sent != REQUEST_SIZE)
        return RESULT_SEND_FAILED;

    timeval timeout;
    timeout.tv_sec = RECEIVE_TIMEOUT_S;
    timeout.tv_usec = 0;
    if (::setsockopt(socket.iFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return RESULT_NO_TIMEOUT;

    // The reply may come from any address; the socket's own port is what pairs it with this poll.
    sockaddr_in sender;
    socklen_t senderLength = sizeof sender;
    const ssize_t received = ::recvfrom(socket.iFd, buffer, BUFFER_SIZE, 0,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < MIN_REPLY_SIZE)
        return RESULT_NO_REPLY;
    return static_cast<int>(received);
}
