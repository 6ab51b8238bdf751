#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdio>
#include <type_traits>

// The service log: one time-stamped line per event, tagged with the caller's source position,
// in files "log_srv_<start>_<index>.log" under the log directory, rolled over beyond 1 MiB.
// Off unless SetLogEnable(true) is called; while off a call costs one atomic load.
class UtilLog
{
public:
    static void SetLogEnable(bool on);
    static bool IsEnabled() { return s_bEnable.load(std::memory_order_relaxed); }

    // Appends one finished message (already formatted) as a line. Used by WriteStringLog.
    static void WriteLine(const char* file, int line, const char* function, const char* message);

    // Largest formatted message kept, in bytes; longer messages are cut to this length.
    static constexpr int MESSAGE_MAX = 1023;
    // A file grows beyond this size before the next line goes to a new file.
    static constexpr qint64 ROLL_OVER_SIZE = 1048576;

private:
    static std::atomic<bool> s_bEnable;
};

// printf-style log call. Every "%" in the format is a directive, so data (queue names, job
// identifiers) belongs into the arguments. Arguments must be numbers or C strings: a QString
// passed by mistake is a compile error rather than garbage in the log.
template <typename... Args>
void WriteStringLog(const char* file, int line, const char* function, const QString& format,
                    Args... args)
{
    static_assert(((std::is_arithmetic<Args>::value || std::is_pointer<Args>::value) && ...),
                  "log arguments must be numbers or C strings");
    if (!UtilLog::IsEnabled()) {
        return;
    }
    char buffer[UtilLog::MESSAGE_MAX + 1] = {};
    const QByteArray fmt = format.toLocal8Bit();
    if constexpr (sizeof...(Args) == 0) {
        // Without arguments a directive would read garbage; the text is taken literally.
        std::snprintf(buffer, sizeof buffer, "%s", fmt.constData());
    } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
        std::snprintf(buffer, sizeof buffer, fmt.constData(), args...);
#pragma GCC diagnostic pop
    }
    UtilLog::WriteLine(file, line, function, buffer);
}

// Source position of the caller, as the log lines name it.
#define ORVO_LOG(...) WriteStringLog(__FILE__, __LINE__, __func__, __VA_ARGS__)
