#include "devices/PrinterListFile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// "printerlist.ini" as the desktop application sees it: the exact text, and the values read
// back through QSettings.
class TestPrinterListFile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void emptyList();
    void exactText();
    void readBack_data();
    void readBack();
    void shorterListKeepsOldSections();
    void unforcedWriteLeavesFileAlone();
    void unforcedWriteCreatesMissingFile();
    void failedWriteReported();

private:
    QString Path() const { return m_dir->filePath(QStringLiteral("printerlist.ini")); }
    QByteArray ReadAll() const;
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {
stPrinterInfo Info(const QString& name, const QString& model, int type, const QString& port,
                   const QString& uri)
{
    stPrinterInfo info;
    info.strName = name;
    info.strModel = model;
    info.iConnectType = type;
    info.strPort = port;
    info.strURI = uri;
    return info;
}

stPrinterInfo Usb(const QString& name, const QString& key, const QString& serial)
{
    const QString port = QStringLiteral("Orvo/%1?serial=%2").arg(key, serial);
    return Info(name, QStringLiteral("Orvo ") + key, 1, port, QStringLiteral("usb://") + port);
}

stPrinterInfo Net(const QString& name, const QString& key, const QString& host)
{
    return Info(name, QStringLiteral("Orvo ") + key, 2, host,
                QStringLiteral("socket://%1:9100").arg(host));
}
} // namespace

QByteArray TestPrinterListFile::ReadAll() const
{
    QFile file(Path());
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

void TestPrinterListFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPrinterListFile::emptyList()
{
    QVERIFY(PrinterListFile::Write(Path(), {}, true));
    QCOMPARE(ReadAll(), QByteArray("[Main]\nCount=0\n"));
}

void TestPrinterListFile::exactText()
{
    const QList<stPrinterInfo> list{
        Usb(QStringLiteral("Büro"), QStringLiteral("Q7020DN"), QStringLiteral("123")),
        Net(QStringLiteral("Net"), QStringLiteral("Q7030DW"), QStringLiteral("127.0.0.20"))};
    QVERIFY(PrinterListFile::Write(Path(), list, true));
    // Sorted keys, values holding "=" in double quotes, the name as UTF-8 bytes.
    const QByteArray expected = "[Main]\n"
                                "Count=2\n"
                                "\n"
                                "[printer_0]\n"
                                "ConnectType=1\n"
                                "Model=Orvo Q7020DN\n"
                                "Name=B\xc3\xbcro\n"
                                "Port=\"Orvo/Q7020DN?serial=123\"\n"
                                "URI=\"usb://Orvo/Q7020DN?serial=123\"\n"
                                "\n"
                                "[printer_1]\n"
                                "ConnectType=2\n"
                                "Model=Orvo Q7030DW\n"
                                "Name=Net\n"
                                "Port=127.0.0.20\n"
                                "URI=socket://127.0.0.20:9100\n";
    QCOMPARE(ReadAll(), expected);
}

void TestPrinterListFile::readBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("uri");
    QTest::newRow("plain") << "Office"
                           << "usb://Orvo/Q7020?serial=1";
    QTest::newRow("chinese") << "打印机"
                             << "usb://Orvo/QM7065FDW?serial=Z9";
    QTest::newRow("semicolon and comma") << "a;b,c"
                                         << "socket://127.0.0.1:9100/?snmp=false";
    QTest::newRow("quote and backslash") << "q\"b\\s"
                                         << "socket://127.0.0.2";
    QTest::newRow("leading at sign") << "@home"
                                     << "socket://127.0.0.3";
    QTest::newRow("control character") << "tab\there"
                                       << "usb://Orvo/Q7020?serial=\x01";
    QTest::newRow("spaces around") << " x "
                                   << "socket://127.0.0.4";
}

void TestPrinterListFile::readBack()
{
    QFETCH(QString, name);
    QFETCH(QString, uri);
    const stPrinterInfo info = Info(name, QStringLiteral("Orvo Q7020"), 1, uri.mid(6), uri);
    QVERIFY(PrinterListFile::Write(Path(), {info}, true));
    // What the desktop application does: its own QSettings on the same file.
    QSettings reader(Path(), QSettings::IniFormat);
    reader.setIniCodec("utf-8");
    QCOMPARE(reader.value(QStringLiteral("Main/Count")).toString(), QStringLiteral("1"));
    QCOMPARE(reader.value(QStringLiteral("printer_0/Name")).toString(), name);
    QCOMPARE(reader.value(QStringLiteral("printer_0/Model")).toString(), info.strModel);
    QCOMPARE(reader.value(QStringLiteral("printer_0/ConnectType")).toString(), QStringLiteral("1"));
    QCOMPARE(reader.value(QStringLiteral("printer_0/Port")).toString(), info.strPort);
    QCOMPARE(reader.value(QStringLiteral("printer_0/URI")).toString(), uri);
}

void TestPrinterListFile::shorterListKeepsOldSections()
{
    const stPrinterInfo a = Net(QStringLiteral("A"), QStringLiteral("Q7020"), "127.0.0.1");
    const stPrinterInfo b = Net(QStringLiteral("B"), QStringLiteral("Q7020D"), "127.0.0.2");
    const stPrinterInfo c = Net(QStringLiteral("C"), QStringLiteral("Q7020DN"), "127.0.0.3");
    QVERIFY(PrinterListFile::Write(Path(), {a, b, c}, true));
    QVERIFY(PrinterListFile::Write(Path(), {c, a}, true));
    QSettings reader(Path(), QSettings::IniFormat);
    reader.setIniCodec("utf-8");
    QCOMPARE(reader.value(QStringLiteral("Main/Count")).toString(), QStringLiteral("2"));
    QCOMPARE(reader.value(QStringLiteral("printer_0/Name")).toString(), QStringLiteral("C"));
    QCOMPARE(reader.value(QStringLiteral("printer_1/Name")).toString(), QStringLiteral("A"));
    // The third section is stale but still there, with its old values.
    QCOMPARE(reader.value(QStringLiteral("printer_2/Name")).toString(), QStringLiteral("C"));
    QCOMPARE(reader.value(QStringLiteral("printer_2/Port")).toString(),
             QStringLiteral("127.0.0.3"));
    QCOMPARE(reader.childGroups(), QStringList({"Main", "printer_0", "printer_1", "printer_2"}));
}

void TestPrinterListFile::unforcedWriteLeavesFileAlone()
{
    const stPrinterInfo a = Net(QStringLiteral("A"), QStringLiteral("Q7020"), "127.0.0.1");
    QVERIFY(PrinterListFile::Write(Path(), {a}, true));
    // Someone else's bytes, not even in the format: still left exactly as they are.
    {
        QFile file(Path());
        QVERIFY(file.open(QIODevice::Append));
        file.write("; foreign line without end");
    }
    const QByteArray before = ReadAll();
    QVERIFY(PrinterListFile::Write(Path(), {}, false));
    QVERIFY(PrinterListFile::Write(
        Path(), {a, Net(QStringLiteral("B"), QStringLiteral("Q7020D"), "127.0.0.2")}, false));
    QCOMPARE(ReadAll(), before);
}

void TestPrinterListFile::unforcedWriteCreatesMissingFile()
{
    const stPrinterInfo a = Net(QStringLiteral("A"), QStringLiteral("Q7020"), "127.0.0.1");
    const stPrinterInfo b = Net(QStringLiteral("B"), QStringLiteral("Q7020D"), "127.0.0.2");
    QVERIFY(PrinterListFile::Write(Path(), {a, b}, true));
    QVERIFY(QFile::remove(Path()));
    QVERIFY(PrinterListFile::Write(Path(), {b}, false));
    // Written afresh: nothing of the deleted file comes back.
    QCOMPARE(ReadAll(), QByteArray("[Main]\nCount=1\n\n[printer_0]\nConnectType=2\n"
                                   "Model=Orvo Q7020D\nName=B\nPort=127.0.0.2\n"
                                   "URI=socket://127.0.0.2:9100\n"));
}

void TestPrinterListFile::failedWriteReported()
{
    // A file stands where the directory should be. The device manager retries only a write that
    // reports its failure, forced or not.
    QFile blocker(m_dir->filePath(QStringLiteral("cfg")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = m_dir->filePath(QStringLiteral("cfg/printerlist.ini"));
    const stPrinterInfo a = Net(QStringLiteral("A"), QStringLiteral("Q7020"), "127.0.0.1");
    QVERIFY(!PrinterListFile::Write(path, {a}, true));
    QVERIFY(!PrinterListFile::Write(path, {a}, false));
}

QTEST_GUILESS_MAIN(TestPrinterListFile)
#include "test_printerlistfile.moc"
