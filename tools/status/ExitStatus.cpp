#include "tools/status/ExitStatus.h"

#include "tools/status/PrinterCondition.h"

#include <QCoreApplication>

int ExitStatus::For(const StatusSnapshot& snapshot)
{
    if (snapshot.stHeartbeat.bReadFailed) {
        return UNREADABLE;
    }
    if (snapshot.stHeartbeat.enState != ServiceState::Alive) {
        return SERVICE_NOT_RUNNING;
    }
    if (!snapshot.stList.bRead) {
        return UNREADABLE;
    }
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        const PrinterCondition condition = PrinterCondition::Classify(
            printer, snapshot.stHeartbeat.enState, snapshot.stList.iAgeMs);
        if (condition.NeedsAttention()) {
            return NEEDS_ATTENTION;
        }
    }
    return ALL_FINE;
}

const char* ExitStatus::HelpText()
{
    return QT_TRANSLATE_NOOP(
        "ExitStatus",
        "  0  all fine: the service is alive and every listed printer is ready or printing\n"
        "     without a condition (also when no printer is listed)\n"
        "  1  the heartbeat or the printer list cannot be read (no permission, not a\n"
        "     regular file, not a printer list, or no list while the service runs)\n"
        "  2  wrong usage, or a queue name the printer list does not hold\n"
        "  3  the service is not running: no heartbeat (no directory either), or one\n"
        "     older than the alive limit\n"
        "  4  a printer needs attention: an error or warning condition, no status, or\n"
        "     unreachable\n"
        "  5  --notify: no session bus, or no notification service on it\n"
        "  6  --prometheus --output: the file cannot be written\n");
}
