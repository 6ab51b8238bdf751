#include "tools/status/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_aiPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Nothing to do when the pipe is full: a stop is already on its way.
    [[maybe_unused]] const ssize_t n = write(g_aiPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    m_pNotifier = new QSocketNotifier(g_aiPipe[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, SIGNAL(activated(int)), this, SLOT(SlotSignal()));
}

bool StopSignals::Install(QObject* parent)
{
    if (g_aiPipe[0] < 0 && pipe2(g_aiPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    new StopSignals(parent);
    for (const int sig : {SIGTERM, SIGINT}) {
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(sig, &action, nullptr);
    }
    return true;
}

void StopSignals::SlotSignal()
{
    char bytes[16];
    while (read(g_aiPipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::exit(0);
}
