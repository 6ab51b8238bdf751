#pragma once

#include "StatusSnapshot.h"

#include <QByteArray>
#include <QJsonObject>

// Renders a snapshot as one JSON object for scripts. Values keep their types: numbers as numbers,
// absent information as null, texts exactly as decoded (JSON escapes control characters itself).
class JsonFormatter
{
public:
    // Compact output is one line, so a watching script can read one snapshot per line.
    static QByteArray Format(const StatusSnapshot& snapshot, bool compact);

    // withAge false leaves out the heartbeat's age, which changes on every read: what remains
    // changes only when a file does.
    static QJsonObject ToObject(const StatusSnapshot& snapshot, bool withAge);

    static QString FileStateName(StatusFileState state);

private:
    static QJsonObject PrinterObject(const stPrinterReport& printer);
};
