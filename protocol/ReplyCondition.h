#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the codes of a decoded status reply mean for whoever looks after the printer: the
// conditions it reports, each with a key that scripts, notifications and CUPS can rely on, and
// the state they add up to. The service and orvo-status classify a reply through this alone.

enum enConditionSeverity
{
    SEVERITY_STOPS_PRINTING,
    SEVERITY_WARNING, // the printer prints through it
};

struct stReplyCondition
{
    // "paper-out", "jam", "cover-open", "toner-empty", "toner-low", "other-error" and
    // "other-warning" (a code of the first or second error list without a name of its own),
    // "printer-error", "printer-warning" (status code 3 or 2 without a code saying more),
    // "unknown-status" (a status code without a meaning).
    const char* pszKey = "";
    // Its printer-state-reasons keyword (RFC 8011, PWG 5100.9), the word CUPS and everything
    // reading CUPS know it by: "media-jam-error". Several keys share "other-error" and
    // "other-warning".
    const char* pszIppReason = "";
    std::string strText; // for people, with the code where there is one: "paper jam (0x110D)"
    enConditionSeverity enSeverity = SEVERITY_WARNING;
    bool bHasCode = false;
    std::uint64_t ulCode = 0; // the printer's error code the condition comes from
};

enum enReplyState
{
    REPLY_STATE_READY,
    REPLY_STATE_PRINTING, // busy with a job (status codes 16 to 19), unless something stops it
    REPLY_STATE_WARNING,
    REPLY_STATE_ERROR, // a condition stops printing
};

class ReplyCondition
{
public:
    static ReplyCondition Classify(std::uint64_t statusCode,
                                   const std::vector<std::uint64_t>& errorCodes1,
                                   const std::vector<std::uint64_t>& errorCodes2);

    enReplyState State() const { return m_enState; }
    // Those that stop printing first, and within each severity the named ones before the bare
    // codes; otherwise in the printer's order. One condition per key, one per code for the bare
    // ones.
    const std::vector<stReplyCondition>& Conditions() const { return m_listConditions; }

    static const char* SeverityKey(enConditionSeverity severity); // "stops-printing", "warning"

    // The conditions' keys (stReplyCondition::pszKey), the words every reader tells them by.
    static constexpr const char* PAPER_OUT_KEY = "paper-out";
    static constexpr const char* JAM_KEY = "jam";
    static constexpr const char* COVER_OPEN_KEY = "cover-open";
    static constexpr const char* TONER_EMPTY_KEY = "toner-empty";
    static constexpr const char* TONER_LOW_KEY = "toner-low";
    static constexpr const char* OTHER_ERROR_KEY = "other-error";
    static constexpr const char* OTHER_WARNING_KEY = "other-warning";
    static constexpr const char* PRINTER_ERROR_KEY = "printer-error";
    static constexpr const char* PRINTER_WARNING_KEY = "printer-warning";
    static constexpr const char* UNKNOWN_STATUS_KEY = "unknown-status";

    // A printer that stopped answering: no reply carries this condition, the one who gave up
    // on the printer adds it.
    static constexpr const char* UNREACHABLE_KEY = "unreachable";
    static constexpr const char* UNREACHABLE_IPP_REASON = "offline-report";
    // Every printer-state-reasons keyword a condition can have, the unreachable one included.
    static const std::vector<const char*>& IppReasons();

private:
    void AddErrorCode(std::uint64_t code, int list);
    void Add(const char* key, const char* ippReason, const std::string& text,
             enConditionSeverity severity, bool hasCode = false, std::uint64_t code = 0);
    bool HasStopping() const;

    enReplyState m_enState = REPLY_STATE_READY;
    std::vector<stReplyCondition> m_listConditions;
};
