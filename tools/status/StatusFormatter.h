#pragma once

#include "StatusSnapshot.h"

#include <QString>

// Renders a snapshot as readable text: a service line, the printer list state, then one block per
// printer. Texts from the files are shown with control characters escaped, so a foreign file or a
// printer's reply cannot drive the terminal.
class StatusFormatter
{
public:
    static QString Format(const StatusSnapshot& snapshot);

    // The service line's state word: "alive", "stale", "not running" or "unknown".
    static QString ServiceStateName(ServiceState state);
    // "USB", "network", or the value as written with a note.
    static QString ConnectionName(const stPrinterReport& printer);
    // "0x1A2B".
    static QString Hex(quint64 value, int digits);
    // Control characters (C0, DEL, C1) as \xNN, backslashes doubled.
    static QString Printable(const QString& text);

private:
    static void FormatPrinter(const stPrinterReport& printer, QString* out);
    static QString ErrorList(const QList<stErrorEntry>& errors);
};
