#include "UtilPrinterStatus.h"

#include <cstring>

namespace {

// The only place where a read meets the received length: a field is handed out only when it ends
// within the reply.  ulPos never passes ulLen, so ulLen - ulPos cannot wrap, and positions are
// 64-bit so that no sum of lengths can overflow on a 32-bit unsigned long either.
struct stReplyReader
{
    const unsigned char* pBuf;
    std::uint64_t ulLen;
    std::uint64_t ulPos;

    const unsigned char* take(std::uint64_t ulSize)
    {
        if (ulSize > ulLen - ulPos) {
            return nullptr;
        }
        const unsigned char* pField = pBuf + ulPos;
        ulPos += ulSize;
        return pField;
    }
};

std::uint64_t readBE16(const unsigned char* p)
{
    return (std::uint64_t(p[0]) << 8) | p[1];
}

// Copies a field into its zero-filled buffer, cut so that the buffer always keeps a terminating
// zero, and clears what an earlier field of the same slot left behind it.
void keepBytes(unsigned char* pDst, std::size_t ulDstSize, const unsigned char* pSrc,
               std::uint64_t ulCount)
{
    const std::size_t ulKept = ulCount < ulDstSize ? std::size_t(ulCount) : ulDstSize - 1;
    if (ulKept > 0) {
        std::memcpy(pDst, pSrc, ulKept);
    }
    std::memset(pDst + ulKept, 0, ulDstSize - ulKept);
}

} // namespace

UtilPrinterStatus::UtilPrinterStatus()
{
    reset();
}

void UtilPrinterStatus::reset()
{
    listErrorCode1.clear();
    listErrorCode2.clear();
    std::memset(ucByte7, 0, sizeof(ucByte7));
    std::memset(ucBytes8To9, 0, sizeof(ucBytes8To9));
    std::memset(ucBytes10To11, 0, sizeof(ucBytes10To11));
    std::memset(ucLen1, 0, sizeof(ucLen1));
    std::memset(ucInfo1, 0, sizeof(ucInfo1));
    ulLen1 = 0;
    std::memset(ucLen2, 0, sizeof(ucLen2));
    std::memset(ucInfo2, 0, sizeof(ucInfo2));
    ulLen2 = 0;
    std::memset(ucLen3, 0, sizeof(ucLen3));
    std::memset(ucInfo3, 0, sizeof(ucInfo3));
    ulLen3 = 0;
    std::memset(ucBytesBehindInfo3, 0, sizeof(ucBytesBehindInfo3));
    std::memset(ucStatusCode, 0, sizeof(ucStatusCode));
    std::memset(ucLen5, 0, sizeof(ucLen5));
    std::memset(ucBlock, 0, sizeof(ucBlock));
    std::memset(ucErrorCount1, 0, sizeof(ucErrorCount1));
    std::memset(ucLastErrorCode1, 0, sizeof(ucLastErrorCode1));
    std::memset(ucErrorCount2, 0, sizeof(ucErrorCount2));
    std::memset(ucLastErrorCode2, 0, sizeof(ucLastErrorCode2));
    ulLen5 = 0;
    ulErrorCount1 = 0;
    ulErrorCount2 = 0;
    ulStatusCode = 0;
    std::memset(ucStatusText, 0, sizeof(ucStatusText));
    std::memset(ucLen4, 0, sizeof(ucLen4));
    std::memset(ucByteU, 0, sizeof(ucByteU));
    std::memset(ucBytesU1To2, 0, sizeof(ucBytesU1To2));
    std::memset(ucBytesU3To4, 0, sizeof(ucBytesU3To4));
    std::memset(ucSuppliesCount, 0, sizeof(ucSuppliesCount));
    ulSuppliesCount = 0;
    std::memset(ucSuppliesText, 0, sizeof(ucSuppliesText));
    std::memset(ucTonerType, 0, sizeof(ucTonerType));
    std::memset(ucSupply1000, 0, sizeof(ucSupply1000));
    std::memset(ucSupply1001, 0, sizeof(ucSupply1001));
    std::memset(ucSupply1002, 0, sizeof(ucSupply1002));
    std::memset(ucSupply1003, 0, sizeof(ucSupply1003));
    std::memset(ucSupply1004, 0, sizeof(ucSupply1004));
    std::memset(ucSupply1100, 0, sizeof(ucSupply1100));
    std::memset(ucSupply1101, 0, sizeof(ucSupply1101));
    std::memset(ucSupply1102, 0, sizeof(ucSupply1102));
    ulTonerType = 0;
    ulSupply1000 = 0;
    ulSupply1001 = 0;
    ulSupply1002 = 0;
    ulSupply1003 = 0;
    ulSupply1004 = 0;
    ulSupply1100 = 0;
    ulSupply1101 = 0;
    ulSupply1102 = 0;
}

// Status reply, all numbers big-endian and unsigned; p, q, r, s, t, u, e are running positions.
//
//   0      7     header (the printer's own, or seven zero bytes in front of USB data)
//   7      1     byte 7                      8      2   bytes 8-9
//   10     2     bytes 10-11                 12     2   L1, then text 1 (L1 bytes)
//   14+L1  2     L2, then text 2 (L2)        p      2   L3, then text 3 (L3)
//   q      2     two bytes                   q+2    1   status code
//   q+3    1     L4, then status text (L4)   r      1   L5, then opaque block (L5)
//   s      1     N1, then N1 x 2-byte error codes
//   t      1     N2, then N2 x 2-byte error codes
//   u      1     one byte                    u+1    2   two bytes
//   u+3    2     two bytes                   u+5    1   N3
//   e = u+6      N3 supplies entries: type (2), Ls (1), value (Ls)
//
// Bytes behind the last supplies entry are ignored.
bool UtilPrinterStatus::parseRecvBuf(const unsigned char* buf, unsigned long len)
{
    reset();
    if (buf == nullptr) {
        return false;
    }
    stReplyReader reader = {buf, len, 0};
    const unsigned char* p = nullptr;

    if (!reader.take(7)) {
        return false;
    }
    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucByte7, sizeof(ucByte7), p, 1);
    if (!(p = reader.take(2))) {
        return false;
    }
    keepBytes(ucBytes8To9, sizeof(ucBytes8To9), p, 2);
    if (!(p = reader.take(2))) {
        return false;
    }
    keepBytes(ucBytes10To11, sizeof(ucBytes10To11), p, 2);

    // Texts 1 to 3: a 16-bit length, then the text.
    struct
    {
        unsigned char* pRawLen;
        unsigned char* pText;
        std::uint64_t* pLen;
    } const textList[] = {
        {ucLen1, ucInfo1, &ulLen1}, {ucLen2, ucInfo2, &ulLen2}, {ucLen3, ucInfo3, &ulLen3}};
    for (const auto& text : textList) {
        if (!(p = reader.take(2))) {
            return false;
        }
        keepBytes(text.pRawLen, 3, p, 2);
        const std::uint64_t ulTextLen = readBE16(p);
        *text.pLen = ulTextLen;
        if (!(p = reader.take(ulTextLen))) {
            return false;
        }
        keepBytes(text.pText, TEXT_SIZE, p, ulTextLen);
    }

    if (!(p = reader.take(2))) {
        return false;
    }
    keepBytes(ucBytesBehindInfo3, sizeof(ucBytesBehindInfo3), p, 2);
    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucStatusCode, sizeof(ucStatusCode), p, 1);
    ulStatusCode = p[0];
    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucLen4, sizeof(ucLen4), p, 1);
    const std::uint64_t ulLen4 = p[0];
    if (!(p = reader.take(ulLen4))) {
        return false;
    }
    keepBytes(ucStatusText, sizeof(ucStatusText), p, ulLen4);

    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucLen5, sizeof(ucLen5), p, 1);
    ulLen5 = p[0];
    if (!(p = reader.take(ulLen5))) {
        return false;
    }
    // A one-byte length never exceeds the block; cut all the same so the buffer keeps its end.
    keepBytes(ucBlock, sizeof(ucBlock), p, ulLen5);

    struct
    {
        unsigned char* pRawCount;
        unsigned char* pLastCode;
        std::uint64_t* pCount;
        std::vector<std::uint64_t>* pList;
    } const errorListList[] = {{ucErrorCount1, ucLastErrorCode1, &ulErrorCount1, &listErrorCode1},
                               {ucErrorCount2, ucLastErrorCode2, &ulErrorCount2, &listErrorCode2}};
    for (const auto& errorList : errorListList) {
        if (!(p = reader.take(1))) {
            return false;
        }
        keepBytes(errorList.pRawCount, 2, p, 1);
        const std::uint64_t ulCount = p[0];
        *errorList.pCount = ulCount;
        errorList.pList->reserve(ulCount);
        for (std::uint64_t i = 0; i < ulCount; ++i) {
            if (!(p = reader.take(2))) {
                return false;
            }
            keepBytes(errorList.pLastCode, 3, p, 2);
            errorList.pList->push_back(readBE16(p));
        }
    }

    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucByteU, sizeof(ucByteU), p, 1);
    if (!(p = reader.take(2))) {
        return false;
    }
    keepBytes(ucBytesU1To2, sizeof(ucBytesU1To2), p, 2);
    if (!(p = reader.take(2))) {
        return false;
    }
    keepBytes(ucBytesU3To4, sizeof(ucBytesU3To4), p, 2);
    if (!(p = reader.take(1))) {
        return false;
    }
    keepBytes(ucSuppliesCount, sizeof(ucSuppliesCount), p, 1);
    ulSuppliesCount = p[0];

    // Not cleared between entries: an entry of length 0 decodes from what the previous entry
    // left here (see byteToDWORD).
    unsigned char ucScratch[SUPPLIES_SCRATCH_SIZE] = {0};
    for (std::uint64_t i = 0; i < ulSuppliesCount; ++i) {
        if (!(p = reader.take(2))) {
            return false;
        }
        const std::uint64_t ulType = readBE16(p);
        if (!(p = reader.take(1))) {
            return false;
        }
        const std::uint64_t ulValueLen = p[0];
        if (!(p = reader.take(ulValueLen))) {
            return false;
        }
        // A value longer than the scratch area is cut; from five bytes on only the first byte
        // counts anyway, so the decoded value is the same.
        const std::size_t ulKept =
            ulValueLen < sizeof(ucScratch) ? std::size_t(ulValueLen) : sizeof(ucScratch);
        std::memcpy(ucScratch, p, ulKept);
        setSuppliesData(static_cast<unsigned long>(ulType), ucScratch, ulKept);
    }
    return true;
}

bool UtilPrinterStatus::findSuppliesSlot(unsigned long type, stSuppliesSlot* slot)
{
    switch (type) {
    case 0x0001:
        *slot = {ucTonerType, sizeof(ucTonerType), &ulTonerType};
        return true;
    case 0x1000:
        *slot = {ucSupply1000, sizeof(ucSupply1000), &ulSupply1000};
        return true;
    case 0x1001:
        *slot = {ucSupply1001, sizeof(ucSupply1001), &ulSupply1001};
        return true;
    case 0x1002:
        *slot = {ucSupply1002, sizeof(ucSupply1002), &ulSupply1002};
        return true;
    case 0x1003:
        *slot = {ucSupply1003, sizeof(ucSupply1003), &ulSupply1003};
        return true;
    case 0x1004:
        *slot = {ucSupply1004, sizeof(ucSupply1004), &ulSupply1004};
        return true;
    case 0x1100:
        *slot = {ucSupply1100, sizeof(ucSupply1100), &ulSupply1100};
        return true;
    case 0x1101:
        *slot = {ucSupply1101, sizeof(ucSupply1101), &ulSupply1101};
        return true;
    case 0x1102:
        *slot = {ucSupply1102, sizeof(ucSupply1102), &ulSupply1102};
        return true;
    default:
        return false;
    }
}

void UtilPrinterStatus::setSuppliesData(unsigned long type, const unsigned char* data,
                                        unsigned long n)
{
    if (type == 0x0000) {
        // Cleared first so that a later, shorter text replaces an earlier one whole.
        keepBytes(ucSuppliesText, sizeof(ucSuppliesText), data, n);
        return;
    }
    stSuppliesSlot slot;
    if (!findSuppliesSlot(type, &slot)) {
        return;
    }
    keepBytes(slot.pRaw, slot.ulWidth, data, n);
    *slot.pValue = byteToDWORD(data, n);
}

const unsigned char* UtilPrinterStatus::rawSuppliesSlot(unsigned long type,
                                                        unsigned long* width) const
{
    stSuppliesSlot slot;
    // Only looked up here, never written through.
    if (!const_cast<UtilPrinterStatus*>(this)->findSuppliesSlot(type, &slot)) {
        if (width != nullptr) {
            *width = 0;
        }
        return nullptr;
    }
    if (width != nullptr) {
        *width = slot.ulWidth;
    }
    return slot.pRaw;
}

std::uint64_t UtilPrinterStatus::byteToDWORD(const unsigned char* p, unsigned long n)
{
    switch (n) {
    case 2:
        return readBE16(p);
    case 3:
        return (std::uint64_t(p[0]) << 16) | (std::uint64_t(p[1]) << 8) | p[2];
    case 4:
        return (std::uint64_t(p[0]) << 24) | (std::uint64_t(p[1]) << 16) |
               (std::uint64_t(p[2]) << 8) | p[3];
    default:
        // 0, 1 and anything from 5 bytes on: the printer's values are at most four bytes wide, so
        // only the first byte is taken as meaningful.
        return p[0];
    }
}
