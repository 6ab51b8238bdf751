#pragma once

#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusSnapshot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QList>
#include <QStringList>

// Turns successive snapshots into events: what the service and each printer were, and what they
// are now. The heartbeat's beat is no event; a service that stops is, and so is every printer that
// becomes unknown with it. The words are for people, in their language.
class StatusChanges
{
    Q_DECLARE_TR_FUNCTIONS(StatusChanges)

public:
    enum enSubject
    {
        SUBJECT_SERVICE,
        SUBJECT_PRINTER_LIST,
        SUBJECT_PRINTER,
    };

    struct stChange
    {
        enSubject enWhat = SUBJECT_PRINTER;
        QString strQueue;  // SUBJECT_PRINTER only
        QString strBefore; // in words; empty for what was not there before
        QString strAfter;  // in words; empty for a printer that left the list
        // SUBJECT_PRINTER: the condition before (when bHadBefore) and now (when strAfter is set).
        bool bHadBefore = false;
        PrinterCondition before;
        PrinterCondition after;
    };

    // The changes since the last call; the first call gives the whole state as changes from
    // nothing.
    QList<stChange> Update(const StatusSnapshot& snapshot);

    // One line per change, stamped with the wall-clock time: "12:03:38 Office: ready -> paper
    // out (0x1106)"; the first call lists the service and every printer with its summary.
    QStringList Lines(const StatusSnapshot& snapshot, const QDateTime& now);

private:
    struct stKnown
    {
        QString strQueue;
        PrinterCondition condition;
    };

    bool m_bStarted = false;
    QString m_strService;
    QString m_strList;             // empty while the list reads
    QList<stKnown> m_listPrinters; // in list order
};
