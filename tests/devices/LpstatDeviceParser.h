#pragma once

#include "service/PrinterRecords.h"

#include <QString>

// Discovery's reading of "lpstat -v" before it asked CUPS in process, kept unchanged as the
// reference of test_cups_differential.
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

private:
    static bool ParseStandard(const QStringList& pieces, stPrinterInfo& info);
    static bool ParsePositional(const QStringList& pieces, stPrinterInfo& info);
};
