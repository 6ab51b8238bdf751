// orvo-status: shows what the Orvo status service publishes in its cfg directory.

#include "generated/OrvoVersion.h"
#include "service/FixedPaths.h"
#include "tools/status/ExitStatus.h"
#include "tools/status/JsonFormatter.h"
#include "tools/status/NotifyMonitor.h"
#include "tools/status/PrometheusExporter.h"
#include "tools/status/StatusChanges.h"
#include "tools/status/StatusFormatter.h"
#include "tools/status/StatusReader.h"
#include "tools/status/StatusWatch.h"
#include "tools/status/StopSignals.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <unistd.h>

namespace {

const char* const PROGRAM = "orvo-status";

// Texts for people are looked up in this context; those for scripts never are.
const char* const CONTEXT = "orvo-status";

const char* const DESCRIPTION = QT_TRANSLATE_NOOP(
    "orvo-status",
    "Shows the Orvo printer status service and its printers: one line per printer with its\n"
    "state (ready, printing, warning, error, no status, unreachable, or unknown while the\n"
    "service is not running), the conditions the printer reports and its toner level.\n"
    "Queue names given, only those printers are shown and count for the exit status.\n"
    "\n"
    "Reads printerlist.ini, service.hb and <queue>.dat from the service's cfg directory\n"
    "  %1\n"
    "and never writes there. The service counts as alive while its heartbeat is younger\n"
    "than %2 s.\n"
    "\n"
    "--watch on a terminal redraws the view every second; piped, it prints the state once\n"
    "and then one line per change (\"12:03:38 Office: ready -> paper out (0x1106)\"); with\n"
    "--json, one compact object per change.\n"
    "\n"
    "Exit status:\n"
    "%3"
    "With --watch --count N the exit status is that of the last snapshot read; --watch and\n"
    "--notify stopped by SIGTERM or SIGINT (Ctrl-C) end with 0.");

// Qt's own words in --help, translated with ours: the help reads in one language also where
// Qt's translations are not installed.
[[maybe_unused]] const char* const QT_HELP_WORDS[] = {
    QT_TRANSLATE_NOOP("QCommandLineParser", "Options:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Arguments:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Displays help on commandline options."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Displays help including Qt specific options."),
};

QString Tr(const char* text)
{
    return QCoreApplication::translate(CONTEXT, text);
}

// The translation for the user's language, from the package's directory beside the program's
// (../share/orvo-statusd/translations from /usr/bin; the build tree mirrors it). Qt takes the
// language from LANGUAGE, LC_ALL, LC_MESSAGES and LANG itself, so a language the C library has no
// locale for is still found.
bool LoadTranslation(QTranslator* translator)
{
    const QString dir = QDir(QCoreApplication::applicationDirPath())
                            .filePath(QStringLiteral(ORVO_TRANSLATIONS_RELDIR));
    return translator->load(QLocale(), QLatin1String(PROGRAM), QStringLiteral("_"), dir);
}

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

int UsageError(const QString& what)
{
    WriteErr(QStringLiteral("%1: %2. Try --help\n").arg(QLatin1String(PROGRAM), what));
    return ExitStatus::USAGE;
}

// Qt's parser words its errors as sentences and names an unknown option without its dashes:
// name it as it was typed.
QString ParserError(const QCommandLineParser& parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        for (const QString& argument : QCoreApplication::arguments().mid(1)) {
            QString name = argument.section(QLatin1Char('='), 0, 0);
            while (name.startsWith(QLatin1Char('-'))) {
                name.remove(0, 1);
            }
            if (argument.startsWith(QLatin1Char('-')) && name == unknown.first()) {
                return QStringLiteral("unknown option '%1'")
                    .arg(argument.section(QLatin1Char('='), 0, 0));
            }
        }
    }
    QString out = parser.errorText().trimmed();
    if (out.endsWith(QLatin1Char('.'))) {
        out.chop(1);
    }
    if (!out.isEmpty()) {
        out[0] = out.at(0).toLower();
    }
    return out;
}

// Names the printers asked for that the printer list does not hold, and those it holds.
int UnknownQueues(const StatusSnapshot& snapshot)
{
    QStringList unknown;
    for (const QString& queue : snapshot.listUnknownQueues) {
        unknown << QStringLiteral("'%1'").arg(StatusFormatter::Printable(queue));
    }
    StatusReader all(snapshot.strDir);
    QStringList listed;
    for (const stPrinterReport& printer : all.Read().listPrinters) {
        listed << StatusFormatter::Printable(printer.strName);
    }
    WriteErr(QStringLiteral("%1: no printer %2 in the service's printer list (%3)\n")
                 .arg(QLatin1String(PROGRAM), unknown.join(QStringLiteral(", ")),
                      listed.isEmpty()
                          ? QStringLiteral("it is empty")
                          : QStringLiteral("it holds ") + listed.join(QStringLiteral(", "))));
    return ExitStatus::USAGE;
}

void ReportNothingRead(const StatusSnapshot& snapshot)
{
    if (!snapshot.AnythingRead()) {
        WriteErr(Tr(QT_TRANSLATE_NOOP("orvo-status", "%1: nothing to read in %2: %3; %4\n"))
                     .arg(QLatin1String(PROGRAM), StatusFormatter::Printable(snapshot.strDir),
                          StatusFormatter::Printable(snapshot.stList.strProblem),
                          StatusFormatter::Printable(snapshot.stHeartbeat.strProblem)));
    }
}

struct stOutput
{
    bool bJson = false;
    bool bVerbose = false;
    bool bTerminal = false;
};

// One snapshot of a watch in the chosen form. A terminal gets the whole view redrawn in place;
// a pipe gets events, one line each; JSON one compact object per line.
void PrintWatched(const StatusSnapshot& snapshot, int number, const stOutput& output,
                  StatusChanges* changes)
{
    if (output.bJson) {
        WriteOut(JsonFormatter::Format(snapshot, true) + '\n');
    } else if (output.bTerminal) {
        // Overwritten in place line by line, rest of the screen cleared after: no flicker.
        QByteArray screen = number == 1 ? "\033[H\033[2J" : "\033[H";
        QStringList lines =
            StatusFormatter::Format(snapshot, output.bVerbose).split(QLatin1Char('\n'));
        lines.removeLast(); // behind the last line end
        for (const QString& line : lines) {
            screen += line.toUtf8() + "\033[K\n";
        }
        WriteOut(screen + "\033[J");
    } else {
        const QStringList lines = changes->Lines(snapshot, QDateTime::currentDateTime());
        if (!lines.isEmpty()) {
            WriteOut((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(PROGRAM));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVO_VERSION));
    QTranslator translator;
    if (LoadTranslation(&translator)) {
        QCoreApplication::installTranslator(&translator);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        Tr(DESCRIPTION)
            .arg(FixedPaths::CfgDir(), QString::number(StatusReader::ALIVE_LIMIT_MS / 1000),
                 QCoreApplication::translate("ExitStatus", ExitStatus::HelpText())));
    const QCommandLineOption helpOption = parser.addHelpOption();
    // Not Qt's version option: it would take -v, which people expect to mean --verbose.
    const QCommandLineOption versionOption(
        QStringLiteral("version"),
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Print the version and exit.")));
    parser.addOption(versionOption);
    const QCommandLineOption dirOption(
        QStringLiteral("dir"),
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Read the files from <dir> instead.")),
        QStringLiteral("dir"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        Tr(QT_TRANSLATE_NOOP("orvo-status",
                             "Print JSON (states, conditions, supplies and the raw fields).")));
    const QCommandLineOption verboseOption(
        QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Also show the directory, queues the service skips "
                                            "and each reply's raw fields.")));
    const QCommandLineOption watchOption(
        QStringLiteral("watch"),
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Keep running and show every change.")));
    const QCommandLineOption countOption(
        QStringLiteral("count"),
        Tr(QT_TRANSLATE_NOOP("orvo-status",
                             "With --watch: stop after <n> snapshots (the first one included).")),
        QStringLiteral("n"));
    parser.addOption(dirOption);
    parser.addOption(jsonOption);
    parser.addOption(verboseOption);
    parser.addOption(watchOption);
    parser.addOption(countOption);
    const QCommandLineOption notifyOption(
        QStringLiteral("notify"),
        Tr(QT_TRANSLATE_NOOP("orvo-status",
                             "Keep running in the desktop session and show a notification when a "
                             "printer needs someone and when that clears; exit status 5 without a "
                             "session bus or notification service.")));
    const QCommandLineOption prometheusOption(
        QStringLiteral("prometheus"),
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Print the state in the Prometheus text format.")));
    const QCommandLineOption outputOption(
        QStringLiteral("output"),
        Tr(QT_TRANSLATE_NOOP("orvo-status",
                             "With --prometheus: replace <file> in one step instead of printing; "
                             "exit status 6 when it cannot be written.")),
        QStringLiteral("file"));
    parser.addOptions({notifyOption, prometheusOption, outputOption});
    parser.addPositionalArgument(
        QStringLiteral("queue"),
        Tr(QT_TRANSLATE_NOOP("orvo-status", "Show only these printers, by CUPS queue name.")),
        QStringLiteral("[queue...]"));

    if (!parser.parse(QCoreApplication::arguments())) {
        return UsageError(ParserError(parser));
    }
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        // Qt names the program by the path it was started with; people know it by its name.
        QString help = parser.helpText();
        help.replace(0, help.indexOf(QLatin1Char('\n')),
                     Tr(QT_TRANSLATE_NOOP("orvo-status", "Usage: %1 [options] [queue...]"))
                         .arg(QLatin1String(PROGRAM)));
        WriteOut(help.toUtf8());
        return ExitStatus::ALL_FINE;
    }
    if (parser.isSet(versionOption)) {
        WriteOut(QStringLiteral("%1 %2\n")
                     .arg(QLatin1String(PROGRAM), QLatin1String(ORVO_VERSION))
                     .toUtf8());
        return ExitStatus::ALL_FINE;
    }
    const bool watching = parser.isSet(watchOption);
    int count = 0;
    if (parser.isSet(countOption)) {
        bool ok = false;
        count = parser.value(countOption).toInt(&ok);
        if (!ok || count < 1) {
            return UsageError(QStringLiteral("--count '%1' is not a number of 1 or more")
                                  .arg(parser.value(countOption)));
        }
        if (!watching) {
            return UsageError(QStringLiteral("--count goes with --watch"));
        }
    }
    stOutput output;
    output.bJson = parser.isSet(jsonOption);
    output.bVerbose = parser.isSet(verboseOption);
    output.bTerminal = isatty(fileno(stdout)) != 0;
    const QString dir = parser.isSet(dirOption) ? parser.value(dirOption) : FixedPaths::CfgDir();
    if (dir.isEmpty()) {
        return UsageError(QStringLiteral("--dir '' names no directory"));
    }
    StatusReader reader(dir);
    reader.SetFindSkippedQueues(output.bVerbose || (output.bJson && !watching));
    const bool notify = parser.isSet(notifyOption);
    const bool prometheus = parser.isSet(prometheusOption);
    if ((notify && (prometheus || watching || output.bJson)) ||
        (prometheus && (watching || output.bJson)) ||
        (parser.isSet(outputOption) && (!prometheus || parser.value(outputOption).isEmpty()))) {
        return UsageError(QStringLiteral("--notify and --prometheus go alone; --output goes with "
                                         "--prometheus and names a file"));
    }
    if (output.bJson || prometheus) {
        // For scripts: the same words whatever the language of whoever runs them.
        QCoreApplication::removeTranslator(&translator);
    }
    const QStringList queues = parser.positionalArguments();
    if (!queues.isEmpty()) {
        reader.SetQueues(queues);
        // Checked once, at the start: a watched printer may leave the list later, and then
        // simply drops out of the view.
        const StatusSnapshot first = reader.Read();
        if (!first.listUnknownQueues.isEmpty()) {
            return UnknownQueues(first);
        }
    }
    if (notify || watching) {
        // Should the pipe fail, the signals keep their default action and still stop it.
        StopSignals::Install(&app);
    }
    if (notify) {
        return NotifyMonitor::Run(reader);
    }
    if (prometheus) {
        return PrometheusExporter::Run(reader.Read(), parser.value(outputOption));
    }

    if (!watching) {
        const StatusSnapshot snapshot = reader.Read();
        WriteOut(output.bJson ? JsonFormatter::Format(snapshot, false)
                              : StatusFormatter::Format(snapshot, output.bVerbose).toUtf8());
        ReportNothingRead(snapshot);
        return ExitStatus::For(snapshot);
    }

    StatusChanges changes;
    const bool live = output.bTerminal && !output.bJson;
    StatusWatch watch(reader, count, live,
                      [&output, &changes](const StatusSnapshot& snapshot, int number) {
                          PrintWatched(snapshot, number, output, &changes);
                      });
    watch.Start();
    if (watch.Finished()) {
        return watch.ExitCode();
    }
    return app.exec();
}
