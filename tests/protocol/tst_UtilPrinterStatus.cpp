#include "protocol/UtilPrinterStatus.h"
#include "tests/replies/ReplyBuilder.h"

#include <QtTest>

#include <cstring>
#include <memory>

using u64 = std::uint64_t;
using ulList = std::vector<std::uint64_t>;

Q_DECLARE_METATYPE(ReplyBuilder::Field)

namespace {

// Parses into a heap object so that a reply copied to a heap buffer of exactly its own size lets
// AddressSanitizer catch a read one byte too far.
struct Parsed
{
    std::unique_ptr<UtilPrinterStatus> status = std::make_unique<UtilPrinterStatus>();
    bool bResult = false;
};

Parsed parse(const QByteArray& reply)
{
    Parsed parsed;
    std::unique_ptr<unsigned char[]> buf(new unsigned char[std::max(1, reply.size())]);
    std::memcpy(buf.get(), reply.constData(), size_t(reply.size()));
    parsed.bResult = parsed.status->parseRecvBuf(buf.get(), (unsigned long)reply.size());
    return parsed;
}

std::uint64_t supplyValue(const UtilPrinterStatus& s, unsigned long type)
{
    switch (type) {
    case 0x0001:
        return s.tonerType();
    case 0x1000:
        return s.supply1000();
    case 0x1001:
        return s.supply1001();
    case 0x1002:
        return s.supply1002();
    case 0x1003:
        return s.supply1003();
    case 0x1004:
        return s.supply1004();
    case 0x1100:
        return s.supply1100();
    case 0x1101:
        return s.supply1101();
    case 0x1102:
        return s.supply1102();
    }
    return ~u64(0);
}

const unsigned long c_ulValueTypeList[] = {0x0001, 0x1000, 0x1001, 0x1002, 0x1003,
                                           0x1004, 0x1100, 0x1101, 0x1102};

// Width of each type's raw slot, value bytes plus terminator.
unsigned long slotWidth(unsigned long type)
{
    switch (type) {
    case 0x1000:
    case 0x1001:
    case 0x1002:
    case 0x1100:
        return 3;
    default:
        return 5;
    }
}

ReplyBuilder typicalReply()
{
    ReplyBuilder b;
    b.setHeader(QByteArray::fromHex("a5000c50e07408"))
        .setByte7(1)
        .setBytes8To9(0x0102)
        .setBytes10To11(0x0304)
        .setInfo1("Orvo Q7030DN")
        .setInfo2("SN-1234567")
        .setInfo3("FW 2.10")
        .setBytesBehindInfo3(0x0506)
        .setStatusCode(3)
        .setStatusText("Paper jam")
        .setOpaqueBlock(QByteArray::fromHex("0102030405"))
        .setErrorCodes1({0x1200, 0x110D})
        .setErrorCodes2({0x2200})
        .setByteU(7)
        .setBytesU1To2(0x0809)
        .setBytesU3To4(0x0A0B)
        .addSupply(0x0000, "Toner 80%")
        .addSupplyValue(0x0001, 2, 4)
        .addSupplyValue(0x1000, 300, 2)
        .addSupplyValue(0x1001, 77, 2)
        .addSupplyValue(0x1002, 0x1234, 2)
        .addSupplyValue(0x1003, 0x01020304, 4)
        .addSupplyValue(0x1004, 0x00ABCDEF, 3)
        .addSupplyValue(0x1100, 5, 1)
        .addSupplyValue(0x1101, 0xFFFFFFFF, 4)
        .addSupplyValue(0x1102, 65536, 3);
    return b;
}

} // namespace

class TestUtilPrinterStatus : public QObject
{
    Q_OBJECT

private slots:
    void constructedEmpty();
    void shortReplies_data();
    void shortReplies();
    void typicalReplyDecodes();
    void cutAtEveryLength_data();
    void cutAtEveryLength();
    void suppliesTypeAndWidth_data();
    void suppliesTypeAndWidth();
    void byteToDWORD_data();
    void byteToDWORD();
    void unknownTypesSkipped_data();
    void unknownTypesSkipped();
    void repeatedTypeLastWins_data();
    void repeatedTypeLastWins();
    void zeroLengthEntries_data();
    void zeroLengthEntries();
    void extraBytesIgnored_data();
    void extraBytesIgnored();
    void textsWithZeroByte();
    void oversizedTexts_data();
    void oversizedTexts();
    void oversizedSupplies_data();
    void oversizedSupplies();
    void reparseClearsEarlierReply();
    void fixtureFiles_data();
    void fixtureFiles();
};

void TestUtilPrinterStatus::constructedEmpty()
{
    const UtilPrinterStatus s;
    QCOMPARE(s.info1(), "");
    QCOMPARE(s.info2(), "");
    QCOMPARE(s.info3(), "");
    QCOMPARE(s.statusText(), "");
    QCOMPARE(s.suppliesText(), "");
    QCOMPARE(s.statusCode(), u64(0));
    QCOMPARE(*s.getPrinterStatusValue(), (unsigned char)0);
    QVERIFY(s.errorCodes1().empty());
    QVERIFY(s.errorCodes2().empty());
    QCOMPARE(s.errorCount1(), u64(0));
    QCOMPARE(s.errorCount2(), u64(0));
    for (unsigned long type : c_ulValueTypeList) {
        QCOMPARE(supplyValue(s, type), u64(0));
    }
}

void TestUtilPrinterStatus::shortReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<std::uint64_t>("status");

    const QByteArray minimal = ReplyBuilder().setStatusCode(17).build();
    QTest::newRow("minimal reply, 31 bytes") << minimal << true << std::uint64_t(17);
    QTest::newRow("minimal reply cut to 30 bytes")
        << minimal.left(30) << false << std::uint64_t(17);
    QTest::newRow("empty USB transfer, 7 zero bytes")
        << QByteArray(7, '\0') << false << std::uint64_t(0);
    QTest::newRow("nothing at all") << QByteArray() << false << std::uint64_t(0);
    QTest::newRow("8 bytes") << minimal.left(8) << false << std::uint64_t(0);
    QTest::newRow("status code 128")
        << ReplyBuilder().setStatusCode(128).build() << true << std::uint64_t(128);
    QTest::newRow("status code 255")
        << ReplyBuilder().setStatusCode(255).build() << true << std::uint64_t(255);
}

void TestUtilPrinterStatus::shortReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, result);
    QFETCH(std::uint64_t, status);

    if (QByteArray(QTest::currentDataTag()).startsWith("minimal reply,")) {
        QCOMPARE(reply.size(), 31);
    }
    const Parsed p = parse(reply);
    QCOMPARE(p.bResult, result);
    QCOMPARE(p.status->statusCode(), status);
    QCOMPARE(u64(*p.status->getPrinterStatusValue()), status);
    QCOMPARE(p.status->info1(), "");
    QCOMPARE(p.status->statusText(), "");
    QVERIFY(p.status->errorCodes1().empty());
    QVERIFY(p.status->errorCodes2().empty());
    QCOMPARE(p.status->suppliesCount(), u64(0));
}

void TestUtilPrinterStatus::typicalReplyDecodes()
{
    const Parsed p = parse(typicalReply().build());
    const UtilPrinterStatus& s = *p.status;
    QVERIFY(p.bResult);
    QCOMPARE(s.info1(), "Orvo Q7030DN");
    QCOMPARE(s.info2(), "SN-1234567");
    QCOMPARE(s.info3(), "FW 2.10");
    QCOMPARE(s.info1Length(), u64(12));
    QCOMPARE(s.statusCode(), u64(3));
    QCOMPARE(*s.getPrinterStatusValue(), (unsigned char)3);
    QCOMPARE(s.statusText(), "Paper jam");
    QCOMPARE(s.errorCodes1(), (ulList{0x1200, 0x110D}));
    QCOMPARE(s.errorCodes2(), (ulList{0x2200}));
    QCOMPARE(s.errorCount1(), u64(2));
    QCOMPARE(s.errorCount2(), u64(1));
    QCOMPARE(s.suppliesCount(), u64(10));
    QCOMPARE(s.suppliesText(), "Toner 80%");
    QCOMPARE(s.tonerType(), u64(2));
    QCOMPARE(s.supply1000(), u64(300));
    QCOMPARE(s.supply1001(), u64(77));
    QCOMPARE(s.supply1002(), u64(0x1234));
    QCOMPARE(s.supply1003(), u64(0x01020304));
    QCOMPARE(s.supply1004(), u64(0x00ABCDEF));
    QCOMPARE(s.supply1100(), u64(5));
    QCOMPARE(s.supply1101(), u64(0xFFFFFFFF));
    QCOMPARE(s.supply1102(), u64(65536));
}

void TestUtilPrinterStatus::cutAtEveryLength_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QVector<ReplyBuilder::Field>>("fields");

    const ReplyBuilder typical = typicalReply();
    QTest::newRow("typical reply") << typical.build() << typical.fields();
    ReplyBuilder longTexts;
    longTexts.setInfo1(QByteArray(300, 'a'))
        .setInfo2(QByteArray(2, 'b'))
        .setInfo3(QByteArray(256, 'c'))
        .setStatusText(QByteArray(255, 'd'))
        .setOpaqueBlock(QByteArray(255, 'e'))
        .setErrorCodes1(QVector<quint16>(40, 0x1106))
        .addSupply(0x0000, QByteArray(100, 'f'))
        .addSupply(0x2000, QByteArray(9, 'g'))
        .addSupplyValue(0x1004, 0x0102, 2);
    QTest::newRow("long texts and lists") << longTexts.build() << longTexts.fields();
    ReplyBuilder noText;
    noText.setStatusCode(19).addSupplyValue(0x1101, 1, 1);
    QTest::newRow("one supplies entry") << noText.build() << noText.fields();
}

// Every cut short of the full reply must fail, keep what lay wholly before the cut exactly as the
// full decode has it, and leave everything behind the cut untouched.
void TestUtilPrinterStatus::cutAtEveryLength()
{
    QFETCH(QByteArray, reply);
    QFETCH(QVector<ReplyBuilder::Field>, fields);

    const Parsed full = parse(reply);
    QVERIFY(full.bResult);
    auto endOf = [&](const QString& name) {
        for (const ReplyBuilder::Field& f : fields) {
            if (f.strName == name) {
                return f.iOffset + f.iSize;
            }
        }
        qFatal("no field %s", qPrintable(name));
        return 0;
    };
    // Value of supply entry i is decoded once its value bytes are all in.
    QVector<QPair<int, unsigned long>> supplyEnds;
    for (const ReplyBuilder::Field& f : fields) {
        if (f.strName.startsWith(QLatin1String("supply[")) &&
            f.strName.endsWith(QLatin1String(".value"))) {
            const int i = f.strName.mid(7, f.strName.indexOf(']') - 7).toInt();
            const QByteArray typeBytes =
                reply.mid(endOf(QStringLiteral("supply[%1].type").arg(i)) - 2, 2);
            supplyEnds.append({f.iOffset + f.iSize, (unsigned long)((quint8(typeBytes[0]) << 8) |
                                                                    quint8(typeBytes[1]))});
        }
    }

    for (int n = 0; n < reply.size(); ++n) {
        const Parsed cut = parse(reply.left(n));
        const UtilPrinterStatus& c = *cut.status;
        const UtilPrinterStatus& f = *full.status;
        const QByteArray at = "cut at " + QByteArray::number(n);
        QVERIFY2(!cut.bResult, at);
        auto check = [&](const char* name, bool same, bool empty) {
            const bool decoded = n >= endOf(QString::fromLatin1(name));
            QVERIFY2(decoded ? same : empty, at + " field " + name);
        };
        check("info1", qstrcmp(c.info1(), f.info1()) == 0, *c.info1() == 0);
        check("info2", qstrcmp(c.info2(), f.info2()) == 0, *c.info2() == 0);
        check("info3", qstrcmp(c.info3(), f.info3()) == 0, *c.info3() == 0);
        check("status", c.statusCode() == f.statusCode(), c.statusCode() == 0);
        check("statustext", qstrcmp(c.statusText(), f.statusText()) == 0, *c.statusText() == 0);
        check("N3", c.suppliesCount() == f.suppliesCount(), c.suppliesCount() == 0);

        // Error codes: exactly those whose two bytes are in.
        for (int l = 1; l <= 2; ++l) {
            const ulList& got = l == 1 ? c.errorCodes1() : c.errorCodes2();
            const ulList& all = l == 1 ? f.errorCodes1() : f.errorCodes2();
            ulList expected;
            for (size_t i = 0; i < all.size(); ++i) {
                if (n >= endOf(QStringLiteral("error%1[%2]").arg(l).arg(i))) {
                    expected.push_back(all[i]);
                }
            }
            QVERIFY2(got == expected, at + " error list " + QByteArray::number(l));
        }

        for (unsigned long type : c_ulValueTypeList) {
            bool decoded = false;
            for (const auto& end : supplyEnds) {
                decoded = decoded || (end.second == type && n >= end.first);
            }
            QVERIFY2(supplyValue(c, type) == (decoded ? supplyValue(f, type) : 0), at);
            QVERIFY2(c.hasSupply(type) == decoded, at);
        }
        bool textDecoded = false;
        for (const auto& end : supplyEnds) {
            textDecoded = textDecoded || (end.second == 0 && n >= end.first);
        }
        QVERIFY2(textDecoded ? qstrcmp(c.suppliesText(), f.suppliesText()) == 0
                             : *c.suppliesText() == 0,
                 at + " supplies text");
    }
}

void TestUtilPrinterStatus::suppliesTypeAndWidth_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<std::uint64_t>("expected");

    QTest::newRow("0x1000 01 2C is 300")
        << 0x1000 << QByteArray::fromHex("012C") << std::uint64_t(300);
    QTest::newRow("toner type 01 2C is 300")
        << 0x0001 << QByteArray::fromHex("012C") << std::uint64_t(300);
    QTest::newRow("0x1000 one byte 64 is 100")
        << 0x1000 << QByteArray::fromHex("64") << std::uint64_t(100);
    QTest::newRow("0x1003 01 00 00 is 65536")
        << 0x1003 << QByteArray::fromHex("010000") << std::uint64_t(65536);
    // Every type at every width from 0 to 6; bytes 0xF1, 0xE2, ... so that each byte is told apart
    // and the top bit is set (values are unsigned).
    for (unsigned long type : c_ulValueTypeList) {
        for (int width = 0; width <= 6; ++width) {
            QByteArray value;
            for (int i = 0; i < width; ++i) {
                value.append(char(0xF1 - 0x0F * i));
            }
            std::uint64_t expected = 0;
            if (width >= 2 && width <= 4) {
                for (int i = 0; i < width; ++i) {
                    expected = expected * 256 + quint8(value[i]);
                }
            } else if (width > 0) {
                expected = quint8(value[0]);
            }
            QTest::addRow("type 0x%04lx, %d bytes", type, width) << int(type) << value << expected;
        }
    }
}

void TestUtilPrinterStatus::suppliesTypeAndWidth()
{
    QFETCH(int, type);
    QFETCH(QByteArray, value);
    QFETCH(std::uint64_t, expected);

    const Parsed p = parse(ReplyBuilder().addSupply(quint16(type), value).build());
    QVERIFY(p.bResult);
    QCOMPARE(supplyValue(*p.status, (unsigned long)type), expected);
    // Carried even where its value is 0 (no value bytes); only this type's value is set.
    QVERIFY(p.status->hasSupply((unsigned long)type));
    for (unsigned long other : c_ulValueTypeList) {
        if (other != (unsigned long)type) {
            QCOMPARE(supplyValue(*p.status, other), u64(0));
            QVERIFY(!p.status->hasSupply(other));
        }
    }
    // The raw slot keeps as many value bytes as fit before its terminator.
    unsigned long width = 0;
    const unsigned char* slot = p.status->rawSuppliesSlot((unsigned long)type, &width);
    QVERIFY(slot != nullptr);
    QCOMPARE(width, slotWidth((unsigned long)type));
    const int kept = std::min(value.size(), int(width) - 1);
    QCOMPARE(QByteArray((const char*)slot, int(width)),
             value.left(kept) + QByteArray(int(width) - kept, '\0'));
}

void TestUtilPrinterStatus::byteToDWORD_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<std::uint64_t>("expected");

    QTest::newRow("n = 0: first byte") << 0 << std::uint64_t(0xFE);
    QTest::newRow("n = 1: first byte") << 1 << std::uint64_t(0xFE);
    QTest::newRow("n = 2") << 2 << std::uint64_t(0xFEDC);
    QTest::newRow("n = 3") << 3 << std::uint64_t(0xFEDCBA);
    QTest::newRow("n = 4") << 4 << std::uint64_t(0xFEDCBA98);
    QTest::newRow("n = 5: first byte") << 5 << std::uint64_t(0xFE);
    QTest::newRow("n = 6: first byte") << 6 << std::uint64_t(0xFE);
}

void TestUtilPrinterStatus::byteToDWORD()
{
    QFETCH(int, n);
    QFETCH(std::uint64_t, expected);

    // Exactly max(n, 1) bytes on the heap: a read past them is an AddressSanitizer error.
    const unsigned char pattern[] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54};
    std::unique_ptr<unsigned char[]> p(new unsigned char[std::max(n, 1)]);
    std::memcpy(p.get(), pattern, size_t(std::max(n, 1)));
    QCOMPARE(UtilPrinterStatus::byteToDWORD(p.get(), (unsigned long)n), expected);
}

void TestUtilPrinterStatus::unknownTypesSkipped_data()
{
    QTest::addColumn<int>("unknownType");
    QTest::newRow("0x2000") << 0x2000;
    QTest::newRow("0x0002") << 0x0002;
    QTest::newRow("0x1005") << 0x1005;
    QTest::newRow("0x10FF") << 0x10FF;
    QTest::newRow("0x1103") << 0x1103;
    QTest::newRow("0xFFFF") << 0xFFFF;
}

void TestUtilPrinterStatus::unknownTypesSkipped()
{
    QFETCH(int, unknownType);
    const Parsed p = parse(ReplyBuilder()
                               .addSupplyValue(0x1000, 300, 2)
                               .addSupply(quint16(unknownType), QByteArray::fromHex("0102030405"))
                               .addSupplyValue(0x1102, 0x01020304, 4)
                               .addSupply(quint16(unknownType), QByteArray())
                               .addSupplyValue(0x1001, 9, 2)
                               .build());
    QVERIFY(p.bResult);
    QCOMPARE(p.status->supply1000(), u64(300));
    QCOMPARE(p.status->supply1102(), u64(0x01020304));
    QCOMPARE(p.status->supply1001(), u64(9));
    QCOMPARE(p.status->suppliesText(), "");
    QVERIFY(!p.status->hasSupply((unsigned long)unknownType));
    for (unsigned long type : {0x0001ul, 0x1002ul, 0x1003ul, 0x1004ul, 0x1100ul, 0x1101ul}) {
        QCOMPARE(supplyValue(*p.status, type), u64(0));
    }
}

void TestUtilPrinterStatus::repeatedTypeLastWins_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<std::uint64_t>("expectedValue");
    QTest::addColumn<QByteArray>("expectedText");

    QTest::newRow("value, same width")
        << 0x1000 << QByteArray::fromHex("0001") << QByteArray::fromHex("0002") << std::uint64_t(2)
        << QByteArray();
    QTest::newRow("value, shorter last")
        << 0x1101 << QByteArray::fromHex("01020304") << QByteArray::fromHex("05")
        << std::uint64_t(5) << QByteArray();
    QTest::newRow("supplies text, shorter last")
        << 0x0000 << QByteArray("Black toner low") << QByteArray("OK") << std::uint64_t(0)
        << QByteArray("OK");
    QTest::newRow("supplies text, empty last") << 0x0000 << QByteArray("Black toner low")
                                               << QByteArray() << std::uint64_t(0) << QByteArray();
}

void TestUtilPrinterStatus::repeatedTypeLastWins()
{
    QFETCH(int, type);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, last);
    QFETCH(std::uint64_t, expectedValue);
    QFETCH(QByteArray, expectedText);

    const Parsed p = parse(ReplyBuilder()
                               .addSupply(quint16(type), first)
                               .addSupplyValue(0x1002, 1, 2)
                               .addSupply(quint16(type), last)
                               .build());
    QVERIFY(p.bResult);
    QCOMPARE(QByteArray(p.status->suppliesText()), expectedText);
    if (type != 0) {
        QCOMPARE(supplyValue(*p.status, (unsigned long)type), expectedValue);
        unsigned long width = 0;
        const unsigned char* slot = p.status->rawSuppliesSlot((unsigned long)type, &width);
        const QByteArray kept = last.left(int(width) - 1);
        QCOMPARE(QByteArray((const char*)slot, int(width)),
                 kept + QByteArray(int(width) - kept.size(), '\0'));
    }
    QCOMPARE(p.status->supply1002(), u64(1));
}

void TestUtilPrinterStatus::zeroLengthEntries_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<std::uint64_t>("expected");

    // A value of zero bytes is the first byte left in the entry scratch area.
    QTest::newRow("first entry of the reply") << QByteArray() << std::uint64_t(0);
    QTest::newRow("behind a one-byte 0x64") << QByteArray::fromHex("64") << std::uint64_t(100);
    QTest::newRow("behind 01 2C") << QByteArray::fromHex("012C") << std::uint64_t(1);
    QTest::newRow("behind a 70-byte text") << QByteArray(70, 'Z') << std::uint64_t('Z');
}

void TestUtilPrinterStatus::zeroLengthEntries()
{
    QFETCH(QByteArray, before);
    QFETCH(std::uint64_t, expected);

    ReplyBuilder b;
    if (!before.isEmpty()) {
        b.addSupply(0x2000, before); // an unknown type still passes through the scratch area
    }
    b.addSupply(0x1003, QByteArray());
    const Parsed p = parse(b.build());
    QVERIFY(p.bResult);
    QCOMPARE(p.status->supply1003(), expected);
}

void TestUtilPrinterStatus::extraBytesIgnored_data()
{
    QTest::addColumn<QByteArray>("extra");
    QTest::newRow("one byte") << QByteArray(1, '\xFF');
    QTest::newRow("a fake supplies entry") << QByteArray::fromHex("1000020063");
    QTest::newRow("up to a 2048-byte datagram")
        << QByteArray(2048 - typicalReply().build().size(), 'x');
}

void TestUtilPrinterStatus::extraBytesIgnored()
{
    QFETCH(QByteArray, extra);
    const Parsed plain = parse(typicalReply().build());
    const Parsed padded = parse(typicalReply().setExtraBytes(extra).build());
    QVERIFY(plain.bResult);
    QVERIFY(padded.bResult);
    QCOMPARE(padded.status->info3(), plain.status->info3());
    QCOMPARE(padded.status->statusText(), plain.status->statusText());
    QCOMPARE(padded.status->errorCodes2(), plain.status->errorCodes2());
    QCOMPARE(padded.status->suppliesText(), plain.status->suppliesText());
    for (unsigned long type : c_ulValueTypeList) {
        QCOMPARE(supplyValue(*padded.status, type), supplyValue(*plain.status, type));
    }
}

void TestUtilPrinterStatus::textsWithZeroByte()
{
    const QByteArray text("Q70\0hidden", 10);
    const Parsed p = parse(ReplyBuilder()
                               .setInfo1(text)
                               .setInfo2(QByteArray(1, '\0'))
                               .setStatusText(text)
                               .setStatusCode(2)
                               .addSupply(0x0000, text)
                               .build());
    QVERIFY(p.bResult);
    QCOMPARE(p.status->info1(), "Q70");
    QCOMPARE(p.status->info1Length(), u64(10));
    QCOMPARE(p.status->info2(), "");
    QCOMPARE(p.status->statusText(), "Q70");
    QCOMPARE(p.status->suppliesText(), "Q70");
    QCOMPARE(p.status->statusCode(), u64(2));
}

// Decision: a text longer than its 255-byte buffer is cut to 255 bytes and decoding goes on behind
// the text's full length; the reply stays valid.
void TestUtilPrinterStatus::oversizedTexts_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("length");

    for (int which = 1; which <= 3; ++which) {
        for (int length : {255, 256, 300, 65535}) {
            QTest::addRow("text %d, %d bytes", which, length) << which << length;
        }
    }
}

void TestUtilPrinterStatus::oversizedTexts()
{
    QFETCH(int, which);
    QFETCH(int, length);

    QByteArray text(length, 'x');
    for (int i = 0; i < length; ++i) {
        text[i] = char('a' + i % 26);
    }
    QByteArray info[3] = {"one", "two", "three"};
    info[which - 1] = text;
    const Parsed p = parse(ReplyBuilder()
                               .setInfo1(info[0])
                               .setInfo2(info[1])
                               .setInfo3(info[2])
                               .setStatusCode(16)
                               .setStatusText(QByteArray(255, 's'))
                               .setOpaqueBlock(QByteArray(255, 'o'))
                               .setErrorCodes1({0x4F00})
                               .addSupplyValue(0x1000, 42, 2)
                               .build());
    QVERIFY(p.bResult);
    const char* got[3] = {p.status->info1(), p.status->info2(), p.status->info3()};
    const std::uint64_t lengths[3] = {p.status->info1Length(), p.status->info2Length(),
                                      p.status->info3Length()};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(QByteArray(got[i]), info[i].left(255));
        QCOMPARE(lengths[i], std::uint64_t(info[i].size()));
    }
    QCOMPARE(p.status->statusCode(), u64(16));
    QCOMPARE(QByteArray(p.status->statusText()), QByteArray(255, 's'));
    QCOMPARE(p.status->errorCodes1(), ulList{0x4F00});
    QCOMPARE(p.status->supply1000(), u64(42));
}

// Decision: a supplies value longer than the scratch area or its slot is cut to the slot (the
// supplies text to 64 bytes); the value decodes as its first byte, as any value of 5 bytes or more.
void TestUtilPrinterStatus::oversizedSupplies_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<std::uint64_t>("expected");

    QTest::newRow("text of 64 bytes fits") << 0x0000 << 64 << std::uint64_t(0);
    QTest::newRow("text of 65 bytes") << 0x0000 << 65 << std::uint64_t(0);
    QTest::newRow("text of 255 bytes") << 0x0000 << 255 << std::uint64_t(0);
    QTest::newRow("0x1000, 3 bytes in a 2-byte slot") << 0x1000 << 3 << std::uint64_t(0x414243);
    QTest::newRow("0x1100, 4 bytes in a 2-byte slot") << 0x1100 << 4 << std::uint64_t(0x41424344);
    QTest::newRow("0x1001, 66 bytes") << 0x1001 << 66 << std::uint64_t(0x41);
    QTest::newRow("0x1102, 255 bytes") << 0x1102 << 255 << std::uint64_t(0x41);
    QTest::newRow("toner type, 5 bytes") << 0x0001 << 5 << std::uint64_t(0x41);
}

void TestUtilPrinterStatus::oversizedSupplies()
{
    QFETCH(int, type);
    QFETCH(int, length);
    QFETCH(std::uint64_t, expected);

    QByteArray value(length, '\0');
    for (int i = 0; i < length; ++i) {
        value[i] = char('A' + i % 26);
    }
    const Parsed p = parse(ReplyBuilder()
                               .addSupplyValue(0x1002, 0x0102, 2)
                               .addSupply(quint16(type), value)
                               .addSupplyValue(0x1004, 7, 1)
                               .build());
    QVERIFY(p.bResult);
    if (type == 0) {
        QCOMPARE(QByteArray(p.status->suppliesText()), value.left(64));
    } else {
        QCOMPARE(supplyValue(*p.status, (unsigned long)type), expected);
        unsigned long width = 0;
        const unsigned char* slot = p.status->rawSuppliesSlot((unsigned long)type, &width);
        QCOMPARE(QByteArray((const char*)slot, int(width)),
                 value.left(int(width) - 1) + QByteArray(1, '\0'));
    }
    // The neighbours are untouched.
    QCOMPARE(p.status->supply1002(), u64(0x0102));
    QCOMPARE(p.status->supply1004(), u64(7));
    for (unsigned long other : c_ulValueTypeList) {
        if (other != (unsigned long)type && other != 0x1002 && other != 0x1004) {
            QCOMPARE(supplyValue(*p.status, other), u64(0));
        }
    }
}

void TestUtilPrinterStatus::reparseClearsEarlierReply()
{
    UtilPrinterStatus s;
    const QByteArray full = typicalReply().build();
    QVERIFY(s.parseRecvBuf((const unsigned char*)full.constData(), (unsigned long)full.size()));
    const QByteArray minimal = ReplyBuilder().build();
    QVERIFY(
        s.parseRecvBuf((const unsigned char*)minimal.constData(), (unsigned long)minimal.size()));
    QCOMPARE(s.info1(), "");
    QCOMPARE(s.statusCode(), u64(0));
    QVERIFY(s.errorCodes1().empty());
    QCOMPARE(s.suppliesText(), "");
    QCOMPARE(s.supply1000(), u64(0));
    QVERIFY(!s.hasSupply(0x1000));
}

void TestUtilPrinterStatus::fixtureFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("info1");
    QTest::addColumn<std::uint64_t>("status");
    QTest::addColumn<QByteArray>("statusText");
    QTest::addColumn<QVector<quint16>>("errors1");
    QTest::addColumn<QVector<quint16>>("errors2");
    QTest::addColumn<QByteArray>("suppliesText");
    QTest::addColumn<std::uint64_t>("supply1000");

    QTest::newRow("ready") << "ready.txt" << true << QByteArray("Orvo Q7020DN") << std::uint64_t(0)
                           << QByteArray("Ready") << QVector<quint16>{} << QVector<quint16>{}
                           << QByteArray("Toner OK") << std::uint64_t(300);
    QTest::newRow("paper jam") << "paper_jam.txt" << true << QByteArray("Orvo QM7065FDW")
                               << std::uint64_t(3) << QByteArray("Paper jam")
                               << QVector<quint16>{0x1200, 0x110D} << QVector<quint16>{0x2200}
                               << QByteArray("") << std::uint64_t(12);
    QTest::newRow("usb reply cut in the supplies")
        << "usb_cut_in_supplies.txt" << false << QByteArray("Orvo Q7040DN") << std::uint64_t(1)
        << QByteArray("Printing") << QVector<quint16>{} << QVector<quint16>{0x1106}
        << QByteArray("") << std::uint64_t(90);
}

void TestUtilPrinterStatus::fixtureFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, result);
    QFETCH(QByteArray, info1);
    QFETCH(std::uint64_t, status);
    QFETCH(QByteArray, statusText);
    QFETCH(QVector<quint16>, errors1);
    QFETCH(QVector<quint16>, errors2);
    QFETCH(QByteArray, suppliesText);
    QFETCH(std::uint64_t, supply1000);

    ReplyBuilder b;
    QString error;
    QVERIFY2(ReplyBuilder::fromDescriptionFile(
                 QStringLiteral(ORVO_TEST_DATA_DIR "/replies/") + file, &b, &error),
             qPrintable(error));
    const Parsed p = parse(b.build());
    QCOMPARE(p.bResult, result);
    QCOMPARE(QByteArray(p.status->info1()), info1);
    QCOMPARE(p.status->statusCode(), status);
    QCOMPARE(QByteArray(p.status->statusText()), statusText);
    QCOMPARE(p.status->errorCodes1(), ulList(errors1.begin(), errors1.end()));
    QCOMPARE(p.status->errorCodes2(), ulList(errors2.begin(), errors2.end()));
    QCOMPARE(QByteArray(p.status->suppliesText()), suppliesText);
    QCOMPARE(p.status->supply1000(), supply1000);
}

QTEST_APPLESS_MAIN(TestUtilPrinterStatus)
#include "tst_UtilPrinterStatus.moc"
