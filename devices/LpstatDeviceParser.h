#pragma once

#include "PrinterRecords.h"

#include <QString>

// Reads one line of "lpstat -v" into a queue record. Two wordings occur: the C one,
// "device for NAME: URI", and translated ones in which the queue name is the second word and the
// URI sits inside the third (zh_CN: "用于 NAME 的设备：URI"). Only USB and socket queues are
// accepted; the record's model is left untouched.
class LpstatDeviceParser
{
public:
    // True when the line names a USB or socket queue; `info` then holds name, connection type,
    // port and URI. On false `info` is left as it was.
    static bool ParseLine(const QString& line, stPrinterInfo& info);

    // The host of a socket URI: the text after "://" up to the next ":", "/" or "?" (or the
    // end). A bracketed IPv6 literal is returned without its brackets, whole. Empty when "://"
    // is missing; `found` tells the two apart from an empty host.
    static QString HostOf(const QString& uri, int schemeAt, bool* found);

private:
    static bool ParseStandard(const QStringList& pieces, stPrinterInfo& info);
    static bool ParsePositional(const QStringList& pieces, stPrinterInfo& info);
};
