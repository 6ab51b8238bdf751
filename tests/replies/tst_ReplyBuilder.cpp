#include "tests/replies/ReplyBuilder.h"

#include <QtTest>

class TestReplyBuilder : public QObject
{
    Q_OBJECT

private slots:
    void builtBytes_data();
    void builtBytes();
    void descriptions_data();
    void descriptions();
    void badDescriptions_data();
    void badDescriptions();
    void fieldsCoverTheReply();
};

void TestReplyBuilder::builtBytes_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expectedHex");

    QTest::newRow("minimal reply") << ReplyBuilder().build()
                                   << QByteArray("00000000000000"
                                                 "00"
                                                 "0000"
                                                 "0000"
                                                 "0000"
                                                 "0000"
                                                 "0000"
                                                 "0000"
                                                 "00"
                                                 "00"
                                                 "00"
                                                 "00"
                                                 "00"
                                                 "00"
                                                 "0000"
                                                 "0000"
                                                 "00");
    QTest::newRow("every field") << ReplyBuilder()
                                        .setHeader("ABCDEFG")
                                        .setByte7(0x11)
                                        .setBytes8To9(0x2233)
                                        .setBytes10To11(0x4455)
                                        .setInfo1("a")
                                        .setInfo2("bc")
                                        .setInfo3("")
                                        .setBytesBehindInfo3(0x6677)
                                        .setStatusCode(0x88)
                                        .setStatusText("s")
                                        .setOpaqueBlock(QByteArray::fromHex("9999"))
                                        .setErrorCodes1({0x1200, 0x110D})
                                        .setErrorCodes2({0xE100})
                                        .setByteU(0xAA)
                                        .setBytesU1To2(0xBBCC)
                                        .setBytesU3To4(0xDDEE)
                                        .addSupplyValue(0x1000, 300, 2)
                                        .addSupply(0x0000, "t")
                                        .setExtraBytes("zz")
                                        .build()
                                 << QByteArray("41424344454647"
                                               "11"
                                               "2233"
                                               "4455"
                                               "0001"
                                               "61"
                                               "0002"
                                               "6263"
                                               "0000"
                                               "6677"
                                               "88"
                                               "01"
                                               "73"
                                               "02"
                                               "9999"
                                               "02"
                                               "1200"
                                               "110d"
                                               "01"
                                               "e100"
                                               "aa"
                                               "bbcc"
                                               "ddee"
                                               "02"
                                               "1000"
                                               "02"
                                               "012c"
                                               "0000"
                                               "01"
                                               "74"
                                               "7a7a");
    QTest::newRow("cut at 30") << ReplyBuilder().setCutAt(30).build() << QByteArray(60, '0');
    QTest::newRow("value of 3 bytes") << ReplyBuilder().addSupplyValue(0x1003, 65536, 3).build()
                                      << QByteArray(60, '0') + "01"
                                                               "1003"
                                                               "03"
                                                               "010000";
}

void TestReplyBuilder::builtBytes()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expectedHex);
    QCOMPARE(built.toHex(), expectedHex.toLower());
}

void TestReplyBuilder::descriptions_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty text is the minimal reply") << QString() << ReplyBuilder().build();
    QTest::newRow("comments and blank lines") << "# nothing\n\n   # indented comment\nstatus = 3\n"
                                              << ReplyBuilder().setStatusCode(3).build();
    QTest::newRow("bare and quoted texts")
        << "info1 = Orvo Q7020DN\ninfo2 = \"a\\x00b\\\\\\\"\\n\\t\"\nstatustext=  Ready  \n"
        << ReplyBuilder()
               .setInfo1("Orvo Q7020DN")
               .setInfo2(QByteArray("a\0b\\\"\n\t", 7))
               .setStatusText("Ready")
               .build();
    QTest::newRow("numbers in decimal and hex")
        << "byte7 = 255\nbytes8 = 0x0102\nbytes10 = 772\nbytesq = 0XFFFF\nbyteu = 0x7\n"
           "bytesu1 = 1\nbytesu3 = 2\n"
        << ReplyBuilder()
               .setByte7(255)
               .setBytes8To9(0x0102)
               .setBytes10To11(772)
               .setBytesBehindInfo3(0xFFFF)
               .setByteU(7)
               .setBytesU1To2(1)
               .setBytesU3To4(2)
               .build();
    QTest::newRow("error lists")
        << "error1 = 0x1200 0x110D\nerror2 = 4352\n"
        << ReplyBuilder().setErrorCodes1({0x1200, 0x110D}).setErrorCodes2({4352}).build();
    QTest::newRow("supplies, hex and quoted, in order")
        << "supply 0x1000 = 012C\nsupply 0 = \"Toner\"\nSUPPLY 0x1003 = 01 00 00\n"
           "supply 0x2000 =\n"
        << ReplyBuilder()
               .addSupply(0x1000, QByteArray::fromHex("012C"))
               .addSupply(0x0000, "Toner")
               .addSupply(0x1003, QByteArray::fromHex("010000"))
               .addSupply(0x2000, QByteArray())
               .build();
    QTest::newRow("header, block, extra, cut")
        << "header = a5 00 0c 50 e0 74 08\nblock = 0102\nextra = \"xy\"\ncut = 40\n"
        << ReplyBuilder()
               .setHeader(QByteArray::fromHex("a5000c50e07408"))
               .setOpaqueBlock(QByteArray::fromHex("0102"))
               .setExtraBytes("xy")
               .build()
               .left(40);
}

void TestReplyBuilder::descriptions()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, expected);

    ReplyBuilder builder;
    QString error;
    QVERIFY2(ReplyBuilder::fromDescription(description, &builder, &error), qPrintable(error));
    QCOMPARE(builder.build().toHex(), expected.toHex());
}

void TestReplyBuilder::badDescriptions_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("errorStart");

    QTest::newRow("no equals sign") << "status 3"
                                    << "line 1: expected key = value";
    QTest::newRow("unknown key") << "# c\nstatuss = 3"
                                 << "line 2: unknown key";
    QTest::newRow("status above a byte") << "status = 256"
                                         << "line 1: bad number";
    QTest::newRow("not a number") << "byte7 = seven"
                                  << "line 1: bad number";
    QTest::newRow("odd hex digits") << "supply 0x1000 = 012"
                                    << "line 1: expected hex bytes";
    QTest::newRow("bad supplies type") << "supply 0x10000 = 00"
                                       << "line 1: bad supplies type";
    QTest::newRow("bad error code") << "error1 = 0x1200 0x12000"
                                    << "line 1: bad error code";
    QTest::newRow("short header") << "header = 00 00"
                                  << "line 1: the header has 7 bytes";
    QTest::newRow("unterminated quote") << "info1 = \"abc"
                                        << "line 1: unterminated";
    QTest::newRow("bad escape") << "info1 = \"a\\q\""
                                << "line 1: unknown escape";
    QTest::newRow("short \\x escape") << "info1 = \"a\\x4\""
                                      << "line 1: bad \\x escape";
    QTest::newRow("status text too long")
        << "statustext = " + QString(256, QLatin1Char('x')) << "line 1: text longer";
}

void TestReplyBuilder::badDescriptions()
{
    QFETCH(QString, description);
    QFETCH(QString, errorStart);

    ReplyBuilder builder;
    builder.setStatusCode(9);
    QString error;
    QVERIFY(!ReplyBuilder::fromDescription(description, &builder, &error));
    QVERIFY2(error.startsWith(errorStart), qPrintable(error));
    QCOMPARE(builder.build(), ReplyBuilder().setStatusCode(9).build()); // left as it was
}

void TestReplyBuilder::fieldsCoverTheReply()
{
    const ReplyBuilder b = ReplyBuilder()
                               .setInfo1("abc")
                               .setErrorCodes2({1, 2})
                               .addSupply(0x1000, "xy")
                               .setExtraBytes("e");
    const QByteArray reply = b.build();
    const QVector<ReplyBuilder::Field> fields = b.fields();
    int offset = 0;
    for (const ReplyBuilder::Field& f : fields) {
        QCOMPARE(f.iOffset, offset);
        offset += f.iSize;
    }
    QCOMPARE(offset, reply.size());
    auto find = [&](const char* name) {
        for (const ReplyBuilder::Field& f : fields) {
            if (f.strName == QLatin1String(name)) {
                return reply.mid(f.iOffset, f.iSize);
            }
        }
        return QByteArray("missing");
    };
    QCOMPARE(find("info1"), QByteArray("abc"));
    QCOMPARE(find("L1"), QByteArray::fromHex("0003"));
    QCOMPARE(find("error2[1]"), QByteArray::fromHex("0002"));
    QCOMPARE(find("supply[0].type"), QByteArray::fromHex("1000"));
    QCOMPARE(find("supply[0].value"), QByteArray("xy"));
    QCOMPARE(find("extra"), QByteArray("e"));
}

QTEST_APPLESS_MAIN(TestReplyBuilder)
#include "tst_ReplyBuilder.moc"
