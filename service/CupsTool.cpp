#include "service/CupsTool.h"

#include "service/SafeWrite.h"
#include "service/UtilLog.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
std::atomic<bool> s_bPassErrorsThrough{false};

// The environment of the tools: ours with the locale variables forced to C. Built once, before
// it could be needed by two threads at the same time (function-local static initialisation is
// thread-safe), from an environment the service never changes after start.
const std::vector<char*>& ToolEnvironment()
{
    static std::vector<QByteArray> s_storage;
    static std::vector<char*> s_env = [] {
        std::vector<char*> env;
        for (char** entry = environ; entry && *entry; ++entry) {
            if (std::strncmp(*entry, "LC_ALL=", 7) == 0 ||
                std::strncmp(*entry, "LANGUAGE=", 9) == 0) {
                continue;
            }
            s_storage.emplace_back(*entry);
        }
        s_storage.emplace_back("LC_ALL=C");
        for (QByteArray& entry : s_storage) {
            env.push_back(entry.data());
        }
        env.push_back(nullptr);
        return env;
    }();
    return s_env;
}

// Starts `argv` with `actions` plus a standard error that is either /dev/null or, while the log
// is on, a pipe read here until the tool and everything it started have closed it; then waits.
// Returns the wait status, or -1 with `spawnError` set when nothing started.
int SpawnAndWait(const char* path, bool searchPath, char* const argv[],
                 posix_spawn_file_actions_t* actions, const char* caller, int* spawnError,
                 bool errorsPlaced = false)
{
    int errPipe[2] = {-1, -1};
    const bool passThrough = errorsPlaced || s_bPassErrorsThrough.load(std::memory_order_relaxed);
    // Close-on-exec, so that tools other threads start at the same time do not hold the write
    // end open; the tool's own copy on descriptor 2 is made by dup2, which clears the flag.
    const bool logging = !passThrough && UtilLog::IsEnabled() && pipe2(errPipe, O_CLOEXEC) == 0;
    if (logging) {
        posix_spawn_file_actions_adddup2(actions, errPipe[1], STDERR_FILENO);
    } else if (!passThrough) {
        posix_spawn_file_actions_addopen(actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }

    pid_t pid = -1;
    char* const* env = ToolEnvironment().data();
    *spawnError = searchPath ? posix_spawnp(&pid, path, actions, nullptr, argv, env)
                             : posix_spawn(&pid, path, actions, nullptr, argv, env);
    QByteArray text;
    if (logging) {
        close(errPipe[1]);
        char buffer[1024];
        // Drained to the end even beyond the limit: a tool blocked on a full pipe never exits.
        while (*spawnError == 0) {
            const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            const int room = CupsTool::MAX_ERROR_BYTES - text.size();
            if (room > 0) {
                text.append(buffer, std::min(static_cast<int>(n), room));
            }
        }
        close(errPipe[0]);
    }
    if (*spawnError != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            WriteStringLog(__FILE__, __LINE__, caller, QStringLiteral("tool error output: %s"),
                           line.constData());
        }
    }
    return status;
}
} // namespace

void CupsTool::PassToolErrorsThrough(bool on)
{
    s_bPassErrorsThrough.store(on, std::memory_order_relaxed);
}

int CupsTool::RunShell(const QByteArray& command, const char* caller)
{
    // posix_spawn instead of system(): no fork of the whole (threaded) address space, and no
    // process-wide signal dispositions changed behind the other threads' backs.
    const char* argv[] = {"sh", "-c", command.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int spawnError = 0;
    const int status =
        SpawnAndWait("/bin/sh", false, const_cast<char**>(argv), &actions, caller, &spawnError);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

bool CupsTool::Run(const char* format, const QStringList& values, const char* caller, int* status)
{
    const QList<QByteArray> encoded = ShellCommand::Encode(values);
    const ShellCommand::Result built = ShellCommand::Build(format, encoded);
    if (!built.bOk) {
        WriteStringLog(__FILE__, __LINE__, caller, QStringLiteral("command refused (%s): %s"),
                       built.strError.toLocal8Bit().constData(), format);
        if (status) {
            *status = -1;
        }
        return false;
    }
    // Most commands are a tool, its arguments and an output file: those start the tool
    // directly, which saves a shell per run (ten runs a second per printer). Anything else
    // (the single-instance check's pipe) goes through the shell.
    const ShellCommand::Words words = ShellCommand::Split(format, encoded);
    const int rc = words.bSimple ? RunWords(words, caller) : RunShell(built.command, caller);
    if (status) {
        *status = rc;
    }
    return true;
}

int CupsTool::RunWords(const ShellCommand::Words& words, const char* caller)
{
    std::vector<char*> argv;
    for (const QByteArray& word : words.argv) {
        argv.push_back(const_cast<char*>(word.constData()));
    }
    argv.push_back(nullptr);

    // Output files live in the cfg directory: opened here, never through a link planted there.
    int output = -1;
    if (!words.redirect.isEmpty()) {
        output = SafeWrite::OpenOutput(QFile::decodeName(words.redirect));
        if (output < 0) {
            return 1 << 8; // as the shell reports a redirection it cannot open
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
        if (words.bErrorsToo) {
            posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
        }
    }
    int spawnError = 0;
    const int status = SpawnAndWait(argv.front(), true, argv.data(), &actions, caller, &spawnError,
                                    words.bErrorsToo);
    posix_spawn_file_actions_destroy(&actions);
    if (output >= 0) {
        ::close(output);
    }
    if (spawnError != 0) {
        return 127 << 8; // what the shell reports for a command it cannot start
    }
    return status;
}

QStringList CupsTool::ReadAndRemove(const QString& path, bool* opened)
{
    QStringList lines;
    QFile file(path);
    const bool ok = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (ok) {
        qint64 total = 0;
        while (!file.atEnd() && total < MAX_OUTPUT_BYTES) {
            QByteArray raw = file.readLine(MAX_OUTPUT_BYTES - total);
            total += raw.size();
            const int nul = raw.indexOf('\0');
            if (nul >= 0) {
                raw.truncate(nul);
            }
            lines.append(QString::fromUtf8(raw));
        }
        file.close();
    }
    QFile::remove(path);
    if (opened) {
        *opened = ok;
    }
    return lines;
}
