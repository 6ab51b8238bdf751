#include "tools/status/NotifyWording.h"

#include "tools/status/StatusFormatter.h"

stNotifyPrinter NotifyWording::Printer(const QString& queue, const PrinterCondition& condition)
{
    stNotifyPrinter printer;
    printer.strQueue = queue;
    for (const stCondition& active : condition.Conditions()) {
        printer.listConditions << Condition(active, condition.TonerPercent());
    }
    return printer;
}

stNotifyCondition NotifyWording::Condition(const stCondition& condition, int tonerPercent)
{
    stNotifyCondition out;
    out.strKey = condition.strKey;
    out.bStopsPrinting = condition.enSeverity == SEVERITY_STOPS_PRINTING;
    const QString code = StatusFormatter::Hex(condition.ulCode, 4);
    // What happened, shown in the user's language and logged in English.
    const auto happened = [&out](const char* words) {
        out.strWords = tr(words);
        out.strLogWords = QString::fromUtf8(words);
    };
    const QString& key = condition.strKey;
    if (key == QLatin1String(ReplyCondition::PAPER_OUT_KEY)) {
        happened(QT_TR_NOOP("paper out"));
        out.strDetail = tr("Paper out, code %1: load paper.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::JAM_KEY)) {
        happened(QT_TR_NOOP("paper jam"));
        out.strDetail = tr("Paper jam, code %1: remove the jammed paper.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::COVER_OPEN_KEY)) {
        happened(QT_TR_NOOP("cover open"));
        out.strDetail = tr("Cover open, code %1: close the printer's cover.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::TONER_EMPTY_KEY)) {
        happened(QT_TR_NOOP("toner empty"));
        out.strDetail = tr("Toner empty, code %1: put in a new toner cartridge.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::TONER_LOW_KEY)) {
        happened(QT_TR_NOOP("toner low"));
        out.strName = out.strWords;
        if (tonerPercent >= 0) {
            happened(QT_TR_NOOP("toner low, %1 % left"));
            out.strWords = out.strWords.arg(tonerPercent);
            out.strLogWords = out.strLogWords.arg(tonerPercent);
        }
        out.strDetail = tr("Toner low, code %1: have a new toner cartridge at hand.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::OTHER_ERROR_KEY)) {
        happened(QT_TR_NOOP("printer error"));
        out.strDetail = tr("Another error, code %1: see the printer's panel.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::OTHER_WARNING_KEY)) {
        happened(QT_TR_NOOP("printer warning"));
        out.strDetail = tr("Another warning, code %1: see the printer's panel.").arg(code);
    } else if (key == QLatin1String(ReplyCondition::PRINTER_ERROR_KEY)) {
        happened(QT_TR_NOOP("printer error"));
        out.strDetail = tr("The printer reports an error without a code: see its panel.");
    } else if (key == QLatin1String(ReplyCondition::PRINTER_WARNING_KEY)) {
        happened(QT_TR_NOOP("printer warning"));
        out.strDetail = tr("The printer reports a warning without a code: see its panel.");
    } else if (key == QLatin1String(ReplyCondition::UNKNOWN_STATUS_KEY)) {
        happened(QT_TR_NOOP("unknown status"));
        out.strDetail = tr("Status %1, which this program does not know: see the printer's panel.")
                            .arg(condition.ulCode);
    } else if (key == QLatin1String(ReplyCondition::UNREACHABLE_KEY)) {
        happened(QT_TR_NOOP("not answering"));
        out.strDetail = tr("Not answering: check that the printer is switched on and connected.");
    } else {
        out.strWords = PrinterCondition::ConditionText(condition);
        out.strLogWords = condition.strText;
    }
    return out;
}
