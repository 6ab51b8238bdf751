#pragma once

#include "tools/status/StatusSnapshot.h"

#include <QCoreApplication>
#include <QString>

// Renders a snapshot as readable text: a service line, then one line per printer in words
// ("Office: error - paper jam (0x110D); toner 80 %"); verbose adds the directory, the printer
// list's state and the raw fields of each reply under its printer's line. Texts from the files are
// shown with control characters escaped, so a foreign file or a printer's reply cannot drive the
// terminal. Its words are for people: in the user's language once a translator is installed.
class StatusFormatter
{
    Q_DECLARE_TR_FUNCTIONS(StatusFormatter)

public:
    static QString Format(const StatusSnapshot& snapshot, bool verbose);

    // "alive - heartbeat 2 s ago", "stale - last heartbeat 2 days ago; the service is not
    // running", "not running - no heartbeat file".
    static QString ServiceLine(const stHeartbeatReport& heartbeat);
    // How long ago: "3 s ago", "5 min ago", "2 days ago", "in 1 h" (ahead of this clock).
    static QString Age(qint64 ms);

    // The service's state as scripts read it: "alive", "stale", "not running" or "unknown".
    static QString ServiceStateName(ServiceState state);
    // The same for people, as the service line says it.
    static QString ServiceStateWord(ServiceState state);
    // "USB", "network", or the value as written with a note.
    static QString ConnectionName(const stPrinterReport& printer);
    // "0x1A2B".
    static QString Hex(quint64 value, int digits);
    // Control characters (C0, DEL, C1) as \xNN, backslashes doubled.
    static QString Printable(const QString& text);

private:
    static void FormatRawFields(const stPrinterReport& printer, QString* out);
    static QString ErrorList(const QList<stErrorEntry>& errors);
};
