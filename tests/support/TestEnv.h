#pragma once

#include "tests/support/ChildProcesses.h"
#include "tests/support/ToolResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;

// Fails the current QtTest function with the environment's last error when `expr` is false.
#define TESTENV_VERIFY(env, expr) QVERIFY2((expr), qPrintable((env).lastError()))

// Access to the private world that scripts/testenv/orvo-testenv sets up for an end-to-end test:
// a private cupsd, the install root, the control files of the usb backend, and the processes the
// test starts. Operations that can fail return false and leave the reason in lastError(), so a
// test writes TESTENV_VERIFY(env, env.addQueue(...)).
class TestEnv
{
public:
    // Aborts the test binary when it does not run inside orvo-testenv: the helpers change CUPS
    // queues and must never reach the machine's own scheduler.
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    // True inside orvo-testenv; otherwise false with the reason in `why`.
    static bool inTestEnv(QString* why = nullptr);

    static QString installRoot(); // "/opt/orvo/q70_series_printer", without a trailing slash
    static QString cfgDir();      // with a trailing slash, like the service's own paths
    static QString tempDir();
    static QString logDir();
    static QString controlDir(); // ORVO_TESTENV_DIR: scratch space and the usb backend's controls
    static QString scriptsDir();
    static QString serviceBinary();
    static QStringList modelKeys(); // every model key for which a PPD is installed

    QString lastError() const { return m_lastError; }

    // Queues. `modelName` ("Orvo Q7020DN") gets a PPD from make-ppd, installed with -P.
    bool addQueue(const QString& name, const QString& uri, const QString& modelName);
    // Installed with "-m Orvo/Orvo_<modelKey>.ppd", the way the service creates queues.
    bool addQueueWithDriver(const QString& name, const QString& uri, const QString& modelKey);
    bool addQueueWithPpd(const QString& name, const QString& uri, const QString& ppdPath);
    bool addRawQueue(const QString& name, const QString& uri);
    bool removeQueue(const QString& name);
    bool setQueueUri(const QString& name, const QString& uri);

    // The usb backend: devices it reports to lpinfo, and the jobs it holds "printing".
    bool setUsbDevices(const QStringList& uris);
    bool releaseUsbJobs(int exitStatus = 0);
    bool holdUsbJobs();
    bool setUsbState(const QStringList& lines); // e.g. "STATE: +media-empty-error"
    QStringList usbJobLog() const;              // "START|END <job> <status> <uri>" lines

    bool startCupsd();
    bool stopCupsd();
    bool cupsdRunning() const;
    // Sends `signal` to the private cupsd: SIGSTOP makes a scheduler that takes connections
    // and never answers, SIGCONT lets it go on.
    bool signalCupsd(int signal);

    // Runs a program directly (no shell) with LC_ALL=C.
    ToolResult runTool(const QString& program, const QStringList& args,
                       int timeoutMs = 30000) const;

    // Polls `condition` in short slices until it holds or `timeoutMs` passed; on timeout
    // lastError() says what was awaited.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs, const QString& what);
    // Absence has no moment to wait for: true when `condition` holds at every look over
    // `timeoutMs` (every 50 ms), false at the first sight of what must not happen.
    static bool holdsFor(const std::function<bool()>& condition, int timeoutMs);
    // One request line to a simulator's UNIX control socket, its answer line back ("error: ..."
    // when the socket does not answer).
    static QString controlRequest(const QString& socketPath, const QString& line);
    // One "orvo-usb-sim ctl CONTROL COMMAND..." run: its answer, or "error: ..." when the
    // emulator does not answer.
    QString usbSimCtl(const QString& usbSim, const QString& control,
                      const QStringList& command) const;
    // A counter ("status", "cancel", "detach") of the emulated printer 0; -1 when the emulator
    // does not answer.
    int usbSimCount(const QString& usbSim, const QString& control, const QString& what) const;
    // The service's log, which only builds made with ORVO_LOG_AT_START write: whether there is
    // one, and how many of its lines end with `message`.
    static bool serviceLogOn();
    static int serviceLogCount(const QString& message);
    // Waits until the detail lines of `job` in "lpstat -W all -l -o queue" carry `alert`.
    bool waitForJobAlert(const QString& queue, const QString& job, const QString& alert,
                         int timeoutMs);

    // A process that outlives the call; terminated (then killed) in the destructor at the latest.
    QProcess* startProcess(const QString& program, const QStringList& args,
                           const QStringList& extraEnv = QStringList(), bool captureOutput = false);
    int stopProcess(QProcess* process, int graceMs = 5000);
    // The real service under the USB emulator `usbSim` (orvo-usb-sim) with its `simArgs`.
    // In ASan builds the emulator would put the sanitizer runtime in front of its preload and
    // every tool the service starts would inherit it (procps' ps hangs with it), so the preload
    // is kept alone and the instrumented service is told not to insist on coming first.
    QProcess* startServiceUnderUsbSim(const QString& usbSim, const QStringList& simArgs);

    static QByteArray readFile(const QString& path, bool* ok = nullptr);
    static bool fileExists(const QString& path);
    bool writeFile(const QString& path, const QByteArray& data);

    // Jobs. submitRawJob returns the job id as job lists print it ("Q-3", "B%C3%BCro-4"), or
    // an empty string.
    QString submitRawJob(const QString& queue, const QByteArray& data);
    bool cancelJob(const QString& jobId);
    bool cancelAllJobs(const QString& queue);
    QStringList jobIds(const QString& queue, const QString& which = "not-completed") const;
    QString printerLine(const QString& queue) const;
    bool isPrinting(const QString& queue) const;

private:
    bool fail(const QString& message);
    bool runLib(const QString& function, const QStringList& args);
    bool writeControlFile(const QString& name, const QByteArray& data);

    ChildProcesses m_children;
    QString m_lastError;
};
