#include "tools/status/PrinterCondition.h"

#include "protocol/StatusCodeTables.h"
#include "protocol/SuppliesType.h"

#include <QStringList>

namespace {

// The error values whose meaning the product names; every other code is told by its number.
struct stNamedError
{
    int iValue; // enErrorStatus
    const char* pszKey;
    const char* pszText;
    ConditionSeverity enSeverity;
};

const stNamedError c_stNamedErrorList[] = {
    {ERROR_STATUS_6, "paper-out", "paper out", ConditionSeverity::StopsPrinting},
    {ERROR_STATUS_10, "jam", "paper jam", ConditionSeverity::StopsPrinting},
    {ERROR_STATUS_11, "jam", "paper jam", ConditionSeverity::StopsPrinting},
    {ERROR_STATUS_13, "cover-open", "cover open", ConditionSeverity::StopsPrinting},
    {ERROR_STATUS_30, "toner-low", "toner low", ConditionSeverity::Warning},
    {ERROR_STATUS_31, "toner-empty", "toner empty", ConditionSeverity::StopsPrinting},
};

QString Hex4(quint64 code)
{
    return QStringLiteral("0x") +
           QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

} // namespace

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
            result.AddCondition(QStringLiteral("unreachable"), QStringLiteral("not answering"),
                                ConditionSeverity::StopsPrinting);
        }
        return result;
    }
    if (printer.enFileState != StatusFileState::Decoded) {
        result.m_enState = PrinterState::NoStatus;
        result.m_strReason = printer.strFileProblem;
        return result;
    }

    for (const stErrorEntry& error : printer.listErrors1) {
        result.AddErrorCode(error.ulCode, 1);
    }
    for (const stErrorEntry& error : printer.listErrors2) {
        result.AddErrorCode(error.ulCode, 2);
    }

    const quint64 code = printer.ulStatusCode;
    const bool busy = code >= STATUS_CODE_BUSY_FIRST && code <= STATUS_CODE_BUSY_LAST;
    if (code == STATUS_CODE_ERROR && !result.HasStopping()) {
        result.AddCondition(QStringLiteral("printer-error"), QStringLiteral("printer error"),
                            ConditionSeverity::StopsPrinting);
    } else if (code == STATUS_CODE_WARNING && result.m_listConditions.isEmpty()) {
        result.AddCondition(QStringLiteral("printer-warning"), QStringLiteral("printer warning"),
                            ConditionSeverity::Warning);
    } else if (code != STATUS_CODE_IDLE && code != STATUS_CODE_READY &&
               code != STATUS_CODE_WARNING && code != STATUS_CODE_ERROR && !busy) {
        result.AddCondition(QStringLiteral("unknown-status"),
                            QStringLiteral("unknown printer status %1").arg(code),
                            ConditionSeverity::Warning);
    }

    if (result.HasStopping()) {
        result.m_enState = PrinterState::Error;
    } else if (busy) {
        result.m_enState = PrinterState::Printing;
    } else if (!result.m_listConditions.isEmpty()) {
        result.m_enState = PrinterState::Warning;
    } else {
        result.m_enState = PrinterState::Ready;
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

void PrinterCondition::AddErrorCode(quint64 code, int list)
{
    const int value = GetErrorStatusEnum(static_cast<unsigned long>(code));
    for (const stNamedError& named : c_stNamedErrorList) {
        if (named.iValue == value) {
            AddCondition(QLatin1String(named.pszKey),
                         QStringLiteral("%1 (%2)").arg(QLatin1String(named.pszText), Hex4(code)),
                         named.enSeverity, true, code);
            return;
        }
    }
    // The printer puts what stops it into its first list and what it can print through into its
    // second.
    if (list == 1) {
        AddCondition(QStringLiteral("other-error"),
                     QStringLiteral("printer error %1").arg(Hex4(code)),
                     ConditionSeverity::StopsPrinting, true, code);
    } else {
        AddCondition(QStringLiteral("other-warning"),
                     QStringLiteral("printer warning %1").arg(Hex4(code)),
                     ConditionSeverity::Warning, true, code);
    }
}

void PrinterCondition::AddCondition(const QString& key, const QString& text,
                                    ConditionSeverity severity, bool hasCode, quint64 code)
{
    // A printer may report one condition under several codes, or one code in both lists.
    for (const stCondition& existing : m_listConditions) {
        if (existing.strText == text ||
            (existing.strKey == key && !key.startsWith(QLatin1String("other-")))) {
            return;
        }
    }
    stCondition condition;
    condition.strKey = key;
    condition.strText = text;
    condition.enSeverity = severity;
    condition.bHasCode = hasCode;
    condition.ulCode = code;
    // Conditions that stop printing come first, and within each severity the ones with a name
    // before the bare codes; otherwise the printer's order stays.
    const auto rank = [](const stCondition& entry) {
        const bool bare = entry.strKey.startsWith(QLatin1String("other-")) ||
                          entry.strKey == QLatin1String("unknown-status");
        return (entry.enSeverity == ConditionSeverity::StopsPrinting ? 0 : 2) + (bare ? 1 : 0);
    };
    int at = m_listConditions.size();
    while (at > 0 && rank(m_listConditions.at(at - 1)) > rank(condition)) {
        --at;
    }
    m_listConditions.insert(at, condition);
}

bool PrinterCondition::HasStopping() const
{
    for (const stCondition& condition : m_listConditions) {
        if (condition.enSeverity == ConditionSeverity::StopsPrinting) {
            return true;
        }
    }
    return false;
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

QString PrinterCondition::SeverityKey(ConditionSeverity severity)
{
    return severity == ConditionSeverity::StopsPrinting ? QStringLiteral("stops-printing")
                                                        : QStringLiteral("warning");
}
