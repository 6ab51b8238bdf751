#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds a command line for the system shell from a format whose "%s" placeholders take
// values in the local 8-bit encoding. A placeholder written between double quotes ("%s") gets
// its value escaped for double quotes; a bare placeholder gets a value that is either made of
// harmless characters or put between single quotes. A value the shell could read as an option
// (leading "-"), one holding a NUL byte, or a command longer than the command buffer is refused:
// the command is never cut, because a cut command may do something else than intended.
class ShellCommand
{
public:
    // The buffer every command is formatted into holds 255 bytes and a terminating zero.
    static constexpr int MAX_LENGTH = 255;

    struct Result
    {
        bool bOk = false;
        QByteArray command; // the finished command when bOk
        QString strError;   // why the command was refused
    };

    static Result Build(const char* format, const QList<QByteArray>& values);

    // The same command as words, for starting the tool without a shell in between: the
    // program and its arguments with the values in place, and the file a "> FILE" redirects
    // standard output to. bSimple is false when the format needs the shell (a pipe, an
    // expansion): such a command runs through the shell as Build gives it.
    struct Words
    {
        bool bSimple = false;
        QList<QByteArray> argv;
        QByteArray redirect;
        bool bErrorsToo = false; // a trailing "2>&1": standard error goes into `redirect` too
    };
    static Words Split(const char* format, const QList<QByteArray>& values);
    static Result Build(const char* format, const QStringList& values);
    // The values in the local 8-bit encoding, as commands and file paths take them.
    static QList<QByteArray> Encode(const QStringList& values);

    // Escapes for the inside of a double-quoted shell word.
    static QByteArray EscapeForDoubleQuotes(const QByteArray& value);
    // Returns the value itself when it needs no quoting, else a single-quoted word.
    static QByteArray QuoteWord(const QByteArray& value);
};
