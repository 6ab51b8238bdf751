#include "tools/status/PrinterCondition.h"

#include "protocol/SuppliesType.h"
#include "tools/status/StatusFormatter.h"

#include <QStringList>

PrinterCondition PrinterCondition::Classify(const stPrinterReport& printer, ServiceState service,
                                            qint64 listAgeMs)
{
    PrinterCondition result;
    if (service != ServiceState::Alive) {
        result.m_enState = PrinterState::Unknown;
        result.m_strReason = tr("the service is not running");
        return result;
    }
    if (printer.enFileState == StatusFileState::Missing) {
        // The service removes the file of a printer that stopped answering; a printer that was
        // only just listed has simply not been asked yet.
        if (listAgeMs >= 0 && listAgeMs < FIRST_REPLY_GRACE_MS) {
            result.m_enState = PrinterState::NoStatus;
            result.m_strReason = tr("waiting for the first reply");
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

    const ReplyCondition reply = printer.Classify();
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
        condition.ulCode = entry.bHasCode ? entry.ulCode : printer.ulStatusCode;
        result.m_listConditions.append(condition);
    }

    const stSupplyEntry* toner = printer.CarriedSupply(SUPPLIES_TONER_LEVEL);
    if (toner != nullptr) {
        stSupplyLevel level;
        level.strName = QStringLiteral("toner");
        level.ulValue = toner->ulValue;
        level.iPercent = toner->ulValue <= 100 ? int(toner->ulValue) : -1;
        result.m_listSupplies.append(level);
    }
    return result;
}

bool PrinterCondition::NeedsAttention() const
{
    return !m_listConditions.isEmpty() ||
           (m_enState != PrinterState::Ready && m_enState != PrinterState::Printing);
}

int PrinterCondition::TonerPercent() const
{
    for (const stSupplyLevel& supply : m_listSupplies) {
        if (supply.strName == QLatin1String("toner")) {
            return supply.iPercent;
        }
    }
    return -1;
}

QString PrinterCondition::Phrase() const
{
    if (m_enState == PrinterState::Unreachable) {
        return tr("unreachable (not answering)");
    }
    if (!m_listConditions.isEmpty()) {
        QStringList texts;
        for (const stCondition& condition : m_listConditions) {
            texts << ConditionText(condition);
        }
        return texts.join(QStringLiteral(", "));
    }
    if (!m_strReason.isEmpty()) {
        return tr("%1 (%2)").arg(StateWord(m_enState), m_strReason);
    }
    return StateWord(m_enState);
}

QString PrinterCondition::Summary() const
{
    QString out = StateWord(m_enState);
    QStringList details;
    for (const stCondition& condition : m_listConditions) {
        details << ConditionText(condition);
    }
    if (!m_strReason.isEmpty()) {
        details << m_strReason;
    }
    if (!details.isEmpty()) {
        out = tr("%1 - %2").arg(out, details.join(QStringLiteral(", ")));
    }
    const int toner = TonerPercent();
    if (toner >= 0) {
        out = tr("%1; toner %2 %").arg(out, QString::number(toner));
    }
    return out;
}

QString PrinterCondition::ConditionText(const stCondition& condition)
{
    const QString code = StatusFormatter::Hex(condition.ulCode, 4);
    const QString& key = condition.strKey;
    if (key == QLatin1String(ReplyCondition::UNKNOWN_STATUS_KEY)) {
        return tr("unknown printer status %1").arg(condition.ulCode);
    }
    if (key == QLatin1String(ReplyCondition::UNREACHABLE_KEY)) {
        return tr("not answering");
    }
    if (!condition.bHasCode) {
        if (key == QLatin1String(ReplyCondition::PRINTER_ERROR_KEY)) {
            return tr("printer error");
        }
        if (key == QLatin1String(ReplyCondition::PRINTER_WARNING_KEY)) {
            return tr("printer warning");
        }
    } else if (key == QLatin1String(ReplyCondition::PAPER_OUT_KEY)) {
        return tr("paper out (%1)").arg(code);
    } else if (key == QLatin1String(ReplyCondition::JAM_KEY)) {
        return tr("paper jam (%1)").arg(code);
    } else if (key == QLatin1String(ReplyCondition::COVER_OPEN_KEY)) {
        return tr("cover open (%1)").arg(code);
    } else if (key == QLatin1String(ReplyCondition::TONER_EMPTY_KEY)) {
        return tr("toner empty (%1)").arg(code);
    } else if (key == QLatin1String(ReplyCondition::TONER_LOW_KEY)) {
        return tr("toner low (%1)").arg(code);
    } else if (key == QLatin1String(ReplyCondition::OTHER_ERROR_KEY)) {
        return tr("printer error %1").arg(code);
    } else if (key == QLatin1String(ReplyCondition::OTHER_WARNING_KEY)) {
        return tr("printer warning %1").arg(code);
    }
    return condition.strText;
}

QString PrinterCondition::StateWord(PrinterState state)
{
    switch (state) {
    case PrinterState::Ready:
        return tr("ready");
    case PrinterState::Printing:
        return tr("printing");
    case PrinterState::Warning:
        return tr("warning");
    case PrinterState::Error:
        return tr("error");
    case PrinterState::NoStatus:
        return tr("no status");
    case PrinterState::Unreachable:
        return tr("unreachable");
    case PrinterState::Unknown:
        break;
    }
    return tr("unknown");
}

QString PrinterCondition::StateKey(PrinterState state)
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
        return QStringLiteral("no-status");
    case PrinterState::Unreachable:
        return QStringLiteral("unreachable");
    case PrinterState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString PrinterCondition::SeverityKey(enConditionSeverity severity)
{
    return QLatin1String(ReplyCondition::SeverityKey(severity));
}
