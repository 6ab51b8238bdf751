#pragma once

#include "tools/status/NotifyMessage.h"

#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

// What a person is told, decided from what the printers show now and what was said before. No
// files, no bus, no clock of its own: the caller hands in the state and a monotonic time.
//
// Rules:
// - A condition that needs a person is told the moment it is first seen; the printer's
//   notification then lists every such condition it shows, critical when one of them stops
//   printing, normal otherwise.
// - While a told condition stays, or comes back, nothing more is said.
// - A condition counts as cleared only once it has stayed away for CLEAR_HOLD_MS; then the same
//   notification is replaced by a low-urgency "cleared". So a printer that flaps gives one
//   notification when it first fails and one "cleared" when it has settled. One of several
//   conditions clearing while others stay is named with the next message, not on its own.
// - At start, a printer whose conditions need no one gets nothing.
// - Without a live service the files hold old news: the service's absence is told once (unless
//   its last printer list was empty, when it ends itself by design) and printers are left alone
//   until it beats again. Every told condition then gets a fresh hold, so a service restart that
//   has not polled yet does not read as "cleared". "Running again" waits for the service to
//   have beaten for CLEAR_HOLD_MS, so a service that stalls now and then is told about once.
// - A printer that leaves the printer list has its notification closed; so has every printer's
//   while the desktop tells the printers' conditions itself (bDesktopTellsPrinters).
// - Told means shown: a message the desktop did not take (its notification server restarting)
//   is handed back with NotShown and said again RETRY_MS later, or at the next change, as what
//   is true by then. A condition that was never shown is never told as cleared.
struct stNotifyCondition
{
    QString strKey;      // stable key, e.g. "paper-out"
    QString strWords;    // what happened, for the summary: "paper out", "toner low, 4 % left"
    QString strLogWords; // the same in English, for the journal
    bool bStopsPrinting = false;
    // For the body, with the code and what to do: "Paper out, code 0x1106: load paper."
    QString strDetail;
    // What cleared, without a level that is no longer true: "toner low"; empty: strWords.
    QString strName;
};

struct stNotifyPrinter
{
    QString strQueue;
    QList<stNotifyCondition> listConditions; // the conditions that need a person now
};

struct stNotifyInput
{
    bool bServiceAlive = false;
    QString strServiceProblem; // why it is not alive, in words
    bool bListRead = false;    // false: the printers below are not known
    QList<stNotifyPrinter> listPrinters;
    // The desktop announces the printers' conditions itself from CUPS' printer-state-reasons,
    // which the service keeps in step: the printers are left to it, only the service is told.
    bool bDesktopTellsPrinters = false;
};

struct stNotifyAction
{
    enum class Kind
    {
        Show,
        Close,
    };
    Kind enKind = Kind::Show;
    // The queue the notification is about; empty for the service itself (queue names never are).
    QString strSubject;
    stNotifyMessage stMessage;
};

// The messages' words are for people: in the user's language once a translator is installed.
class NotifyPolicy
{
    Q_DECLARE_TR_FUNCTIONS(NotifyPolicy)

public:
    static constexpr qint64 CLEAR_HOLD_MS = 20000;
    static constexpr qint64 RETRY_MS = 3000;

    QList<stNotifyAction> Evaluate(const stNotifyInput& input, qint64 nowMs);
    // The Show action for `subject` of the last Evaluate did not reach the desktop.
    void NotShown(const QString& subject, qint64 nowMs);

    // When Evaluate has something to say even if nothing changes (a hold running out); -1: never.
    qint64 NextDeadlineMs() const;

private:
    struct stTold
    {
        stNotifyCondition stCondition;
        qint64 iLastSeenMs = 0;
        bool bPresent = false; // seen in the latest evaluation
        bool bShown = false;   // named in a message the desktop took
    };
    struct stPrinterMemory
    {
        QMap<QString, stTold> mapTold;        // by condition key
        QList<stNotifyCondition> listCleared; // cleared since the last message
        bool bShown = false;                  // a notification of this printer is out
        // What the last message of this printer changed, to be undone when it was not shown.
        QStringList listJustShown;
        QList<stNotifyCondition> listJustCleared;
    };

    void EvaluatePrinter(const stNotifyPrinter& printer, qint64 nowMs,
                         QList<stNotifyAction>* actions);

    QMap<QString, stPrinterMemory> m_mapPrinters;
    bool m_bServiceDownTold = false;
    qint64 m_iAliveSinceMs = -1; // -1 while the service is not alive
    bool m_bEmptyListSeen = false;
    qint64 m_iRetryAtMs = -1; // -1: nothing waits to be said again
};
