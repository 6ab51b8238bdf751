#pragma once

#include "service/PrinterRecords.h"

struct stStatusReply;

#include <QString>

// What one status reply means for the desktop application: the status file it reads, and the
// printer state built from the reply's decode (stStatusReply), the one orvo-status reads it with.
class StatusEvaluator
{
public:
    // The status file of a queue in the cfg directory; empty when the queue's name cannot name
    // a file.
    static QString StatusFilePath(const QString& queueName);

    // Replaces the file as a whole with exactly the len bytes of buf (SafeWrite). False when it
    // cannot be written, is refused, or not every byte reached it (a full disk).
    static bool WriteStatusFile(const QString& path, const unsigned char* buf, unsigned long len);

    // Decodes a reply into a complete new state. False when the reply does not decode; `state`
    // is then left untouched. `reply`, when given, receives the decode itself, for what else the
    // reply is read for (the printer's state reasons in CUPS).
    static bool Decode(const unsigned char* buf, unsigned long len, stPrinterState& state,
                       stStatusReply* reply = nullptr);
};
