#pragma once

#include <QByteArray>
#include <QString>

// What one run of a command-line tool produced.
struct ToolResult
{
    bool started = false;
    bool timedOut = false;
    int exitCode = -1; // -1 when the tool did not start, timed out or crashed
    QByteArray stdOut;
    QByteArray stdErr;

    bool ok() const { return started && !timedOut && exitCode == 0; }
    QString out() const { return QString::fromUtf8(stdOut); }
    QString err() const { return QString::fromUtf8(stdErr); }
    // One line for a failure message: the exit code and both outputs.
    QString describe() const
    {
        if (!started) {
            return QStringLiteral("did not start");
        }
        return QStringLiteral("%1, stdout: \"%2\", stderr: \"%3\"")
            .arg(timedOut ? QStringLiteral("timed out") : QStringLiteral("exit %1").arg(exitCode),
                 out().trimmed(), err().trimmed());
    }
};
