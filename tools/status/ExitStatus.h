#pragma once

#include "tools/status/StatusSnapshot.h"

// The exit status of orvo-status, so that a script can ask "is everything fine?" and tell why not.
class ExitStatus
{
public:
    enum Code
    {
        ALL_FINE = 0,            // service alive, every listed printer ready or printing
        UNREADABLE = 1,          // the heartbeat or the printer list cannot be read
        USAGE = 2,               // wrong command line, or a queue the printer list lacks
        SERVICE_NOT_RUNNING = 3, // no heartbeat, or a stale one: nothing shown is current
        NEEDS_ATTENTION = 4,     // a printer has a condition, no status or cannot be reached
    };

    // The most telling code for a snapshot: unreadable files before a stopped service before a
    // printer that needs someone.
    static int For(const StatusSnapshot& snapshot);

    // The table as --help and the man page show it, in English (translated in the context
    // "ExitStatus").
    static const char* HelpText();
};
