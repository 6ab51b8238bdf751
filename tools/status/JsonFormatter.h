#pragma once

#include "tools/status/StatusSnapshot.h"

#include <QByteArray>
#include <QJsonObject>

// Renders a snapshot as one JSON object for scripts. Values keep their types: numbers as numbers,
// absent information as null, texts exactly as decoded (JSON escapes control characters itself).
// Each printer carries its state, conditions and supplies in words and keys, and everything the
// reply held under "raw". Times are ISO 8601 with their offset. SCHEMA_VERSION changes whenever a
// field changes meaning or goes away.
class JsonFormatter
{
public:
    static constexpr int SCHEMA_VERSION = 2;

    // Compact output is one line, so a watching script can read one snapshot per line.
    static QByteArray Format(const StatusSnapshot& snapshot, bool compact);

    // withAge false leaves out the heartbeat's time and age, which change on every beat: what
    // remains changes only when something worth telling does.
    static QJsonObject ToObject(const StatusSnapshot& snapshot, bool withAge);

    static QString FileStateName(StatusFileState state);
    // ISO 8601 with the local offset: "2026-12-08T13:04:56.653+01:00".
    static QString IsoTime(qint64 msSinceEpoch);

private:
    static QJsonObject PrinterObject(const stPrinterReport& printer,
                                     const StatusSnapshot& snapshot);
    static QJsonObject RawObject(const stPrinterReport& printer);
};
