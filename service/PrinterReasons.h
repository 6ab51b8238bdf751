#pragma once

#include <QString>
#include <QStringList>

struct stStatusReply;

// What CUPS is to show of one printer's condition: the printer-state-reasons keywords of the
// conditions its last reply carries (ReplyCondition's), and a printer-state-message in plain
// words ("Paper jam", "Toner low (4 %)"). Desktops, print dialogs and monitoring read these from
// CUPS; the service is the only one that knows them for these printers outside a job.
struct stPrinterReasons
{
    QStringList listReasons; // each keyword once, in the order of the conditions
    QString strMessage;      // empty when nothing needs attention

    bool operator==(const stPrinterReasons& other) const
    {
        return listReasons == other.listReasons && strMessage == other.strMessage;
    }
    bool operator!=(const stPrinterReasons& other) const { return !(*this == other); }
};

class PrinterReasons
{
public:
    // From one decoded status reply.
    static stPrinterReasons FromReply(const stStatusReply& reply);
    // A printer that stopped answering.
    static stPrinterReasons Unreachable();

    // The keywords the service sets on its queues (every one a condition can have). Only these
    // are ever taken away by the service, and only where it is the one that set them.
    static bool IsOwnReason(const QString& keyword);
    // A message made only of the service's own phrases: one it wrote, so it may take it back.
    static bool IsOwnMessage(const QString& message);

    // The list CUPS is to carry: `current` in its order without `remove`, then `wanted` where
    // not already there. "none" (no reason at all) is never part of it.
    static QStringList Merge(const QStringList& current, const QStringList& remove,
                             const QStringList& wanted);
    // Same keywords, whatever their order.
    static bool SameSet(const QStringList& a, const QStringList& b);

    // Longest message sent: cupsd keeps 1024 bytes, the desktops show one line.
    static constexpr int MESSAGE_MAX = 200;
};
