#include "tools/status/NotifyPolicy.h"

#include <QSet>
#include <QStringList>

namespace {

// Icon names of the freedesktop icon naming specification, categories of the notification
// specification. It has no warning category: a warning is a plain "device" notification.
const char* const ICON_ERROR = "printer-error";
const char* const ICON_WARNING = "dialog-warning";
const char* const ICON_FINE = "printer";
const char* const CATEGORY_ERROR = "device.error";
const char* const CATEGORY_DEVICE = "device";

enum class WordsFor
{
    Summary,
    Journal,
    Cleared,
};

// Each once: two unnamed error codes are both "printer error" in a summary.
QString Words(const QList<stNotifyCondition>& conditions, WordsFor use)
{
    QStringList words;
    for (const stNotifyCondition& condition : conditions) {
        QString word = use == WordsFor::Journal ? condition.strLogWords : condition.strWords;
        if (use == WordsFor::Cleared && !condition.strName.isEmpty()) {
            word = condition.strName;
        }
        if (!words.contains(word)) {
            words << word;
        }
    }
    return words.join(QStringLiteral(", "));
}

stNotifyAction Attention(const QString& queue, const QList<stNotifyCondition>& conditions,
                         const QList<stNotifyCondition>& cleared)
{
    bool stops = false;
    for (const stNotifyCondition& condition : conditions) {
        stops = stops || condition.bStopsPrinting;
    }
    stNotifyAction action;
    action.strSubject = queue;
    stNotifyMessage& message = action.stMessage;
    // The summary says what happened; codes and what to do go to the body.
    message.strSummary =
        NotifyPolicy::tr("%1: %2").arg(queue, Words(conditions, WordsFor::Summary));
    message.strLogSummary =
        QStringLiteral("%1: %2").arg(queue, Words(conditions, WordsFor::Journal));
    QStringList body;
    body << (stops ? NotifyPolicy::tr("Printing has stopped until this is dealt with.")
                   : NotifyPolicy::tr("The printer still prints."));
    for (const stNotifyCondition& condition : conditions) {
        if (!condition.strDetail.isEmpty()) {
            body << condition.strDetail;
        }
    }
    if (!cleared.isEmpty()) {
        body << NotifyPolicy::tr("Cleared: %1.").arg(Words(cleared, WordsFor::Cleared));
    }
    message.strBody = body.join(QLatin1Char('\n'));
    message.strIcon = QLatin1String(stops ? ICON_ERROR : ICON_WARNING);
    message.strCategory = QLatin1String(stops ? CATEGORY_ERROR : CATEGORY_DEVICE);
    message.enUrgency = stops ? NotifyUrgency::Critical : NotifyUrgency::Normal;
    return action;
}

stNotifyAction Cleared(const QString& queue, const QList<stNotifyCondition>& cleared)
{
    stNotifyAction action;
    action.strSubject = queue;
    stNotifyMessage& message = action.stMessage;
    const char* const summary = QT_TRANSLATE_NOOP("NotifyPolicy", "%1: ready again");
    message.strSummary = NotifyPolicy::tr(summary).arg(queue);
    message.strLogSummary = QString::fromUtf8(summary).arg(queue);
    message.strBody = NotifyPolicy::tr("Cleared: %1.").arg(Words(cleared, WordsFor::Cleared));
    message.strIcon = QLatin1String(ICON_FINE);
    message.strCategory = QLatin1String(CATEGORY_DEVICE);
    message.enUrgency = NotifyUrgency::Low;
    return action;
}

stNotifyAction Service(bool alive, const QString& problem)
{
    stNotifyAction action;
    stNotifyMessage& message = action.stMessage;
    message.strCategory = QLatin1String(CATEGORY_DEVICE);
    if (alive) {
        const char* const summary =
            QT_TRANSLATE_NOOP("NotifyPolicy", "Printer status service running again");
        message.strSummary = NotifyPolicy::tr(summary);
        message.strLogSummary = QString::fromUtf8(summary);
        message.strBody = NotifyPolicy::tr("Printer states are up to date again.");
        message.strIcon = QLatin1String(ICON_FINE);
        message.enUrgency = NotifyUrgency::Low;
    } else {
        const char* const summary =
            QT_TRANSLATE_NOOP("NotifyPolicy", "Printer status service not running");
        message.strSummary = NotifyPolicy::tr(summary);
        message.strLogSummary = QString::fromUtf8(summary);
        message.strBody = NotifyPolicy::tr("Printer states are not updated (%1). An administrator "
                                           "can start it with: systemctl start orvo-statusd")
                              .arg(problem);
        message.strIcon = QLatin1String(ICON_WARNING);
        message.enUrgency = NotifyUrgency::Normal;
    }
    return action;
}

} // namespace

QList<stNotifyAction> NotifyPolicy::Evaluate(const stNotifyInput& input, qint64 nowMs)
{
    QList<stNotifyAction> actions;
    m_iRetryAtMs = -1;
    if (input.bListRead) {
        m_bEmptyListSeen = input.listPrinters.isEmpty();
    }
    if (!input.bServiceAlive) {
        m_iAliveSinceMs = -1;
        // With no printers left the service ends itself: nothing is wrong then.
        if (!m_bServiceDownTold && !m_bEmptyListSeen) {
            m_bServiceDownTold = true;
            actions << Service(false, input.strServiceProblem);
        }
        return actions;
    }
    if (m_iAliveSinceMs < 0) {
        m_iAliveSinceMs = nowMs;
        for (stPrinterMemory& memory : m_mapPrinters) {
            for (stTold& told : memory.mapTold) {
                told.iLastSeenMs = nowMs;
            }
        }
    }
    if (m_bServiceDownTold && nowMs - m_iAliveSinceMs >= CLEAR_HOLD_MS) {
        m_bServiceDownTold = false;
        actions << Service(true, QString());
    }
    if (!input.bListRead) {
        return actions;
    }

    QSet<QString> listed;
    for (const stNotifyPrinter& printer : input.listPrinters) {
        if (input.bDesktopTellsPrinters) {
            break;
        }
        listed.insert(printer.strQueue);
        EvaluatePrinter(printer, nowMs, &actions);
    }
    for (auto it = m_mapPrinters.begin(); it != m_mapPrinters.end();) {
        if (listed.contains(it.key())) {
            ++it;
            continue;
        }
        if (it->bShown) {
            stNotifyAction close;
            close.enKind = stNotifyAction::Kind::Close;
            close.strSubject = it.key();
            actions << close;
        }
        it = m_mapPrinters.erase(it);
    }
    return actions;
}

void NotifyPolicy::EvaluatePrinter(const stNotifyPrinter& printer, qint64 nowMs,
                                   QList<stNotifyAction>* actions)
{
    stPrinterMemory& memory = m_mapPrinters[printer.strQueue];
    bool news = false;
    QSet<QString> present;
    for (const stNotifyCondition& condition : printer.listConditions) {
        present.insert(condition.strKey);
        auto told = memory.mapTold.find(condition.strKey);
        if (told == memory.mapTold.end()) {
            told = memory.mapTold.insert(condition.strKey, stTold());
        }
        news = news || !told->bShown;
        // Newer words for the same condition (an error code that changed) are kept for the
        // next message without being news themselves.
        told->stCondition = condition;
        told->iLastSeenMs = nowMs;
    }
    for (auto it = memory.mapTold.begin(); it != memory.mapTold.end();) {
        it->bPresent = present.contains(it.key());
        if (!it->bPresent && nowMs - it->iLastSeenMs >= CLEAR_HOLD_MS) {
            if (it->bShown) {
                memory.listCleared << it->stCondition;
            }
            it = memory.mapTold.erase(it);
        } else {
            ++it;
        }
    }
    // One of several conditions clearing is no news worth a message of its own: it is named
    // with the next news, or when the last one clears.
    if (news) {
        *actions << Attention(printer.strQueue, printer.listConditions, memory.listCleared);
    } else if (memory.mapTold.isEmpty() && !memory.listCleared.isEmpty()) {
        *actions << Cleared(printer.strQueue, memory.listCleared);
    } else {
        return;
    }
    memory.listJustShown.clear();
    for (auto it = memory.mapTold.begin(); it != memory.mapTold.end(); ++it) {
        if (it->bPresent && !it->bShown) {
            it->bShown = true;
            memory.listJustShown << it.key();
        }
    }
    memory.listJustCleared = memory.listCleared;
    memory.listCleared.clear();
    memory.bShown = true;
}

void NotifyPolicy::NotShown(const QString& subject, qint64 nowMs)
{
    m_iRetryAtMs = nowMs + RETRY_MS;
    if (subject.isEmpty()) {
        // "Not running" not shown: nothing was told. "Running again" not shown: still owed.
        m_bServiceDownTold = m_iAliveSinceMs >= 0;
        return;
    }
    const auto memory = m_mapPrinters.find(subject);
    if (memory == m_mapPrinters.end()) {
        return;
    }
    for (const QString& key : memory->listJustShown) {
        const auto told = memory->mapTold.find(key);
        if (told != memory->mapTold.end()) {
            told->bShown = false;
        }
    }
    memory->listCleared = memory->listJustCleared + memory->listCleared;
    memory->listJustShown.clear();
    memory->listJustCleared.clear();
}

qint64 NotifyPolicy::NextDeadlineMs() const
{
    if (m_iAliveSinceMs < 0) {
        return m_iRetryAtMs;
    }
    qint64 next = m_bServiceDownTold ? m_iAliveSinceMs + CLEAR_HOLD_MS : -1;
    if (m_iRetryAtMs >= 0 && (next < 0 || m_iRetryAtMs < next)) {
        next = m_iRetryAtMs;
    }
    for (const stPrinterMemory& memory : m_mapPrinters) {
        for (const stTold& told : memory.mapTold) {
            if (told.bPresent) {
                continue;
            }
            const qint64 due = told.iLastSeenMs + CLEAR_HOLD_MS;
            if (next < 0 || due < next) {
                next = due;
            }
        }
    }
    return next;
}
