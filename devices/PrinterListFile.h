#pragma once

#include "service/PrinterRecords.h"

#include <QList>
#include <QString>

// "printerlist.ini", the list of printers the desktop application reads: section "Main" with
// "Count", then one section "printer_<i>" per printer with Name, Model, ConnectType, Port, URI.
// Written through QSettings (INI, UTF-8), which merges into the existing file and replaces it
// as a whole, so a reader never sees a half-written list. Sections beyond Count are left as
// they were: Count says how many are current.
class PrinterListFile
{
public:
    // Writes `list` into the file at `path`. Without `force` an existing file is left alone.
    // False when the file should have been written and could not be.
    static bool Write(const QString& path, const QList<stPrinterInfo>& list, bool force);
};
