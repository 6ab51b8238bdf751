#include "tests/support/ChildProcesses.h"

#include <QProcess>

ChildProcesses::~ChildProcesses()
{
    stopAll();
    qDeleteAll(m_processes);
}

QProcess* ChildProcesses::start(const QString& program, const QStringList& args,
                                const QStringList& extraEnv, bool captureOutput, QString* error)
{
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnv) {
        const int eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) {
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
    }
    process->setProcessEnvironment(env);
    if (!captureOutput) {
        process->setProcessChannelMode(QProcess::ForwardedChannels);
    }
    process->start(program, args);
    if (!process->waitForStarted(5000)) {
        if (error) {
            *error = QStringLiteral("cannot start %1: %2").arg(program, process->errorString());
        }
        delete process;
        return nullptr;
    }
    m_processes.append(process);
    return process;
}

int ChildProcesses::stop(QProcess* process, int graceMs)
{
    if (!process || !m_processes.contains(process)) {
        return -1;
    }
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(graceMs)) {
            process->kill();
            process->waitForFinished(5000);
            return -1;
        }
    }
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

void ChildProcesses::stopAll()
{
    for (QProcess* process : qAsConst(m_processes)) {
        stop(process, 2000);
    }
}
