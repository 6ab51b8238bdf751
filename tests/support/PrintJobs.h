#pragma once

#include "tests/support/ToolResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Print jobs on the private scheduler, through the CUPS command-line tools.
class PrintJobs
{
public:
    // Sends `data` to `queue` as a raw job (no filters). Returns the job id as job lists print
    // it ("Q-8", "B%C3%BCro-9"), or an empty string with the reason in `error`.
    static QString submitRaw(const QString& queue, const QByteArray& data, QString* error);
    static ToolResult cancel(const QString& jobId);
    static ToolResult cancelAll(const QString& queue);
    // Ids of the jobs on `queue` that lpstat lists with "-W which" (not-completed, completed,
    // all). Queue names are matched in their percent-encoded form, as job lists print them.
    static QStringList jobIds(const QString& queue, const QString& which = "not-completed");
    // First line of "lpstat -p queue" ("printer Q is idle. ..."), empty when there is none.
    static QString printerLine(const QString& queue);
    // How job lists write a queue name: bytes outside ASCII percent-encoded.
    static QString encodedQueueName(const QString& queue);
};
