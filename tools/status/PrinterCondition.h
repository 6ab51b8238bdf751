#pragma once

#include "protocol/ReplyCondition.h"
#include "tools/status/StatusSnapshot.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QtGlobal>

// What a person needs to know about one printer: its state in one word, the conditions that are
// active (each with a key that scripts and notifications can rely on) and its supply levels. Worked
// out from what StatusReader decoded (the reply's conditions as ReplyCondition classifies them) and
// from whether the service is alive, because a status file left behind by a service that has
// stopped says nothing about the printer now.

enum class PrinterState
{
    Ready,
    Printing,
    Warning,
    Error,
    NoStatus,    // listed, but no usable reply yet (not asked yet, a USB time-out, a broken file)
    Unreachable, // the printer stopped answering: the service removed its status file
    Unknown,     // the service is not running, so nothing it left behind is current
};

struct stCondition
{
    QString strKey;       // stable: those of stReplyCondition, and "unreachable"
    QString strIppReason; // its printer-state-reasons keyword: "media-jam-error"
    QString strText;      // always English, as scripts read it: "paper jam (0x110D)"
    enConditionSeverity enSeverity = SEVERITY_WARNING;
    bool bHasCode = false;
    // The printer's error code the condition comes from; for "unknown-status" (no bHasCode) the
    // status code.
    quint64 ulCode = 0;
};

struct stSupplyLevel
{
    QString strName;   // "toner"
    int iPercent = -1; // 0 to 100; -1 when the printer's value is no percentage
    quint64 ulValue = 0;
};

class PrinterCondition
{
    Q_DECLARE_TR_FUNCTIONS(PrinterCondition)

public:
    // A listed printer without a status file is given this long to answer for the first time
    // (counted from the printer list's last change) before it is called unreachable.
    static constexpr qint64 FIRST_REPLY_GRACE_MS = 30000;

    // listAgeMs: how long ago the printer list was written; negative when unknown.
    static PrinterCondition Classify(const stPrinterReport& printer, ServiceState service,
                                     qint64 listAgeMs);

    PrinterState State() const { return m_enState; }
    const QList<stCondition>& Conditions() const { return m_listConditions; }
    const QList<stSupplyLevel>& Supplies() const { return m_listSupplies; }
    // Why there is no status (NoStatus, Unknown); empty otherwise.
    const QString& Reason() const { return m_strReason; }

    // Anything but a ready or printing printer without active conditions.
    bool NeedsAttention() const;

    // The toner level in percent; -1 when the reply carries none.
    int TonerPercent() const;

    // The words of Phrase, Summary, StateWord and ConditionText are for people: in the user's
    // language once a translator is installed. The keys never are.
    // The state and conditions in a few words, as a change is told: "ready",
    // "paper out (0x1106)", "unknown (the service is not running)".
    QString Phrase() const;
    // The whole line after the queue name: "error - paper jam (0x110D); toner 80 %".
    QString Summary() const;

    // "paper jam (0x110D)", "printer error 0x1200": strText in the user's language.
    static QString ConditionText(const stCondition& condition);
    static QString StateWord(PrinterState state); // "ready", "no status", ...
    static QString StateKey(PrinterState state);  // "ready", "no-status", ...
    static QString SeverityKey(enConditionSeverity severity);

private:
    PrinterState m_enState = PrinterState::NoStatus;
    QList<stCondition> m_listConditions;
    QList<stSupplyLevel> m_listSupplies;
    QString m_strReason;
};
