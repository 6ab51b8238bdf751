// The network status channel against the simulated printer (tests/doubles/printersim) on
// 127.0.0.1, inside the private network namespace of orvo-testenv: the only interface is lo, so
// host names that the resolver would send to a name server fail without leaving the namespace.

#include "tests/support/ChildProcesses.h"
#include "tests/support/TestEnv.h"

#include "protocol/StatusCodeTables.h"
#include "service/FixedPaths.h"
#include "status/TrdGetPrinterStatus.h"
#include "tests/replies/ReplyBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

QByteArray ReadyReply()
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7040DN")
        .setStatusCode(2)
        .setStatusText("Warming up")
        .setErrorCodes2({0x2200})
        .addSupply(0x0000, "Toner")
        .addSupplyValue(0x1003, 123456, 4)
        .build();
}

// Local ports of the UDP sockets in this network namespace, but for `except`.
QList<quint16> UdpPorts(const QList<quint16>& except)
{
    QList<quint16> ports;
    QFile file(QStringLiteral("/proc/net/udp"));
    if (!file.open(QIODevice::ReadOnly)) {
        return ports;
    }
    file.readLine(); // the column titles
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2) {
            continue;
        }
        const quint16 port =
            quint16(fields.at(1).mid(fields.at(1).indexOf(':') + 1).toUInt(nullptr, 16));
        if (!except.contains(port)) {
            ports << port;
        }
    }
    return ports;
}
} // namespace

class TestUdpChannel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    ChildProcesses m_children;
    QString m_strControl;
    TrdGetPrinterStatus* m_worker = nullptr;

    // One control command to the simulator; its one-line answer.
    QByteArray Ctl(const QByteArray& command) const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) {
            return "error: socket";
        }
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_strControl);
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QByteArray answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::write(fd, (command + '\n').constData(), size_t(command.size() + 1)) ==
                command.size() + 1) {
            char buf[512];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0) {
                answer.append(buf, int(n));
            }
        } else {
            answer = "error: control socket";
        }
        ::close(fd);
        return answer.trimmed();
    }

    // "requests N wrong M replies K" -> N, M, K
    QList<int> Counts() const
    {
        const QList<QByteArray> words = Ctl("count").split(' ');
        if (words.size() != 6) {
            return {};
        }
        return {words[1].toInt(), words[3].toInt(), words[5].toInt()};
    }

    QString StatusFile() const
    {
        return FixedPaths::CfgDir() + m_worker->Printer().stInfo.strName + QStringLiteral(".dat");
    }

private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(TestEnv::inTestEnv(&why), qPrintable(why));
        // Names this test resolves must never reach the machine's name server.
        QStringList interfaces;
        if (struct if_nameindex* names = if_nameindex()) {
            for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
                interfaces << QString::fromLatin1(n->if_name);
            }
            if_freenameindex(names);
        }
        QCOMPARE(interfaces, QStringList{QStringLiteral("lo")});

        QVERIFY(m_root.isValid());
        FixedPaths::SetRootForTesting(m_root.path());
        m_strControl = m_root.filePath(QStringLiteral("sim.ctl"));
        const QString ready = m_root.filePath(QStringLiteral("sim.ready"));
        QString error;
        QProcess* sim = m_children.start(
            QStringLiteral(ORVO_PRINTER_SIM),
            {QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
             QStringLiteral("9300"), QStringLiteral("--tcp-port"), QStringLiteral("0"),
             QStringLiteral("--control"), m_strControl, QStringLiteral("--ready"), ready,
             QStringLiteral("--reply-hex"), QString::fromLatin1(ReadyReply().toHex())},
            {}, true, &error);
        QVERIFY2(sim, qPrintable(error));
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(ready), "simulator ready file", 10000);
    }

    void cleanupTestCase()
    {
        m_children.stopAll();
        FixedPaths::SetRootForTesting(QString());
    }

    void init()
    {
        QCOMPARE(Ctl("answer"), QByteArray("ok"));
        QCOMPARE(Ctl("set-reply-hex " + ReadyReply().toHex()), QByteArray("ok"));
        QCOMPARE(Ctl("reset-count"), QByteArray("ok"));
        m_worker = new TrdGetPrinterStatus;
        m_worker->Printer().stInfo.strName = QString::fromUtf8(QTest::currentTestFunction());
    }

    void cleanup()
    {
        delete m_worker;
        m_worker = nullptr;
    }

    void decodedReplyUpdatesStateAndFile_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("address") << "127.0.0.1";
        QTest::newRow("host name") << "localhost";
    }
    void decodedReplyUpdatesStateAndFile()
    {
        QFETCH(QString, host);
        m_worker->Printer().stState.iFailCount = 3;
        QCOMPARE(m_worker->GetPrinterStatusUDP(host), 0);
        QCOMPARE(ReadAll(StatusFile()), ReadyReply());
        const stPrinterState& state = m_worker->Printer().stState;
        QCOMPARE(state.strInfo1, QStringLiteral("Orvo Q7040DN"));
        QCOMPARE(state.iStatus, GetPrinterStatusEnum(2));
        QCOMPARE(state.strStatusText, QStringLiteral("Warming up"));
        QCOMPARE(state.listError2, QList<enErrorStatus>{ERROR_STATUS_3});
        QCOMPARE(state.ulSupply1003, quint64(123456));
        QCOMPARE(state.iFailCount, 0);
        // One request, exactly the 15 bytes the printer expects.
        QCOMPARE(Counts(), (QList<int>{1, 0, 1}));
    }

    void emptyHost()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_worker->GetPrinterStatusUDP(QString()), -1);
        QVERIFY(timer.elapsed() < 500);
        QCOMPARE(Counts(), (QList<int>{0, 0, 0}));
        QVERIFY(!QFile::exists(StatusFile()));
    }

    // A name the resolver cannot turn into an IPv4 address is no destination at all: in
    // particular the request must not go to 0.0.0.0, which reaches the simulator here.
    void hostWithoutAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("unknown name") << "no-such-printer.invalid";
        QTest::newRow("address with port") << "127.0.0.1:9300";
        QTest::newRow("octet out of range") << "127.0.0.256";
        QTest::newRow("blank") << " ";
    }
    void hostWithoutAddress()
    {
        QFETCH(QString, host);
        QCOMPARE(m_worker->GetPrinterStatusUDP(host), -1);
        QCOMPARE(Counts(), (QList<int>{0, 0, 0}));
        QVERIFY(!QFile::exists(StatusFile()));
    }

    void silence()
    {
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1")), 0);
        const QByteArray file = ReadAll(StatusFile());
        QCOMPARE(Ctl("silent"), QByteArray("ok"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1")), -5);
        QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 3500,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(ReadAll(StatusFile()), file);
        QCOMPARE(m_worker->Printer().stState.strStatusText, QStringLiteral("Warming up"));
        QCOMPARE(Counts().value(0), 2);
    }

    void shortReply_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("written");
        QTest::newRow("7 bytes") << 7 << -5 << false;
        QTest::newRow("1 byte") << 1 << -5 << false;
        QTest::newRow("8 bytes") << 8 << -1 << true;
        QTest::newRow("reply cut by one byte") << ReadyReply().size() - 1 << -1 << true;
    }
    void shortReply()
    {
        QFETCH(int, size);
        QFETCH(int, result);
        QFETCH(bool, written);
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1")), 0);
        const QByteArray before = ReadAll(StatusFile());
        QCOMPARE(Ctl("truncate " + QByteArray::number(size)), QByteArray("ok"));
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1")), result);
        QCOMPARE(ReadAll(StatusFile()), written ? ReadyReply().left(size) : before);
        QCOMPARE(m_worker->Printer().stState.strStatusText, QStringLiteral("Warming up"));
    }

    void longReplyIsCut()
    {
        QCOMPARE(Ctl("long"), QByteArray("ok"));
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1")), 0);
        const QByteArray file = ReadAll(StatusFile());
        QCOMPARE(file.size(), 2048);
        QVERIFY(file.startsWith(ReadyReply()));
    }

    // Datagrams that do not come from the printer's address and status port never count as
    // its reply, however early they arrive; the printer's own reply is taken.
    void replyOnlyFromPrinter_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("another address") << "127.0.0.3" << 9300;
        QTest::newRow("another port") << "127.0.0.1" << 9301;
    }
    void replyOnlyFromPrinter()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        const QByteArray spoofed = ReplyBuilder().setStatusCode(7).setStatusText("Spoofed").build();
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in from = {};
        from.sin_family = AF_INET;
        from.sin_port = htons(quint16(port));
        inet_pton(AF_INET, address.toLatin1().constData(), &from.sin_addr);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0);

        // The printer answers late; meanwhile every other UDP port here is sprayed.
        QCOMPARE(Ctl("delay 300"), QByteArray("ok"));
        std::atomic<bool> done{false};
        std::atomic<int> hits{0};
        std::thread spoofer([&] {
            while (!done) {
                for (quint16 target : UdpPorts({9300, quint16(port)})) {
                    sockaddr_in to = {};
                    to.sin_family = AF_INET;
                    to.sin_port = htons(target);
                    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                    if (::sendto(fd, spoofed.constData(), size_t(spoofed.size()), 0,
                                 reinterpret_cast<sockaddr*>(&to), sizeof to) == spoofed.size()) {
                        ++hits;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        const int result = m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1"));
        done = true;
        spoofer.join();
        ::close(fd);
        QVERIFY2(hits > 0, "the poll's socket was never sprayed");
        QCOMPARE(result, 0);
        QCOMPARE(ReadAll(StatusFile()), ReadyReply());
        QCOMPARE(m_worker->Printer().stState.strStatusText, QStringLiteral("Warming up"));
    }

    // Nothing listens on the status port: the ICMP error that comes back at once is no reply,
    // and the poll ends as it does for a silent printer.
    void portUnreachable()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.4")), -5);
        QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 3500,
                 qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!QFile::exists(StatusFile()));
    }

    // Each poll has its own socket: replies cannot cross between workers polling at once.
    void parallelPolls()
    {
        TrdGetPrinterStatus other;
        other.Printer().stInfo.strName = QStringLiteral("parallel-other");
        QCOMPARE(Ctl("delay 300"), QByteArray("ok"));
        int results[2] = {1, 1};
        std::thread thread([&] { results[1] = other.GetPrinterStatusUDP("127.0.0.1"); });
        results[0] = m_worker->GetPrinterStatusUDP(QStringLiteral("127.0.0.1"));
        thread.join();
        QCOMPARE(results[0], 0);
        QCOMPARE(results[1], 0);
        QCOMPARE(Counts(), (QList<int>{2, 0, 2}));
    }
};

QTEST_GUILESS_MAIN(TestUdpChannel)
#include "test_udp_channel.moc"
