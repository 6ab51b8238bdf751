#include "tests/devices/LpstatDeviceParser.h"

#include <QFile>
#include <QTest>

// Every line of the captured and hand-made "lpstat -v" outputs against its expected record.
class TestLpstatDeviceParser : public QObject
{
    Q_OBJECT
private slots:
    void parseFile_data();
    void parseFile();
    void untouchedOnFailure();
};

namespace {
QList<QByteArray> ReadLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(path));
    }
    QList<QByteArray> lines;
    while (!file.atEnd()) {
        lines.append(file.readLine());
    }
    return lines;
}
} // namespace

void TestLpstatDeviceParser::parseFile_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    const QString dir = QStringLiteral(ORVO_TEST_DATA_DIR "/lpstat/");
    for (const char* base : {"v-c", "v-zh_CN", "v-handmade"}) {
        const QList<QByteArray> input = ReadLines(dir + base + QStringLiteral(".txt"));
        const QList<QByteArray> expected = ReadLines(dir + base + QStringLiteral(".expected"));
        QCOMPARE(input.size(), expected.size());
        for (int i = 0; i < input.size(); ++i) {
            const QString tag = QStringLiteral("%1:%2").arg(QLatin1String(base)).arg(i + 1);
            QTest::newRow(qPrintable(tag))
                << QString::fromUtf8(input.at(i))
                << QString::fromUtf8(expected.at(i)).remove(QLatin1Char('\n'));
        }
    }
}

void TestLpstatDeviceParser::parseFile()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    stPrinterInfo info;
    info.strModel = QStringLiteral("kept");
    const bool ok = LpstatDeviceParser::ParseLine(line, info);
    if (expected == QLatin1String("-")) {
        QVERIFY2(!ok, qPrintable(QStringLiteral("accepted as %1").arg(info.strName)));
        return;
    }
    QVERIFY2(ok, "line refused");
    const QStringList want = expected.split(QLatin1Char('\t'));
    QCOMPARE(want.size(), 4);
    QCOMPARE(info.strName, want.at(0));
    QCOMPARE(info.iConnectType, want.at(1).toInt());
    QCOMPARE(info.strPort, want.at(2));
    QCOMPARE(info.strURI, want.at(3));
    QCOMPARE(info.strModel, QStringLiteral("kept"));
}

void TestLpstatDeviceParser::untouchedOnFailure()
{
    stPrinterInfo info;
    info.strName = QStringLiteral("before");
    info.iConnectType = 7;
    QVERIFY(!LpstatDeviceParser::ParseLine(QStringLiteral("device for X: ipp://h/p\n"), info));
    QCOMPARE(info.strName, QStringLiteral("before"));
    QCOMPARE(info.iConnectType, 7);
    QVERIFY(info.strURI.isEmpty());
}

QTEST_APPLESS_MAIN(TestLpstatDeviceParser)
#include "test_lpstatdeviceparser.moc"
