#pragma once

#include "PrinterCondition.h"
#include "StatusSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QStringList>

// Turns successive snapshots into events: what the service and each printer were, and what they
// are now. The heartbeat's beat is no event; a service that stops is, and so is every printer that
// becomes unknown with it.
class StatusChanges
{
public:
    struct stChange
    {
        QString strQueue;           // empty for the service and the printer list
        QString strBefore;          // empty for a printer that was just listed
        QString strAfter;           // empty for a printer that left the list
        PrinterCondition condition; // the printer's condition now (for a printer still listed)
    };

    // The changes since the last call; the first call gives the whole state as changes from
    // nothing.
    QList<stChange> Update(const StatusSnapshot& snapshot);

    // One line per change, stamped with the wall-clock time: "12:03:38 Office: ready -> paper
    // out (0x1106)"; the first call lists every printer with its summary.
    QStringList Lines(const StatusSnapshot& snapshot, const QDateTime& now);

private:
    bool m_bStarted = false;
    QString m_strService;
    QString m_strList;
    QList<QPair<QString, QString>> m_listPrinters; // queue, phrase, in list order
};
