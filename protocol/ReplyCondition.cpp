#include "protocol/ReplyCondition.h"

#include "protocol/StatusCodeTables.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// The error values whose meaning the product names; every other code is told by its number.
struct stNamedError
{
    enErrorStatus enValue;
    const char* pszKey;
    const char* pszIppReason;
    const char* pszText;
    enConditionSeverity enSeverity;
};

// The IPP keyword's suffix follows the severity: "-error" stops printing, "-warning" does not.
// The printer calls 0x110F an open cover, and what a user opens on a desktop laser printer to
// clear a jam or change the toner is a cover in the PWG's sense ("door-open" is for doors, as
// of a large machine's cabinet).
const stNamedError c_stNamedErrorList[] = {
    {ERROR_STATUS_6, ReplyCondition::PAPER_OUT_KEY, "media-empty-error", "paper out",
     SEVERITY_STOPS_PRINTING},
    {ERROR_STATUS_10, ReplyCondition::JAM_KEY, "media-jam-error", "paper jam",
     SEVERITY_STOPS_PRINTING},
    {ERROR_STATUS_11, ReplyCondition::JAM_KEY, "media-jam-error", "paper jam",
     SEVERITY_STOPS_PRINTING},
    {ERROR_STATUS_13, ReplyCondition::COVER_OPEN_KEY, "cover-open-error", "cover open",
     SEVERITY_STOPS_PRINTING},
    {ERROR_STATUS_30, ReplyCondition::TONER_LOW_KEY, "toner-low-warning", "toner low",
     SEVERITY_WARNING},
    {ERROR_STATUS_31, ReplyCondition::TONER_EMPTY_KEY, "toner-empty-error", "toner empty",
     SEVERITY_STOPS_PRINTING},
};

const char* const OTHER_ERROR_REASON = "other-error";
const char* const OTHER_WARNING_REASON = "other-warning";

// "0x110D": at least four upper-case hex digits.
std::string Hex4(std::uint64_t code)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%04" PRIX64, code);
    return text;
}

// A code of an error list without a name of its own: each such code is a condition of its own.
bool IsOther(const char* key)
{
    return std::strcmp(key, ReplyCondition::OTHER_ERROR_KEY) == 0 ||
           std::strcmp(key, ReplyCondition::OTHER_WARNING_KEY) == 0;
}

// A code told by its number rather than a name.
bool IsBare(const char* key)
{
    return IsOther(key) || std::strcmp(key, ReplyCondition::UNKNOWN_STATUS_KEY) == 0;
}

} // namespace

ReplyCondition ReplyCondition::Classify(std::uint64_t statusCode,
                                        const std::vector<std::uint64_t>& errorCodes1,
                                        const std::vector<std::uint64_t>& errorCodes2)
{
    ReplyCondition result;
    for (std::uint64_t code : errorCodes1) {
        result.AddErrorCode(code, 1);
    }
    for (std::uint64_t code : errorCodes2) {
        result.AddErrorCode(code, 2);
    }

    const bool busy = statusCode >= STATUS_CODE_BUSY_FIRST && statusCode <= STATUS_CODE_BUSY_LAST;
    if (statusCode == STATUS_CODE_ERROR && !result.HasStopping()) {
        result.Add(ReplyCondition::PRINTER_ERROR_KEY, OTHER_ERROR_REASON, "printer error",
                   SEVERITY_STOPS_PRINTING);
    } else if (statusCode == STATUS_CODE_WARNING && result.m_listConditions.empty()) {
        result.Add(ReplyCondition::PRINTER_WARNING_KEY, OTHER_WARNING_REASON, "printer warning",
                   SEVERITY_WARNING);
    } else if (statusCode != STATUS_CODE_IDLE && statusCode != STATUS_CODE_READY &&
               statusCode != STATUS_CODE_WARNING && statusCode != STATUS_CODE_ERROR && !busy) {
        result.Add(ReplyCondition::UNKNOWN_STATUS_KEY, OTHER_WARNING_REASON,
                   "unknown printer status " + std::to_string(statusCode), SEVERITY_WARNING);
    }

    if (result.HasStopping()) {
        result.m_enState = REPLY_STATE_ERROR;
    } else if (busy) {
        result.m_enState = REPLY_STATE_PRINTING;
    } else if (!result.m_listConditions.empty()) {
        result.m_enState = REPLY_STATE_WARNING;
    } else {
        result.m_enState = REPLY_STATE_READY;
    }
    return result;
}

const char* ReplyCondition::SeverityKey(enConditionSeverity severity)
{
    return severity == SEVERITY_STOPS_PRINTING ? "stops-printing" : "warning";
}

const std::vector<const char*>& ReplyCondition::IppReasons()
{
    static const std::vector<const char*> reasons = [] {
        std::vector<const char*> list;
        const auto add = [&list](const char* reason) {
            for (const char* known : list) {
                if (std::strcmp(known, reason) == 0) {
                    return;
                }
            }
            list.push_back(reason);
        };
        for (const stNamedError& named : c_stNamedErrorList) {
            add(named.pszIppReason);
        }
        add(OTHER_ERROR_REASON);
        add(OTHER_WARNING_REASON);
        add(UNREACHABLE_IPP_REASON);
        return list;
    }();
    return reasons;
}

void ReplyCondition::AddErrorCode(std::uint64_t code, int list)
{
    const enErrorStatus value = GetErrorStatusEnum(static_cast<unsigned long>(code));
    for (const stNamedError& named : c_stNamedErrorList) {
        if (named.enValue == value) {
            Add(named.pszKey, named.pszIppReason,
                std::string(named.pszText) + " (" + Hex4(code) + ")", named.enSeverity, true, code);
            return;
        }
    }
    // The printer puts what stops it into its first list and what it can print through into its
    // second.
    if (list == 1) {
        Add(ReplyCondition::OTHER_ERROR_KEY, OTHER_ERROR_REASON, "printer error " + Hex4(code),
            SEVERITY_STOPS_PRINTING, true, code);
    } else {
        Add(ReplyCondition::OTHER_WARNING_KEY, OTHER_WARNING_REASON,
            "printer warning " + Hex4(code), SEVERITY_WARNING, true, code);
    }
}

void ReplyCondition::Add(const char* key, const char* ippReason, const std::string& text,
                         enConditionSeverity severity, bool hasCode, std::uint64_t code)
{
    // A printer may report one condition under several codes, or one code in both lists.
    for (const stReplyCondition& existing : m_listConditions) {
        if (existing.strText == text || (std::strcmp(existing.pszKey, key) == 0 && !IsOther(key))) {
            return;
        }
    }
    stReplyCondition condition;
    condition.pszKey = key;
    condition.pszIppReason = ippReason;
    condition.strText = text;
    condition.enSeverity = severity;
    condition.bHasCode = hasCode;
    condition.ulCode = code;
    const auto rank = [](const stReplyCondition& entry) {
        return (entry.enSeverity == SEVERITY_STOPS_PRINTING ? 0 : 2) +
               (IsBare(entry.pszKey) ? 1 : 0);
    };
    auto at = m_listConditions.end();
    while (at != m_listConditions.begin() && rank(*(at - 1)) > rank(condition)) {
        --at;
    }
    m_listConditions.insert(at, condition);
}

bool ReplyCondition::HasStopping() const
{
    for (const stReplyCondition& condition : m_listConditions) {
        if (condition.enSeverity == SEVERITY_STOPS_PRINTING) {
            return true;
        }
    }
    return false;
}
