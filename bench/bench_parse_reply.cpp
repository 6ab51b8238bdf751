// Replies decoded per second on one core, for a typical reply and for the largest one a network
// printer can send (2048 bytes).  Usage: bench_parse_reply [seconds per reply, default 2]

#include "protocol/UtilPrinterStatus.h"
#include "tests/replies/ReplyBuilder.h"

#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray typicalReply()
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5000c50e07408"))
        .setInfo1("Orvo Q7030DN")
        .setInfo2("E73512K4N101234")
        .setInfo3("1.04.2")
        .setStatusCode(3)
        .setStatusText("Paper jam")
        .setErrorCodes1({0x1200})
        .addSupply(0x0000, "Toner 80%")
        .addSupplyValue(0x0001, 1, 4)
        .addSupplyValue(0x1000, 300, 2)
        .addSupplyValue(0x1001, 100, 2)
        .addSupplyValue(0x1002, 80, 2)
        .addSupplyValue(0x1003, 10000, 4)
        .addSupplyValue(0x1004, 250, 4)
        .addSupplyValue(0x1100, 3, 2)
        .addSupplyValue(0x1101, 12345, 4)
        .addSupplyValue(0x1102, 678, 4)
        .build();
}

// Every field at its longest, filled up to the 2048-byte receive size with supplies entries.
QByteArray largeReply()
{
    QVector<quint16> codes;
    for (int i = 0; i < 255; ++i) {
        codes.append(quint16(0x1100 + i));
    }
    ReplyBuilder b;
    b.setInfo1(QByteArray(255, 'a'))
        .setInfo2(QByteArray(255, 'b'))
        .setInfo3(QByteArray(255, 'c'))
        .setStatusText(QByteArray(255, 'd'))
        .setOpaqueBlock(QByteArray(255, 'e'))
        .setErrorCodes1(codes)
        .setErrorCodes2(codes.mid(0, 20));
    const unsigned long types[] = {0x1000, 0x1001, 0x1002, 0x1003, 0x1004, 0x1100, 0x1101, 0x1102};
    for (int i = 0; b.build().size() + 7 <= 2048; ++i) {
        b.addSupplyValue(quint16(types[i % 8]), quint64(i), 4);
    }
    return b.build();
}

void run(const char* name, const QByteArray& reply, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto* buf = reinterpret_cast<const unsigned char*>(reply.constData());
    const unsigned long len = static_cast<unsigned long>(reply.size());
    volatile std::uint64_t sink = 0;
    long long count = 0;
    const auto start = Clock::now();
    auto now = start;
    const auto limit = start + std::chrono::duration<double>(seconds);
    while (now < limit) {
        // Batches of 1000 keep the clock reads out of the figure.
        for (int i = 0; i < 1000; ++i) {
            UtilPrinterStatus status;
            if (!status.parseRecvBuf(buf, len)) {
                std::fprintf(stderr, "%s: reply does not decode\n", name);
                std::exit(1);
            }
            sink = sink + status.statusCode() + status.supply1000();
        }
        count += 1000;
        now = Clock::now();
    }
    const double elapsed = std::chrono::duration<double>(now - start).count();
    std::printf("%-14s %5d bytes  %12.0f replies/s  %8.1f ns/reply\n", name, reply.size(),
                double(count) / elapsed, elapsed * 1e9 / double(count));
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    run("typical reply", typicalReply(), seconds > 0 ? seconds : 2.0);
    run("large reply", largeReply(), seconds > 0 ? seconds : 2.0);
    return 0;
}
