#include "StatusChanges.h"

#include "StatusFormatter.h"

namespace {

QString ServicePhrase(const stHeartbeatReport& heartbeat)
{
    return StatusFormatter::ServiceStateName(heartbeat.enState);
}

QString ListPhrase(const stPrinterListReport& list)
{
    return list.bRead ? QString() : QStringLiteral("unreadable (%1)").arg(list.strProblem);
}

} // namespace

QList<StatusChanges::stChange> StatusChanges::Update(const StatusSnapshot& snapshot)
{
    QList<stChange> changes;
    const QString service = ServicePhrase(snapshot.stHeartbeat);
    if (!m_bStarted || service != m_strService) {
        stChange change;
        change.strBefore = m_bStarted ? m_strService : QString();
        change.strAfter = service;
        changes.append(change);
    }
    const QString list = ListPhrase(snapshot.stList);
    if (list != m_strList) {
        stChange change;
        change.strQueue = QStringLiteral("printer list");
        change.strBefore = m_strList.isEmpty() ? QStringLiteral("read") : m_strList;
        change.strAfter = list.isEmpty() ? QStringLiteral("read") : list;
        changes.append(change);
    }

    QList<QPair<QString, QString>> printers;
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        stChange change;
        change.strQueue = printer.strName;
        change.condition = PrinterCondition::Classify(printer, snapshot.stHeartbeat.enState,
                                                      snapshot.stList.iAgeMs);
        change.strAfter = change.condition.Phrase();
        printers.append(qMakePair(printer.strName, change.strAfter));
        bool known = false;
        for (const auto& before : m_listPrinters) {
            if (before.first == printer.strName) {
                known = true;
                change.strBefore = before.second;
                break;
            }
        }
        if (!known || change.strBefore != change.strAfter) {
            changes.append(change);
        }
    }
    for (const auto& before : m_listPrinters) {
        bool still = false;
        for (const auto& now : printers) {
            still = still || now.first == before.first;
        }
        if (!still) {
            stChange change;
            change.strQueue = before.first;
            change.strBefore = before.second;
            changes.append(change);
        }
    }
    m_bStarted = true;
    m_strService = service;
    m_strList = list;
    m_listPrinters = printers;
    return changes;
}

QStringList StatusChanges::Lines(const StatusSnapshot& snapshot, const QDateTime& now)
{
    const bool first = !m_bStarted;
    const QString time = now.toString(QStringLiteral("hh:mm:ss"));
    QStringList lines;
    for (const stChange& change : Update(snapshot)) {
        const QString who = change.strQueue.isEmpty() ? QStringLiteral("service")
                                                      : StatusFormatter::Printable(change.strQueue);
        QString what;
        if (first && change.strQueue.isEmpty()) {
            // ServiceLine escapes what it takes from the files itself.
            lines << QStringLiteral("%1 service: %2")
                         .arg(time, StatusFormatter::ServiceLine(snapshot.stHeartbeat));
            continue;
        }
        if (first && !change.strAfter.isEmpty() &&
            change.strQueue != QLatin1String("printer list")) {
            what = change.condition.Summary(); // the starting state in full
        } else if (first || change.strBefore.isEmpty()) {
            what = first ? change.strAfter : QStringLiteral("listed, %1").arg(change.strAfter);
        } else if (change.strAfter.isEmpty()) {
            what = QStringLiteral("no longer listed");
        } else {
            what = QStringLiteral("%1 -> %2").arg(change.strBefore, change.strAfter);
        }
        lines << QStringLiteral("%1 %2: %3").arg(time, who, StatusFormatter::Printable(what));
    }
    return lines;
}
