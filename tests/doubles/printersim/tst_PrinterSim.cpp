// The network printer simulator as the service and the end-to-end tests meet it: one status
// request datagram, one reply; jobs over TCP at a set speed; steering through "ctl".
// The test moves itself into a private network namespace first, so ports 9300 and 9100 on
// 127.0.0.2 are its own.

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const QString kSim = QStringLiteral(ORVO_PRINTER_SIM);
const QString kData = QStringLiteral(ORVO_PRINTER_SIM_DATA);
const char kAddress[] = "127.0.0.2";
constexpr quint16 kStatusPort = 9300;
constexpr quint16 kJobPort = 9100;

const QByteArray kRequest = QByteArray::fromHex("a5000c50e0740803") + QByteArray(7, '\0');

// ready.kv, ready.json and ready.hex all describe this reply.
const QByteArray kReadyReply = QByteArray::fromHex("a5004b50e0740803" // header, byte 7
                                                   "00000000"         // bytes 8-9, 10-11
                                                   "0007"
                                                   "5137303230444e" // "Q7020DN"
                                                   "000a"
                                                   "41423132333435363738" // "AB12345678"
                                                   "0000"
                                                   "0000" // empty text 3, two bytes
                                                   "00"
                                                   "05"
                                                   "5265616479" // status 0, "Ready"
                                                   "00"         // opaque block
                                                   "01"
                                                   "0101"
                                                   "00" // error lists
                                                   "00"
                                                   "0000"
                                                   "0000" // byte u, u+1..u+4
                                                   "03"   // entries
                                                   "1000"
                                                   "02"
                                                   "012c" // 300
                                                   "0001"
                                                   "04"
                                                   "00000001" // toner type 1
                                                   "0000"
                                                   "08"
                                                   "546f6e6572204f4b"); // "Toner OK"

const QByteArray kPaperOutReply = QByteArray::fromHex("a5003d50e0740803"
                                                      "00000000"
                                                      "0007"
                                                      "5137303230444e"
                                                      "0000"
                                                      "0000"
                                                      "0000"
                                                      "04"
                                                      "09"
                                                      "5061706572206f7574"
                                                      "04"
                                                      "deadbeef"
                                                      "02"
                                                      "0201"
                                                      "0202"
                                                      "01"
                                                      "0300"
                                                      "00"
                                                      "0000"
                                                      "0000"
                                                      "01"
                                                      "1001"
                                                      "02"
                                                      "0063"
                                                      "ffff");

bool enterPrivateNetwork(QString& why)
{
    if (unshare(CLONE_NEWNET) != 0) {
        why = QString("unshare(CLONE_NEWNET): %1 (run as root)").arg(std::strerror(errno));
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (!up) {
        why = QString("cannot bring lo up: %1").arg(std::strerror(errno));
    }
    if (fd >= 0) {
        close(fd);
    }
    return up;
}

sockaddr_in address(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    return a;
}

class UdpClient
{
public:
    UdpClient() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~UdpClient() { close(m_fd); }

    bool send(const QByteArray& datagram)
    {
        const sockaddr_in to = address(kStatusPort);
        return sendto(m_fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to) == datagram.size();
    }

    // Next datagram, or a null array when none arrives within timeoutMs.
    QByteArray receive(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) {
            return QByteArray();
        }
        QByteArray buf(65536, '\0');
        const ssize_t n = recv(m_fd, buf.data(), static_cast<size_t>(buf.size()), 0);
        return n < 0 ? QByteArray() : buf.left(static_cast<int>(n));
    }

private:
    int m_fd;
};

} // namespace

class TestPrinterSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void ctlCommandLine_data();
    void ctlCommandLine();
    void replyFromDescription_data();
    void replyFromDescription();
    void wrongRequestIsCountedNotAnswered_data();
    void wrongRequestIsCountedNotAnswered();
    void silentMode();
    void setReplyWhileRunning();
    void faultyReplies_data();
    void faultyReplies();
    void delayedReply();
    void buildRejectsBadDescriptions_data();
    void buildRejectsBadDescriptions();
    void jobAtSpeed();
    void flood();
    void measure();

private:
    QString ctl(const QStringList& args, int* exitCode = nullptr);

    QTemporaryDir m_dir;
    QProcess m_sim;
    QString m_control;
};

// Straight to the control socket: a Python start per command would make the test crawl.
// ctlCommandLine() covers the "ctl" command itself.
QString TestPrinterSim::ctl(const QStringList& args, int* exitCode)
{
    const QByteArray path = QFile::encodeName(m_control);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(),
                std::min<size_t>(sizeof addr.sun_path - 1, static_cast<size_t>(path.size())));
    QByteArray answer;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        const QByteArray line = args.join(' ').toUtf8() + '\n';
        if (write(fd, line.constData(), static_cast<size_t>(line.size())) == line.size()) {
            char buf[512];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) {
                answer.append(buf, static_cast<int>(n));
            }
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    const QString text = QString::fromUtf8(answer).trimmed();
    if (exitCode) {
        *exitCode = text.isEmpty() || text.startsWith("error") ? 1 : 0;
    }
    return text.isEmpty() ? QString("no answer from %1").arg(m_control) : text;
}

void TestPrinterSim::ctlCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("count") << QStringList{"count"} << "requests 0 wrong 0 replies 0" << 0;
    QTest::newRow("relative reply path") << QStringList{"set-reply", "ready.json"} << "ok" << 0;
    QTest::newRow("unknown command")
        << QStringList{"reboot"} << "error: unknown command reboot" << 1;
    QTest::newRow("missing file") << QStringList{"set-reply", "missing.json"}
                                  << "error: [Errno 2] No such file or directory: '" + kData +
                                         "/missing.json'"
                                  << 1;
}

void TestPrinterSim::ctlCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QProcess p;
    p.setWorkingDirectory(kData); // relative paths are resolved by the caller, not the printer
    p.start(kSim, QStringList{"ctl", m_control} + args);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), output);
    QCOMPARE(p.exitCode(), exitCode);
}

void TestPrinterSim::initTestCase()
{
    QString why;
    QVERIFY2(enterPrivateNetwork(why), qPrintable(why));
    QVERIFY(m_dir.isValid());
    m_control = m_dir.filePath("printer.ctl");
    const QString ready = m_dir.filePath("ready");
    m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sim.start(kSim, {"--address", kAddress, "--reply", kData + "/ready.kv", "--control",
                       m_control, "--ready", ready});
    QVERIFY2(m_sim.waitForStarted(10000), qPrintable(m_sim.errorString()));
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(ready), "simulator did not report ready", 20000);
    QFile f(ready);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("udp 127.0.0.2 9300\ntcp 127.0.0.2 9100\n"));
}

void TestPrinterSim::cleanupTestCase()
{
    if (m_sim.state() == QProcess::NotRunning) {
        return;
    }
    QCOMPARE(ctl({"quit"}), QString("quit"));
    QVERIFY(m_sim.waitForFinished(10000));
    QCOMPARE(m_sim.exitCode(), 0);
}

void TestPrinterSim::init()
{
    for (const QStringList& cmd : {QStringList{"answer"}, QStringList{"delay", "0"},
                                   QStringList{"set-reply", kData + "/ready.kv"},
                                   QStringList{"speed", "0"}, QStringList{"reset-count"}}) {
        QCOMPARE(ctl(cmd), QString("ok"));
    }
}

void TestPrinterSim::replyFromDescription_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("key=value") << "ready.kv" << kReadyReply;
    QTest::newRow("JSON") << "ready.json" << kReadyReply;
    QTest::newRow("raw hex") << "ready.hex" << kReadyReply;
    QTest::newRow("every field set") << "paper-out.json" << kPaperOutReply;
}

void TestPrinterSim::replyFromDescription()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, expected);
    QCOMPARE(ctl({"set-reply", kData + "/" + file}), QString("ok"));
    UdpClient udp;
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), expected);
    QCOMPARE(ctl({"count"}), QString("requests 1 wrong 0 replies 1"));

    // "build" gives the same bytes without a running printer.
    QProcess build;
    build.start(kSim, {"build", kData + "/" + file});
    QVERIFY(build.waitForFinished(20000));
    QCOMPARE(build.exitCode(), 0);
    QCOMPARE(build.readAllStandardOutput().trimmed(), expected.toHex());
}

void TestPrinterSim::wrongRequestIsCountedNotAnswered_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty datagram") << QByteArray("");
    QTest::newRow("one byte") << QByteArray(1, '\xa5');
    QTest::newRow("request without its last byte") << kRequest.left(14);
    QTest::newRow("request and one more byte") << kRequest + QByteArray(1, '\0');
    QByteArray otherCommand = kRequest;
    otherCommand[7] = '\x04';
    QTest::newRow("other byte 7") << otherCommand;
    QTest::newRow("request twice in one datagram") << kRequest + kRequest;
}

void TestPrinterSim::wrongRequestIsCountedNotAnswered()
{
    QFETCH(QByteArray, datagram);
    UdpClient udp;
    QVERIFY(udp.send(datagram));
    QVERIFY(udp.send(kRequest));
    // Datagrams on loopback keep their order: an answer to the wrong one would come first.
    QCOMPARE(udp.receive(5000), kReadyReply);
    QCOMPARE(ctl({"count"}), QString("requests 2 wrong 1 replies 1"));
    QVERIFY(udp.receive(0).isNull());
}

void TestPrinterSim::silentMode()
{
    UdpClient udp;
    QCOMPARE(ctl({"silent"}), QString("ok"));
    QVERIFY(udp.send(kRequest));
    // Nothing comes back to wait for: wait until the printer has taken the datagram.
    QTRY_COMPARE_WITH_TIMEOUT(ctl({"count"}), QString("requests 1 wrong 0 replies 0"), 10000);
    QCOMPARE(ctl({"answer"}), QString("ok"));
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), kReadyReply);
    QVERIFY(udp.receive(0).isNull());
    QCOMPARE(ctl({"count"}), QString("requests 2 wrong 0 replies 1"));
}

void TestPrinterSim::setReplyWhileRunning()
{
    UdpClient udp;
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), kReadyReply);
    QCOMPARE(ctl({"set-reply", kData + "/paper-out.json"}), QString("ok"));
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), kPaperOutReply);
    QCOMPARE(ctl({"set-reply-hex", "a5 00 05 50 e0 74 08 03"}), QString("ok"));
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), QByteArray::fromHex("a5000550e0740803"));

    int code = 0;
    QCOMPARE(ctl({"set-reply", kData + "/bad-value.json"}, &code),
             QString("error: supplies value 70000 does not fit in 2 bytes"));
    QCOMPARE(code, 1);
    QVERIFY(udp.send(kRequest)); // a rejected description keeps the reply before it
    QCOMPARE(udp.receive(5000), QByteArray::fromHex("a5000550e0740803"));
}

void TestPrinterSim::faultyReplies_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("garbage") << QStringList{"garbage", "10"} << 10 << QByteArray();
    QTest::newRow("truncated") << QStringList{"truncate", "12"} << 12 << kReadyReply.left(12);
    QTest::newRow("header only") << QStringList{"truncate", "7"} << 7 << kReadyReply.left(7);
    QTest::newRow("over-long") << QStringList{"long"} << 4000 << kReadyReply;
}

void TestPrinterSim::faultyReplies()
{
    QFETCH(QStringList, command);
    QFETCH(int, size);
    QFETCH(QByteArray, prefix);
    QCOMPARE(ctl(command), QString("ok"));
    UdpClient udp;
    QVERIFY(udp.send(kRequest));
    const QByteArray got = udp.receive(5000);
    QCOMPARE(got.size(), size);
    QVERIFY(got.startsWith(prefix));
}

void TestPrinterSim::delayedReply()
{
    QCOMPARE(ctl({"delay", "300"}), QString("ok"));
    UdpClient udp;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(udp.send(kRequest));
    QCOMPARE(udp.receive(5000), kReadyReply);
    QVERIFY2(timer.elapsed() >= 290, qPrintable(QString::number(timer.elapsed())));
}

void TestPrinterSim::buildRejectsBadDescriptions_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("value too wide") << "bad-value.json"
                                    << "supplies value 70000 does not fit in 2 bytes";
    QTest::newRow("unknown key") << "bad-key.kv"
                                 << "unknown keys: statuscode";
}

void TestPrinterSim::buildRejectsBadDescriptions()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    QProcess build;
    build.start(kSim, {"build", kData + "/" + file});
    QVERIFY(build.waitForFinished(20000));
    QCOMPARE(build.exitCode(), 1);
    QVERIFY(build.readAllStandardOutput().isEmpty());
    QCOMPARE(QString::fromUtf8(build.readAllStandardError()).trimmed(),
             "orvo-printer-sim: " + message);
}

void TestPrinterSim::jobAtSpeed()
{
    constexpr int kBytes = 12000;
    constexpr int kSpeed = 20000; // bytes per second: the job takes about 0.6 s
    QCOMPARE(ctl({"speed", QString::number(kSpeed)}), QString("ok"));
    const QString before = ctl({"jobs"});
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = address(kJobPort);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    const QByteArray job(kBytes, 'x');
    QCOMPARE(write(fd, job.constData(), job.size()), ssize_t(kBytes));
    QCOMPARE(shutdown(fd, SHUT_WR), 0);
    QTRY_VERIFY_WITH_TIMEOUT(ctl({"jobs"}).endsWith("active 1"), 10000);
    // The printer closes its side once it has read the whole job.
    pollfd p{fd, POLLIN, 0};
    QCOMPARE(poll(&p, 1, 20000), 1);
    char c;
    QCOMPARE(read(fd, &c, 1), ssize_t(0));
    const qint64 ms = timer.elapsed();
    close(fd);
    QVERIFY2(ms >= 1000 * kBytes / kSpeed - 100, qPrintable(QString::number(ms)));
    QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));
    const QStringList b = before.split(' ');
    QCOMPARE(b.size(), 6);
    QTRY_COMPARE_WITH_TIMEOUT(
        ctl({"jobs"}),
        QString("jobs %1 bytes %2 active 0").arg(b[1].toInt() + 1).arg(b[3].toInt() + kBytes),
        10000);
}

void TestPrinterSim::flood()
{
    QProcess flood;
    flood.start(kSim, {"flood", "--target", QString(kAddress) + ":9300", "--rate", "400",
                       "--duration", "0.25", "--max-size", "64"});
    QVERIFY(flood.waitForFinished(20000));
    QCOMPARE(flood.exitCode(), 0);
    QCOMPARE(flood.readAllStandardOutput().trimmed(), QByteArray("sent 100"));
    // A random datagram matches the 15-byte request with odds of 2^-120: all count as wrong.
    QTRY_COMPARE_WITH_TIMEOUT(ctl({"count"}).section(' ', 0, 1), QString("requests 100"), 10000);
    QCOMPARE(ctl({"count"}), QString("requests 100 wrong 100 replies 0"));

    QProcess refused;
    refused.start(kSim, {"flood", "--target", "10.1.2.3", "--rate", "1", "--duration", "1"});
    QVERIFY(refused.waitForFinished(20000));
    QCOMPARE(refused.exitCode(), 2);
}

void TestPrinterSim::measure()
{
    UdpClient udp;
    constexpr int kRounds = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRounds; ++i) {
        QVERIFY(udp.send(kRequest));
        QCOMPARE(udp.receive(5000).size(), kReadyReply.size());
    }
    const double ms = timer.nsecsElapsed() / 1e6 / kRounds;
    qInfo("printer simulator: UDP request/reply round trip %.3f ms", ms);
    QVERIFY(ms < 100);
}

QTEST_GUILESS_MAIN(TestPrinterSim)
#include "tst_PrinterSim.moc"
