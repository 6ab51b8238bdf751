#pragma once

#include <QMutex>

// Serialises the device manager's replacement of the shared printer list against the status
// workers' reads and write-backs of their entries. Held only around copies, never around I/O.
class PrinterListLock
{
public:
    static QMutex& Mutex();
};
