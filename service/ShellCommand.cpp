#include "service/ShellCommand.h"

#include <QStringList>

#include <cstring>

namespace {
bool IsPlainChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '/' || c == '-' || c == ':' || c == '=' || c == '@' || c == '+' ||
           c == ',' || c == '%';
}
} // namespace

QByteArray ShellCommand::EscapeForDoubleQuotes(const QByteArray& value)
{
    // Inside double quotes the shell still interprets these four; everything else is literal.
    QByteArray out;
    out.reserve(value.size() + 8);
    for (char c : value) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') {
            out.append('\\');
        }
        out.append(c);
    }
    return out;
}

QByteArray ShellCommand::QuoteWord(const QByteArray& value)
{
    bool plain = !value.isEmpty();
    for (char c : value) {
        plain = plain && IsPlainChar(c);
    }
    if (plain) {
        return value;
    }
    QByteArray out("'");
    for (char c : value) {
        if (c == '\'') {
            out.append("'\\''");
        } else {
            out.append(c);
        }
    }
    out.append('\'');
    return out;
}

ShellCommand::Result ShellCommand::Build(const char* format, const QList<QByteArray>& values)
{
    Result result;
    const QByteArray fmt(format);
    QByteArray command;
    int next = 0;
    for (int i = 0; i < fmt.size(); ++i) {
        if (fmt.at(i) == '%' && i + 1 < fmt.size() && fmt.at(i + 1) == '%') {
            command.append('%');
            ++i;
            continue;
        }
        if (fmt.at(i) != '%' || i + 1 >= fmt.size() || fmt.at(i + 1) != 's') {
            command.append(fmt.at(i));
            continue;
        }
        if (next >= values.size()) {
            result.strError = QStringLiteral("missing value for a placeholder");
            return result;
        }
        const QByteArray& value = values.at(next++);
        if (value.contains('\0')) {
            result.strError = QStringLiteral("value holds a NUL byte");
            return result;
        }
        if (value.startsWith('-')) {
            result.strError = QStringLiteral("value begins with '-'");
            return result;
        }
        const bool quoted =
            i > 0 && fmt.at(i - 1) == '"' && i + 2 < fmt.size() && fmt.at(i + 2) == '"';
        command.append(quoted ? EscapeForDoubleQuotes(value) : QuoteWord(value));
        ++i; // skip the 's'
    }
    if (next != values.size()) {
        result.strError = QStringLiteral("more values than placeholders");
        return result;
    }
    if (command.size() > MAX_LENGTH) {
        result.strError = QStringLiteral("command longer than %1 bytes").arg(MAX_LENGTH);
        return result;
    }
    result.bOk = true;
    result.command = command;
    return result;
}

QList<QByteArray> ShellCommand::Encode(const QStringList& values)
{
    QList<QByteArray> encoded;
    encoded.reserve(values.size());
    for (const QString& value : values) {
        encoded.append(value.toLocal8Bit());
    }
    return encoded;
}

ShellCommand::Result ShellCommand::Build(const char* format, const QStringList& values)
{
    return Build(format, Encode(values));
}

ShellCommand::Words ShellCommand::Split(const char* format, const QList<QByteArray>& values)
{
    Words words;
    QByteArray fmt(format);
    static const QByteArray errorsToo(" 2>&1");
    if (fmt.endsWith(errorsToo)) {
        fmt.chop(errorsToo.size());
        words.bErrorsToo = true;
    }
    QByteArray token;
    bool started = false; // a word is open (also an empty "" one)
    bool inQuotes = false;
    bool redirectNext = false;
    int next = 0;
    auto endWord = [&]() -> bool {
        if (!started) {
            return true;
        }
        if (redirectNext) {
            if (token.isEmpty() || !words.redirect.isEmpty()) {
                return false;
            }
            words.redirect = token;
            redirectNext = false;
        } else {
            words.argv.append(token);
        }
        token.clear();
        started = false;
        return true;
    };
    for (int i = 0; i < fmt.size(); ++i) {
        const char c = fmt.at(i);
        if (c == '%' && i + 1 < fmt.size() && (fmt.at(i + 1) == 's' || fmt.at(i + 1) == '%')) {
            if (fmt.at(i + 1) == '%') {
                token.append('%');
            } else {
                if (next >= values.size()) {
                    return Words();
                }
                token.append(values.at(next++));
            }
            started = true;
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            started = true;
        } else if (inQuotes) {
            // What the shell would still interpret inside double quotes.
            if (c == '$' || c == '`' || c == '\\') {
                return Words();
            }
            token.append(c);
        } else if (c == ' ') {
            if (!endWord()) {
                return Words();
            }
        } else if (c == '>') {
            if (!endWord() || redirectNext || !words.redirect.isEmpty()) {
                return Words();
            }
            redirectNext = true;
        } else if (std::strchr("|;&<$`'()\\*?[]~#{}!\t\n=", c)) {
            return Words();
        } else {
            token.append(c);
            started = true;
        }
    }
    if (inQuotes || !endWord() || redirectNext || next != values.size() || words.argv.isEmpty() ||
        (words.bErrorsToo && words.redirect.isEmpty())) {
        return Words();
    }
    words.bSimple = true;
    return words;
}
