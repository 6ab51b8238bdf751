// Faults the real service must live through: the scheduler going away, a cfg directory that
// cannot be written, a USB printer pulled out during a poll, a network printer that answers
// nonsense or is flooded, a queue deleted while its worker polls it. Each scenario runs its own
// service (under orvo-usb-sim, with one simulated network printer "N1" and one emulated USB
// printer "U1") and judges it by what the desktop application reads: the heartbeat, the printer
// list and the status files.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QThread>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <functional>

namespace {
const QString c_strSim = QStringLiteral(ORVO_PRINTER_SIM);
const QString c_strNetAddress = QStringLiteral("127.0.0.2");
const QString c_strSerial = QStringLiteral("FAULT00001");

// Same length for every toner value below 100: a changed reply that a size test cannot tell.
QByteArray NetReply(int toner)
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(1)
        .setStatusText("Ready")
        .addSupplyValue(0x1000, static_cast<quint64>(toner), 2)
        .build();
}
QByteArray UsbData(int toner)
{
    return NetReply(toner).mid(7);
}
QByteArray UsbFile(int toner)
{
    return QByteArray(7, '\0') + UsbData(toner);
}

QString Cfg()
{
    return TestEnv::cfgDir().chopped(1);
}
QString Dat(const QString& queue)
{
    return TestEnv::cfgDir() + queue + QStringLiteral(".dat");
}
QByteArray Content(const QString& path)
{
    bool ok = false;
    const QByteArray data = TestEnv::readFile(path, &ok);
    return ok ? data : QByteArray("<missing>");
}

int Number(const QString& answer, const QString& word)
{
    const QStringList words = answer.split(QLatin1Char(' '));
    const int at = words.indexOf(word);
    return at >= 0 && at + 1 < words.size() ? words.at(at + 1).toInt() : -1;
}

// The local ports of the UDP sockets that process `pid` has open: a network poll's socket.
QList<quint16> UdpPorts(qint64 pid)
{
    QSet<QByteArray> inodes;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char link[128] = {};
        const QByteArray path = (fdDir + "/" + fd).toLocal8Bit();
        const ssize_t n = readlink(path.constData(), link, sizeof link - 1);
        const QByteArray target(link, n > 0 ? static_cast<int>(n) : 0);
        if (target.startsWith("socket:[")) {
            inodes.insert(target.mid(8, target.size() - 9));
        }
    }
    QList<quint16> ports;
    if (inodes.isEmpty()) {
        return ports;
    }
    const QList<QByteArray> lines = TestEnv::readFile(QStringLiteral("/proc/net/udp")).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 9 && inodes.contains(f.at(9))) {
            ports << static_cast<quint16>(
                f.at(1).mid(f.at(1).indexOf(':') + 1).toUInt(nullptr, 16));
        }
    }
    return ports;
}

bool SendTo(int fd, quint16 port, const QByteArray& data)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(fd, data.constData(), static_cast<size_t>(data.size()), 0,
                  reinterpret_cast<sockaddr*>(&to), sizeof to) == data.size();
}
} // namespace

#define VERIFY_NO_STRAY_FILES()                                                                    \
    do {                                                                                           \
        const QStringList stray = StrayTemporaryFiles();                                           \
        QVERIFY2(stray.isEmpty(), qPrintable("left behind: " + stray.join(", ")));                 \
    } while (false)

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    // One service run goes through these as long as they pass; the last ones restart it.
    void badNetworkReplies_data();
    void badNetworkReplies();
    void cfgDirectoryFaults_data();
    void cfgDirectoryFaults();
    void failedListWriteRetried();
    void usbUnplugDuringPoll();
    void datagramFlood();
    void cupsdBriefOutage();
    void cupsdLongOutage_data();
    void cupsdLongOutage();
    void queueDeletedWhilePolled();
    void startWithoutCups_data();
    void startWithoutCups();
    void leftoversOfEarlierRunGo();

private:
    TestEnv m_env;
    QProcess* m_sim = nullptr;
    QProcess* m_service = nullptr;
    QString m_strSimControl;
    QString m_strUsbControl;
    QStringList m_listMounts;

    QString Sim(const QString& line) const
    {
        return TestEnv::controlRequest(m_strSimControl, line);
    }
    QString Usb(const QString& line) const
    {
        return TestEnv::controlRequest(m_strUsbControl, line);
    }
    int NetRequests() const { return Number(Sim("count"), "requests"); }
    int UsbPolls() const { return Number(Usb("count 0"), "status"); }
    QString SetNetReply(int toner) const
    {
        return Sim("set-reply-hex " + QString::fromLatin1(NetReply(toner).toHex()));
    }
    QString SetUsbReply(int toner) const
    {
        return Usb("set-reply 0 " + QString::fromLatin1(UsbData(toner).toHex()));
    }
    qint64 ServicePid() const;
    bool ServiceRunning();
    static QByteArray Heartbeat() { return TestEnv::readFile(TestEnv::cfgDir() + "service.hb"); }
    bool WaitForCycles(int n, int ms);
    bool WaitForNetPolls(int n, int ms);
    bool WaitForUsbPolls(int n, int ms);
    bool WaitForContent(const QString& path, const QByteArray& want, int ms);
    void VerifyAlive();
    static QStringList ListedNames();
    QStringList StrayTemporaryFiles();
    bool Run(const QString& program, const QStringList& args);
    void UnmountAll();
    void StartSim();
    void StartService(bool freshRoot = true);
    void StartServiceProcess();
    bool StopOrHangCupsd(bool hang);
    bool ResumeCupsd(bool hung);
    void StopService();
};

qint64 TestFaults::ServicePid() const
{
    // orvo-usb-sim runs the service as its only child.
    if (!m_service) {
        return -1;
    }
    const QByteArray kids =
        TestEnv::readFile(QStringLiteral("/proc/%1/task/%1/children").arg(m_service->processId()));
    const QList<QByteArray> pids = kids.trimmed().split(' ');
    return pids.isEmpty() ? -1 : pids.first().toLongLong();
}

bool TestFaults::ServiceRunning()
{
    QCoreApplication::processEvents();
    return m_service && m_service->state() == QProcess::Running && ServicePid() > 0;
}

bool TestFaults::WaitForCycles(int n, int ms)
{
    QByteArray last = Heartbeat();
    int seen = 0;
    return m_env.waitFor(
        [&] {
            const QByteArray now = Heartbeat();
            if (!now.isEmpty() && now != last) {
                last = now;
                ++seen;
            }
            return seen >= n;
        },
        ms, QStringLiteral("%1 device-manager cycles").arg(n));
}

bool TestFaults::WaitForNetPolls(int n, int ms)
{
    const int target = NetRequests() + n;
    return m_env.waitFor([&] { return NetRequests() >= target; }, ms,
                         QStringLiteral("%1 more network polls").arg(n));
}

bool TestFaults::WaitForUsbPolls(int n, int ms)
{
    const int target = UsbPolls() + n;
    return m_env.waitFor([&] { return UsbPolls() >= target; }, ms,
                         QStringLiteral("%1 more USB polls").arg(n));
}

bool TestFaults::WaitForContent(const QString& path, const QByteArray& want, int ms)
{
    return m_env.waitFor([&] { return Content(path) == want; }, ms,
                         QStringLiteral("%1 holding %2 (it holds %3)")
                             .arg(path, QString::fromLatin1(want.toHex()),
                                  QString::fromLatin1(Content(path).toHex())));
}

void TestFaults::VerifyAlive()
{
    QVERIFY2(ServiceRunning(), "the service has ended");
    TESTENV_VERIFY(m_env, WaitForCycles(1, 5000));
    const QByteArray stamp = Heartbeat();
    const QDateTime when =
        QDateTime::fromString(QString::fromLatin1(stamp.mid(1, 23)), "yyyy-MM-dd hh:mm:ss.zzz");
    QVERIFY2(when.isValid() && qAbs(when.msecsTo(QDateTime::currentDateTime())) < 4000,
             stamp.constData());
}

QStringList TestFaults::ListedNames()
{
    QSettings settings(TestEnv::cfgDir() + "printerlist.ini", QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    QStringList names;
    const int count = settings.value("Main/Count", -1).toInt();
    for (int i = 0; i < count; ++i) {
        names << settings.value(QStringLiteral("printer_%1/Name").arg(i)).toString();
    }
    return names;
}

QStringList TestFaults::StrayTemporaryFiles()
{
    // Tool output files live while their tool runs (a few tens of milliseconds). One that is
    // still there, unchanged, more than a second later has been left behind.
    const QRegularExpression temporary(
        QStringLiteral("^(printerlist\\.\\d+|printjob_\\d+\\.tmp|printer_\\d+\\.tmp)$"));
    auto snapshot = [&] {
        QHash<QString, QPair<quint64, qint64>> files;
        for (const QString& name : QDir(Cfg()).entryList(QDir::Files | QDir::Hidden)) {
            struct stat st
            {
            };
            if (temporary.match(name).hasMatch() &&
                stat(QFile::encodeName(Cfg() + "/" + name).constData(), &st) == 0) {
                files.insert(
                    name, {static_cast<quint64>(st.st_ino),
                           static_cast<qint64>(st.st_mtim.tv_nsec + st.st_mtime * 1000000000LL)});
            }
        }
        return files;
    };
    const auto before = snapshot();
    QThread::msleep(1200);
    const auto after = snapshot();
    QStringList stray;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.value(it.key()) == it.value()) {
            stray << it.key();
        }
    }
    return stray;
}

bool TestFaults::Run(const QString& program, const QStringList& args)
{
    const ToolResult result = m_env.runTool(program, args, 10000);
    if (!result.ok()) {
        qWarning("%s %s: %s", qPrintable(program), qPrintable(args.join(' ')),
                 qPrintable(result.describe()));
    }
    return result.ok();
}

void TestFaults::UnmountAll()
{
    while (!m_listMounts.isEmpty()) {
        const QString target = m_listMounts.takeLast();
        // A tool may have its output file open in it for a moment.
        if (!m_env.waitFor(
                [&] {
                    return m_env.runTool("umount", {"-n", target}).ok();
                },
                3000, "unmounting " + target)) {
            Run("umount", {"-n", "-l", target});
        }
    }
}

void TestFaults::initTestCase()
{
    StartSim();
}

void TestFaults::StartSim()
{
    m_strSimControl = TestEnv::controlDir() + "/faults-net.ctl";
    m_strUsbControl = TestEnv::controlDir() + "/faults-usb.ctl";
    const QString ready = TestEnv::controlDir() + "/faults-net.ready";
    QFile::remove(ready);
    m_sim = m_env.startProcess("python3",
                               {c_strSim, "serve", "--address", c_strNetAddress, "--tcp-port", "-1",
                                "--reply-hex", QString::fromLatin1(NetReply(40).toHex()),
                                "--control", m_strSimControl, "--ready", ready});
    TESTENV_VERIFY(m_env, m_sim);
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return QFileInfo::exists(ready); }, 10000,
                                        "the network printer simulator"));
}

void TestFaults::StartService(bool freshRoot)
{
    for (const char* name : {"N1", "U1", "Z1"}) {
        m_env.removeQueue(QString::fromLatin1(name));
    }
    if (freshRoot) {
        QDir(TestEnv::installRoot()).removeRecursively();
    }
    TESTENV_VERIFY(m_env, m_env.addQueue("N1", "socket://" + c_strNetAddress + ":9100/?snmp=false",
                                         "Orvo Q7020DN"));
    TESTENV_VERIFY(
        m_env, m_env.addQueue("U1", "usb://Orvo/Q7020DN?serial=" + c_strSerial, "Orvo Q7020DN"));
    StartServiceProcess();
}

void TestFaults::StartServiceProcess()
{
    QStringList args{"--control", m_strUsbControl,
                     "--device",  "Q7020DN:" + c_strSerial,
                     "--reply",   QString::fromLatin1(UsbData(40).toHex())};
    m_service = m_env.startServiceUnderUsbSim(QStringLiteral(ORVO_USB_SIM), args);
    TESTENV_VERIFY(m_env, m_service);
}

void TestFaults::StopService()
{
    if (m_service) {
        m_env.stopProcess(m_service);
    }
    m_service = nullptr;
}

void TestFaults::init()
{
    if (!m_env.cupsdRunning()) {
        TESTENV_VERIFY(m_env, m_env.startCupsd());
    }
    if (!m_sim) {
        StartSim();
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QCOMPARE(Sim("answer"), QStringLiteral("ok"));
    QCOMPARE(Sim("delay 0"), QStringLiteral("ok"));
    QCOMPARE(SetNetReply(40), QStringLiteral("ok"));
    if (!ServiceRunning() || ListedNames() != QStringList({"N1", "U1"})) {
        StopService();
        StartService();
    } else {
        QCOMPARE(Usb("plug 0"), QStringLiteral("ok"));
        QCOMPARE(Usb("mode 0 normal"), QStringLiteral("ok"));
        QCOMPARE(SetUsbReply(40), QStringLiteral("ok"));
    }
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(40), 20000));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(40), 20000));
    // A new worker's first iteration runs at the pace of an unreachable printer (its shared
    // entry has no status until the first write-back), as does one after a printer was given
    // up: the scenarios start at the regular pace.
    TESTENV_VERIFY(m_env, WaitForNetPolls(1, 15000));
}

bool TestFaults::StopOrHangCupsd(bool hang)
{
    return hang ? m_env.signalCupsd(SIGSTOP) : m_env.stopCupsd();
}

bool TestFaults::ResumeCupsd(bool hung)
{
    return hung ? m_env.signalCupsd(SIGCONT) : m_env.startCupsd();
}

void TestFaults::cleanup()
{
    // A scenario that failed while the scheduler hung leaves it stopped.
    m_env.signalCupsd(SIGCONT);
    UnmountAll();
    // After a failure the next scenario starts from a fresh service.
    if (QTest::currentTestFailed()) {
        StopService();
    }
    if (!m_env.cupsdRunning()) {
        m_env.startCupsd();
    }
}

void TestFaults::cleanupTestCase()
{
    StopService();
    for (const char* name : {"N1", "U1"}) {
        m_env.removeQueue(QString::fromLatin1(name));
    }
}

void TestFaults::cupsdBriefOutage()
{
    const QByteArray list = TestEnv::readFile(TestEnv::cfgDir() + "printerlist.ini");
    QCOMPARE(ListedNames(), QStringList({"N1", "U1"}));

    TESTENV_VERIFY(m_env, m_env.stopCupsd());
    // Two cycles find no scheduler (about two seconds); four in a row would end the service.
    TESTENV_VERIFY(m_env, WaitForCycles(2, 8000));
    QVERIFY(ServiceRunning());
    // The workers do not need the scheduler to poll: the published state stays.
    QCOMPARE(Content(Dat("N1")), NetReply(40));
    QCOMPARE(Content(Dat("U1")), UsbFile(40));
    TESTENV_VERIFY(m_env, m_env.startCupsd());

    // Beyond the point where a fourth empty cycle would have ended it.
    TESTENV_VERIFY(m_env, WaitForCycles(3, 10000));
    VerifyAlive();
    QCOMPARE(TestEnv::readFile(TestEnv::cfgDir() + "printerlist.ini"), list);
    QCOMPARE(SetNetReply(41), QStringLiteral("ok"));
    QCOMPARE(SetUsbReply(42), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(41), 6000));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(42), 6000));
    VERIFY_NO_STRAY_FILES();
}

void TestFaults::cupsdLongOutage_data()
{
    QTest::addColumn<bool>("hung");
    QTest::newRow("cupsd stopped") << false;
    QTest::newRow("cupsd hangs") << true;
}

void TestFaults::cupsdLongOutage()
{
    // Longer than four cycles without an answer from CUPS. Counted as cycles without printers,
    // that ended the service for good: after a hang cups.service never starts again, and with
    // it neither does the service.
    QFETCH(bool, hung);
    const QByteArray list = TestEnv::readFile(TestEnv::cfgDir() + "printerlist.ini");
    QElapsedTimer outage;
    outage.start();
    TESTENV_VERIFY(m_env, StopOrHangCupsd(hung));
    // The printers are watched at their pace all along: a network printer's change is
    // published within a poll or two (a worker's first question may wait out its timeout),
    // the USB printer is polled every 1.5 s.
    QCOMPARE(SetNetReply(41), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(41), 4000));
    TESTENV_VERIFY(m_env, WaitForUsbPolls(3, 7000));
    QCOMPARE(SetNetReply(42), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(42), 2500));
    QVERIFY2(TestEnv::holdsFor([&] { return ServiceRunning(); },
                               static_cast<int>(qMax<qint64>(0, 18000 - outage.elapsed()))),
             "the service ended while CUPS did not answer");
    TESTENV_VERIFY(m_env, WaitForCycles(1, 6000));
    QCOMPARE(TestEnv::readFile(TestEnv::cfgDir() + "printerlist.ini"), list);

    // Within a cycle of CUPS answering, discovery follows the queues again.
    TESTENV_VERIFY(m_env, ResumeCupsd(hung));
    TESTENV_VERIFY(m_env,
                   m_env.addQueue("Z1", "socket://127.0.0.3:9100/?snmp=false", "Orvo Q7020DN"));
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return ListedNames() == QStringList({"N1", "U1", "Z1"});
                              },
                              6000, "the new queue listed"));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Z1"));
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return ListedNames() == QStringList({"N1", "U1"});
                              },
                              6000, "the printer list without Z1"));
    VerifyAlive();
}

void TestFaults::startWithoutCups_data()
{
    QTest::addColumn<bool>("hung");
    QTest::newRow("cupsd stopped") << false;
    QTest::newRow("cupsd hangs") << true;
}

void TestFaults::startWithoutCups()
{
    // A start while CUPS gives no list, over the files of a run that ended an hour ago: the
    // list it could not get is not published (it once wrote Count=0 and ended), and nothing
    // makes the last run's files look current.
    QFETCH(bool, hung);
    StopService();
    const QString listPath = TestEnv::cfgDir() + "printerlist.ini";
    const QByteArray list = TestEnv::readFile(listPath);
    QCOMPARE(ListedNames(), QStringList({"N1", "U1"}));
    const QByteArray beat = QDateTime::currentDateTime()
                                .addSecs(-3600)
                                .toString("[yyyy-MM-dd hh:mm:ss.zzz]")
                                .toLatin1();
    TESTENV_VERIFY(m_env, m_env.writeFile(TestEnv::cfgDir() + "service.hb", beat));
    TESTENV_VERIFY(m_env, StopOrHangCupsd(hung));
    StartServiceProcess();
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return ServiceRunning(); }, 5000, "the service"));
    QVERIFY2(TestEnv::holdsFor(
                 [&] {
                     return ServiceRunning() && TestEnv::readFile(listPath) == list &&
                            Heartbeat() == beat;
                 },
                 7000),
             "published without a list from CUPS: " + Heartbeat() + " " + list);
    // What the desktop's readers make of it: the service is not running, its printers' state
    // unknown; never "none listed" with all fine.
    const ToolResult status = m_env.runTool(QStringLiteral(ORVO_STATUS_BIN), {});
    QVERIFY2(status.exitCode == 3 && !status.out().contains("none listed") &&
                 status.out().contains("N1: unknown") && status.out().contains("U1: unknown"),
             qPrintable(status.describe()));

    // Within a cycle of CUPS answering, the service publishes.
    TESTENV_VERIFY(m_env, ResumeCupsd(hung));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return Heartbeat() != beat; }, 6000,
                                        "a heartbeat once CUPS answers"));
    QCOMPARE(ListedNames(), QStringList({"N1", "U1"}));
    QCOMPARE(SetUsbReply(47), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(47), 6000));
    const ToolResult after = m_env.runTool(QStringLiteral(ORVO_STATUS_BIN), {});
    QVERIFY2(after.ok(), qPrintable(after.describe()));
}

void TestFaults::cfgDirectoryFaults_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("read-only") << false;
    QTest::newRow("disk full") << true;
}

void TestFaults::cfgDirectoryFaults()
{
    QFETCH(bool, diskFull);
    // Right after a cycle has listed the queues, so the fault starts with the next cycle.
    TESTENV_VERIFY(m_env, WaitForCycles(1, 5000));
    TESTENV_VERIFY(
        m_env, m_env.waitFor(
                   [] { return QDir(Cfg()).entryList({"printerlist.2*"}, QDir::Files).isEmpty(); },
                   2000, "the cycle's lpstat -v done"));
    if (diskFull) {
        TESTENV_VERIFY(m_env, Run("mount", {"-n", "-t", "tmpfs", "-o", "size=64k,mode=755",
                                            "orvo-full", Cfg()}));
        m_listMounts << Cfg();
        QFile filler(Cfg() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
    } else {
        TESTENV_VERIFY(m_env, Run("mount", {"-n", "--bind", Cfg(), Cfg()}));
        m_listMounts << Cfg();
        // "Busy" while a tool has its output file open for writing there.
        TESTENV_VERIFY(
            m_env,
            m_env.waitFor(
                [&] {
                    return m_env.runTool("mount", {"-n", "-o", "remount,bind,ro", Cfg()}).ok();
                },
                3000, "the cfg directory read-only"));
    }
    // Replies that differ from the published ones by a byte: the same size.
    QCOMPARE(SetNetReply(41), QStringLiteral("ok"));
    QCOMPARE(SetUsbReply(41), QStringLiteral("ok"));
    // Each printer answered the new reply at least once and the answer was handled.
    TESTENV_VERIFY(m_env, WaitForNetPolls(2, 5000));
    TESTENV_VERIFY(m_env, WaitForUsbPolls(2, 5000));
    QVERIFY2(ServiceRunning(), "the service ended while its cfg directory could not be written");
    // Longer than four empty cycles: a cfg directory that cannot be written says nothing about
    // the printers and must never make discovery find none.
    QVERIFY2(!m_env.waitFor([&] { return !ServiceRunning(); }, 7000, "the service ending"),
             "the service ended while its cfg directory could not be written");

    if (diskFull) {
        QVERIFY(QFile::remove(Cfg() + "/filler"));
    } else {
        UnmountAll();
    }

    VerifyAlive();
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return ListedNames() == QStringList({"N1", "U1"});
                              },
                              5000, "the printer list file back"));
    // The same reply as during the fault: it was never published, so it is written now.
    TESTENV_VERIFY(m_env, WaitForNetPolls(2, 6000));
    TESTENV_VERIFY(m_env, WaitForUsbPolls(2, 6000));
    QVERIFY2(ServiceRunning(), "the service has ended");
    QVERIFY2(Content(Dat("U1")) == UsbFile(41),
             "the USB reply that could not be written was remembered as written: " +
                 Content(Dat("U1")).toHex());
    QVERIFY2(Content(Dat("N1")) == NetReply(41),
             "the network reply that could not be written was remembered as written: " +
                 Content(Dat("N1")).toHex());
    // And the files follow the printers again.
    QCOMPARE(SetNetReply(42), QStringLiteral("ok"));
    QCOMPARE(SetUsbReply(42), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(42), 6000));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(42), 6000));
    // A tool's output file written just before the fault could not be removed during it; it
    // must not stay once the directory is writable again (reports are swept once they are
    // older than any discovery takes).
    TESTENV_VERIFY(m_env, m_env.waitFor([this] { return StrayTemporaryFiles().isEmpty(); }, 20000,
                                        "no tool output file left in the cfg directory"));
}

void TestFaults::failedListWriteRetried()
{
    // A printer is added while the list file cannot be replaced (a read-only file mounted over
    // it): the unchanged cycles after the failed write must not take the old file as current.
    // Z1 comes last in the list, so N1's and U1's workers keep their printers.
    const QString list = TestEnv::cfgDir() + "printerlist.ini";
    TESTENV_VERIFY(m_env, Run("mount", {"-n", "--bind", list, list}));
    m_listMounts << list;
    TESTENV_VERIFY(m_env, Run("mount", {"-n", "-o", "remount,bind,ro", list}));
    TESTENV_VERIFY(m_env,
                   m_env.addQueue("Z1", "socket://127.0.0.3:9100/?snmp=false", "Orvo Q7020DN"));
    TESTENV_VERIFY(m_env, WaitForCycles(2, 10000));
    QCOMPARE(ListedNames(), QStringList({"N1", "U1"}));
    UnmountAll();
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return ListedNames() == QStringList({"N1", "U1", "Z1"});
                              },
                              5000, "the printer list written once it can be"));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Z1"));
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return ListedNames() == QStringList({"N1", "U1"});
                              },
                              8000, "the printer list without Z1"));
}

void TestFaults::usbUnplugDuringPoll()
{
    auto fds = [&] {
        // Descriptors come and go with every tool run and poll: the fewest over a second.
        int fewest = INT_MAX;
        for (int i = 0; i < 20; ++i) {
            fewest = qMin(fewest, QDir(QStringLiteral("/proc/%1/fd").arg(ServicePid()))
                                      .entryList(QDir::System | QDir::NoDotAndDotDot)
                                      .size());
            QThread::msleep(50);
        }
        return fewest;
    };
    const int fdsBefore = fds();

    // The printer stops answering; the next status request hangs in the transfer ...
    QCOMPARE(Usb("mode 0 timeout"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForUsbPolls(1, 5000));
    // ... and the printer is pulled out while the service waits for the answer.
    QCOMPARE(Usb("unplug 0"), QStringLiteral("ok"));
    QCOMPARE(Usb("mode 0 normal"), QStringLiteral("ok"));

    // The next poll cannot open it: unreachable, its status file goes.
    TESTENV_VERIFY(m_env, m_env.waitFor([] { return !QFileInfo::exists(Dat("U1")); }, 10000,
                                        "U1.dat removed"));
    QVERIFY(ServiceRunning());
    QCOMPARE(Content(Dat("N1")), NetReply(40));

    QCOMPARE(Usb("plug 0"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(40), 8000));
    QCOMPARE(SetUsbReply(43), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(43), 6000));
    VerifyAlive();
    const int fdsAfter = fds();
    QVERIFY2(
        fdsAfter <= fdsBefore,
        qPrintable(QStringLiteral("descriptors %1 before, %2 after").arg(fdsBefore).arg(fdsAfter)));
}

void TestFaults::badNetworkReplies_data()
{
    QTest::addColumn<QString>("mode");
    // What the status file holds while the printer answers so: a reply longer than 7 bytes is
    // published as it came (even when it does not decode); 7 bytes or fewer are no reply.
    QTest::addColumn<QByteArray>("published");
    QTest::addColumn<int>("publishedSize");

    const QByteArray good = NetReply(40);
    QTest::newRow("garbage") << "garbage 300" << QByteArray() << 300;
    QTest::newRow("garbage of 5 bytes") << "garbage 5" << good << good.size();
    QTest::newRow("truncated to 20") << "truncate 20" << good.left(20) << 20;
    QTest::newRow("truncated to 8") << "truncate 8" << good.left(8) << 8;
    QTest::newRow("truncated to 7") << "truncate 7" << good << good.size();
    QTest::newRow("4000 bytes") << "long" << QByteArray() << 2048;
}

void TestFaults::badNetworkReplies()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, published);
    QFETCH(int, publishedSize);

    QCOMPARE(Sim(mode), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForNetPolls(2, 6000));
    QVERIFY(ServiceRunning());
    if (!published.isEmpty()) {
        QCOMPARE(Content(Dat("N1")).toHex(), published.toHex());
    } else {
        TESTENV_VERIFY(m_env,
                       m_env.waitFor([&] { return Content(Dat("N1")).size() == publishedSize; },
                                     3000, "the odd reply published"));
    }
    if (mode == "long") {
        QVERIFY(Content(Dat("N1")).startsWith(NetReply(40)));
    }
    // The USB printer does not notice.
    QCOMPARE(Content(Dat("U1")), UsbFile(40));

    // Fewer than six failures in a row: the printer is not given up, and the first good
    // reply is published at the regular pace.
    QCOMPARE(Sim("answer"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(40), 5000));
    VerifyAlive();
}

namespace {
// Sends random datagrams, 1000 a second, at every UDP socket the service has open: a poll's
// socket takes the first datagram that arrives, whoever sent it.
class Flood : public QThread
{
public:
    explicit Flood(qint64 pid) : m_pid(pid) {}
    std::atomic<int> iSent{0};
    std::atomic<int> iHit{0};

protected:
    void run() override
    {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        QElapsedTimer timer;
        timer.start();
        QRandomGenerator* random = QRandomGenerator::global();
        QList<quint16> ports;
        qint64 refreshed = -100;
        for (int i = 0; timer.elapsed() < 10000; ++i) {
            if (timer.elapsed() - refreshed >= 20) {
                ports = UdpPorts(m_pid);
                refreshed = timer.elapsed();
            }
            QByteArray data(static_cast<int>(random->bounded(1, 2049)), '\0');
            for (char& c : data) {
                c = static_cast<char>(random->bounded(256));
            }
            // Now and then something that looks like a reply's start.
            if (i % 7 == 0 && data.size() > 3) {
                data.replace(0, 3, QByteArray::fromHex("a50030"));
            }
            ++iSent;
            for (quint16 port : ports) {
                if (SendTo(fd, port, data)) {
                    ++iHit;
                }
            }
            // 1000 a second: the next datagram's due time.
            const qint64 due = i + 1;
            if (timer.elapsed() < due) {
                QThread::usleep(static_cast<unsigned long>((due - timer.elapsed()) * 1000));
            }
        }
        close(fd);
    }

private:
    qint64 m_pid;
};
} // namespace

void TestFaults::datagramFlood()
{
    const qint64 pid = ServicePid();
    QVERIFY(pid > 0);
    // The printer answers late, so each poll's socket is open long enough to be hit often.
    QCOMPARE(Sim("delay 500"), QStringLiteral("ok"));
    // The printer's port is flooded too.
    QProcess* printerFlood =
        m_env.startProcess("python3", {c_strSim, "flood", "--target", c_strNetAddress, "--rate",
                                       "1000", "--duration", "10"});
    TESTENV_VERIFY(m_env, printerFlood);
    Flood flood(pid);
    flood.start();
    while (!flood.wait(200)) {
        QVERIFY2(ServiceRunning(), "the service ended under the flood");
        // The USB printer does not notice.
        QCOMPARE(Content(Dat("U1")), UsbFile(40));
    }
    m_env.stopProcess(printerFlood);
    QCOMPARE(Sim("delay 0"), QStringLiteral("ok"));
    qInfo("flood: %d datagrams, %d of them reached a poll's socket", flood.iSent.load(),
          flood.iHit.load());
    QVERIFY2(flood.iHit.load() > 0, "no poll socket was ever reached");

    VerifyAlive();
    // Ten seconds of nonsense may have made the printer count as unreachable (then it is asked
    // every ten seconds): the real reply is back within one such round, and the regular pace
    // with the round after it.
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(40), 15000));
    TESTENV_VERIFY(m_env, WaitForNetPolls(1, 15000));
    QCOMPARE(SetNetReply(44), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("N1"), NetReply(44), 5000));
    VERIFY_NO_STRAY_FILES();
}

void TestFaults::queueDeletedWhilePolled()
{
    // The test answers N1's polls itself, from the printer's address and port in the simulator's
    // place, so that it can hold one answer back: N1's queue is deleted while that poll waits,
    // the device manager's next cycle takes N1 out of the list and removes N1.dat, and only then
    // does the answer arrive. The worker must not publish a status file for a printer that has
    // left the list.
    m_env.stopProcess(m_sim);
    m_sim = nullptr;
    const qint64 pid = ServicePid();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    sockaddr_in printer{};
    printer.sin_family = AF_INET;
    printer.sin_port = htons(9300);
    inet_pton(AF_INET, qPrintable(c_strNetAddress), &printer.sin_addr);
    QVERIFY(bind(fd, reinterpret_cast<sockaddr*>(&printer), sizeof printer) == 0);
    QList<quint16> answered;
    bool deleted = false;
    QElapsedTimer sinceCycle;
    QByteArray heartbeat = Heartbeat();
    sinceCycle.start();
    QElapsedTimer overall;
    overall.start();
    while (!deleted && overall.elapsed() < 30000) {
        const QByteArray now = Heartbeat();
        if (!now.isEmpty() && now != heartbeat) {
            heartbeat = now;
            sinceCycle.restart();
        }
        for (quint16 port : UdpPorts(pid)) {
            if (answered.contains(port)) {
                continue;
            }
            answered << port;
            // A poll that began 1.4 to 2.4 s into the 3 s between two cycles: delete the queue
            // now, before the next cycle lists the queues, and answer after it.
            const qint64 phase = sinceCycle.elapsed();
            if (phase >= 1400 && phase <= 2400) {
                QElapsedTimer poll;
                poll.start();
                TESTENV_VERIFY(m_env, m_env.removeQueue("N1"));
                // The next cycle removes N1.dat; the poll's 2 s time-out is not yet over.
                const bool removed =
                    m_env.waitFor([] { return !QFileInfo::exists(Dat("N1")); },
                                  1900 - poll.elapsed(), "N1.dat removed by the device manager");
                if (removed) {
                    SendTo(fd, port, NetReply(45));
                } else {
                    qWarning("the device manager did not clean up within the poll; retrying");
                }
                deleted = true;
                break;
            }
            SendTo(fd, port, NetReply(40));
        }
        QThread::msleep(2);
    }
    close(fd);
    QVERIFY2(deleted, "no poll fell into the right phase of the device manager's cycle");

    // The list and the files follow the deletion and stay that way.
    TESTENV_VERIFY(m_env, m_env.waitFor([] { return ListedNames() == QStringList({"U1"}); }, 8000,
                                        "the printer list without N1"));
    TESTENV_VERIFY(m_env, WaitForCycles(2, 8000));
    QVERIFY2(TestEnv::holdsFor([] { return !QFileInfo::exists(Dat("N1")); }, 3000),
             "a status file for the deleted queue N1: " + Content(Dat("N1")).toHex());
    // The USB printer, now at the deleted queue's position, is watched on.
    QVERIFY(ServiceRunning());
    QCOMPARE(SetUsbReply(46), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForContent(Dat("U1"), UsbFile(46), 6000));
    VERIFY_NO_STRAY_FILES();
}

void TestFaults::leftoversOfEarlierRunGo()
{
    // Stopped in the middle of its work, the service leaves no answer file of its own behind.
    StopService();
    const QRegularExpression answerFile(
        QStringLiteral("^(printerlist\\.\\d+|printjob_\\d+\\.tmp|printer_\\d+\\.tmp)$"));
    QCOMPARE(QDir(Cfg()).entryList(QDir::Files).filter(answerFile), QStringList());
    // What earlier versions left (a tool's output file for every worker that was inside a
    // tool run, a discovery report) goes at the next start; other files stay.
    const QStringList left{"printjob_0.tmp", "printjob_37.tmp", "printer_5.tmp",
                           "printerlist.20261208120000"};
    for (const QString& name : left + QStringList{"printjob_x.tmp"}) {
        TESTENV_VERIFY(m_env, m_env.writeFile(Cfg() + "/" + name, "lpstat output\n"));
    }
    QVERIFY(QFile::remove(Cfg() + "/service.hb"));
    StartService(false);
    TESTENV_VERIFY(m_env, m_env.waitFor([] { return QFileInfo::exists(Cfg() + "/service.hb"); },
                                        10000, "the first cycle of the new run"));
    QCOMPARE(QDir(Cfg()).entryList(QDir::Files).filter(answerFile), QStringList());
    QVERIFY(QFileInfo::exists(Cfg() + "/printjob_x.tmp"));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
