#pragma once

#include "tests/support/ToolResult.h"

#include <QStringList>

// Runs a program without a shell (arguments are passed as they are) in the C locale and collects
// its exit code and output.
class ToolRunner
{
public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    // `extraEnv` holds "NAME=value" entries added to the inherited environment.
    static ToolResult run(const QString& program, const QStringList& args,
                          int timeoutMs = DEFAULT_TIMEOUT_MS,
                          const QStringList& extraEnv = QStringList(),
                          const QByteArray& stdIn = QByteArray());
};
