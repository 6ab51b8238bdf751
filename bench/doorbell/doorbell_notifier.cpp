// A CUPS notifier that only rings: cupsd starts it as ServerBin/notifier/SCHEME for a
// subscription of that scheme, as CUPS' user, and writes the events to its standard input. It
// reads whatever arrives and sends one empty-meaning byte per read to the service's datagram
// socket. The events are not parsed: an event only ever means "ask CUPS again", so a burst
// becomes one or a few rings and no byte from cupsd is interpreted here.
// It never exits on its own while cupsd keeps the pipe open (the rss notifier exits after 30 s
// idle and cupsd then logs "went away, retrying!" at the next event); end of input ends it.
// Nothing goes to standard error: cupsd logs what a notifier writes there.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef DOORBELL_SOCKET
#define DOORBELL_SOCKET "/run/orvo-statusd/doorbell"
#endif

int main()
{
    // The service may be gone: a send must fail, never kill us.
    signal(SIGPIPE, SIG_IGN);
    const int bell = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof(DOORBELL_SOCKET) <= sizeof(address.sun_path), "socket path too long");
    std::memcpy(address.sun_path, DOORBELL_SOCKET, sizeof(DOORBELL_SOCKET));
    char buffer[16384];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof(buffer));
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        // A full queue at the service already holds a ring; a missing service has nothing to
        // ring. Either way the event is consumed, so cupsd's non-blocking pipe never fills.
        if (bell >= 0) {
            (void)sendto(bell, "!", 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        }
    }
}
