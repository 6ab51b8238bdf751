#pragma once

#include "service/ShellCommand.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The one place that runs the CUPS command-line tools (and the process list of the
// single-instance check): build the command safely, run it through the system shell, read the
// file it redirected its output into, remove that file.
class CupsTool
{
public:
    // Builds and runs the command; false (with a log line naming `caller`) when it was refused.
    // `status` receives the shell's wait status as system() reports it, -1 when nothing ran.
    static bool Run(const char* format, const QStringList& values, const char* caller,
                    int* status = nullptr);
    // Runs a finished command through "/bin/sh -c" and waits for it. The tools run in the C
    // locale so that their wording is the one the parsers know, whatever the desktop's language;
    // the service's own locale (used for file names) is left alone. What they write to standard
    // error goes to the service log under `caller` while the log is on and is dropped
    // otherwise: the service's own standard error (the journal) never gets it.
    static int RunShell(const QByteArray& command, const char* caller = "RunShell");
    // Starts the tool of a command split into words, without a shell; same wait status and
    // standard error.
    static int RunWords(const ShellCommand::Words& words, const char* caller = "RunWords");

    // For a program whose standard error a person reads (orvo-add-printer): the tools' error
    // output goes there as it comes instead. Call it before any thread runs a tool.
    static void PassToolErrorsThrough(bool on);

    // Standard error of one tool run beyond this is read and dropped, not logged.
    static constexpr int MAX_ERROR_BYTES = 4096;

    // Reads the output file line by line (each line with its line end, decoded as UTF-8 up to
    // its first NUL byte), then removes the file, also when it could not be opened.
    // `opened` tells whether it could be read at all.
    static QStringList ReadAndRemove(const QString& path, bool* opened = nullptr);

    // Output files larger than this are read only up to it: no tool output we parse comes near.
    static constexpr qint64 MAX_OUTPUT_BYTES = 16 * 1024 * 1024;
};
