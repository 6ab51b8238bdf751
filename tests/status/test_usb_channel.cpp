// The USB status channel against emulated printers: the real libusb code path, under
// umockdev's preload (the binary re-executes itself with it).

#include "tests/doubles/usbsim/UmockdevPreload.h"
#include "tests/doubles/usbsim/UsbPrinterEmulator.h"

#include "protocol/StatusCodeTables.h"
#include "service/FixedPaths.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"
#include "status/UsbStatusChannel.h"
#include "tests/replies/ReplyBuilder.h"

#include <libusb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {
UsbPrinterEmulator* s_emulator = nullptr;

constexpr std::uint16_t PID_Q7020DN = 0x0703;
constexpr std::uint16_t PID_Q7030DN = 0x0711;
constexpr std::uint16_t PID_Q7035DN = 0x0715;
constexpr std::uint16_t PID_Q7040DN = 0x0721;
constexpr std::uint16_t PID_Q7045DN = 0x0723;

// The step at which the exchange hook throws; empty: it only counts.
std::atomic<const char*> s_pThrowAt{nullptr};
std::atomic<int> s_iStepsReached{0};

void StepHook(const char* step)
{
    s_iStepsReached.fetch_add(1);
    const char* throwAt = s_pThrowAt.load();
    if (throwAt && std::strcmp(throwAt, step) == 0) {
        throw std::runtime_error(step);
    }
}

int OpenFdCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

// umockdev's handler thread closes its end of an emulated device's connection a moment after
// the client closed the device: wait for the count to stay put.
int SettledFdCount()
{
    int count = OpenFdCount();
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(20);
        const int now = OpenFdCount();
        if (now == count) {
            break;
        }
        count = now;
    }
    return count;
}

// A descriptor the exchange kept open would stay; the handler's own ones go within moments.
#define VERIFY_NO_FD_LEFT(before)                                                                  \
    QTRY_VERIFY2_WITH_TIMEOUT(                                                                     \
        OpenFdCount() <= (before),                                                                 \
        qPrintable(                                                                                \
            QStringLiteral("%1 descriptors open, %2 before").arg(OpenFdCount()).arg(before)),      \
        3000)

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

std::vector<std::uint8_t> Bytes(const QByteArray& data)
{
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

QByteArray ReadyReply()
{
    return ReplyBuilder()
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(3)
        .setStatusText("Ready")
        .setErrorCodes1({0x1200})
        .addSupplyValue(0x1000, 42, 2)
        .build();
}
} // namespace

class TestUsbChannel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_iA = -1, m_iB = -1, m_iLong = -1, m_iShort = -1, m_iNoKey = -1, m_iTwin1 = -1,
        m_iTwin2 = -1;
    TrdGetPrinterStatus* m_worker = nullptr;

    QString StatusFile() const
    {
        return FixedPaths::CfgDir() + m_worker->Printer().stInfo.strName + QStringLiteral(".dat");
    }

    static QByteArray Log()
    {
        QByteArray all;
        const QDir dir(FixedPaths::LogDir());
        for (const QString& name :
             dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
            all += ReadAll(dir.filePath(name));
        }
        return all;
    }

    // The emulator's index of the first of two devices that libusb lists.
    static int FirstListed(int one, int other)
    {
        libusb_context* ctx = nullptr;
        if (libusb_init(&ctx) < 0) {
            return -1;
        }
        libusb_device** list = nullptr;
        int first = -1;
        if (libusb_get_device_list(ctx, &list) >= 0) {
            for (int i = 0; list[i] && first < 0; ++i) {
                const QString node = QString::asprintf("/%03d", libusb_get_device_address(list[i]));
                for (int index : {one, other}) {
                    if (QString::fromStdString(s_emulator->devNode(index)).endsWith(node)) {
                        first = index;
                    }
                }
            }
            libusb_free_device_list(list, 1);
        }
        libusb_exit(ctx);
        return first;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(UmockdevPreload::isActive());
        QVERIFY(m_root.isValid());
        FixedPaths::SetRootForTesting(m_root.path());
        UtilLog::SetLogEnable(true);
        m_iA = s_emulator->addPrinter(PID_Q7020DN, "AB12CD34EF");
        m_iB = s_emulator->addPrinter(PID_Q7020DN, "ZZ99YY88XX");
        m_iLong = s_emulator->addPrinter(PID_Q7030DN, "LONGSERIAL0123");
        m_iShort = s_emulator->addPrinter(PID_Q7040DN, "SHORT1");
        m_iNoKey = s_emulator->addPrinter(PID_Q7040DN, "7040dn?SN=99");
        m_iTwin1 = s_emulator->addPrinter(PID_Q7045DN, "TWIN000001");
        m_iTwin2 = s_emulator->addPrinter(PID_Q7045DN, "TWIN000001");
        // One production batch: the serials share their first ten characters.
        s_emulator->addPrinter(PID_Q7035DN, "E73512K4N101234");
        s_emulator->addPrinter(PID_Q7035DN, "E73512K4N105678");
    }

    void cleanupTestCase()
    {
        UtilLog::SetLogEnable(false);
        FixedPaths::SetRootForTesting(QString());
    }

    void init()
    {
        for (int i = 0; i < s_emulator->printerCount(); ++i) {
            s_emulator->setMode(i, UsbPrinterEmulator::TransferMode::Normal);
            s_emulator->setKernelDriver(i, false);
            s_emulator->setClaimFailure(i, false);
            s_emulator->setOpenFailure(i, false);
            s_emulator->setStatusReply(i, Bytes(ReadyReply().mid(7)));
            s_emulator->setCancelReply(i, {});
            s_emulator->resetCounters(i);
        }
        s_pThrowAt = nullptr;
        s_iStepsReached = 0;
        UsbStatusChannel::SetStepHookForTesting(&StepHook);
        m_worker = new TrdGetPrinterStatus;
        m_worker->Printer().stInfo.strName = QString::fromUtf8(QTest::currentTestFunction());
        QFile::remove(StatusFile());
    }

    void cleanup()
    {
        UsbStatusChannel::SetStepHookForTesting(nullptr);
        delete m_worker;
        m_worker = nullptr;
    }

    void vidPid_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("pid");
        QTest::newRow("Q7020DN") << "Orvo/Q7020DN?serial=1" << true << 0x0703;
        QTest::newRow("shorter key is not a prefix match")
            << "Orvo/Q7020?serial=1" << true << 0x0701;
        QTest::newRow("last row") << "Orvo/QM7068FDW?serial=1" << true << 0x0736;
        QTest::newRow("letter case counts") << "orvo/q7020dn?serial=1" << false << 0;
        QTest::newRow("key without question mark") << "Orvo/Q7020DN" << false << 0;
        QTest::newRow("unknown model") << "Orvo/Q9999?serial=1" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
    }
    void vidPid()
    {
        QFETCH(QString, port);
        QFETCH(bool, found);
        QFETCH(int, pid);
        int vid = -7, gotPid = -7;
        QCOMPARE(TrdGetPrinterStatus::GetPrinterVidPid(port, vid, gotPid), found);
        QCOMPARE(vid, found ? 0x3A5C : -7);
        QCOMPARE(gotPid, found ? pid : -7);
    }

    void unknownModelTouchesNothing_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("status") << false;
        QTest::newRow("cancel") << true;
    }
    void unknownModelTouchesNothing()
    {
        QFETCH(bool, cancel);
        const QByteArray logBefore = Log();
        const QString port = QStringLiteral("Orvo/Q9999?serial=AB12CD34EF");
        QCOMPARE(cancel ? m_worker->CancelPrinterJob(port) : m_worker->GetPrinterStatusUSB(port),
                 -1);
        QCOMPARE(s_iStepsReached.load(), 0); // libusb_init was never reached
        QCOMPARE(Log(), logBefore);
        QVERIFY(!QFile::exists(StatusFile()));
    }

    void serialRules_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("device"); // serial of the device asked, or empty
        QTest::newRow("exact serial") << "Orvo/Q7020DN?serial=AB12CD34EF" << 0 << "AB12CD34EF";
        QTest::newRow("serial in other letter case")
            << "Orvo/Q7020DN?serial=ab12cd34ef" << 0 << "AB12CD34EF";
        QTest::newRow("key in other letter case")
            << "Orvo/Q7020DN?SERIAL=AB12CD34EF" << 0 << "AB12CD34EF";
        QTest::newRow("second device with the same IDs")
            << "Orvo/Q7020DN?serial=ZZ99YY88XX" << 0 << "ZZ99YY88XX";
        QTest::newRow("device serial longer than 10")
            << "Orvo/Q7030DN?serial=longserial" << 0 << "LONGSERIAL0123";
        QTest::newRow("port serial differs behind the first 10")
            << "Orvo/Q7030DN?serial=LONGSERIALxyz" << -5 << "";
        QTest::newRow("batch, first serial")
            << "Orvo/Q7035DN?serial=E73512K4N101234" << 0 << "E73512K4N101234";
        QTest::newRow("batch, second serial")
            << "Orvo/Q7035DN?serial=e73512k4n105678&interface=1" << 0 << "E73512K4N105678";
        QTest::newRow("batch, serial cut short names neither")
            << "Orvo/Q7035DN?serial=E73512K4N1" << -5 << "";
        QTest::newRow("short serial at the end") << "Orvo/Q7040DN?serial=SHORT1" << 0 << "SHORT1";
        QTest::newRow("short serial followed by a parameter")
            << "Orvo/Q7040DN?serial=SHORT1&interface=1" << 0 << "SHORT1";
        QTest::newRow("no serial=, characters from position 6")
            << "Orvo/Q7040DN?sn=12345" << 0 << "7040dn?SN=99";
        QTest::newRow("no serial=, no device begins so") << "Orvo/Q7020DN?sn=1" << -5 << "";
        QTest::newRow("unknown serial") << "Orvo/Q7020DN?serial=0000000000" << -5 << "";
        QTest::newRow("model without devices") << "Orvo/QM7060DN?serial=AB12CD34EF" << -5 << "";
        QTest::newRow("model not in table") << "Orvo/Q9999?serial=AB12CD34EF" << -1 << "";
    }
    void serialRules()
    {
        QFETCH(QString, port);
        QFETCH(int, result);
        QFETCH(QString, device);
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), result);
        int asked = 0;
        for (int i = 0; i < s_emulator->printerCount(); ++i) {
            const int expected = s_emulator->serial(i) == device.toStdString() ? 1 : 0;
            QCOMPARE(s_emulator->statusRequests(i), expected);
            asked += s_emulator->statusRequests(i);
        }
        QCOMPARE(asked, device.isEmpty() ? 0 : 1);
        QCOMPARE(QFile::exists(StatusFile()), result == 0);
    }

    void noDeviceIsLogged()
    {
        const int logSize = Log().size();
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7020DN?serial=NONE")), -5);
        const QByteArray lines = Log().mid(logSize);
        QVERIFY2(lines.contains("TrdGetPrinterStatus.cpp@"), lines.constData());
        QVERIFY2(lines.contains(" GetPrinterStatusUSB) Cannot open device\n"), lines.constData());
        QCOMPARE(lines.count('\n'), 1);
    }

    // libusb lists the twins in some order; the first one listed cannot be opened, so the walk
    // must go on to the second, which has the same serial.
    void unopenableDeviceIsSkipped()
    {
        const int first = FirstListed(m_iTwin1, m_iTwin2);
        QVERIFY(first >= 0);
        const int second = first == m_iTwin1 ? m_iTwin2 : m_iTwin1;
        s_emulator->setOpenFailure(first, true);
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7045DN?serial=TWIN000001")),
                 0);
        QCOMPARE(s_emulator->statusRequests(first), 0);
        QCOMPARE(s_emulator->statusRequests(second), 1);

        s_emulator->setOpenFailure(second, true);
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7045DN?serial=TWIN000001")),
                 -5);
    }

    void kernelDriverIsDetached()
    {
        s_emulator->setKernelDriver(m_iA, true);
        const int logSize = Log().size();
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF")),
                 0);
        QCOMPARE(s_emulator->detachRequests(m_iA), 1);
        QVERIFY(!s_emulator->kernelDriverBound(m_iA));
        const QByteArray lines = Log().mid(logSize);
        const int active = lines.indexOf(" GetPrinterStatusUSB) Kernel Driver Active\n");
        const int detached = lines.indexOf(" GetPrinterStatusUSB) Kernel Driver Detached!\n");
        QVERIFY2(active >= 0 && detached > active, lines.constData());

        // Without a driver nothing is detached and nothing logged.
        const int logSize2 = Log().size();
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF")),
                 0);
        QCOMPARE(s_emulator->detachRequests(m_iA), 1);
        QCOMPARE(Log().size(), logSize2);
    }

    void claimFailure_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("status") << false
                                << QByteArray(
                                       " GetPrinterStatusUSB) Cannot Claim Interface,ret = ") +
                                       QByteArray::number(LIBUSB_ERROR_BUSY) + "\n";
        QTest::newRow("cancel") << true
                                << QByteArray(" CancelPrinterJob) Cannot Claim Interface\n");
    }
    void claimFailure()
    {
        QFETCH(bool, cancel);
        QFETCH(QByteArray, line);
        const QString port = QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF");
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), 0);
        const QByteArray file = ReadAll(StatusFile());
        const int status = m_worker->Printer().stState.iStatus;
        s_emulator->setClaimFailure(m_iA, true);
        const int logSize = Log().size();
        const int fds = SettledFdCount();
        QCOMPARE(cancel ? m_worker->CancelPrinterJob(port) : m_worker->GetPrinterStatusUSB(port),
                 -6);
        VERIFY_NO_FD_LEFT(fds);
        const QByteArray lines = Log().mid(logSize);
        QVERIFY2(lines.endsWith(line), lines.constData());
        QCOMPARE(ReadAll(StatusFile()), file);
        QCOMPARE(m_worker->Printer().stState.iStatus, status);
        QCOMPARE(s_emulator->statusRequests(m_iA) + s_emulator->cancelRequests(m_iA), 1);
    }

    void decodedReply()
    {
        QCOMPARE(m_worker->GetPrinterStatusUSB(QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF")),
                 0);
        // Seven zero bytes stand in for the header a USB reply does not carry.
        QByteArray expected = ReadyReply();
        expected.replace(0, 7, QByteArray(7, '\0'));
        QCOMPARE(ReadAll(StatusFile()), expected);
        const stPrinterState& state = m_worker->Printer().stState;
        QCOMPARE(state.strInfo1, QStringLiteral("Orvo Q7020DN"));
        QCOMPARE(state.strStatusText, QStringLiteral("Ready"));
        QCOMPARE(state.iStatus, GetPrinterStatusEnum(3));
        QCOMPARE(state.listError1, QList<enErrorStatus>{ERROR_STATUS_1});
        QCOMPARE(state.ulSupply1000, quint64(42));
        QCOMPARE(s_emulator->statusRequests(m_iA), 1);
        QCOMPARE(s_emulator->cancelRequests(m_iA), 0);
    }

    // A failed transfer still reaches the evaluation; the reply state stays as it was.
    void failedTransfer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("minMs");
        QTest::newRow("zero bytes")
            << int(UsbPrinterEmulator::TransferMode::ZeroBytes) << QByteArray(7, '\0') << 0;
        QTest::newRow("time-out") << int(UsbPrinterEmulator::TransferMode::Timeout) << QByteArray()
                                  << 1900;
        // libusb reports a stall as -9: below the time-out's -7, so taken like a time-out.
        QTest::newRow("stall") << int(UsbPrinterEmulator::TransferMode::Stall) << QByteArray() << 0;
    }
    void failedTransfer()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, file);
        QFETCH(int, minMs);
        const QString port = QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF");
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), 0);
        QVERIFY(ReadAll(StatusFile()).size() > 7);
        s_emulator->setMode(m_iA, static_cast<UsbPrinterEmulator::TransferMode>(mode));
        const int fds = SettledFdCount();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), -1);
        QVERIFY(timer.elapsed() >= minMs);
        QVERIFY(timer.elapsed() < 5000);
        VERIFY_NO_FD_LEFT(fds);
        QCOMPARE(ReadAll(StatusFile()), file);
        QCOMPARE(m_worker->Printer().stState.strStatusText, QStringLiteral("Ready"));
    }

    void exceptionEndsExchangeCleanly_data()
    {
        QTest::addColumn<QByteArray>("step");
        QTest::addColumn<bool>("cancel");
        for (const char* step : {"context", "list", "opened", "claimed", "transferred"}) {
            QTest::newRow(QByteArray("status, ").append(step).constData())
                << QByteArray(step) << false;
            QTest::newRow(QByteArray("cancel, ").append(step).constData())
                << QByteArray(step) << true;
        }
    }
    void exceptionEndsExchangeCleanly()
    {
        QFETCH(QByteArray, step);
        QFETCH(bool, cancel);
        const QString port = QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF");
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), 0);
        const int status = m_worker->Printer().stState.iStatus;
        static QByteArray s_step;
        s_step = step;
        s_pThrowAt = s_step.constData();
        const int fds = SettledFdCount();
        const int logSize = Log().size();
        if (cancel) {
            QCOMPARE(m_worker->CancelPrinterJob(port), -99);
            QVERIFY(ReadAll(StatusFile()).size() > 7); // a cancel never touches the file
        } else {
            // Taken like a time-out: an empty reply, which does not decode.
            QCOMPARE(m_worker->GetPrinterStatusUSB(port), -1);
            QCOMPARE(ReadAll(StatusFile()), QByteArray());
            QCOMPARE(m_worker->Printer().stState.iStatus, status);
        }
        VERIFY_NO_FD_LEFT(fds);
        const QByteArray lines = Log().mid(logSize);
        QVERIFY2(lines.endsWith(cancel ? " CancelPrinterJob) throw error\n"
                                       : " GetPrinterStatusUSB) throw error\n"),
                 lines.constData());

        // Nothing was left claimed or open: the next exchange works.
        s_pThrowAt = nullptr;
        QCOMPARE(m_worker->GetPrinterStatusUSB(port), 0);
    }

    void everyExitGivesBackItsResources_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("claimFails");
        QTest::addColumn<int>("result");
        QTest::newRow("success") << "Orvo/Q7020DN?serial=AB12CD34EF" << false << 0;
        QTest::newRow("no device") << "Orvo/Q7020DN?serial=NONE" << false << -5;
        QTest::newRow("other device of the IDs only")
            << "Orvo/Q7020DN?serial=ZZ99YY88XY" << false << -5;
        QTest::newRow("claim fails") << "Orvo/Q7020DN?serial=AB12CD34EF" << true << -6;
    }
    void everyExitGivesBackItsResources()
    {
        QFETCH(QString, port);
        QFETCH(bool, claimFails);
        QFETCH(int, result);
        s_emulator->setClaimFailure(m_iA, claimFails);
        const int fds = SettledFdCount();
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(m_worker->GetPrinterStatusUSB(port), result);
        }
        VERIFY_NO_FD_LEFT(fds);
    }

    void cancelReachesDeviceOncePerCall_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("three bytes") << QByteArray("\x01\x02\x03", 3);
        QTest::newRow("no bytes") << QByteArray();
    }
    void cancelReachesDeviceOncePerCall()
    {
        QFETCH(QByteArray, reply);
        s_emulator->setCancelReply(m_iA, Bytes(reply));
        const QString port = QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF");
        QCOMPARE(m_worker->CancelPrinterJob(port), reply.size());
        QCOMPARE(s_emulator->cancelRequests(m_iA), 1);
        QCOMPARE(m_worker->CancelPrinterJob(port), reply.size());
        QCOMPARE(s_emulator->cancelRequests(m_iA), 2);
        QCOMPARE(s_emulator->statusRequests(m_iA), 0);
        QCOMPARE(s_emulator->cancelRequests(m_iB), 0);
        QVERIFY(!QFile::exists(StatusFile()));
    }

    void cancelWithoutDevice()
    {
        QCOMPARE(m_worker->CancelPrinterJob(QStringLiteral("Orvo/Q7020DN?serial=NONE")), -5);
        s_emulator->setMode(m_iA, UsbPrinterEmulator::TransferMode::Stall);
        QCOMPARE(m_worker->CancelPrinterJob(QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF")),
                 int(LIBUSB_ERROR_PIPE));
    }

    // Two workers reach the same printer at the same time: each either gets its reply or
    // loses interface 0 (-6); nothing crashes and every successful poll reached the printer.
    void twoThreadsPollOneDevice()
    {
        constexpr int POLLS = 20;
        TrdGetPrinterStatus workers[2];
        int results[2][POLLS] = {};
        std::thread threads[2];
        for (int t = 0; t < 2; ++t) {
            workers[t].Printer().stInfo.strName = QStringLiteral("twin-worker-%1").arg(t);
            threads[t] = std::thread([&workers, &results, t] {
                for (int i = 0; i < POLLS; ++i) {
                    results[t][i] = workers[t].GetPrinterStatusUSB(
                        QStringLiteral("Orvo/Q7020DN?serial=AB12CD34EF"));
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        int succeeded = 0;
        for (int t = 0; t < 2; ++t) {
            for (int i = 0; i < POLLS; ++i) {
                QVERIFY2(results[t][i] == 0 || results[t][i] == -6,
                         qPrintable(QString::number(results[t][i])));
                succeeded += results[t][i] == 0;
            }
        }
        QVERIFY(succeeded > 0);
        QCOMPARE(s_emulator->statusRequests(m_iA), succeeded);
    }
};

int main(int argc, char** argv)
{
    UmockdevPreload::reexecIfMissing(argc, argv);
    // Before Qt or libusb start a thread: the testbed sets UMOCKDEV_DIR for the process.
    UsbPrinterEmulator emulator;
    s_emulator = &emulator;
    QCoreApplication app(argc, argv);
    TestUsbChannel test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_usb_channel.moc"
