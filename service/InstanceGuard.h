#pragma once

#include <QString>

// Single-instance check of the service. Not a lock: two copies started at the same moment may
// each see the other, or neither.
class InstanceGuard
{
public:
    // The application name as the check uses it: the first 15 characters (the width of the
    // command column of "ps -A").
    static QString ProcessName(const QString& applicationName);
    // Counts the lines of a "ps -A" listing whose command column equals `name`, ignoring case.
    static int CountProcessLines(const QStringList& psLines, const QString& name);
};

// True when another process of this application's name runs. Creates the temp directory when
// it is missing; leaves no snapshot file behind.
bool CheckIsRunning();
