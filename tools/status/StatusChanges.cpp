#include "tools/status/StatusChanges.h"

#include "tools/status/StatusFormatter.h"

namespace {

QString ListPhrase(const stPrinterListReport& list)
{
    return list.bRead ? QString() : StatusChanges::tr("unreadable (%1)").arg(list.strProblem);
}

QString ListWord(const QString& phrase)
{
    return phrase.isEmpty() ? StatusChanges::tr("read") : phrase;
}

} // namespace

QList<StatusChanges::stChange> StatusChanges::Update(const StatusSnapshot& snapshot)
{
    QList<stChange> changes;
    const QString service = StatusFormatter::ServiceStateWord(snapshot.stHeartbeat.enState);
    if (!m_bStarted || service != m_strService) {
        stChange change;
        change.enWhat = SUBJECT_SERVICE;
        change.strBefore = m_bStarted ? m_strService : QString();
        change.strAfter = service;
        changes.append(change);
    }
    const QString list = ListPhrase(snapshot.stList);
    if (list != m_strList) {
        stChange change;
        change.enWhat = SUBJECT_PRINTER_LIST;
        change.strBefore = m_bStarted ? ListWord(m_strList) : QString();
        change.strAfter = ListWord(list);
        changes.append(change);
    }

    QList<stKnown> printers;
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        stChange change;
        change.strQueue = printer.strName;
        change.after = PrinterCondition::Classify(printer, snapshot.stHeartbeat.enState,
                                                  snapshot.stList.iAgeMs);
        change.strAfter = change.after.Phrase();
        printers.append(stKnown{printer.strName, change.after});
        for (const stKnown& known : m_listPrinters) {
            if (known.strQueue == printer.strName) {
                change.bHadBefore = true;
                change.before = known.condition;
                change.strBefore = known.condition.Phrase();
                break;
            }
        }
        if (!change.bHadBefore || change.strBefore != change.strAfter) {
            changes.append(change);
        }
    }
    for (const stKnown& known : m_listPrinters) {
        bool still = false;
        for (const stKnown& now : printers) {
            still = still || now.strQueue == known.strQueue;
        }
        if (!still) {
            stChange change;
            change.strQueue = known.strQueue;
            change.bHadBefore = true;
            change.before = known.condition;
            change.strBefore = known.condition.Phrase();
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
        QString who;
        switch (change.enWhat) {
        case SUBJECT_SERVICE:
            who = tr("service");
            break;
        case SUBJECT_PRINTER_LIST:
            who = tr("printer list");
            break;
        case SUBJECT_PRINTER:
            who = StatusFormatter::Printable(change.strQueue);
            break;
        }
        QString what;
        if (first && change.enWhat == SUBJECT_SERVICE) {
            // ServiceLine escapes what it takes from the files itself.
            lines << tr("%1 service: %2")
                         .arg(time, StatusFormatter::ServiceLine(snapshot.stHeartbeat));
            continue;
        }
        if (first && change.enWhat == SUBJECT_PRINTER) {
            what = change.after.Summary(); // the starting state in full
        } else if (first) {
            what = change.strAfter;
        } else if (change.strBefore.isEmpty()) {
            what = tr("listed, %1").arg(change.strAfter);
        } else if (change.strAfter.isEmpty()) {
            what = tr("no longer listed");
        } else {
            what = tr("%1 -> %2").arg(change.strBefore, change.strAfter);
        }
        lines << tr("%1 %2: %3").arg(time, who, StatusFormatter::Printable(what));
    }
    return lines;
}
