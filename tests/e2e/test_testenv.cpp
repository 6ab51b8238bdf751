// Proves the world that orvo-testenv builds for end-to-end tests: a private scheduler with the
// maker's PPDs and a scriptable usb backend, a private install root, and a private loopback.
#include "tests/support/TestEnv.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr long TMPFS_MAGIC_NUMBER = 0x01021994;

bool onTmpfs(const QString& path)
{
    struct statfs info = {};
    return statfs(QFile::encodeName(path).constData(), &info) == 0 &&
           static_cast<long>(info.f_type) == TMPFS_MAGIC_NUMBER;
}

// A socket closed on every exit path.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

sockaddr_in loopback(const char* address, quint16 port)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, address, &addr.sin_addr);
    return addr;
}

QStringList deviceLines(const ToolResult& result)
{
    return result.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestTestEnv : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void schedulerIsPrivate();
    void installRootIsPrivateAndWritable();
    void everyModelHasItsPpd();
    void queueKinds_data();
    void queueKinds();
    void refusedQueueNames_data();
    void refusedQueueNames();
    void queueUriChanges();
    void lpinfoListsTheControlFileDevices();
    void usbJobPrintsUntilReleased_data();
    void usbJobPrintsUntilReleased();
    void usbJobEndsWhenCancelled();
    void usbStateReachesTheScheduler();
    void socketBackendIsTheRealOne();
    void extraLoopbackAddressesWork();
    void schedulerStopsAndStarts();
    void makePpdVariants_data();
    void makePpdVariants();

private:
    TestEnv m_env;
};

void TestTestEnv::initTestCase()
{
    QString why;
    QVERIFY2(TestEnv::inTestEnv(&why), qPrintable(why));
    QVERIFY2(m_env.cupsdRunning(), "the private cupsd does not answer");
}

void TestTestEnv::schedulerIsPrivate()
{
    for (const char* dir :
         {"/etc/cups", "/var/spool/cups", "/var/cache/cups", "/var/log/cups", "/run/cups"}) {
        QVERIFY2(onTmpfs(QString::fromLatin1(dir)), dir);
    }
    QVERIFY(TestEnv::readFile("/etc/cups/.orvo-testenv").startsWith("orvo-testenv "));

    const QString conf = QString::fromUtf8(TestEnv::readFile("/etc/cups/cupsd.conf"));
    const QRegularExpression listen(QStringLiteral("^\\s*(Listen|Port)\\s+(\\S+)"),
                                    QRegularExpression::MultilineOption);
    QStringList listens;
    for (auto it = listen.globalMatch(conf); it.hasNext();) {
        listens << it.next().captured(2);
    }
    QCOMPARE(listens, QStringList{QStringLiteral("/run/cups/cups.sock")});
    QVERIFY(TestEnv::readFile("/etc/cups/client.conf").contains("ServerName /run/cups/cups.sock"));
    QCOMPARE(qEnvironmentVariable("CUPS_SERVER"), QStringLiteral("/run/cups/cups.sock"));

    // Nothing answers on the TCP port of CUPS inside the private network.
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in ipp = loopback("127.0.0.1", 631);
    QCOMPARE(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&ipp), sizeof ipp), -1);

    // The only network interface is the private loopback.
    const ToolResult links = m_env.runTool(QStringLiteral("ip"), {"-o", "link", "show"});
    QVERIFY2(links.ok(), qPrintable(links.describe()));
    QCOMPARE(deviceLines(links).size(), 1);
    QVERIFY(links.out().startsWith(QStringLiteral("1: lo:")));
}

void TestTestEnv::installRootIsPrivateAndWritable()
{
    const QString root = TestEnv::installRoot();
    QVERIFY(QFileInfo(root).isDir());
    QVERIFY(onTmpfs(root));
    QVERIFY2(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty(),
             "the install root starts empty");

    QVERIFY2(m_env.writeFile(TestEnv::cfgDir() + "probe.txt", "probe"),
             qPrintable(m_env.lastError()));
    QCOMPARE(TestEnv::readFile(TestEnv::cfgDir() + "probe.txt"), QByteArray("probe"));

    // A first start finds no install root at all: it can be removed and made again.
    QVERIFY(QDir(root).removeRecursively());
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QFileInfo(root).isDir());
}

void TestTestEnv::everyModelHasItsPpd()
{
    const QStringList keys = TestEnv::modelKeys();
    QCOMPARE(keys.size(), 21);
    for (const QString& key : keys) {
        const QString path = QStringLiteral("/usr/share/cups/model/Orvo/Orvo_%1.ppd").arg(key);
        const QByteArray ppd = TestEnv::readFile(path);
        QVERIFY2(ppd.startsWith("*PPD-Adobe: \"4.3\"\n"), qPrintable(path));
        QVERIFY2(ppd.contains("\n*ModelName: \"Orvo " + key.toUtf8() + "\"\n"), qPrintable(path));
    }
}

void TestTestEnv::queueKinds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("kind"); // "model", "driver" or "raw"
    QTest::addColumn<QString>("model");

    QTest::newRow("usb, generated PPD") << "Office"
                                        << "usb://Orvo/Q7020DN?serial=123"
                                        << "model"
                                        << "Orvo Q7020DN";
    QTest::newRow("usb, maker's driver") << "Orvo-QM7068FDW"
                                         << "usb://Orvo/QM7068FDW?serial=A1"
                                         << "driver"
                                         << "QM7068FDW";
    QTest::newRow("socket without snmp") << "Net"
                                         << "socket://127.0.0.2:9100/?snmp=false"
                                         << "driver"
                                         << "Q7040DN";
    QTest::newRow("ipp, raw") << "Ipp"
                              << "ipp://127.0.0.3/ipp/print"
                              << "raw"
                              << "";
    QTest::newRow("usb, raw") << "RawUsb"
                              << "usb://Orvo/Q7020?serial=9"
                              << "raw"
                              << "";
    QTest::newRow("latin name") << "Büro"
                                << "usb://Orvo/Q7045DW?serial=5"
                                << "model"
                                << "Orvo Q7045DW";
    QTest::newRow("cjk name") << "打印机"
                              << "usb://Orvo/Q7030DN?serial=6"
                              << "model"
                              << "Orvo Q7030DN";
    // The scheduler refuses quotes and backslashes in names, but takes these.
    QTest::newRow("shell characters") << "Q;&$(x)`|<*>"
                                      << "socket://127.0.0.4"
                                      << "model"
                                      << "Orvo Q7032DW";
}

void TestTestEnv::queueKinds()
{
    QFETCH(QString, name);
    QFETCH(QString, uri);
    QFETCH(QString, kind);
    QFETCH(QString, model);

    bool added = false;
    if (kind == QLatin1String("model")) {
        added = m_env.addQueue(name, uri, model);
    } else if (kind == QLatin1String("driver")) {
        added = m_env.addQueueWithDriver(name, uri, model);
    } else {
        added = m_env.addRawQueue(name, uri);
    }
    QVERIFY2(added, qPrintable(m_env.lastError()));

    const ToolResult list = m_env.runTool(QStringLiteral("lpstat"), {"-v"});
    QVERIFY2(list.ok(), qPrintable(list.describe()));
    QVERIFY2(deviceLines(list).contains(QStringLiteral("device for %1: %2").arg(name, uri)),
             qPrintable(list.out()));

    const QString ppdPath = QStringLiteral("/etc/cups/ppd/%1.ppd").arg(name);
    if (kind == QLatin1String("raw")) {
        QVERIFY(!QFileInfo::exists(ppdPath));
    } else {
        const QByteArray ppd = TestEnv::readFile(ppdPath);
        const QString modelName =
            kind == QLatin1String("driver") ? QStringLiteral("Orvo ") + model : model;
        QVERIFY2(ppd.contains("\n*ModelName: \"" + modelName.toUtf8() + "\"\n"),
                 qPrintable(ppdPath));
        if (kind == QLatin1String("driver")) {
            QCOMPARE(ppd, TestEnv::readFile(
                              QStringLiteral("/usr/share/cups/model/Orvo/Orvo_%1.ppd").arg(model)));
        }
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(ppdPath).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0640));
        QCOMPARE(QFileInfo(ppdPath).group(), QStringLiteral("lp"));
    }

    QVERIFY2(m_env.removeQueue(name), qPrintable(m_env.lastError()));
    QVERIFY(!QFileInfo::exists(ppdPath));
    QVERIFY(!m_env.runTool(QStringLiteral("lpstat"), {"-v"}).out().contains(uri));
}

void TestTestEnv::refusedQueueNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("double quote") << "Q\"x";
    QTest::newRow("single quote") << "Q'x";
    QTest::newRow("backslash") << "Q\\x";
    QTest::newRow("space") << "Q x";
    QTest::newRow("slash") << "Q/x";
    QTest::newRow("hash") << "Q#x";
}

void TestTestEnv::refusedQueueNames()
{
    QFETCH(QString, name);
    QVERIFY(!m_env.addRawQueue(name, "socket://127.0.0.8"));
    QVERIFY2(m_env.lastError().contains("lpadmin:"), qPrintable(m_env.lastError()));
    QVERIFY(!m_env.runTool(QStringLiteral("lpstat"), {"-v"}).out().contains("127.0.0.8"));
}

void TestTestEnv::queueUriChanges()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("Moving", "socket://127.0.0.5", "Orvo Q7025DW"));
    TESTENV_VERIFY(m_env, m_env.setQueueUri("Moving", "socket://127.0.0.6:9100"));
    const ToolResult list = m_env.runTool(QStringLiteral("lpstat"), {"-v", "Moving"});
    QCOMPARE(list.out(), QStringLiteral("device for Moving: socket://127.0.0.6:9100\n"));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Moving"));
}

void TestTestEnv::lpinfoListsTheControlFileDevices()
{
    const QStringList lpinfo{"--include-schemes", "usb", "-v"};
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({}));
    ToolResult result = m_env.runTool(QStringLiteral("lpinfo"), lpinfo);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    QCOMPARE(result.out(), QString());

    const QStringList uris{"usb://Orvo/Q7020DN?serial=123", "usb://Orvo/QM7065FDW?serial=X9",
                           "usb://Acme/Laser%20Jet?serial=7"};
    TESTENV_VERIFY(m_env, m_env.setUsbDevices(uris));
    result = m_env.runTool(QStringLiteral("lpinfo"), lpinfo);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    QStringList expected;
    for (const QString& uri : uris) {
        expected << QStringLiteral("direct ") + uri;
    }
    QCOMPARE(deviceLines(result), expected);

    // The long form carries the make and model the backend derived from the URI.
    result = m_env.runTool(QStringLiteral("lpinfo"), {"--include-schemes", "usb", "-l", "-v"});
    QVERIFY(result.out().contains(QStringLiteral("make-and-model = Orvo QM7065FDW")));
    QVERIFY(result.out().contains(QStringLiteral("make-and-model = Acme Laser Jet")));

    TESTENV_VERIFY(m_env, m_env.setUsbDevices({}));
    QCOMPARE(m_env.runTool(QStringLiteral("lpinfo"), lpinfo).out(), QString());
}

void TestTestEnv::usbJobPrintsUntilReleased_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("listedAs");
    QTest::newRow("ascii name") << "Office"
                                << "Office";
    QTest::newRow("latin name") << "Büro"
                                << "B%C3%BCro";
    QTest::newRow("cjk name") << "打印机"
                              << "%E6%89%93%E5%8D%B0%E6%9C%BA";
}

void TestTestEnv::usbJobPrintsUntilReleased()
{
    QFETCH(QString, queue);
    QFETCH(QString, listedAs);

    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    TESTENV_VERIFY(m_env, m_env.addQueue(queue, "usb://Orvo/Q7035DW?serial=77", "Orvo Q7035DW"));
    const QByteArray data = "job data for " + queue.toUtf8() + '\n';
    const QString job = m_env.submitRawJob(queue, data);
    QVERIFY2(!job.isEmpty(), qPrintable(m_env.lastError()));
    QVERIFY2(job.startsWith(listedAs + '-'), qPrintable(job));

    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.isPrinting(queue); }, 10000,
                                        QStringLiteral("%1 to print %2").arg(queue, job)));
    QCOMPARE(m_env.jobIds(queue), QStringList{job});
    // It keeps printing while the device holds it.
    QVERIFY2(!m_env.waitFor([&] { return !m_env.isPrinting(queue); }, 500,
                            QStringLiteral("the held job to end")),
             "the job ended although the device was not released");

    TESTENV_VERIFY(m_env, m_env.releaseUsbJobs());
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.jobIds(queue).isEmpty(); }, 10000,
                                        QStringLiteral("%1 to complete").arg(job)));
    QVERIFY(m_env.jobIds(queue, "completed").contains(job));
    const QString number = job.section(QLatin1Char('-'), -1);
    QCOMPARE(TestEnv::readFile(TestEnv::controlDir() + "/usb-data." + number), data);
    QVERIFY(m_env.usbJobLog().contains(
        QStringLiteral("END %1 0 usb://Orvo/Q7035DW?serial=77").arg(number)));

    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    TESTENV_VERIFY(m_env, m_env.removeQueue(queue));
}

void TestTestEnv::usbJobEndsWhenCancelled()
{
    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    TESTENV_VERIFY(m_env, m_env.addQueue("Held", "usb://Orvo/Q7020D?serial=1", "Orvo Q7020D"));
    const QString job = m_env.submitRawJob("Held", "x");
    QVERIFY2(!job.isEmpty(), qPrintable(m_env.lastError()));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.isPrinting("Held"); }, 10000,
                                        QStringLiteral("Held to print")));

    TESTENV_VERIFY(m_env, m_env.cancelJob(job));
    const QString number = job.section(QLatin1Char('-'), -1);
    TESTENV_VERIFY(
        m_env,
        m_env.waitFor(
            [&] {
                return m_env.usbJobLog().contains(
                    QStringLiteral("END %1 cancelled usb://Orvo/Q7020D?serial=1").arg(number));
            },
            10000, QStringLiteral("the usb backend to end the cancelled job")));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return !m_env.isPrinting("Held"); }, 10000,
                                        QStringLiteral("Held to stop printing")));
    QVERIFY(m_env.jobIds("Held").isEmpty());
    TESTENV_VERIFY(m_env, m_env.removeQueue("Held"));
}

void TestTestEnv::usbStateReachesTheScheduler()
{
    TESTENV_VERIFY(m_env, m_env.holdUsbJobs());
    TESTENV_VERIFY(m_env, m_env.setUsbState({}));
    TESTENV_VERIFY(m_env, m_env.addQueue("Paper", "usb://Orvo/Q7040DW?serial=3", "Orvo Q7040DW"));
    const QString job = m_env.submitRawJob("Paper", "x");
    QVERIFY2(!job.isEmpty(), qPrintable(m_env.lastError()));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.isPrinting("Paper"); }, 10000,
                                        QStringLiteral("Paper to print")));

    const auto alerts = [&] {
        // Options act in order: -l must come before -p.
        return m_env.runTool(QStringLiteral("lpstat"), {"-l", "-p", "Paper"}).out();
    };
    QVERIFY(!alerts().contains(QStringLiteral("media-empty-error")));
    TESTENV_VERIFY(m_env, m_env.setUsbState({"STATE: +media-empty-error"}));
    TESTENV_VERIFY(m_env,
                   m_env.waitFor([&] { return alerts().contains("Alerts: media-empty-error"); },
                                 10000, QStringLiteral("the media-empty-error alert on Paper")));

    TESTENV_VERIFY(m_env, m_env.setUsbState({}));
    TESTENV_VERIFY(m_env, m_env.cancelAllJobs("Paper"));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return !m_env.isPrinting("Paper"); }, 10000,
                                        QStringLiteral("Paper to stop printing")));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Paper"));
}

void TestTestEnv::socketBackendIsTheRealOne()
{
    Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(server.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in addr = loopback("127.0.0.2", 9100);
    QCOMPARE(::bind(server.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    QCOMPARE(::listen(server.get(), 1), 0);

    TESTENV_VERIFY(m_env, m_env.addRawQueue("Jet", "socket://127.0.0.2:9100/?snmp=false"));
    const QString job = m_env.submitRawJob("Jet", "to the network printer\n");
    QVERIFY2(!job.isEmpty(), qPrintable(m_env.lastError()));

    pollfd waitAccept{server.get(), POLLIN, 0};
    QVERIFY2(::poll(&waitAccept, 1, 15000) == 1, "the socket backend did not connect");
    QByteArray received;
    {
        // The backend waits for the printer to close before it ends the job.
        Fd client(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(client.get() >= 0);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 15000) {
            pollfd waitData{client.get(), POLLIN, 0};
            if (::poll(&waitData, 1, 200) <= 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(client.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            received.append(buffer, static_cast<int>(n));
        }
    }
    QCOMPARE(received, QByteArray("to the network printer\n"));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_env.jobIds("Jet").isEmpty(); }, 10000,
                                        QStringLiteral("%1 to complete").arg(job)));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Jet"));
}

void TestTestEnv::extraLoopbackAddressesWork()
{
    for (const char* address : {"127.0.0.2", "127.0.0.20", "127.0.0.50"}) {
        Fd receiver(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_in addr = loopback(address, 9300);
        QVERIFY2(::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0,
                 address);
        Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const char request[] = "status?";
        QCOMPARE(::sendto(sender.get(), request, sizeof request, 0,
                          reinterpret_cast<const sockaddr*>(&addr), sizeof addr),
                 static_cast<ssize_t>(sizeof request));
        pollfd wait{receiver.get(), POLLIN, 0};
        QVERIFY2(::poll(&wait, 1, 2000) == 1, address);
        char buffer[16] = {};
        QCOMPARE(::recv(receiver.get(), buffer, sizeof buffer, 0),
                 static_cast<ssize_t>(sizeof request));
        QCOMPARE(QByteArray(buffer), QByteArray("status?"));
    }
}

void TestTestEnv::schedulerStopsAndStarts()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("Kept", "usb://Orvo/Q7032DN?serial=4", "Orvo Q7032DN"));
    TESTENV_VERIFY(m_env, m_env.stopCupsd());
    QVERIFY(!m_env.cupsdRunning());

    // No fallback to a scheduler on TCP: the tools report the private one as down.
    const ToolResult down = m_env.runTool(QStringLiteral("lpstat"), {"-v"});
    QCOMPARE(down.exitCode, 1);
    QCOMPARE(down.out(), QString());
    QCOMPARE(down.err(), QStringLiteral("lpstat: Scheduler is not running.\n"));

    TESTENV_VERIFY(m_env, m_env.startCupsd());
    QVERIFY(m_env.cupsdRunning());
    const ToolResult up = m_env.runTool(QStringLiteral("lpstat"), {"-v"});
    QVERIFY(
        deviceLines(up).contains(QStringLiteral("device for Kept: usb://Orvo/Q7032DN?serial=4")));
    TESTENV_VERIFY(m_env, m_env.removeQueue("Kept"));
}

void TestTestEnv::makePpdVariants_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("modelLine");
    QTest::addColumn<bool>("accepted"); // by the scheduler

    QTest::newRow("plain") << QStringList{} << QByteArray("*ModelName: \"Orvo Q7020\"\n") << true;
    QTest::newRow("lower case") << QStringList{"--lowercase"}
                                << QByteArray("*ModelName: \"orvo q7020\"\n") << true;
    QTest::newRow("unquoted") << QStringList{"--unquoted"} << QByteArray("*ModelName: Orvo Q7020\n")
                              << true;
    QTest::newRow("leading quote only")
        << QStringList{"--leading-quote"} << QByteArray("*ModelName: \"Orvo Q7020\n") << true;
    QTest::newRow("nul after value")
        << QStringList{"--nul"} << QByteArray("*ModelName: \"Orvo Q7020\"\0junk after NUL\n", 40)
        << true;
    QTest::newRow("no header") << QStringList{"--no-header"}
                               << QByteArray("*ModelName: \"Orvo Q7020\"\n") << false;
}

void TestTestEnv::makePpdVariants()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, modelLine);
    QFETCH(bool, accepted);

    const ToolResult made =
        m_env.runTool(TestEnv::scriptsDir() + "/make-ppd", options + QStringList{"Orvo Q7020"});
    QVERIFY2(made.ok(), qPrintable(made.describe()));
    QVERIFY2(made.stdOut.contains("\n" + modelLine), made.stdOut.constData());
    QCOMPARE(made.stdOut.startsWith("*PPD-Adobe: \"4.3\"\n"), !options.contains("--no-header"));

    const QString ppd = TestEnv::controlDir() + "/variant.ppd";
    TESTENV_VERIFY(m_env, m_env.writeFile(ppd, made.stdOut));
    QCOMPARE(m_env.addQueueWithPpd("Variant", "socket://127.0.0.7", ppd), accepted);
    if (accepted) {
        QCOMPARE(TestEnv::readFile("/etc/cups/ppd/Variant.ppd"), made.stdOut);
        TESTENV_VERIFY(m_env, m_env.removeQueue("Variant"));
    }
}

QTEST_GUILESS_MAIN(TestTestEnv)
#include "test_testenv.moc"
