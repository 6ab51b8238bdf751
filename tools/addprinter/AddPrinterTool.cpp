#include "AddPrinterTool.h"

#include "CupsTool.h"
#include "FixedPaths.h"
#include "QueueCreator.h"
#include "UtilThreadBase.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
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
    if (!report.open())
        return {};
    const QString path = report.fileName();
    report.close();
    CupsTool::Run(format, {path}, caller);
    return CupsTool::ReadAndRemove(path);
}

int ExitCodeOf(int status)
{
    if (status == -1)
        return AddPrinterTool::EXIT_FAILED;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
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
        "usage: orvo-add-printer\n"
        "       orvo-add-printer --set-uri QUEUE URI\n"
        "       orvo-add-printer --help\n"
        "\n"
        "Without arguments, creates a CUPS queue with the model's PPD for every attached Orvo\n"
        "USB printer that has none yet, and names the queues it created.\n"
        "--set-uri sets the device URI of the existing queue QUEUE (and enables it).\n"
        "\n"
        "Exit status: 0 done (also when there was nothing to do), 1 a queue could not be\n"
        "created or changed, or a printer model is unknown, 2 wrong arguments, 3 CUPS is not\n"
        "running, 4 not allowed (run it as root).\n");
}

int AddPrinterTool::Run(const QStringList& args)
{
    int result = EXIT_USAGE;
    if (args.isEmpty()) {
        result = AddNewPrinters();
    } else if (args.size() == 1 &&
               (args.at(0) == QLatin1String("--help") || args.at(0) == QLatin1String("-h"))) {
        m_out << Usage();
        result = EXIT_OK;
    } else if (args.size() == 3 && args.at(0) == QLatin1String("--set-uri")) {
        result = SetUri(args.at(1), args.at(2));
    } else {
        Error(QStringLiteral("wrong arguments: %1").arg(args.join(QLatin1Char(' '))));
        m_err << Usage();
    }
    if (m_iLockFd >= 0)
        close(std::exchange(m_iLockFd, -1));
    m_out.flush();
    m_err.flush();
    return result;
}

int AddPrinterTool::CheckCanAdminister()
{
    const QString cfg = FixedPaths::CfgDir();
    if (!UtilThreadBase::MakePathExist(cfg) || !QFileInfo(cfg).isWritable()) {
        Error(QStringLiteral("not allowed: cannot write in %1 (run it as root)").arg(cfg));
        return EXIT_NOT_ALLOWED;
    }
    const QStringList answer = RunAndRead("lpstat -r > %s 2>&1", __func__);
    if (answer.isEmpty() || answer.first().trimmed() != QLatin1String("scheduler is running")) {
        const QString said =
            answer.isEmpty() ? QStringLiteral("no answer") : answer.join(QString()).trimmed();
        Error(QStringLiteral("CUPS is not running (lpstat -r: %1)").arg(said));
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
    if (ready != EXIT_OK)
        return ready;

    // Without the list of queues nothing can be known to be new: creating anything then could
    // give a device that has a queue a second one.
    QList<stPrinterInfo> before;
    if (!QueueCreator::ListAllQueues(before)) {
        Error(QStringLiteral("cannot list the CUPS queues: no queue created"));
        return EXIT_NO_CUPS;
    }
    QueueCreator creator(m_discover);
    creator.CheckNewPNP(m_discover(true));
    const QList<stPrinterInfo> after = QueueCreator::GetAllQueues();

    int created = 0;
    for (const stPrinterInfo& queue : after) {
        if (QueueCreator::ContainsName(before, queue.strName))
            continue;
        m_out << PROGRAM << ": created queue " << queue.strName << " for " << queue.strURI << '\n';
        ++created;
    }

    int result = EXIT_OK;
    for (const QueueCreator::stProblem& problem : creator.TakeProblems()) {
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
        if (result == EXIT_OK)
            result = EXIT_FAILED;
    }
    if (created == 0 && result == EXIT_OK)
        m_out << PROGRAM << ": no new Orvo USB printer found\n";
    return result;
}

int AddPrinterTool::SetUri(const QString& queue, const QString& uri)
{
    const int ready = CheckCanAdminister();
    if (ready != EXIT_OK)
        return ready;

    QueueCreator creator(m_discover);
    const int status = creator.ChangeNetPrinterURI(queue, uri);
    for (const QueueCreator::stProblem& problem : creator.TakeProblems())
        Error(problem.strText);
    if (status != 0)
        return ExitCodeOf(status) == EXIT_OK ? EXIT_FAILED : ExitCodeOf(status);
    m_out << PROGRAM << ": queue " << queue << " now uses " << uri << '\n';
    return EXIT_OK;
}

QString AddPrinterTool::LpinfoMessage()
{
    const QStringList said = RunAndRead("lpinfo --include-schemes \"usb\" -v > %s 2>&1", __func__);
    QStringList lines;
    for (const QString& line : said) {
        if (line.startsWith(QLatin1String("lpinfo:")))
            lines.append(line.trimmed());
    }
    return lines.join(QStringLiteral("; "));
}

void AddPrinterTool::Error(const QString& text)
{
    m_err << PROGRAM << ": " << text << '\n';
}
