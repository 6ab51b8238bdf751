// orvo-usb-sim: runs a command against emulated Orvo USB printers and steers them while it runs.
// See usage() for the command line.

#include "tests/doubles/usbsim/UmockdevPreload.h"
#include "tests/doubles/usbsim/UsbPrinterEmulator.h"
#include "tests/doubles/usbsim/UsbSimControl.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ModelRow
{
    const char* key;
    unsigned pid;
};

// The product IDs of the Orvo Q70 series, so a device can be named by its model key.
const ModelRow kModels[] = {
    {"Q7020", 0x0701},     {"Q7020D", 0x0702},   {"Q7020DN", 0x0703},  {"Q7020DW", 0x0704},
    {"Q7025DW", 0x0705},   {"Q7030DN", 0x0711},  {"Q7030DW", 0x0712},  {"Q7032DN", 0x0713},
    {"Q7032DW", 0x0714},   {"Q7035DN", 0x0715},  {"Q7035DW", 0x0716},  {"Q7040DN", 0x0721},
    {"Q7040DW", 0x0722},   {"Q7045DN", 0x0723},  {"Q7045DW", 0x0724},  {"QM7060DN", 0x0731},
    {"QM7060DW", 0x0732},  {"QM7065DN", 0x0733}, {"QM7065DW", 0x0734}, {"QM7065FDW", 0x0735},
    {"QM7068FDW", 0x0736},
};

volatile sig_atomic_t s_child = 0;
volatile sig_atomic_t s_stop = 0;

// Runs only inside ppoll() on the main thread: the signals are blocked everywhere else.
void onSignal(int sig)
{
    if (sig == SIGTERM || sig == SIGINT || sig == SIGHUP) {
        if (s_child > 0) {
            kill(s_child, sig);
        } else {
            s_stop = 1;
        }
    }
}

void usage(FILE* out)
{
    std::fputs(
        "Usage: orvo-usb-sim [OPTIONS] --device KEY:SERIAL[:PID] ... [-- COMMAND [ARG...]]\n"
        "       orvo-usb-sim ctl SOCKET COMMAND [ARG...]\n"
        "\n"
        "Creates a umockdev testbed with emulated Orvo USB printers (vendor 0x3A5C, interface 0\n"
        "of class 7) and runs COMMAND with LD_PRELOAD=[FIRST:]libumockdev-preload.so.0 and\n"
        "UMOCKDEV_DIR=<testbed>, so the unmodified libusb code of COMMAND finds the printers.\n"
        "The printers answer the status request (0xA1/0x33) with the current reply and the\n"
        "cancel request (0xA1/0x34) with a one-byte reply.  Exits with COMMAND's status\n"
        "(128+N when a signal N ended it).  Without COMMAND it prints UMOCKDEV_DIR=... and\n"
        "LD_PRELOAD=... lines, then \"ready\", and serves until SIGTERM or SIGINT.\n"
        "\n"
        "Options:\n"
        "  --device KEY:SERIAL[:PID]  add a printer; KEY is a model key (Q7020DN ...), PID\n"
        "                             (hex) overrides the model's product ID; repeatable\n"
        "  --reply HEX|FILE           initial status reply of every printer\n"
        "  --control SOCKET           UNIX socket that takes control commands (see below)\n"
        "  --ready FILE               write the testbed directory into FILE once serving\n"
        "  --preload-first LIB        put LIB before the preload (ASan runtime of COMMAND);\n"
        "                             also taken from $ORVO_USBSIM_PRELOAD_FIRST\n"
        "  -h, --help\n"
        "\n"
        "Control commands (DEV = index from 0 in --device order, or the serial number):\n"
        "  set-reply DEV HEX|FILE     set-cancel-reply DEV HEX|FILE   (\"-\" = empty reply)\n"
        "  mode DEV normal|zero|timeout|stall\n"
        "  driver DEV on|off          claim-fail DEV on|off          open-fail DEV on|off\n"
        "  unplug DEV                 plug DEV\n"
        "  count DEV  -> status N cancel M detach K                  reset-count DEV\n"
        "  list\n"
        "\n"
        "Example:\n"
        "  orvo-usb-sim --control /tmp/usb.ctl --device Q7020DN:AB12345678 \\\n"
        "      --reply tests/data/replies/ready.hex -- build/dev/daemon/orvo-statusd &\n"
        "  orvo-usb-sim ctl /tmp/usb.ctl mode 0 timeout\n"
        "  orvo-usb-sim ctl /tmp/usb.ctl count AB12345678\n",
        out);
}

sockaddr_un socketAddress(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "orvo-usb-sim: socket path too long: %s\n", path.c_str());
        std::exit(2);
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

int runCtl(int argc, char** argv)
{
    if (argc < 4) {
        usage(stderr);
        return 2;
    }
    std::string line;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) {
            line += ' ';
        }
        line += argv[i];
    }
    line += '\n';
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = socketAddress(argv[2]);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "orvo-usb-sim: cannot connect to %s: %s\n", argv[2],
                     std::strerror(errno));
        return 2;
    }
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "orvo-usb-sim: cannot send the command\n");
        return 2;
    }
    std::string reply;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        reply.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    std::fputs(reply.c_str(), stdout);
    return reply.rfind("error", 0) == 0 || reply.empty() ? 1 : 0;
}

void serveClient(int listenFd, UsbSimControl& control)
{
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::string line;
    char buf[256];
    while (line.find('\n') == std::string::npos && line.size() < 65536) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) { // a client that never finishes its line is dropped
            break;
        }
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        line.append(buf, static_cast<size_t>(n));
    }
    const size_t end = line.find('\n');
    std::string reply = end == std::string::npos ? "error: incomplete command"
                                                 : control.execute(line.substr(0, end));
    reply += '\n';
    if (write(fd, reply.data(), reply.size()) < 0) {
        // The client went away; nothing to tell.
    }
    close(fd);
}

bool parseDevice(const std::string& spec, std::string& key, std::string& serial, unsigned& pid)
{
    const size_t c1 = spec.find(':');
    if (c1 == std::string::npos) {
        return false;
    }
    key = spec.substr(0, c1);
    const size_t c2 = spec.find(':', c1 + 1);
    serial = spec.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    if (serial.empty()) {
        return false;
    }
    if (c2 != std::string::npos) {
        char* end = nullptr;
        const std::string text = spec.substr(c2 + 1);
        pid = static_cast<unsigned>(std::strtoul(text.c_str(), &end, 16));
        return !text.empty() && *end == '\0' && pid <= 0xffff;
    }
    for (const ModelRow& row : kModels) {
        if (key == row.key) {
            pid = row.pid;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) {
        return runCtl(argc, argv);
    }

    std::vector<std::string> devices;
    std::string reply, controlPath, readyFile, preloadFirst;
    int commandAt = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "orvo-usb-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--") {
            commandAt = i + 1;
            break;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--device") {
            devices.push_back(value("--device"));
        } else if (a == "--reply") {
            reply = value("--reply");
        } else if (a == "--control") {
            controlPath = value("--control");
        } else if (a == "--ready") {
            readyFile = value("--ready");
        } else if (a == "--preload-first") {
            preloadFirst = value("--preload-first");
        } else {
            std::fprintf(stderr, "orvo-usb-sim: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (devices.empty()) {
        std::fprintf(stderr, "orvo-usb-sim: at least one --device is needed\n");
        return 2;
    }
    std::vector<std::uint8_t> replyBytes;
    std::string error;
    if (!reply.empty() && !UsbSimControl::loadBytes(reply, replyBytes, error)) {
        std::fprintf(stderr, "orvo-usb-sim: %s\n", error.c_str());
        return 2;
    }

    // Blocked before umockdev starts its threads, so they inherit the mask and every signal
    // reaches the main thread inside ppoll(); no wake-up can slip in between checks.
    sigset_t handled, waitMask;
    sigemptyset(&handled);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
        sigaddset(&handled, sig);
    }
    sigprocmask(SIG_BLOCK, &handled, &waitMask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
        sigdelset(&waitMask, sig);
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
        sigaction(sig, &sa, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);

    // The testbed first: it sets UMOCKDEV_DIR and starts umockdev's worker thread.
    UsbPrinterEmulator emulator;
    for (const std::string& spec : devices) {
        std::string key, serial;
        unsigned pid = 0;
        if (!parseDevice(spec, key, serial, pid)) {
            std::fprintf(stderr, "orvo-usb-sim: bad --device %s (KEY:SERIAL[:PID], known KEY)\n",
                         spec.c_str());
            return 2;
        }
        const int index =
            emulator.addPrinter(static_cast<std::uint16_t>(pid), serial, "Orvo " + key);
        emulator.setStatusReply(index, replyBytes);
    }
    UsbSimControl control(emulator);

    int listenFd = -1;
    if (!controlPath.empty()) {
        const sockaddr_un addr = socketAddress(controlPath);
        unlink(controlPath.c_str());
        listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenFd < 0 ||
            bind(listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listenFd, 8) != 0) {
            std::fprintf(stderr, "orvo-usb-sim: cannot listen on %s: %s\n", controlPath.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }

    const std::string root = emulator.rootDir();
    const std::string preload = UmockdevPreload::preloadValue(preloadFirst);
    const bool hasCommand = commandAt > 0 && commandAt < argc;
    if (hasCommand) {
        // Prepared before fork: the child only calls async-signal-safe functions.
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0 &&
                std::strncmp(*e, "UMOCKDEV_DIR=", 13) != 0) {
                envText.push_back(*e);
            }
        }
        envText.push_back("LD_PRELOAD=" + preload);
        envText.push_back("UMOCKDEV_DIR=" + root);
        std::vector<char*> envp;
        for (std::string& s : envText) {
            envp.push_back(&s[0]);
        }
        envp.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            struct sigaction dfl = {};
            dfl.sa_handler = SIG_DFL;
            for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE}) {
                sigaction(sig, &dfl, nullptr);
            }
            sigprocmask(SIG_UNBLOCK, &handled, nullptr);
            execvpe(argv[commandAt], argv + commandAt, envp.data());
            _exit(127);
        }
        s_child = pid;
        if (pid < 0) {
            std::perror("orvo-usb-sim: fork");
            return 2;
        }
    } else {
        std::printf("UMOCKDEV_DIR=%s\nLD_PRELOAD=%s\nready\n", root.c_str(), preload.c_str());
        std::fflush(stdout);
    }
    if (!readyFile.empty()) {
        const std::string tmp = readyFile + ".tmp";
        std::ofstream(tmp) << root << "\n";
        std::rename(tmp.c_str(), readyFile.c_str());
    }

    int exitStatus = 0;
    for (;;) {
        if (s_child > 0) {
            int status = 0;
            const pid_t done = waitpid(s_child, &status, WNOHANG);
            if (done == s_child) {
                exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                s_child = 0;
                break;
            }
        } else if (s_stop || hasCommand) {
            break;
        }
        pollfd fds[1] = {{listenFd, POLLIN, 0}};
        const int n = ppoll(fds, listenFd >= 0 ? 1 : 0, nullptr, &waitMask);
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (n > 0 && (fds[0].revents & POLLIN)) {
            serveClient(listenFd, control);
        }
    }
    if (listenFd >= 0) {
        close(listenFd);
        unlink(controlPath.c_str());
    }
    return exitStatus;
}
