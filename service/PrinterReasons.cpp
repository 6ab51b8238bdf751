#include "service/PrinterReasons.h"

#include "protocol/ReplyCondition.h"
#include "protocol/SuppliesType.h"
#include "service/StatusReply.h"

#include <QRegularExpression>

#include <cstring>

namespace {
// The plain words of the named conditions; the bare codes keep ReplyCondition's text, which
// names the code ("printer error 0x1200"), since nothing else tells them apart.
struct stPhrase
{
    const char* pszKey;
    const char* pszWords;
};
const stPhrase c_stPhraseList[] = {
    {ReplyCondition::PAPER_OUT_KEY, "paper out"},
    {ReplyCondition::JAM_KEY, "paper jam"},
    {ReplyCondition::COVER_OPEN_KEY, "cover open"},
    {ReplyCondition::TONER_EMPTY_KEY, "toner empty"},
    {ReplyCondition::TONER_LOW_KEY, "toner low"},
};
const char* const UNREACHABLE_WORDS = "not answering";

QString Capitalised(QString text)
{
    if (!text.isEmpty()) {
        text[0] = text.at(0).toUpper();
    }
    return text;
}
} // namespace

stPrinterReasons PrinterReasons::FromReply(const stStatusReply& reply)
{
    const ReplyCondition classified = reply.Classify();
    // The toner level goes into the message: CUPS takes marker levels only from a job's filter.
    const stSupplyEntry* toner = reply.CarriedSupply(SUPPLIES_TONER_LEVEL);
    const bool tonerKnown = toner && toner->ulValue <= 100;

    stPrinterReasons result;
    QStringList phrases;
    for (const stReplyCondition& condition : classified.Conditions()) {
        const QString keyword = QLatin1String(condition.pszIppReason);
        if (!keyword.isEmpty() && !result.listReasons.contains(keyword)) {
            result.listReasons.append(keyword);
        }
        QString phrase = QString::fromStdString(condition.strText);
        for (const stPhrase& named : c_stPhraseList) {
            if (std::strcmp(named.pszKey, condition.pszKey) == 0) {
                phrase = QLatin1String(named.pszWords);
            }
        }
        if (tonerKnown && std::strcmp(condition.pszKey, ReplyCondition::TONER_LOW_KEY) == 0) {
            phrase += QStringLiteral(" (%1 %)").arg(toner->ulValue);
        }
        phrases.append(phrase);
    }
    result.strMessage = Capitalised(phrases.join(QStringLiteral(", "))).left(MESSAGE_MAX);
    return result;
}

stPrinterReasons PrinterReasons::Unreachable()
{
    stPrinterReasons result;
    result.listReasons.append(QLatin1String(ReplyCondition::UNREACHABLE_IPP_REASON));
    result.strMessage = Capitalised(QLatin1String(UNREACHABLE_WORDS));
    return result;
}

bool PrinterReasons::IsOwnReason(const QString& keyword)
{
    for (const char* own : ReplyCondition::IppReasons()) {
        if (keyword == QLatin1String(own)) {
            return true;
        }
    }
    return false;
}

bool PrinterReasons::IsOwnMessage(const QString& message)
{
    static const QRegularExpression phrase(QStringLiteral(
        "^(paper out|paper jam|cover open|toner empty|toner low( \\(\\d{1,3} %\\))?|"
        "printer (error|warning)( 0x[0-9A-F]{4,16})?|unknown printer status \\d{1,20}|"
        "not answering)$"));
    QStringList parts = message.split(QStringLiteral(", "));
    if (parts.at(0).isEmpty()) {
        return false;
    }
    parts[0][0] = parts.at(0).at(0).toLower();
    for (const QString& part : parts) {
        if (!phrase.match(part).hasMatch()) {
            return false;
        }
    }
    return true;
}

QStringList PrinterReasons::Merge(const QStringList& current, const QStringList& remove,
                                  const QStringList& wanted)
{
    QStringList result;
    for (const QString& keyword : current) {
        if (keyword != QLatin1String("none") && !remove.contains(keyword) &&
            !result.contains(keyword)) {
            result.append(keyword);
        }
    }
    for (const QString& keyword : wanted) {
        if (!result.contains(keyword)) {
            result.append(keyword);
        }
    }
    return result;
}

bool PrinterReasons::SameSet(const QStringList& a, const QStringList& b)
{
    QStringList left = a;
    QStringList right = b;
    left.removeAll(QStringLiteral("none"));
    right.removeAll(QStringLiteral("none"));
    left.removeDuplicates();
    right.removeDuplicates();
    left.sort();
    right.sort();
    return left == right;
}
