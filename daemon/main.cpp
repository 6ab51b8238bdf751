#include "devices/TrdDeviceManage.h"
#include "generated/OrvoVersion.h"
#include "service/CupsEventWatcher.h"
#include "service/CupsReasonPublisher.h"
#include "service/FixedPaths.h"
#include "service/InstanceGuard.h"
#include "service/PrinterRecords.h"
#include "service/UtilLog.h"

#include <QCoreApplication>
#include <QList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

enum ExitCode
{
    EXIT_DONE = 0,     // ended itself without printers, another copy runs, or --help/--version
    EXIT_NOT_ROOT = 1, // started by a user other than root
    EXIT_USAGE = 2,
};

const char* const HELP =
    "Usage: orvo-statusd [--help | --version]\n"
    "Status service for Orvo Q70-series printers. Finds the Orvo queues in CUPS, asks each\n"
    "printer for its status and publishes what it learns in %s:\n"
    "  printerlist.ini   the printers it watches (INI, UTF-8)\n"
    "  service.hb        heartbeat: local time of the last cycle, rewritten every 1 to 3 s\n"
    "  <queue>.dat       each printer's last status reply, as the printer sent it\n"
    "Runs as root, usually started by systemd (orvo-statusd.service); ends by itself when no\n"
    "Orvo queue is left. orvo-status shows what it publishes. See orvo-statusd(8).\n"
    "\n"
    "Exit status:\n"
    "  0  ended by itself (no printers), stopped (SIGTERM), or another copy already runs\n"
    "  1  not started as root\n"
    "  2  wrong usage\n";

// The service takes no arguments: anything on its command line is a mistake to be told, not
// a reason to start.
bool HandleArguments(int argc, char* argv[], int* exitCode)
{
    if (argc < 2) {
        return false;
    }
    const char* argument = argv[1];
    if (argc == 2 && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
        std::printf(HELP, FixedPaths::CfgDir().toLocal8Bit().constData());
        *exitCode = EXIT_DONE;
    } else if (argc == 2 && std::strcmp(argument, "--version") == 0) {
        std::printf("orvo-statusd %s\n", ORVO_VERSION);
        *exitCode = EXIT_DONE;
    } else {
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0) {
            argument = argv[2];
        }
        std::fprintf(stderr, "orvo-statusd: unexpected argument '%s'. Try --help\n", argument);
        *exitCode = EXIT_USAGE;
    }
    return true;
}

// A stop (SIGTERM from systemd, ^C by hand) reaches the handler in whatever thread it hits; the
// handler only writes a byte into a pipe, and a thread of its own does the end: take back the
// state reasons the service set in CUPS, then end like the service ends itself.
int s_iStopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(s_iStopPipe[1], &byte, 1);
    errno = saved;
}

void HandleStopSignals()
{
    if (pipe2(s_iStopPipe, O_CLOEXEC) != 0) {
        return;
    }
    std::thread([] {
        char byte = 0;
        while (read(s_iStopPipe[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ORVO_LOG("stopped by a signal, end service");
        TrdDeviceManage::FinishInCups();
        std::fflush(nullptr);
        _exit(EXIT_DONE);
    }).detach();
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    int exitCode = EXIT_DONE;
    if (HandleArguments(argc, argv, &exitCode)) {
        return exitCode;
    }
    // Without root it can read no queue's PPD, open no USB printer and write nothing under the
    // install root: it would run doing nothing.
    if (geteuid() != 0) {
        std::fprintf(stderr, "orvo-statusd: must run as root (it reads the CUPS PPDs, opens USB "
                             "printers and writes under /opt/orvo); start it with: sudo systemctl "
                             "start orvo-statusd\n");
        return EXIT_NOT_ROOT;
    }

    auto* app = new QCoreApplication(argc, argv);
    // A second copy ends quietly, as it always has: units and scripts start it freely.
    if (CheckIsRunning()) {
        delete app;
        return EXIT_DONE;
    }

#ifdef ORVO_LOG_AT_START
    UtilLog::SetLogEnable(true);
#endif
    ORVO_LOG("Start service, enable log");
    CupsReasonPublisher::Instance().Start();
    CupsEventWatcher::Instance().Start();
    HandleStopSignals();

    auto* printers = new QList<stPrinterManager>();
    auto* manager = new TrdDeviceManage(nullptr);
    manager->Init(printers);
    manager->SlotTaskStart();

    const int rc = app->exec();
    delete manager;
    delete printers;
    delete app;
    return rc;
}
