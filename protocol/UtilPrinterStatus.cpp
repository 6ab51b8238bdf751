#include "protocol/UtilPrinterStatus.h"

#include "protocol/SuppliesType.h"

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

// A zero-filled buffer that keeps a field's bytes and a terminating zero; ulSize 0 keeps nothing.
struct stBuffer
{
    unsigned char* pData;
    std::size_t ulSize;
};

template <std::size_t N> stBuffer bufferOf(unsigned char (&array)[N])
{
    return {array, N};
}

// Copies a field into its buffer, cut so that the buffer always keeps a terminating zero, and
// clears what an earlier field of the same slot left behind it.
void keepBytes(stBuffer dst, const unsigned char* pSrc, std::uint64_t ulCount)
{
    if (dst.ulSize == 0) {
        return;
    }
    const std::size_t ulKept = ulCount < dst.ulSize ? std::size_t(ulCount) : dst.ulSize - 1;
    if (ulKept > 0) {
        std::memcpy(dst.pData, pSrc, ulKept);
    }
    std::memset(dst.pData + ulKept, 0, dst.ulSize - ulKept);
}

// What follows a field's leading ulWidth bytes.
enum enFieldKind
{
    FIELD_FIXED,   // nothing: the field is its ulWidth bytes
    FIELD_BYTES,   // the leading bytes are a length, that many bytes follow (a text, the block)
    FIELD_CODES,   // the leading byte is a count, that many 16-bit error codes follow
    FIELD_SUPPLIES // the leading byte is a count, that many supplies entries follow
};

struct stField
{
    enFieldKind enKind;
    unsigned long ulWidth;
    stBuffer raw;                      // the leading bytes as received
    std::uint64_t* pValue;             // their big-endian value, where it is kept
    stBuffer body;                     // what a length announces; for a code list the latest code
    std::vector<std::uint64_t>* pList; // the decoded error codes
};

// Not cleared between entries: an entry of length 0 decodes from what the previous entry left in
// the scratch area (see byteToDWORD).
bool readSupplies(stReplyReader& reader, std::uint64_t ulCount, UtilPrinterStatus& status)
{
    unsigned char ucScratch[UtilPrinterStatus::SUPPLIES_SCRATCH_SIZE] = {0};
    for (std::uint64_t i = 0; i < ulCount; ++i) {
        const unsigned char* p = reader.take(2);
        if (!p) {
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
        status.setSuppliesData(static_cast<unsigned long>(ulType), ucScratch, ulKept);
    }
    return true;
}

// A field's leading bytes and values are kept before what follows them is checked, so a reply
// cut inside a text still reports the text's announced length.
bool readField(stReplyReader& reader, const stField& field, UtilPrinterStatus& status)
{
    const unsigned char* p = reader.take(field.ulWidth);
    if (!p) {
        return false;
    }
    keepBytes(field.raw, p, field.ulWidth);
    const std::uint64_t ulNumber = UtilPrinterStatus::byteToDWORD(p, field.ulWidth);
    if (field.pValue) {
        *field.pValue = ulNumber;
    }
    switch (field.enKind) {
    case FIELD_FIXED:
        return true;
    case FIELD_BYTES:
        if (!(p = reader.take(ulNumber))) {
            return false;
        }
        keepBytes(field.body, p, ulNumber);
        return true;
    case FIELD_CODES: {
        field.pList->reserve(ulNumber);
        const unsigned char* pLast = nullptr;
        std::uint64_t i = 0;
        for (; i < ulNumber && (p = reader.take(2)); ++i) {
            field.pList->push_back(readBE16(p));
            pLast = p;
        }
        // Only the latest code is kept raw: once, not per code.
        if (pLast) {
            keepBytes(field.body, pLast, 2);
        }
        return i == ulNumber;
    }
    case FIELD_SUPPLIES:
        return readSupplies(reader, ulNumber, status);
    }
    return false;
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
    stFields = stReplyFields();
}

// Status reply, all numbers big-endian and unsigned, fields back to back in the order of the
// table below.  Bytes behind the last supplies entry are ignored.  A text or block longer than
// its buffer is cut to it, and decoding goes on behind its full length.
bool UtilPrinterStatus::parseRecvBuf(const unsigned char* buf, unsigned long len)
{
    reset();
    if (buf == nullptr) {
        return false;
    }
    stReplyFields& f = stFields;
    const stBuffer none = {nullptr, 0};
    const stField c_layout[] = {
        // the printer's own header, or seven zero bytes in front of USB data
        {FIELD_FIXED, 7, none, nullptr, none, nullptr},
        {FIELD_FIXED, 1, bufferOf(f.ucByte7), nullptr, none, nullptr},
        {FIELD_FIXED, 2, bufferOf(f.ucBytes8To9), nullptr, none, nullptr},
        {FIELD_FIXED, 2, bufferOf(f.ucBytes10To11), nullptr, none, nullptr},
        // texts 1 to 3
        {FIELD_BYTES, 2, bufferOf(f.ucLen1), &f.ulLen1, bufferOf(f.ucInfo1), nullptr},
        {FIELD_BYTES, 2, bufferOf(f.ucLen2), &f.ulLen2, bufferOf(f.ucInfo2), nullptr},
        {FIELD_BYTES, 2, bufferOf(f.ucLen3), &f.ulLen3, bufferOf(f.ucInfo3), nullptr},
        {FIELD_FIXED, 2, bufferOf(f.ucBytesBehindInfo3), nullptr, none, nullptr},
        // the status code, then the status text and the opaque block
        {FIELD_FIXED, 1, bufferOf(f.ucStatusCode), &f.ulStatusCode, none, nullptr},
        {FIELD_BYTES, 1, bufferOf(f.ucLen4), nullptr, bufferOf(f.ucStatusText), nullptr},
        {FIELD_BYTES, 1, bufferOf(f.ucLen5), &f.ulLen5, bufferOf(f.ucBlock), nullptr},
        {FIELD_CODES, 1, bufferOf(f.ucErrorCount1), &f.ulErrorCount1, bufferOf(f.ucLastErrorCode1),
         &listErrorCode1},
        {FIELD_CODES, 1, bufferOf(f.ucErrorCount2), &f.ulErrorCount2, bufferOf(f.ucLastErrorCode2),
         &listErrorCode2},
        {FIELD_FIXED, 1, bufferOf(f.ucByteU), nullptr, none, nullptr},
        {FIELD_FIXED, 2, bufferOf(f.ucBytesU1To2), nullptr, none, nullptr},
        {FIELD_FIXED, 2, bufferOf(f.ucBytesU3To4), nullptr, none, nullptr},
        // supplies entries, each: type (2), length Ls (1), value (Ls)
        {FIELD_SUPPLIES, 1, bufferOf(f.ucSuppliesCount), &f.ulSuppliesCount, none, nullptr},
    };

    stReplyReader reader = {buf, len, 0};
    for (const stField& field : c_layout) {
        if (!readField(reader, field, *this)) {
            return false;
        }
    }
    return true;
}

bool UtilPrinterStatus::findSuppliesSlot(unsigned long type, stSuppliesSlot* slot)
{
    stReplyFields& f = stFields;
    switch (type) {
    case SUPPLIES_TONER_TYPE:
        *slot = {f.ucTonerType, sizeof(f.ucTonerType), &f.ulTonerType, 1u << 0};
        return true;
    case SUPPLIES_VALUE_1000:
        *slot = {f.ucSupply1000, sizeof(f.ucSupply1000), &f.ulSupply1000, 1u << 1};
        return true;
    case SUPPLIES_VALUE_1001:
        *slot = {f.ucSupply1001, sizeof(f.ucSupply1001), &f.ulSupply1001, 1u << 2};
        return true;
    case SUPPLIES_VALUE_1002:
        *slot = {f.ucSupply1002, sizeof(f.ucSupply1002), &f.ulSupply1002, 1u << 3};
        return true;
    case SUPPLIES_VALUE_1003:
        *slot = {f.ucSupply1003, sizeof(f.ucSupply1003), &f.ulSupply1003, 1u << 4};
        return true;
    case SUPPLIES_VALUE_1004:
        *slot = {f.ucSupply1004, sizeof(f.ucSupply1004), &f.ulSupply1004, 1u << 5};
        return true;
    case SUPPLIES_VALUE_1100:
        *slot = {f.ucSupply1100, sizeof(f.ucSupply1100), &f.ulSupply1100, 1u << 6};
        return true;
    case SUPPLIES_VALUE_1101:
        *slot = {f.ucSupply1101, sizeof(f.ucSupply1101), &f.ulSupply1101, 1u << 7};
        return true;
    case SUPPLIES_VALUE_1102:
        *slot = {f.ucSupply1102, sizeof(f.ucSupply1102), &f.ulSupply1102, 1u << 8};
        return true;
    default:
        return false;
    }
}

void UtilPrinterStatus::setSuppliesData(unsigned long type, const unsigned char* data,
                                        unsigned long n)
{
    if (type == SUPPLIES_TEXT) {
        // Cleared first so that a later, shorter text replaces an earlier one whole.
        keepBytes(bufferOf(stFields.ucSuppliesText), data, n);
        return;
    }
    stSuppliesSlot slot;
    if (!findSuppliesSlot(type, &slot)) {
        return;
    }
    keepBytes({slot.pRaw, slot.ulWidth}, data, n);
    *slot.pValue = byteToDWORD(data, n);
    stFields.uCarriedSupplies |= slot.uBit;
}

bool UtilPrinterStatus::hasSupply(unsigned long type) const
{
    stSuppliesSlot slot;
    // Only looked up here, never written through.
    return const_cast<UtilPrinterStatus*>(this)->findSuppliesSlot(type, &slot) &&
           (stFields.uCarriedSupplies & slot.uBit) != 0;
}

std::uint64_t UtilPrinterStatus::suppliesValue(unsigned long type) const
{
    stSuppliesSlot slot;
    // Only looked up here, never written through.
    if (!const_cast<UtilPrinterStatus*>(this)->findSuppliesSlot(type, &slot)) {
        return 0;
    }
    return *slot.pValue;
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
