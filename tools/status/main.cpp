// orvo-status: shows what the Orvo status service publishes in its cfg directory.

#include "FixedPaths.h"
#include "JsonFormatter.h"
#include "NotifyMonitor.h"
#include "PrometheusExporter.h"
#include "StatusFormatter.h"
#include "StatusReader.h"
#include "StatusWatch.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

enum ExitCode
{
    EXIT_READ = 0,
    EXIT_NOTHING_READ = 1,
    EXIT_USAGE = 2,
};

const char* const DESCRIPTION =
    "Shows the state of the Orvo printer status service: the printers it lists, whether it is\n"
    "alive, and each printer's last status reply decoded as the service decodes it.\n"
    "\n"
    "Reads printerlist.ini, service.hb and <queue>.dat from the service's cfg directory\n"
    "(default %1) and never writes there.\n"
    "\n"
    "Status value: 2 = no status (no status file: the printer does not answer or has not been\n"
    "asked yet); 0 = a status code the service does not know; other values come from the\n"
    "printer's status code. The service counts as alive while its heartbeat is younger than\n"
    "%2 s.\n"
    "\n"
    "Exit status:\n"
    "  0  the printer list or the heartbeat could be read (broken or missing status files\n"
    "     are reported in the output, not in the exit status)\n"
    "  1  nothing could be read: no directory, or neither a printer list nor a heartbeat\n"
    "  2  wrong usage\n"
    "With --watch --count N the exit status is that of the last snapshot printed.";

void WriteOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void WriteErr(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// One snapshot in the chosen form. Watched JSON is one compact object per line so that a script
// can read snapshot by snapshot; watched text is separated by a rule, or redrawn on a terminal.
void PrintSnapshot(const StatusSnapshot& snapshot, bool json, bool watching, bool clearScreen,
                   int number)
{
    QByteArray out;
    if (watching && clearScreen) {
        out += "\033[H\033[2J";
    } else if (watching && !json && number > 1) {
        out += "\n----\n\n";
    }
    if (json) {
        out += JsonFormatter::Format(snapshot, watching);
        if (!out.endsWith('\n')) {
            out += '\n';
        }
    } else {
        out += StatusFormatter::Format(snapshot).toUtf8();
    }
    WriteOut(out);
    if (!snapshot.AnythingRead()) {
        WriteErr(QStringLiteral("orvo-status: nothing to read in %1: %2; %3\n")
                     .arg(StatusFormatter::Printable(snapshot.strDir),
                          StatusFormatter::Printable(snapshot.stList.strProblem),
                          StatusFormatter::Printable(snapshot.stHeartbeat.strProblem)));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvo-status"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(DESCRIPTION)
                                         .arg(FixedPaths::CfgDir())
                                         .arg(StatusReader::ALIVE_LIMIT_MS / 1000));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Read the files from <dir> instead."),
                                       QStringLiteral("dir"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print JSON instead of text."));
    const QCommandLineOption watchOption(
        QStringLiteral("watch"),
        QStringLiteral("Keep running and print again whenever the files change."));
    const QCommandLineOption countOption(
        QStringLiteral("count"),
        QStringLiteral("With --watch: stop after <n> snapshots (the first one included)."),
        QStringLiteral("n"));
    parser.addOption(dirOption);
    parser.addOption(jsonOption);
    parser.addOption(watchOption);
    parser.addOption(countOption);
    const QCommandLineOption notifyOption(
        QStringLiteral("notify"),
        QStringLiteral("Keep running in the desktop session and show a notification when a printer "
                       "needs someone and when that clears."));
    const QCommandLineOption prometheusOption(
        QStringLiteral("prometheus"),
        QStringLiteral("Print the state in the Prometheus text format."));
    const QCommandLineOption outputOption(
        QStringLiteral("output"),
        QStringLiteral("With --prometheus: replace <file> in one step instead of printing."),
        QStringLiteral("file"));
    parser.addOptions({notifyOption, prometheusOption, outputOption});

    if (!parser.parse(QCoreApplication::arguments())) {
        WriteErr(
            QStringLiteral("orvo-status: %1\nTry 'orvo-status --help'.\n").arg(parser.errorText()));
        return EXIT_USAGE;
    }
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        WriteOut(parser.helpText().toUtf8());
        return EXIT_READ;
    }
    if (!parser.positionalArguments().isEmpty()) {
        WriteErr(QStringLiteral("orvo-status: unexpected argument \"%1\"\nTry 'orvo-status "
                                "--help'.\n")
                     .arg(parser.positionalArguments().first()));
        return EXIT_USAGE;
    }
    const bool watching = parser.isSet(watchOption);
    int count = 0;
    if (parser.isSet(countOption)) {
        bool ok = false;
        count = parser.value(countOption).toInt(&ok);
        if (!ok || count < 1) {
            WriteErr(QStringLiteral("orvo-status: --count needs a number of 1 or more\n"));
            return EXIT_USAGE;
        }
        if (!watching) {
            WriteErr(QStringLiteral("orvo-status: --count goes with --watch\n"));
            return EXIT_USAGE;
        }
    }
    const bool json = parser.isSet(jsonOption);
    const QString dir = parser.isSet(dirOption) ? parser.value(dirOption) : FixedPaths::CfgDir();
    if (dir.isEmpty()) {
        WriteErr(QStringLiteral("orvo-status: --dir needs a directory\n"));
        return EXIT_USAGE;
    }
    const StatusReader reader(dir);
    const bool notify = parser.isSet(notifyOption);
    const bool prometheus = parser.isSet(prometheusOption);
    if ((notify && (prometheus || watching || json)) || (prometheus && (watching || json)) ||
        (parser.isSet(outputOption) && !prometheus)) {
        WriteErr(QStringLiteral("orvo-status: --notify and --prometheus go alone; --output goes "
                                "with --prometheus\n"));
        return EXIT_USAGE;
    }
    if (notify) {
        return NotifyMonitor::Run(reader);
    }
    if (prometheus) {
        return PrometheusExporter::Run(reader.Read(), parser.value(outputOption));
    }

    if (!watching) {
        const StatusSnapshot snapshot = reader.Read();
        PrintSnapshot(snapshot, json, false, false, 1);
        return snapshot.AnythingRead() ? EXIT_READ : EXIT_NOTHING_READ;
    }

    const bool clearScreen = isatty(fileno(stdout)) != 0;
    StatusWatch watch(reader, count,
                      [json, clearScreen](const StatusSnapshot& snapshot, int number) {
                          PrintSnapshot(snapshot, json, true, clearScreen, number);
                      });
    watch.Start();
    if (watch.Finished()) {
        return watch.ExitCode();
    }
    return app.exec();
}
