#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QStringList>

class QProcess;

// Processes a test starts and leaves running (the service under test, helpers). Whatever is
// still running when the set is destroyed is terminated, then killed.
class ChildProcesses
{
public:
    ChildProcesses() = default;
    ~ChildProcesses();
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    // Starts `program`; `extraEnv` ("NAME=value") is added to the inherited environment. Output
    // goes to the test's own stdout/stderr unless `captureOutput`. Returns nullptr (and leaves a
    // message in `error`) when it does not start. The set keeps ownership.
    QProcess* start(const QString& program, const QStringList& args, const QStringList& extraEnv,
                    bool captureOutput, QString* error);

    // SIGTERM, then SIGKILL after `graceMs`. Returns the exit code, or -1 if it had to be killed
    // or crashed. The process stays owned by the set.
    int stop(QProcess* process, int graceMs = 5000);

    void stopAll();

private:
    QList<QProcess*> m_processes;
};
