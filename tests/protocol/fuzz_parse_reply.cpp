// Feeds arbitrary bytes to the reply parser.  Built as a libFuzzer target (ORVO_FUZZ) and, without
// libFuzzer, into replay_reply_corpus, which runs every corpus file through it in the test suite.

#include "protocol/UtilPrinterStatus.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool terminated(const char* text, std::size_t size)
{
    return std::memchr(text, 0, size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    UtilPrinterStatus status;
    const bool bOk = status.parseRecvBuf(data, static_cast<unsigned long>(size));

    // Whatever the input, every text keeps its terminator inside its buffer ...
    require(terminated(status.info1(), UtilPrinterStatus::TEXT_SIZE));
    require(terminated(status.info2(), UtilPrinterStatus::TEXT_SIZE));
    require(terminated(status.info3(), UtilPrinterStatus::TEXT_SIZE));
    require(terminated(status.statusText(), UtilPrinterStatus::TEXT_SIZE));
    require(terminated(status.suppliesText(), UtilPrinterStatus::SUPPLIES_TEXT_SIZE));
    for (unsigned long type : {0x0001ul, 0x1000ul, 0x1001ul, 0x1002ul, 0x1003ul, 0x1004ul, 0x1100ul,
                               0x1101ul, 0x1102ul}) {
        unsigned long width = 0;
        const unsigned char* slot = status.rawSuppliesSlot(type, &width);
        require(slot != nullptr && width >= 3 && slot[width - 1] == 0);
    }
    // ... the error lists hold 16-bit codes, no more than announced, all of them on success ...
    for (const std::vector<std::uint64_t>* list : {&status.errorCodes1(), &status.errorCodes2()}) {
        for (std::uint64_t code : *list) {
            require(code <= 0xFFFF);
        }
    }
    require(status.errorCodes1().size() <= status.errorCount1());
    require(status.errorCodes2().size() <= status.errorCount2());
    if (bOk) {
        require(size >= 31);
        require(status.errorCodes1().size() == status.errorCount1());
        require(status.errorCodes2().size() == status.errorCount2());
    }
    // ... and a second decode of the same bytes gives the same answer.
    UtilPrinterStatus again;
    require(again.parseRecvBuf(data, static_cast<unsigned long>(size)) == bOk);
    require(again.statusCode() == status.statusCode());
    require(again.supply1000() == status.supply1000());
    return 0;
}
