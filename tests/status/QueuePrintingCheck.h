#pragma once

#include <QString>

// The idle check's reading of the CUPS tools before it asked CUPS in process, kept unchanged as
// the reference of test_cups_differential.
// Reads the first line of "lpstat -p QUEUE": whether the queue is printing now.
class QueuePrintingCheck
{
public:
    // True when the line says "printing" (any letter case) or "正在打印". The queue's own name
    // is taken out first, so a queue called "printing-room" is not printing while idle.
    static bool ShowsPrinting(const QString& firstLine, const QString& queueName);
};
