#include "tools/status/PrinterCondition.h"

#include "protocol/SuppliesType.h"

#include <QStringList>

PrinterCondition PrinterCondition::Classify(const stPrinterReport& printer, ServiceState service,
                                            qint64 listAgeMs)
{
    PrinterCondition result;
    if (service != ServiceState::Alive) {
        result.m_enState = PrinterState::Unknown;
        result.m_strReason = QStringLiteral("the service is not running");
        return result;
    }
    if (printer.enFileState == StatusFileState::Missing) {
        // The service removes the file of a printer that stopped answering; a printer that was
        // only just listed has simply not been asked yet.
        if (listAgeMs >= 0 && listAgeMs < FIRST_REPLY_GRACE_MS) {
            result.m_enState = PrinterState::NoStatus;
            result.m_strReason = QStringLiteral("waiting for the first reply");
        } else {
            result.m_enState = PrinterState::Unreachable;
            stCondition condition;
            condition.strKey = QLatin1String(ReplyCondition::UNREACHABLE_KEY);
            condition.strIppReason = QLatin1String(ReplyCondition::UNREACHABLE_IPP_REASON);
            condition.strText = QStringLiteral("not answering");
            condition.enSeverity = SEVERITY_STOPS_PRINTING;
            result.m_listConditions.append(condition);
        }
        return result;
    }
    if (printer.enFileState != StatusFileState::Decoded) {
        result.m_enState = PrinterState::NoStatus;
        result.m_strReason = printer.strFileProblem;
        return result;
    }

    std::vector<std::uint64_t> codes1;
    std::vector<std::uint64_t> codes2;
    for (const stErrorEntry& error : printer.listErrors1) {
        codes1.push_back(error.ulCode);
    }
    for (const stErrorEntry& error : printer.listErrors2) {
        codes2.push_back(error.ulCode);
    }
    const ReplyCondition reply = ReplyCondition::Classify(printer.ulStatusCode, codes1, codes2);
    switch (reply.State()) {
    case REPLY_STATE_READY:
        result.m_enState = PrinterState::Ready;
        break;
    case REPLY_STATE_PRINTING:
        result.m_enState = PrinterState::Printing;
        break;
    case REPLY_STATE_WARNING:
        result.m_enState = PrinterState::Warning;
        break;
    case REPLY_STATE_ERROR:
        result.m_enState = PrinterState::Error;
        break;
    }
    for (const stReplyCondition& entry : reply.Conditions()) {
        stCondition condition;
        condition.strKey = QLatin1String(entry.pszKey);
        condition.strIppReason = QLatin1String(entry.pszIppReason);
        condition.strText = QString::fromStdString(entry.strText);
        condition.enSeverity = entry.enSeverity;
        condition.bHasCode = entry.bHasCode;
        condition.ulCode = entry.ulCode;
        result.m_listConditions.append(condition);
    }

    for (const stSupplyEntry& supply : printer.listSupplies) {
        if (supply.usType == SUPPLIES_TONER_LEVEL && supply.bCarried) {
            stSupplyLevel level;
            level.strName = QStringLiteral("toner");
            level.ulValue = supply.ulValue;
            level.iPercent = supply.ulValue <= 100 ? int(supply.ulValue) : -1;
            result.m_listSupplies.append(level);
        }
    }
    return result;
}

bool PrinterCondition::NeedsAttention() const
{
    return !m_listConditions.isEmpty() ||
           (m_enState != PrinterState::Ready && m_enState != PrinterState::Printing);
}

QString PrinterCondition::Phrase() const
{
    if (m_enState == PrinterState::Unreachable) {
        return QStringLiteral("unreachable (not answering)");
    }
    if (!m_listConditions.isEmpty()) {
        QStringList texts;
        for (const stCondition& condition : m_listConditions) {
            texts << condition.strText;
        }
        return texts.join(QStringLiteral(", "));
    }
    if (!m_strReason.isEmpty()) {
        return QStringLiteral("%1 (%2)").arg(StateWord(m_enState), m_strReason);
    }
    return StateWord(m_enState);
}

QString PrinterCondition::Summary() const
{
    QString out = StateWord(m_enState);
    QStringList details;
    for (const stCondition& condition : m_listConditions) {
        details << condition.strText;
    }
    if (!m_strReason.isEmpty()) {
        details << m_strReason;
    }
    if (!details.isEmpty()) {
        out += QStringLiteral(" - ") + details.join(QStringLiteral(", "));
    }
    QStringList supplies;
    for (const stSupplyLevel& supply : m_listSupplies) {
        if (supply.iPercent >= 0) {
            supplies << QStringLiteral("%1 %2 %").arg(supply.strName).arg(supply.iPercent);
        }
    }
    if (!supplies.isEmpty()) {
        out += QStringLiteral("; ") + supplies.join(QStringLiteral(", "));
    }
    return out;
}

QString PrinterCondition::StateWord(PrinterState state)
{
    switch (state) {
    case PrinterState::Ready:
        return QStringLiteral("ready");
    case PrinterState::Printing:
        return QStringLiteral("printing");
    case PrinterState::Warning:
        return QStringLiteral("warning");
    case PrinterState::Error:
        return QStringLiteral("error");
    case PrinterState::NoStatus:
        return QStringLiteral("no status");
    case PrinterState::Unreachable:
        return QStringLiteral("unreachable");
    case PrinterState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString PrinterCondition::StateKey(PrinterState state)
{
    return StateWord(state).replace(QLatin1Char(' '), QLatin1Char('-'));
}

QString PrinterCondition::SeverityKey(enConditionSeverity severity)
{
    return QLatin1String(ReplyCondition::SeverityKey(severity));
}
