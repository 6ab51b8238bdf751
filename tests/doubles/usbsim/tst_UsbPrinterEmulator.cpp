// The emulated USB printers seen through plain libusb calls, the way the service talks to a
// printer: init, device list, open by IDs, serial, driver, claim, class control request.

#include "tests/doubles/usbsim/UmockdevPreload.h"
#include "tests/doubles/usbsim/UsbPrinterEmulator.h"
#include "tests/doubles/usbsim/UsbSimControl.h"

#include <libusb.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>

namespace {

UsbPrinterEmulator* s_emulator = nullptr;

constexpr std::uint16_t kVid = 0x3A5C;
constexpr std::uint16_t kPidQ7020DN = 0x0703;
constexpr std::uint16_t kPidQ7040DN = 0x0721;
const char kSerialA[] = "AB12345678";
const char kSerialB[] = "CD98765432";
const char kSerialC[] = "EF00000001";
constexpr int kStatusRequest = 0x33;
constexpr int kCancelRequest = 0x34;

struct Exchange
{
    int found = LIBUSB_ERROR_NOT_FOUND; // 0 when the printer was opened
    int openErrors = 0;                 // candidates with the IDs that could not be opened
    int driverActive = -1;
    int detach = 1; // 1: not attempted
    int claim = 1;
    int transfer = 1;
    QByteArray data;
};

// One exchange, each with its own context, as the service does it.
Exchange exchange(std::uint16_t pid, const QByteArray& serial, int request = kStatusRequest,
                  unsigned timeoutMs = 2000, bool detach = true)
{
    Exchange ex;
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) < 0) {
        return ex;
    }
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < n && !handle; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) < 0 || desc.idVendor != kVid ||
            desc.idProduct != pid) {
            continue;
        }
        libusb_device_handle* h = nullptr;
        if (libusb_open(list[i], &h) != 0) {
            ex.openErrors++;
            continue;
        }
        unsigned char text[64] = {};
        const int len = libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, 64);
        if (len > 0 && QByteArray(reinterpret_cast<char*>(text), len) == serial) {
            handle = h;
        } else {
            libusb_close(h);
        }
    }
    if (n >= 0) {
        libusb_free_device_list(list, 1);
    }
    if (handle) {
        ex.found = 0;
        ex.driverActive = libusb_kernel_driver_active(handle, 0);
        if (ex.driverActive == 1 && detach) {
            ex.detach = libusb_detach_kernel_driver(handle, 0);
        }
        ex.claim = libusb_claim_interface(handle, 0);
        if (ex.claim == 0) {
            unsigned char buf[1024] = {};
            ex.transfer = libusb_control_transfer(handle, 0xA1, static_cast<std::uint8_t>(request),
                                                  0, 0, buf + 7, 1017, timeoutMs);
            if (ex.transfer > 0) {
                ex.data = QByteArray(reinterpret_cast<char*>(buf + 7), ex.transfer);
            }
        }
        libusb_close(handle);
    }
    libusb_exit(ctx);
    return ex;
}

std::vector<std::uint8_t> bytes(const QByteArray& a)
{
    return std::vector<std::uint8_t>(a.begin(), a.end());
}

QByteArray patternBytes(int size, int seed)
{
    QByteArray a(size, '\0');
    for (int i = 0; i < size; ++i) {
        a[i] = static_cast<char>((i * 7 + seed) & 0xff);
    }
    return a;
}

// Child mode for the launcher test: one status exchange, result on stdout.
int runProbe(const char* serial)
{
    if (!UmockdevPreload::isActive()) {
        std::fprintf(stderr, "probe: started without the umockdev preload\n");
        return 3;
    }
    const Exchange ex = exchange(kPidQ7020DN, serial);
    std::printf("found %d transfer %d data %s\n", ex.found, ex.transfer,
                ex.data.isEmpty() ? "-" : ex.data.toHex().constData());
    return 0;
}

} // namespace

class TestUsbPrinterEmulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void statusReply_data();
    void statusReply();
    void countsRequests();
    void transferModes_data();
    void transferModes();
    void claimFailure();
    void kernelDriver();
    void sameIdsDifferentSerials();
    void openFailure();
    void unplugAndPlug();
    void controlCommands_data();
    void controlCommands();
    void launcher();
    void measure();

private:
    int m_a = -1;
    int m_b = -1;
    int m_c = -1;
};

void TestUsbPrinterEmulator::initTestCase()
{
    QVERIFY2(UmockdevPreload::isActive(), "the test must run with libumockdev-preload");
    m_a = s_emulator->addPrinter(kPidQ7020DN, kSerialA, "Orvo Q7020DN");
    m_b = s_emulator->addPrinter(kPidQ7020DN, kSerialB, "Orvo Q7020DN");
    m_c = s_emulator->addPrinter(kPidQ7040DN, kSerialC, "Orvo Q7040DN");
}

void TestUsbPrinterEmulator::init()
{
    for (int i : {m_a, m_b, m_c}) {
        s_emulator->plug(i);
        s_emulator->setMode(i, UsbPrinterEmulator::TransferMode::Normal);
        s_emulator->setKernelDriver(i, false);
        s_emulator->setClaimFailure(i, false);
        s_emulator->setOpenFailure(i, false);
        s_emulator->setStatusReply(i, bytes(patternBytes(40, i)));
        s_emulator->setCancelReply(i, {0x00});
        s_emulator->resetCounters(i);
    }
}

void TestUsbPrinterEmulator::statusReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray shortest = QByteArray::fromHex("00112233");
    QTest::newRow("one byte") << QByteArray(1, '\x5a') << QByteArray(1, '\x5a');
    QTest::newRow("short reply") << shortest << shortest;
    QTest::newRow("exactly wLength") << patternBytes(1017, 3) << patternBytes(1017, 3);
    QTest::newRow("longer than wLength is cut")
        << patternBytes(1500, 5) << patternBytes(1500, 5).left(1017);
}

void TestUsbPrinterEmulator::statusReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, expected);
    s_emulator->setStatusReply(m_a, bytes(reply));
    const Exchange ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.found, 0);
    QCOMPARE(ex.driverActive, 0);
    QCOMPARE(ex.claim, 0);
    QCOMPARE(ex.transfer, expected.size());
    QCOMPARE(ex.data, expected);
}

void TestUsbPrinterEmulator::countsRequests()
{
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(exchange(kPidQ7020DN, kSerialA).transfer, 40);
    }
    s_emulator->setCancelReply(m_a, {0x01, 0x02});
    const Exchange cancel = exchange(kPidQ7020DN, kSerialA, kCancelRequest);
    QCOMPARE(cancel.transfer, 2);
    QCOMPARE(cancel.data, QByteArray::fromHex("0102"));
    QCOMPARE(s_emulator->statusRequests(m_a), 3);
    QCOMPARE(s_emulator->cancelRequests(m_a), 1);
    // Serial reads of the other printer with the same IDs are not class requests.
    QCOMPARE(s_emulator->statusRequests(m_b), 0);
    QCOMPARE(s_emulator->cancelRequests(m_b), 0);
}

void TestUsbPrinterEmulator::transferModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("result");

    QTest::newRow("zero bytes") << "zero" << kStatusRequest << 0;
    QTest::newRow("stall") << "stall" << kStatusRequest << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("time-out") << "timeout" << kStatusRequest << int(LIBUSB_ERROR_TIMEOUT);
    QTest::newRow("cancel stalls too") << "stall" << kCancelRequest << int(LIBUSB_ERROR_PIPE);
}

void TestUsbPrinterEmulator::transferModes()
{
    QFETCH(QString, mode);
    QFETCH(int, request);
    QFETCH(int, result);
    UsbPrinterEmulator::TransferMode m;
    QVERIFY(UsbPrinterEmulator::parseMode(mode.toStdString(), m));
    s_emulator->setMode(m_a, m);
    // A short time-out keeps the test quick; the discard path is the same as at 2000 ms.
    QElapsedTimer timer;
    timer.start();
    const Exchange ex = exchange(kPidQ7020DN, kSerialA, request, 400);
    QCOMPARE(ex.transfer, result);
    QVERIFY(ex.data.isEmpty());
    if (result == LIBUSB_ERROR_TIMEOUT) {
        QVERIFY2(timer.elapsed() >= 390, qPrintable(QString::number(timer.elapsed())));
    }
    // The pending URB was discarded: the same printer answers normally right after.
    s_emulator->setMode(m_a, UsbPrinterEmulator::TransferMode::Normal);
    QCOMPARE(exchange(kPidQ7020DN, kSerialA, request).transfer, request == kStatusRequest ? 40 : 1);
}

void TestUsbPrinterEmulator::claimFailure()
{
    s_emulator->setClaimFailure(m_a, true);
    const Exchange ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.found, 0);
    QCOMPARE(ex.claim, int(LIBUSB_ERROR_BUSY));
    QCOMPARE(s_emulator->statusRequests(m_a), 0);
}

void TestUsbPrinterEmulator::kernelDriver()
{
    s_emulator->setKernelDriver(m_a, true);
    // Without a detach the driver keeps the interface.
    Exchange ex = exchange(kPidQ7020DN, kSerialA, kStatusRequest, 2000, false);
    QCOMPARE(ex.driverActive, 1);
    QCOMPARE(ex.claim, int(LIBUSB_ERROR_BUSY));
    QVERIFY(s_emulator->kernelDriverBound(m_a));

    ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.driverActive, 1);
    QCOMPARE(ex.detach, 0);
    QCOMPARE(ex.claim, 0);
    QCOMPARE(ex.transfer, 40);
    QVERIFY(!s_emulator->kernelDriverBound(m_a));
    QCOMPARE(s_emulator->detachRequests(m_a), 1);

    // Detached stays detached, as with the kernel.
    ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.driverActive, 0);
    QCOMPARE(ex.detach, 1);
}

void TestUsbPrinterEmulator::sameIdsDifferentSerials()
{
    s_emulator->setStatusReply(m_b, {0xBB, 0xBB});
    const Exchange b = exchange(kPidQ7020DN, kSerialB);
    QCOMPARE(b.data, QByteArray::fromHex("bbbb"));
    const Exchange a = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(a.data, patternBytes(40, m_a));
    const Exchange c = exchange(kPidQ7040DN, kSerialC);
    QCOMPARE(c.data, patternBytes(40, m_c));
    QCOMPARE(exchange(kPidQ7040DN, kSerialA).found, int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(s_emulator->statusRequests(m_a), 1);
    QCOMPARE(s_emulator->statusRequests(m_b), 1);
    QCOMPARE(s_emulator->statusRequests(m_c), 1);
}

void TestUsbPrinterEmulator::openFailure()
{
    s_emulator->setOpenFailure(m_a, true);
    Exchange ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.found, int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(ex.openErrors, 1); // listed, but cannot be opened
    QCOMPARE(exchange(kPidQ7020DN, kSerialB).transfer, 40);
    s_emulator->setOpenFailure(m_a, false);
    QCOMPARE(exchange(kPidQ7020DN, kSerialA).transfer, 40);
}

void TestUsbPrinterEmulator::unplugAndPlug()
{
    s_emulator->unplug(m_a);
    QVERIFY(!s_emulator->isPlugged(m_a));
    Exchange ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.found, int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(ex.openErrors, 0); // gone from the list, not merely unopenable
    QCOMPARE(exchange(kPidQ7020DN, kSerialB).transfer, 40);
    s_emulator->plug(m_a);
    ex = exchange(kPidQ7020DN, kSerialA);
    QCOMPARE(ex.transfer, 40);
    QCOMPARE(s_emulator->statusRequests(m_a), 1);
}

void TestUsbPrinterEmulator::controlCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");

    QTest::newRow("count fresh") << "count 0"
                                 << "status 0 cancel 0 detach 0";
    QTest::newRow("by serial") << QString("count ") + kSerialB << "status 0 cancel 0 detach 0";
    QTest::newRow("set reply hex") << "set-reply 0 01:02 03"
                                   << "ok";
    QTest::newRow("empty reply") << "set-reply 0 -"
                                 << "ok";
    QTest::newRow("mode") << "mode 1 stall"
                          << "ok";
    QTest::newRow("driver") << "driver 2 on"
                            << "ok";
    QTest::newRow("list") << "list"
                          << "0 AB12345678 /dev/bus/usb/001/002 plugged; 1 CD98765432 "
                             "/dev/bus/usb/001/003 plugged; 2 EF00000001 /dev/bus/usb/001/004 "
                             "plugged";
    QTest::newRow("unknown device") << "count 9"
                                    << "error: no such device: 9";
    QTest::newRow("bad mode") << "mode 0 slow"
                              << "error: mode is normal, zero, timeout or stall";
    QTest::newRow("bad hex") << "set-reply 0 0g"
                             << "error: not hex bytes: 0g";
    QTest::newRow("odd hex") << "set-reply 0 012"
                             << "error: not hex bytes: 012";
    QTest::newRow("missing argument") << "driver 0"
                                      << "error: driver needs an argument";
    QTest::newRow("stray argument") << "unplug 0 now"
                                    << "error: unplug takes no argument";
    QTest::newRow("two arguments") << "driver 0 on off"
                                   << "error: too many arguments";
    QTest::newRow("unknown command") << "reboot 0"
                                     << "error: unknown command reboot";
    QTest::newRow("empty") << ""
                           << "error: empty command";
}

void TestUsbPrinterEmulator::controlCommands()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    UsbSimControl control(*s_emulator);
    QCOMPARE(QString::fromStdString(control.execute(command.toStdString())), answer);
}

// The launcher with its control socket, against a child process that only has the environment
// the launcher prints.
void TestUsbPrinterEmulator::launcher()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tool = QStringLiteral(ORVO_USB_SIM);
    const QString socket = dir.filePath("usb.ctl");
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The launcher must not inherit this process's emulation.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("LD_PRELOAD");
    env.remove("UMOCKDEV_DIR");
    sim.setProcessEnvironment(env);
    sim.start(tool, {"--control", socket, "--device", QString("Q7020DN:") + kSerialA, "--reply",
                     "a1b2c3"});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput()).contains("ready\n"), 10000);
    const QRegularExpression dirLine("UMOCKDEV_DIR=(\\S+)\\n");
    const QRegularExpression preloadLine("LD_PRELOAD=(\\S+)\\n");
    const QString root = dirLine.match(QString::fromUtf8(out)).captured(1);
    const QString preload = preloadLine.match(QString::fromUtf8(out)).captured(1);
    QVERIFY2(!root.isEmpty() && !preload.isEmpty(), out.constData());

    auto ctl = [&](const QStringList& args) {
        QProcess p;
        p.start(tool, QStringList{"ctl", socket} + args);
        if (!p.waitForFinished(10000)) {
            return QString("ctl did not finish");
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };
    auto probe = [&]() {
        QProcess p;
        QProcessEnvironment penv = env;
        penv.insert("LD_PRELOAD", preload);
        penv.insert("UMOCKDEV_DIR", root);
        p.setProcessEnvironment(penv);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), {"--probe", kSerialA});
        if (!p.waitForFinished(20000)) {
            return QString("probe did not finish");
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };

    QCOMPARE(probe(), QString("found 0 transfer 3 data a1b2c3"));
    QCOMPARE(ctl({"set-reply", "0", "0102"}), QString("ok"));
    QCOMPARE(probe(), QString("found 0 transfer 2 data 0102"));
    QCOMPARE(ctl({"mode", kSerialA, "stall"}), QString("ok"));
    QCOMPARE(probe(), QString("found 0 transfer -9 data -"));
    QCOMPARE(ctl({"unplug", "0"}), QString("ok"));
    QCOMPARE(probe(), QString("found -5 transfer 1 data -"));
    QCOMPARE(ctl({"count", "0"}), QString("status 3 cancel 0 detach 0"));
    QCOMPARE(ctl({"frobnicate", "0"}), QString("error: unknown command frobnicate"));

    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFile::exists(socket));

    // With a command: the launcher exits with the command's status.
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(tool, {"--device", QString("Q7020DN:") + kSerialA, "--", "sh", "-c",
                     "case \"$LD_PRELOAD\" in *libumockdev-preload*) test -d \"$UMOCKDEV_DIR\" && "
                     "exit 7;; esac; exit 1"});
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 7);
}

void TestUsbPrinterEmulator::measure()
{
    s_emulator->setStatusReply(m_a, bytes(patternBytes(300, 1)));
    constexpr int kCycles = 50;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kCycles; ++i) {
        QCOMPARE(exchange(kPidQ7020DN, kSerialA).transfer, 300);
    }
    const double cycleMs = timer.nsecsElapsed() / 1e6 / kCycles;

    libusb_context* ctx = nullptr;
    QCOMPARE(libusb_init(&ctx), 0);
    libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx, kVid, kPidQ7040DN);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    unsigned char buf[1024];
    constexpr int kTransfers = 500;
    timer.restart();
    for (int i = 0; i < kTransfers; ++i) {
        QCOMPARE(libusb_control_transfer(h, 0xA1, kStatusRequest, 0, 0, buf, 1017, 2000), 40);
    }
    const double transferMs = timer.nsecsElapsed() / 1e6 / kTransfers;
    libusb_close(h);
    libusb_exit(ctx);
    qInfo("emulated USB: control transfer round trip %.3f ms, init..exit cycle %.3f ms", transferMs,
          cycleMs);
    // Generous bounds: the emulation must stay cheap enough for end-to-end polling tests.
    QVERIFY(transferMs < 50);
    QVERIFY(cycleMs < 200);
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) {
        return runProbe(argv[2]);
    }
    UmockdevPreload::reexecIfMissing(argc, argv);
    // Before Qt or libusb start any thread: the testbed sets UMOCKDEV_DIR for the process.
    UsbPrinterEmulator emulator;
    s_emulator = &emulator;
    QCoreApplication app(argc, argv);
    TestUsbPrinterEmulator test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_UsbPrinterEmulator.moc"
