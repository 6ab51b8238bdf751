#pragma once

#include <QByteArray>
#include <QString>

// Whether the service can watch a CUPS queue by its name, and if not why. The service skips
// such a queue and says so in its log; orvo-status --verbose tells the same reason, so the rule
// and its wording live here once.
class QueueNameCheck
{
public:
    // The command the status worker runs with the bare queue name (offline cancel). A name that
    // makes it longer than a command may be is refused when it is needed most.
    static constexpr const char* CANCEL_FORMAT = "cancel %s";

    // Why a queue of this name (its bytes as CUPS keeps them) cannot be watched, or empty
    // when nothing in the name stops it.
    static QString Problem(const QByteArray& name);

    static bool IsUtf8(const QByteArray& bytes);

    // Whether the name can stand as a file name in a directory, as a queue's status file and its
    // PPD do: not empty, not "." or "..", no "/" and no NUL. CUPS gives no queue another name,
    // but the names come from outside.
    static bool UsableAsFileName(const QByteArray& name);
    static bool UsableAsFileName(const QString& name);

    // The name for a log line: valid UTF-8 as it is, a control byte or one that is not part of
    // valid UTF-8 as \xNN.
    static QByteArray Escaped(const QByteArray& name);
};
