#include "tests/support/ToolRunner.h"

#include <QProcess>
#include <QProcessEnvironment>

ToolResult ToolRunner::run(const QString& program, const QStringList& args, int timeoutMs,
                           const QStringList& extraEnv, const QByteArray& stdIn)
{
    ToolResult result;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The parsers under test know the C wording; UTF-8 stays the byte encoding of names.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    for (const QString& entry : extraEnv) {
        const int eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) {
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
    }
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForStarted(5000)) {
        return result;
    }
    result.started = true;
    if (!stdIn.isEmpty()) {
        process.write(stdIn);
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.stdOut = process.readAllStandardOutput();
    result.stdErr = process.readAllStandardError();
    return result;
}
