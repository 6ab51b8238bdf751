#include "tools/addprinter/AddPrinterTool.h"

#include "devices/QueueCreator.h"
#include "generated/OrvoVersion.h"
#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/ModelTable.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {
const QString PROGRAM = QStringLiteral("orvo-add-printer");

// Runs a diagnostic command whose output (stdout and stderr) goes to the bare "%s" file, and
// returns that output.
QStringList RunAndRead(const char* format, const char* caller)
{
    QTemporaryFile report(FixedPaths::CfgDir() + QStringLiteral("addprinter.XXXXXX"));
    report.setAutoRemove(false);
    if (!report.open()) {
        return {};
    }
    const QString path = report.fileName();
    report.close();
    CupsTool::Run(format, {path}, caller);
    return CupsTool::ReadAndRemove(path);
}

// While it lives, what the CUPS tools write on standard error is caught in a file instead of
// reaching the user, so that it can be told in this program's words.
class ToolMessages
{
public:
    ToolMessages()
    {
        std::fflush(stderr);
        m_iSaved = dup(STDERR_FILENO);
        if (m_iSaved >= 0 && m_file.open()) {
            dup2(m_file.handle(), STDERR_FILENO);
        }
    }
    ~ToolMessages() { Restore(); }
    ToolMessages(const ToolMessages&) = delete;
    ToolMessages& operator=(const ToolMessages&) = delete;

    // The lines caught, at most a screenful: a tool that floods is cut short.
    QStringList Take()
    {
        Restore();
        QStringList lines;
        if (m_file.isOpen() && m_file.seek(0)) {
            for (const QByteArray& line : m_file.read(16 * 1024).split('\n')) {
                if (!line.trimmed().isEmpty() && lines.size() < 40) {
                    lines.append(QString::fromUtf8(line.trimmed()));
                }
            }
        }
        return lines;
    }

private:
    void Restore()
    {
        if (m_iSaved >= 0) {
            dup2(m_iSaved, STDERR_FILENO);
            close(std::exchange(m_iSaved, -1));
        }
    }

    QTemporaryFile m_file;
    int m_iSaved = -1;
};

// A CUPS tool's message in this program's words, with what to do about it; empty for messages
// that tell the user nothing (lpadmin warns about PPD drivers on every queue it creates, and
// installing from the maker's PPD is what this program is for; lpstat notes an empty list).
QString Rewrite(const QString& line)
{
    if (line.contains(QLatin1String("drivers are deprecated"), Qt::CaseInsensitive) ||
        line.contains(QLatin1String("No destinations added"), Qt::CaseInsensitive)) {
        return QString();
    }
    // A failed device listing is told by the run itself, with lpinfo's reason.
    if (line.startsWith(QLatin1String("lpinfo:"))) {
        return QString();
    }
    if (line.contains(QLatin1String("Scheduler is not running"), Qt::CaseInsensitive) ||
        line.contains(QLatin1String("Bad file descriptor"), Qt::CaseInsensitive)) {
        return QStringLiteral("CUPS is not running - start it with: systemctl start cups");
    }
    if (line.contains(QLatin1String("Forbidden"), Qt::CaseInsensitive) ||
        line.contains(QLatin1String("not authorized"), Qt::CaseInsensitive)) {
        return QStringLiteral("CUPS refused the change - run it as root");
    }
    QString text = line;
    text.remove(QRegularExpression(QStringLiteral("^(lpadmin|lpinfo|lpstat):\\s*")));
    return QStringLiteral("CUPS says: %1").arg(text);
}

QString SupportedModels()
{
    QStringList keys;
    for (const stModelInfo& model : c_stModelInfoList) {
        keys.append(model.strModelKey);
    }
    return keys.join(QStringLiteral(", "));
}

bool LooksLikeUri(const QString& uri)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:\\S+$"));
    return scheme.match(uri).hasMatch();
}

int ExitCodeOf(int status)
{
    if (status == -1) {
        return AddPrinterTool::EXIT_FAILED;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return AddPrinterTool::EXIT_FAILED;
}

} // namespace

AddPrinterTool::AddPrinterTool(std::function<QList<stPrinterInfo>(bool)> discover, QTextStream& out,
                               QTextStream& err)
    : m_discover(std::move(discover)), m_out(out), m_err(err)
{
}

QString AddPrinterTool::Usage()
{
    return QStringLiteral(
        "Usage: orvo-add-printer\n"
        "       orvo-add-printer --set-uri QUEUE URI\n"
        "       orvo-add-printer --help | --version\n"
        "\n"
        "Without arguments, creates a CUPS queue with the model's PPD for every attached Orvo\n"
        "USB printer that has none yet, and names the queues it created. An Orvo printer of a\n"
        "model it does not support is named on standard error and left alone.\n"
        "--set-uri sets the device URI of the existing queue QUEUE (and enables it).\n"
        "\n"
        "Exit status:\n"
        "  0  done: every supported printer has a queue (also when there was nothing to do,\n"
        "     or only unsupported models are attached)\n"
        "  1  a queue could not be created or changed\n"
        "  2  wrong arguments\n"
        "  3  CUPS is not running\n"
        "  4  not allowed (run it as root)\n");
}

int AddPrinterTool::Run(const QStringList& args)
{
    int result = EXIT_USAGE;
    const QString first = args.value(0);
    if (args.isEmpty()) {
        result = AddNewPrinters();
    } else if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        if (args.size() == 1) {
            m_out << Usage();
            result = EXIT_OK;
        } else {
            UsageError(QStringLiteral("unexpected argument '%1'").arg(args.at(1)));
        }
    } else if (first == QLatin1String("--version")) {
        if (args.size() == 1) {
            m_out << PROGRAM << ' ' << ORVO_VERSION << '\n';
            result = EXIT_OK;
        } else {
            UsageError(QStringLiteral("unexpected argument '%1'").arg(args.at(1)));
        }
    } else if (first == QLatin1String("--set-uri")) {
        if (args.size() < 3) {
            UsageError(QStringLiteral("--set-uri needs a queue name and a URI"));
        } else if (args.size() > 3) {
            UsageError(QStringLiteral("unexpected argument '%1'").arg(args.at(3)));
        } else if (args.at(1).startsWith(QLatin1Char('-')) || args.at(1).isEmpty()) {
            UsageError(QStringLiteral("'%1' is not a queue name").arg(args.at(1)));
        } else if (!LooksLikeUri(args.at(2))) {
            UsageError(QStringLiteral("'%1' is not a device URI (like socket://HOST:9100)")
                           .arg(args.at(2)));
        } else {
            result = SetUri(args.at(1), args.at(2));
        }
    } else if (first.startsWith(QLatin1Char('-'))) {
        UsageError(QStringLiteral("unknown option '%1'").arg(first));
    } else {
        UsageError(QStringLiteral("unexpected argument '%1'").arg(first));
    }
    if (m_iLockFd >= 0) {
        close(std::exchange(m_iLockFd, -1));
    }
    m_out.flush();
    m_err.flush();
    return result;
}

int AddPrinterTool::CheckCanAdminister()
{
    const QString cfg = FixedPaths::CfgDir();
    if (!QDir().mkpath(cfg) || !QFileInfo(cfg).isWritable()) {
        Error(QStringLiteral("not allowed: cannot write in %1 (run it as root)").arg(cfg));
        return EXIT_NOT_ALLOWED;
    }
    const QStringList answer = RunAndRead("lpstat -r > %s 2>&1", __func__);
    if (answer.isEmpty() || answer.first().trimmed() != QLatin1String("scheduler is running")) {
        const QString said =
            answer.isEmpty() ? QStringLiteral("no answer") : answer.join(QString()).trimmed();
        Error(QStringLiteral("CUPS is not running - start it with: systemctl start cups (lpstat "
                             "-r: %1)")
                  .arg(said));
        return EXIT_NO_CUPS;
    }
    // Two runs at once (two printers plugged in together) would share the device report and
    // could both create a queue for the same printer: one run at a time.
    m_iLockFd = open(QFile::encodeName(cfg).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_iLockFd >= 0) {
        while (flock(m_iLockFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    return EXIT_OK;
}

int AddPrinterTool::AddNewPrinters()
{
    const int ready = CheckCanAdminister();
    if (ready != EXIT_OK) {
        return ready;
    }

    // Without the list of queues nothing can be known to be new: creating anything then could
    // give a device that has a queue a second one.
    QList<stPrinterInfo> before;
    if (!QueueCreator::ListAllQueues(before)) {
        Error(QStringLiteral("cannot list the CUPS queues: no queue created"));
        return EXIT_NO_CUPS;
    }
    QueueCreator creator(m_discover);
    ToolMessages messages;
    creator.CheckNewPNP(m_discover(true));
    const QList<stPrinterInfo> after = QueueCreator::GetAllQueues();
    const QStringList said = messages.Take();

    int created = 0;
    for (const stPrinterInfo& queue : after) {
        if (QueueCreator::ContainsName(before, queue.strName)) {
            continue;
        }
        m_out << PROGRAM << ": created queue " << queue.strName << " for " << queue.strURI << '\n';
        ++created;
    }

    int result = EXIT_OK;
    for (const QueueCreator::stProblem& problem : creator.TakeProblems()) {
        // A printer nothing can be done for is no failure: the run did all it could.
        if (problem.enKind == QueueCreator::PROBLEM_UNKNOWN_MODEL) {
            Error(QStringLiteral("%1 is not supported; left without a queue (supported models: "
                                 "%2)")
                      .arg(problem.strSubject, SupportedModels()));
            continue;
        }
        if (problem.enKind == QueueCreator::PROBLEM_DEVICE_LIST && problem.strSubject.isEmpty()) {
            const QString why = LpinfoMessage();
            if (why.contains(QLatin1String("Forbidden"), Qt::CaseInsensitive)) {
                Error(QStringLiteral("not allowed to list the USB printers (%1): run it as root")
                          .arg(why));
                result = EXIT_NOT_ALLOWED;
                continue;
            }
            Error(why.isEmpty() ? problem.strText : problem.strText + QStringLiteral(": ") + why);
        } else {
            Error(problem.strText);
        }
        if (result == EXIT_OK) {
            result = EXIT_FAILED;
        }
    }
    ToldOnce(said);
    if (created == 0 && result == EXIT_OK) {
        m_out << PROGRAM << ": no new Orvo USB printer found\n";
    }
    return result;
}

int AddPrinterTool::SetUri(const QString& queue, const QString& uri)
{
    const int ready = CheckCanAdminister();
    if (ready != EXIT_OK) {
        return ready;
    }

    QueueCreator creator(m_discover);
    ToolMessages messages;
    const int status = creator.ChangeNetPrinterURI(queue, uri);
    ToldOnce(messages.Take());
    for (const QueueCreator::stProblem& problem : creator.TakeProblems()) {
        Error(problem.strText);
    }
    if (status != 0) {
        return ExitCodeOf(status) == EXIT_OK ? EXIT_FAILED : ExitCodeOf(status);
    }
    m_out << PROGRAM << ": queue " << queue << " now uses " << uri << '\n';
    return EXIT_OK;
}

QString AddPrinterTool::LpinfoMessage()
{
    const QStringList said = RunAndRead("lpinfo --include-schemes \"usb\" -v > %s 2>&1", __func__);
    QStringList lines;
    for (const QString& line : said) {
        if (line.startsWith(QLatin1String("lpinfo:"))) {
            lines.append(line.trimmed());
        }
    }
    return lines.join(QStringLiteral("; "));
}

void AddPrinterTool::UsageError(const QString& text)
{
    m_err << PROGRAM << ": " << text << ". Try --help\n";
}

void AddPrinterTool::ToldOnce(const QStringList& toolLines)
{
    QStringList told;
    for (const QString& line : toolLines) {
        const QString text = Rewrite(line);
        if (!text.isEmpty() && !told.contains(text)) {
            told.append(text);
            Error(text);
        }
    }
}

void AddPrinterTool::Error(const QString& text)
{
    m_err << PROGRAM << ": " << text << '\n';
}
