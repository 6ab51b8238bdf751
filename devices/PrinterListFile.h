#pragma once

#include "service/PrinterRecords.h"

#include <QList>
#include <QString>

// The printer list file the desktop application reads, in the sections and keys of
// PublishedFiles. Made by QSettings (INI, UTF-8), which merges into the existing content, and
// put in place as a whole by SafeWrite, so a reader never sees a half-written list. Sections
// beyond Count are left as they were: Count says how many are current.
class PrinterListFile
{
public:
    // Writes `list` into the file at `path`. Without `force` an existing file is left alone.
    // False when the file should have been written and could not be.
    static bool Write(const QString& path, const QList<stPrinterInfo>& list, bool force);
};
