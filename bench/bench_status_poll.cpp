// Time of one status poll through the real channel code:
//   bench_status_poll usb [N]        against an emulated USB printer (umockdev; re-executes
//                                    itself with the preload)
//   bench_status_poll udp SIM [N]    against the simulated network printer SIM
//                                    (tests/doubles/printersim/orvo-printer-sim), started on
//                                    127.0.0.1:9300; only inside a private network namespace
//                                    (orvo-testenv), where lo is the only interface
// Prints the median, mean, minimum and maximum over N polls (default 200).

#include "tests/doubles/usbsim/UmockdevPreload.h"
#include "tests/doubles/usbsim/UsbPrinterEmulator.h"

#include "service/FixedPaths.h"
#include "status/TrdGetPrinterStatus.h"
#include "tests/replies/ReplyBuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <vector>

namespace {
QByteArray Reply()
{
    return ReplyBuilder()
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(3)
        .setStatusText("Ready")
        .addSupply(0x0000, "Toner")
        .addSupplyValue(0x1000, 80, 2)
        .build();
}

int Report(const char* what, std::vector<double> us, int failures)
{
    if (us.empty()) {
        std::printf("%s: no successful poll (%d failed)\n", what, failures);
        return 1;
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) {
        sum += v;
    }
    std::printf("%s: %zu polls, %d failed: median %.3f ms, mean %.3f ms, min %.3f ms, "
                "max %.3f ms\n",
                what, us.size(), failures, us[us.size() / 2] / 1000.0,
                sum / double(us.size()) / 1000.0, us.front() / 1000.0, us.back() / 1000.0);
    return failures == 0 ? 0 : 1;
}

template <typename Poll> int Measure(const char* what, int count, Poll poll)
{
    std::vector<double> us;
    int failures = 0;
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        timer.start();
        const int result = poll();
        const double elapsed = double(timer.nsecsElapsed()) / 1000.0;
        if (result == 0) {
            us.push_back(elapsed);
        } else {
            ++failures;
        }
    }
    return Report(what, us, failures);
}

bool OnlyLoopback()
{
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        return false;
    }
    bool only = true;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        only = only && std::strcmp(n->if_name, "lo") == 0;
    }
    if_freenameindex(names);
    return only;
}
} // namespace

int main(int argc, char** argv)
{
    const bool usb = argc >= 2 && std::strcmp(argv[1], "usb") == 0;
    const bool udp = argc >= 3 && std::strcmp(argv[1], "udp") == 0;
    if (!usb && !udp) {
        std::fprintf(stderr, "usage: %s usb [N] | udp SIMULATOR [N]\n", argv[0]);
        return 2;
    }
    const int count = std::max(1, std::atoi(argv[usb ? 2 : 3] ? argv[usb ? 2 : 3] : "200"));

    if (usb) {
        UmockdevPreload::reexecIfMissing(argc, argv);
        UsbPrinterEmulator emulator; // before any thread: it sets UMOCKDEV_DIR
        const int printer = emulator.addPrinter(0x0703, "BENCH00001");
        const QByteArray reply = Reply();
        emulator.setStatusReply(printer, std::vector<std::uint8_t>(reply.begin() + 7, reply.end()));
        QCoreApplication app(argc, argv);
        QTemporaryDir root;
        FixedPaths::SetRootForTesting(root.path());
        TrdGetPrinterStatus worker;
        worker.Printer().stInfo.strName = QStringLiteral("bench");
        return Measure("usb poll", count, [&] {
            return worker.GetPrinterStatusUSB(QStringLiteral("Orvo/Q7020DN?serial=BENCH00001"));
        });
    }

    if (!OnlyLoopback()) {
        std::fprintf(stderr, "udp: run inside a private network namespace (orvo-testenv)\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    FixedPaths::SetRootForTesting(root.path());
    const QString ready = root.filePath(QStringLiteral("sim.ready"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QString::fromLocal8Bit(argv[2]),
              {QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
               QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--ready"), ready,
               QStringLiteral("--reply-hex"), QString::fromLatin1(Reply().toHex())});
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(ready) && wait.elapsed() < 10000) {
        QThread::msleep(10);
    }
    if (!QFile::exists(ready)) {
        std::fprintf(stderr, "udp: the simulator did not get ready\n");
        return 1;
    }
    TrdGetPrinterStatus worker;
    worker.Printer().stInfo.strName = QStringLiteral("bench");
    const int rc = Measure("udp poll", count,
                           [&] { return worker.GetPrinterStatusUDP(QStringLiteral("127.0.0.1")); });
    sim.terminate();
    sim.waitForFinished(5000);
    return rc;
}
