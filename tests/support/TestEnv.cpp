#include "tests/support/TestEnv.h"

#include "tests/support/PrintJobs.h"
#include "tests/support/ToolRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

TestEnv::TestEnv()
{
    QString why;
    if (!inTestEnv(&why)) {
        qFatal("This test must run inside scripts/testenv/orvo-testenv: %s", qPrintable(why));
    }
}

TestEnv::~TestEnv() = default;

bool TestEnv::inTestEnv(QString* why)
{
    const auto no = [why](const QString& reason) {
        if (why) {
            *why = reason;
        }
        return false;
    };
    const QString dir = qEnvironmentVariable("ORVO_TESTENV_DIR");
    if (dir.isEmpty()) {
        return no(QStringLiteral("ORVO_TESTENV_DIR is not set"));
    }
    if (!QFileInfo::exists(dir + QStringLiteral("/testenv.id"))) {
        return no(QStringLiteral("%1/testenv.id is missing").arg(dir));
    }
    if (!readFile(QStringLiteral("/etc/cups/.orvo-testenv")).startsWith("orvo-testenv ")) {
        return no(QStringLiteral("/etc/cups is not the private one of orvo-testenv"));
    }
    if (!readFile(QStringLiteral("/proc/1/cmdline")).contains("orvo-testenv")) {
        return no(QStringLiteral("not in the PID namespace of orvo-testenv"));
    }
    if (qEnvironmentVariable("CUPS_SERVER") != QLatin1String("/run/cups/cups.sock")) {
        return no(QStringLiteral("CUPS_SERVER is not the private socket"));
    }
    return true;
}

QString TestEnv::installRoot()
{
    return QStringLiteral("/opt/orvo/q70_series_printer");
}

QString TestEnv::cfgDir()
{
    return installRoot() + QStringLiteral("/cfg/");
}

QString TestEnv::tempDir()
{
    return installRoot() + QStringLiteral("/temp/");
}

QString TestEnv::logDir()
{
    return installRoot() + QStringLiteral("/log/");
}

QString TestEnv::controlDir()
{
    return qEnvironmentVariable("ORVO_TESTENV_DIR", QStringLiteral("/run/orvo-testenv"));
}

QString TestEnv::scriptsDir()
{
    return qEnvironmentVariable("ORVO_TESTENV_SCRIPTS", QStringLiteral(ORVO_TESTENV_SCRIPTS));
}

QString TestEnv::serviceBinary()
{
    return QStringLiteral(ORVO_BINARY_DIR "/daemon/orvo-statusd");
}

QStringList TestEnv::modelKeys()
{
    QStringList keys;
    const QString text = QString::fromUtf8(readFile(scriptsDir() + QStringLiteral("/model-keys")));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString key = line.trimmed();
        if (!key.isEmpty() && !key.startsWith(QLatin1Char('#'))) {
            keys.append(key);
        }
    }
    return keys;
}

bool TestEnv::fail(const QString& message)
{
    m_lastError = message;
    return false;
}

bool TestEnv::runLib(const QString& function, const QStringList& args)
{
    // Values travel as positional parameters, so queue names need no quoting.
    QStringList bashArgs{QStringLiteral("-c"), QStringLiteral(". \"$0\" && \"$@\""),
                         scriptsDir() + QStringLiteral("/lib.sh"), function};
    bashArgs += args;
    const ToolResult result = ToolRunner::run(QStringLiteral("/bin/bash"), bashArgs);
    if (!result.ok()) {
        return fail(QStringLiteral("%1 %2: %3")
                        .arg(function, args.join(QLatin1Char(' ')), result.describe()));
    }
    return true;
}

bool TestEnv::addQueue(const QString& name, const QString& uri, const QString& modelName)
{
    return runLib(QStringLiteral("testenv_add_queue"), {name, uri, modelName});
}

bool TestEnv::addQueueWithDriver(const QString& name, const QString& uri, const QString& modelKey)
{
    return runLib(
        QStringLiteral("testenv_add_queue"),
        {name, uri, QStringLiteral("--driver"), QStringLiteral("Orvo/Orvo_%1.ppd").arg(modelKey)});
}

bool TestEnv::addQueueWithPpd(const QString& name, const QString& uri, const QString& ppdPath)
{
    return runLib(QStringLiteral("testenv_add_queue"),
                  {name, uri, QStringLiteral("--ppd"), ppdPath});
}

bool TestEnv::addRawQueue(const QString& name, const QString& uri)
{
    return runLib(QStringLiteral("testenv_add_queue"), {name, uri, QStringLiteral("--raw")});
}

bool TestEnv::removeQueue(const QString& name)
{
    return runLib(QStringLiteral("testenv_remove_queue"), {name});
}

bool TestEnv::setQueueUri(const QString& name, const QString& uri)
{
    return runLib(QStringLiteral("testenv_lpadmin"),
                  {QStringLiteral("-p"), name, QStringLiteral("-v"), uri});
}

bool TestEnv::writeControlFile(const QString& name, const QByteArray& data)
{
    // Written whole and renamed into place: the backend never reads half a file.
    QSaveFile file(controlDir() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (!file.commit()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    }
    return true;
}

bool TestEnv::setUsbDevices(const QStringList& uris)
{
    QByteArray text;
    for (const QString& uri : uris) {
        text += uri.toUtf8() + '\n';
    }
    return writeControlFile(QStringLiteral("usb-devices"), text);
}

bool TestEnv::releaseUsbJobs(int exitStatus)
{
    return writeControlFile(QStringLiteral("usb-release"), QByteArray::number(exitStatus) + '\n');
}

bool TestEnv::holdUsbJobs()
{
    const QString path = controlDir() + QStringLiteral("/usb-release");
    if (QFile::exists(path) && !QFile::remove(path)) {
        return fail(QStringLiteral("cannot remove %1").arg(path));
    }
    return true;
}

bool TestEnv::setUsbState(const QStringList& lines)
{
    QByteArray text;
    for (const QString& line : lines) {
        text += line.toUtf8() + '\n';
    }
    return writeControlFile(QStringLiteral("usb-state"), text);
}

QStringList TestEnv::usbJobLog() const
{
    const QString text =
        QString::fromUtf8(readFile(controlDir() + QStringLiteral("/usb-jobs.log")));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool TestEnv::startCupsd()
{
    return runLib(QStringLiteral("testenv_cupsd_start"), {});
}

bool TestEnv::stopCupsd()
{
    return runLib(QStringLiteral("testenv_cupsd_stop"), {});
}

bool TestEnv::signalCupsd(int signal)
{
    const pid_t pid = readFile(controlDir() + QStringLiteral("/cupsd.pid")).trimmed().toInt();
    if (pid <= 1) {
        return fail(QStringLiteral("no private cupsd was started"));
    }
    if (::kill(pid, signal) != 0) {
        return fail(
            QStringLiteral("cannot signal cupsd (pid %1): %2").arg(pid).arg(strerror(errno)));
    }
    return true;
}

bool TestEnv::cupsdRunning() const
{
    const ToolResult result = runTool(QStringLiteral("lpstat"), {QStringLiteral("-r")});
    return result.ok() && result.out().trimmed() == QLatin1String("scheduler is running");
}

ToolResult TestEnv::runTool(const QString& program, const QStringList& args, int timeoutMs) const
{
    return ToolRunner::run(program, args, timeoutMs);
}

bool TestEnv::waitFor(const std::function<bool()>& condition, int timeoutMs, const QString& what)
{
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (condition()) {
            return true;
        }
        if (timer.elapsed() >= timeoutMs) {
            return fail(
                QStringLiteral("timed out after %1 ms waiting for: %2").arg(timeoutMs).arg(what));
        }
        // Lets queued signals of started processes arrive while the test waits.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(10);
    }
}

QProcess* TestEnv::startProcess(const QString& program, const QStringList& args,
                                const QStringList& extraEnv, bool captureOutput)
{
    QString error;
    QProcess* process = m_children.start(program, args, extraEnv, captureOutput, &error);
    if (!process) {
        fail(error);
    }
    return process;
}

int TestEnv::stopProcess(QProcess* process, int graceMs)
{
    return m_children.stop(process, graceMs);
}

QByteArray TestEnv::readFile(const QString& path, bool* ok)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok) {
        *ok = opened;
    }
    return opened ? file.readAll() : QByteArray();
}

bool TestEnv::fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

bool TestEnv::writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(data) != data.size()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
    return true;
}

QString TestEnv::submitRawJob(const QString& queue, const QByteArray& data)
{
    QString error;
    const QString id = PrintJobs::submitRaw(queue, data, &error);
    if (id.isEmpty()) {
        fail(error);
    }
    return id;
}

bool TestEnv::cancelJob(const QString& jobId)
{
    const ToolResult result = PrintJobs::cancel(jobId);
    return result.ok() || fail(QStringLiteral("cancel %1: %2").arg(jobId, result.describe()));
}

bool TestEnv::cancelAllJobs(const QString& queue)
{
    const ToolResult result = PrintJobs::cancelAll(queue);
    return result.ok() || fail(QStringLiteral("cancel -a %1: %2").arg(queue, result.describe()));
}

QStringList TestEnv::jobIds(const QString& queue, const QString& which) const
{
    return PrintJobs::jobIds(queue, which);
}

QString TestEnv::printerLine(const QString& queue) const
{
    return PrintJobs::printerLine(queue);
}

bool TestEnv::isPrinting(const QString& queue) const
{
    return printerLine(queue).contains(QLatin1String(" now printing "));
}

bool TestEnv::holdsFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (!condition()) {
            return false;
        }
        QThread::msleep(50);
    }
    return condition();
}

bool TestEnv::waitForJobAlert(const QString& queue, const QString& job, const QString& alert,
                              int timeoutMs)
{
    return waitFor(
        [&] {
            const QString text = runTool("lpstat", {"-W", "all", "-l", "-o", queue}).out();
            const int at = text.indexOf(job + QLatin1Char(' '));
            return at >= 0 && text.mid(at).section(QLatin1Char('\n'), 1, 3).contains(alert);
        },
        timeoutMs, QStringLiteral("%1 showing %2").arg(job, alert));
}

QString TestEnv::controlRequest(const QString& socketPath, const QString& line)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return QStringLiteral("error: socket");
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, socketPath.toLocal8Bit().constData(), sizeof addr.sun_path);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const QByteArray out = line.toUtf8() + '\n';
        if (write(fd, out.constData(), static_cast<size_t>(out.size())) == out.size()) {
            char buf[512];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) {
                answer.append(buf, static_cast<int>(n));
            }
        }
    }
    close(fd);
    return answer.isEmpty() ? QStringLiteral("error: no answer")
                            : QString::fromUtf8(answer).trimmed();
}

bool TestEnv::serviceLogOn()
{
    return !QDir(logDir()).entryList({QStringLiteral("log_srv*.log")}, QDir::Files).isEmpty();
}

int TestEnv::serviceLogCount(const QString& message)
{
    int count = 0;
    const QDir dir(logDir());
    for (const QString& name : dir.entryList({QStringLiteral("log_srv*.log")}, QDir::Files)) {
        count += QString::fromLocal8Bit(readFile(dir.filePath(name)))
                     .count(QStringLiteral(") ") + message + QLatin1Char('\n'));
    }
    return count;
}

QProcess* TestEnv::startServiceUnderUsbSim(const QString& usbSim, const QStringList& simArgs)
{
    QStringList env;
#if defined(__SANITIZE_ADDRESS__)
    env << QStringLiteral("ORVO_USBSIM_PRELOAD_FIRST=libumockdev-preload.so.0")
        << QStringLiteral("ASAN_OPTIONS=") + qEnvironmentVariable("ASAN_OPTIONS") +
               QStringLiteral(":verify_asan_link_order=0");
#endif
    return startProcess(usbSim, QStringList(simArgs) << QStringLiteral("--") << serviceBinary(),
                        env);
}

QString TestEnv::usbSimCtl(const QString& usbSim, const QString& control,
                           const QStringList& command) const
{
    const ToolResult result = runTool(usbSim, QStringList{"ctl", control} + command, 5000);
    return result.ok() ? result.out().trimmed() : QStringLiteral("error: ") + result.describe();
}

int TestEnv::usbSimCount(const QString& usbSim, const QString& control, const QString& what) const
{
    const QStringList words = usbSimCtl(usbSim, control, {"count", "0"}).split(QLatin1Char(' '));
    const int at = words.indexOf(what);
    return at >= 0 && at + 1 < words.size() ? words.at(at + 1).toInt() : -1;
}
