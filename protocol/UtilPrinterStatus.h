#pragma once

#include <cstdint>
#include <vector>

// Decodes one binary status reply, as received over UDP or as the USB data stage behind seven
// zero bytes, into plain fields.  One object per reply; every field is zero until decoded.
//
// Texts are kept in zero-filled buffers that always end in a zero byte.  Length fields on the wire
// can announce more than a buffer holds (a 16-bit text length, a supplies value longer than its
// slot): such a field is cut to its buffer and decoding goes on behind the field's full length, so
// a printer with an over-long text still reports its status and errors.
class UtilPrinterStatus
{
public:
    enum
    {
        TEXT_SIZE = 256,         // texts 1-3, status text: 255 bytes and a terminator
        BLOCK_SIZE = 256,        // opaque block
        SUPPLIES_TEXT_SIZE = 65, // supplies text: 64 bytes and a terminator
        SUPPLIES_SCRATCH_SIZE = 65
    };

    UtilPrinterStatus();

    // True when the reply held every field through its last supplies entry; false when it ended
    // early, in which case the fields decoded before the end keep their values.  Fields of an
    // earlier call are cleared first.
    bool parseRecvBuf(const unsigned char* buf, unsigned long len);

    // Stores one supplies entry of n value bytes at data; unknown types are ignored.  data must
    // hold at least one byte even when n is 0: a value of zero bytes is read from data[0].
    void setSuppliesData(unsigned long type, const unsigned char* data, unsigned long n);

    // Big-endian value of n bytes for n = 2, 3 or 4; the first byte alone for any other n.
    static std::uint64_t byteToDWORD(const unsigned char* p, unsigned long n);

    const unsigned char* getPrinterStatusValue() const { return stFields.ucStatusCode; }

    // Texts up to their first zero byte (UTF-8 on the wire).
    const char* info1() const { return reinterpret_cast<const char*>(stFields.ucInfo1); }
    const char* info2() const { return reinterpret_cast<const char*>(stFields.ucInfo2); }
    const char* info3() const { return reinterpret_cast<const char*>(stFields.ucInfo3); }
    const char* statusText() const { return reinterpret_cast<const char*>(stFields.ucStatusText); }
    const char* suppliesText() const
    {
        return reinterpret_cast<const char*>(stFields.ucSuppliesText);
    }

    // Lengths as announced on the wire, which may exceed what the text buffers kept.
    std::uint64_t info1Length() const { return stFields.ulLen1; }
    std::uint64_t info2Length() const { return stFields.ulLen2; }
    std::uint64_t info3Length() const { return stFields.ulLen3; }

    std::uint64_t statusCode() const { return stFields.ulStatusCode; }
    const std::vector<std::uint64_t>& errorCodes1() const { return listErrorCode1; }
    const std::vector<std::uint64_t>& errorCodes2() const { return listErrorCode2; }
    std::uint64_t errorCount1() const { return stFields.ulErrorCount1; }
    std::uint64_t errorCount2() const { return stFields.ulErrorCount2; }
    std::uint64_t suppliesCount() const { return stFields.ulSuppliesCount; }

    std::uint64_t tonerType() const { return stFields.ulTonerType; }
    std::uint64_t supply1000() const { return stFields.ulSupply1000; }
    std::uint64_t supply1001() const { return stFields.ulSupply1001; }
    std::uint64_t supply1002() const { return stFields.ulSupply1002; }
    std::uint64_t supply1003() const { return stFields.ulSupply1003; }
    std::uint64_t supply1004() const { return stFields.ulSupply1004; }
    std::uint64_t supply1100() const { return stFields.ulSupply1100; }
    std::uint64_t supply1101() const { return stFields.ulSupply1101; }
    std::uint64_t supply1102() const { return stFields.ulSupply1102; }

    // Whether the last parsed reply carried an entry of this supplies type: the values above are 0
    // for a type the reply did not carry as well as for a carried 0.  Types with a value slot only
    // (0x0001, 0x1000-0x1004, 0x1100-0x1102); false for any other type.
    bool hasSupply(unsigned long type) const;
    // The value of a supplies type (enSuppliesType) with a value slot, as the accessors above
    // give it; 0 for any other type.
    std::uint64_t suppliesValue(unsigned long type) const;

    // Raw bytes of a supplies type's slot (value bytes and terminator) and its width; nullptr and
    // 0 for a type without a slot.  For checks that a value never spills out of its slot.
    const unsigned char* rawSuppliesSlot(unsigned long type, unsigned long* width) const;

private:
    // Every decoded field but the two code lists, so that one value-initialisation clears them
    // all.
    struct stReplyFields
    {
        unsigned char ucByte7[2];
        unsigned char ucBytes8To9[3];
        unsigned char ucBytes10To11[3];
        unsigned char ucLen1[3];
        unsigned char ucInfo1[TEXT_SIZE];
        std::uint64_t ulLen1;
        unsigned char ucLen2[3];
        unsigned char ucInfo2[TEXT_SIZE];
        std::uint64_t ulLen2;
        unsigned char ucLen3[3];
        unsigned char ucInfo3[TEXT_SIZE];
        std::uint64_t ulLen3;
        unsigned char ucBytesBehindInfo3[3];
        unsigned char ucStatusCode[2];
        unsigned char ucLen5[2];
        unsigned char ucBlock[BLOCK_SIZE];
        unsigned char ucErrorCount1[2];
        unsigned char ucLastErrorCode1[3];
        unsigned char ucErrorCount2[2];
        unsigned char ucLastErrorCode2[3];
        std::uint64_t ulLen5;
        std::uint64_t ulErrorCount1;
        std::uint64_t ulErrorCount2;
        std::uint64_t ulStatusCode;
        unsigned char ucStatusText[TEXT_SIZE];
        unsigned char ucLen4[2];
        unsigned char ucByteU[2];
        unsigned char ucBytesU1To2[3];
        unsigned char ucBytesU3To4[3];
        unsigned char ucSuppliesCount[2];
        std::uint64_t ulSuppliesCount;
        unsigned char ucSuppliesText[SUPPLIES_TEXT_SIZE];
        unsigned char ucTonerType[5];
        unsigned char ucSupply1000[3];
        unsigned char ucSupply1001[3];
        unsigned char ucSupply1002[3];
        unsigned char ucSupply1003[5];
        unsigned char ucSupply1004[5];
        unsigned char ucSupply1100[3];
        unsigned char ucSupply1101[5];
        unsigned char ucSupply1102[5];
        std::uint64_t ulTonerType;
        std::uint64_t ulSupply1000;
        std::uint64_t ulSupply1001;
        std::uint64_t ulSupply1002;
        std::uint64_t ulSupply1003;
        std::uint64_t ulSupply1004;
        std::uint64_t ulSupply1100;
        std::uint64_t ulSupply1101;
        std::uint64_t ulSupply1102;
        unsigned int uCarriedSupplies; // one bit per slot, by stSuppliesSlot::uBit
    };

    struct stSuppliesSlot
    {
        unsigned char* pRaw;
        unsigned long ulWidth;
        std::uint64_t* pValue;
        unsigned int uBit;
    };
    bool findSuppliesSlot(unsigned long type, stSuppliesSlot* slot);
    void reset();

    std::vector<std::uint64_t> listErrorCode1;
    std::vector<std::uint64_t> listErrorCode2;
    stReplyFields stFields;
};
