#include "CupsTool.h"

#include "UtilLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
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
                std::strncmp(*entry, "LANGUAGE=", 9) == 0)
                continue;
            s_storage.emplace_back(*entry);
        }
        s_storage.emplace_back("LC_ALL=C");
        for (QByteArray& entry : s_storage)
            env.push_back(entry.data());
        env.push_back(nullptr);
        return env;
    }();
    return s_env;
}
} // namespace

int CupsTool::RunShell(const QByteArray& command)
{
    // posix_spawn instead of system(): no fork of the whole (threaded) address space, and no
    // process-wide signal dispositions changed behind the other threads' backs.
    const char* argv[] = {"sh", "-c", command.constData(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv),
                               const_cast<char**>(ToolEnvironment().data()));
    if (rc != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

bool CupsTool::Run(const char* format, const QStringList& values, const char* caller, int* status)
{
    const QList<QByteArray> encoded = ShellCommand::Encode(values);
    const ShellCommand::Result built = ShellCommand::Build(format, encoded);
    if (!built.bOk) {
        WriteStringLog(__FILE__, __LINE__, caller, QStringLiteral("command refused (%s): %s"),
                       built.strError.toLocal8Bit().constData(), format);
        if (status)
            *status = -1;
        return false;
    }
    // Most commands are a tool, its arguments and an output file: those start the tool
    // directly, which saves a shell per run (ten runs a second per printer). Anything else
    // (the single-instance check's pipe) goes through the shell.
    const ShellCommand::Words words = ShellCommand::Split(format, encoded);
    const int rc = words.bSimple ? RunWords(words) : RunShell(built.command);
    if (status)
        *status = rc;
    return true;
}

int CupsTool::RunWords(const ShellCommand::Words& words)
{
    std::vector<char*> argv;
    for (const QByteArray& word : words.argv)
        argv.push_back(const_cast<char*>(word.constData()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!words.redirect.isEmpty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, words.redirect.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0666);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(),
                                const_cast<char**>(ToolEnvironment().data()));
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return 127 << 8; // what the shell reports for a command it cannot start
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
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
            if (nul >= 0)
                raw.truncate(nul);
            lines.append(QString::fromUtf8(raw));
        }
        file.close();
    }
    QFile::remove(path);
    if (opened)
        *opened = ok;
    return lines;
}
