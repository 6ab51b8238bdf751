#include "protocol/StatusCodeTables.h"

#include <QtTest>

#include <climits>

namespace {

// The error code mapping written out again, as the printer's error code documentation lists it:
// result, then the codes and inclusive ranges that give it.  Expectations come from here, never
// from the function under test.
const struct
{
    int iResult;
    const char* pCodes;
} c_errorCodeDoc[] = {
    {1, "0x1200"},
    {2, "0x1203"},
    {3, "0x2200"},
    {4, "0x0100, 0x0101, 0x0200, 0x0202, 0x1108, 0x1201-0x1202, 0x1204-0x1207, 0x1209-0x120B, "
        "0x1211, 0x1213-0x121F"},
    {5, "0x1212"},
    {6, "0x1106"},
    {10, "0x1109-0x110C"},
    {11, "0x110D"},
    {12, "0x110E, 0x1123, 0x112F, 0x11EE-0x11EF"},
    {13, "0x110F"},
    {14, "0x11EA"},
    {17, "0x1110"},
    {18, "0x1121"},
    {19, "0x1111, 0x1125"},
    {20, "0x1122, 0x1124"},
    {21, "0x1112-0x1114"},
    {22, "0x1126, 0x1128-0x1129"},
    {23, "0x1115, 0x1127"},
    {24, "0x1130"},
    {25, "0x1140"},
    {26, "0x2100"},
    {27, "0x2102"},
    {28, "0x2103"},
    {29, "0x1132"},
    {30, "0x11A0"},
    {31, "0x11A1"},
    {32, "0x11A2"},
    {33, "0x1133"},
    {34, "0x11B0-0x11B8"},
    {35, "0x11C0-0x11C6"},
    {36, "0x11D0-0x11D6"},
    {37, "0x11E0-0x11E3"},
    {38, "0x0110"},
    {39, "0x4211"},
    {40, "0x4213"},
    {41, "0x4214"},
    {42, "0x4100, 0x4200-0x4201, 0x4210, 0x4212, 0x4F00"},
    {43, "0xE100"},
};

// Expected result for every code 0 to 0xFFFF, built from the list above.
QVector<int> expectedErrorValues()
{
    QVector<int> expected(0x10000, 0);
    for (const auto& row : c_errorCodeDoc) {
        for (const QString& item : QString::fromLatin1(row.pCodes).split(QLatin1Char(','))) {
            const QStringList bounds = item.trimmed().split(QLatin1Char('-'));
            bool okFirst = false;
            bool okLast = false;
            const int first = bounds.first().toInt(&okFirst, 16);
            const int last = bounds.last().toInt(&okLast, 16);
            if (!okFirst || !okLast || last < first) {
                qFatal("bad item %s", qPrintable(item));
            }
            for (int code = first; code <= last; ++code) {
                if (expected[code] != 0) {
                    qFatal("code 0x%04x listed twice", code);
                }
                expected[code] = row.iResult;
            }
        }
    }
    return expected;
}

} // namespace

class TestStatusCodeTables : public QObject
{
    Q_OBJECT

private slots:
    void printerStatus_data();
    void printerStatus();
    void everyErrorCode();
    void errorCodeSamples_data();
    void errorCodeSamples();
    void tonerType_data();
    void tonerType();
};

void TestStatusCodeTables::printerStatus_data()
{
    QTest::addColumn<qulonglong>("code");
    QTest::addColumn<int>("expected");

    for (int code = 0; code <= 255; ++code) {
        int expected = 0;
        if (code <= 3) {
            expected = code + 3; // 0..3 -> 3..6
        } else if (code >= 16 && code <= 19) {
            expected = code - 8; // 16..19 -> 8..11
        }
        QTest::addRow("code %d", code) << qulonglong(code) << expected;
    }
    QTest::newRow("code 256") << qulonglong(256) << 0;
    QTest::newRow("largest unsigned long") << qulonglong(ULONG_MAX) << 0;
}

void TestStatusCodeTables::printerStatus()
{
    QFETCH(qulonglong, code);
    QFETCH(int, expected);
    QCOMPARE(GetPrinterStatusEnum((unsigned long)code), expected);
}

void TestStatusCodeTables::everyErrorCode()
{
    const QVector<int> expected = expectedErrorValues();
    int mapped = 0;
    for (unsigned long code = 0; code <= 0x10000; ++code) {
        const int want = code < 0x10000 ? expected[int(code)] : 0;
        const int got = int(GetErrorStatusEnum(code));
        if (got != want) {
            QFAIL(qPrintable(QStringLiteral("code 0x%1: got %2, expected %3")
                                 .arg(code, 4, 16, QLatin1Char('0'))
                                 .arg(got)
                                 .arg(want)));
        }
        mapped += got != 0 ? 1 : 0;
    }
    // The documentation gives 107 codes a value of their own.
    QCOMPARE(mapped, 107);
}

void TestStatusCodeTables::errorCodeSamples_data()
{
    QTest::addColumn<qulonglong>("code");
    QTest::addColumn<int>("expected");

    QTest::newRow("0x00FF below the first row") << qulonglong(0x00FF) << 0;
    QTest::newRow("0x0100") << qulonglong(0x0100) << 4;
    QTest::newRow("0x0201 between rows") << qulonglong(0x0201) << 0;
    QTest::newRow("0x11B8 end of a range") << qulonglong(0x11B8) << 34;
    QTest::newRow("0x11B9 behind a range") << qulonglong(0x11B9) << 0;
    QTest::newRow("0x1107") << qulonglong(0x1107) << 0;
    QTest::newRow("0x1208") << qulonglong(0x1208) << 0;
    QTest::newRow("0x2101") << qulonglong(0x2101) << 0;
    QTest::newRow("0x4202") << qulonglong(0x4202) << 0;
    QTest::newRow("0xE100 last row") << qulonglong(0xE100) << 43;
    QTest::newRow("0xFFFF") << qulonglong(0xFFFF) << 0;
    QTest::newRow("0x10000 above 16 bits") << qulonglong(0x10000) << 0;
    QTest::newRow("0x11200 only the low bits match") << qulonglong(0x11200) << 0;
    QTest::newRow("largest unsigned long") << qulonglong(ULONG_MAX) << 0;
}

void TestStatusCodeTables::errorCodeSamples()
{
    QFETCH(qulonglong, code);
    QFETCH(int, expected);
    QCOMPARE(int(GetErrorStatusEnum((unsigned long)code)), expected);
}

void TestStatusCodeTables::tonerType_data()
{
    QTest::addColumn<qulonglong>("code");
    for (qulonglong code : {0ull, 1ull, 2ull, 255ull, 0x10000ull, qulonglong(ULONG_MAX)}) {
        QTest::addRow("toner type %llu", code) << code;
    }
}

void TestStatusCodeTables::tonerType()
{
    QFETCH(qulonglong, code);
    QCOMPARE(GetTonerTypeEnum((unsigned long)code), 0);
}

QTEST_APPLESS_MAIN(TestStatusCodeTables)
#include "tst_StatusCodeTables.moc"
