#include "devices/TrdDeviceManage.h"
#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/SharedPrinterList.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

Q_DECLARE_METATYPE(stPrinterInfo)

// The device manager's operations that need neither CUPS nor workers, under a relocated install
// root and PPD directory: discovery from given queues ("NAME URI"), the shared list, the status
// file clean-up and the heartbeat.
class TestDeviceManage : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void discovery_data();
    void discovery();
    void discoveryWithoutDriverCheck();
    void ppdPathStaysInPpdDirectory_data();
    void ppdPathStaysInPpdDirectory();
    void comparison_data();
    void comparison();
    void replacementResetsEntries();
    void staleStatusFiles();
    void staleStatusFilesWithoutCfgDir();
    void heartbeat();
    void noWriteThroughLinks_data();
    void noWriteThroughLinks();

private:
    void WritePpd(const QString& queue, const QByteArray& modelLine);
    QString CfgDir() const { return FixedPaths::CfgDir(); }
    std::unique_ptr<QTemporaryDir> m_root;
};

namespace {
QList<CupsClient::stQueue> Queues(const QStringList& specs)
{
    QList<CupsClient::stQueue> queues;
    for (const QString& spec : specs) {
        queues.append(
            {spec.section(QLatin1Char(' '), 0, 0), spec.section(QLatin1Char(' '), 1), {}});
    }
    return queues;
}

stPrinterInfo Info(const QString& name, int type, const QString& port, const QString& uri,
                   const QString& model = QString())
{
    stPrinterInfo info;
    info.strName = name;
    info.strModel = model;
    info.iConnectType = type;
    info.strPort = port;
    info.strURI = uri;
    return info;
}

QString Describe(const QList<stPrinterInfo>& list)
{
    QStringList parts;
    for (const stPrinterInfo& info : list) {
        parts << QStringLiteral("%1|%2|%3|%4|%5")
                     .arg(info.strName, info.strModel)
                     .arg(info.iConnectType)
                     .arg(info.strPort, info.strURI);
    }
    return parts.join(QLatin1Char('\n'));
}

bool Touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}
} // namespace

void TestDeviceManage::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    FixedPaths::SetRootForTesting(m_root->path());
    QVERIFY(QDir().mkpath(FixedPaths::CupsPpdDir()));
}

void TestDeviceManage::cleanup()
{
    FixedPaths::SetRootForTesting(QString());
    m_root.reset();
}

void TestDeviceManage::WritePpd(const QString& queue, const QByteArray& modelLine)
{
    QFile file(FixedPaths::CupsPpdDir() + queue + QStringLiteral(".ppd"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("*PPD-Adobe: \"4.3\"\n*Manufacturer: \"Orvo\"\n" + modelLine + "\n");
}

void TestDeviceManage::discovery_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("expected");
    const QStringList all{
        "打印机 usb://Orvo/QM7065FDW?serial=Z9", "Copy usb://Orvo/Q7020DN?serial=123",
        "Ipp ipp://127.0.0.1/printers/x",        "Lower socket://127.0.0.30:9100",
        "Net socket://127.0.0.20:9100",          "Office usb://Orvo/Q7020DN?serial=123",
        "Raw socket://127.0.0.21:9100",          "Unknown usb://Orvo/Q9999?serial=1",
    };
    QTest::newRow("mixed queues in CUPS order")
        << all
        << QStringLiteral(
               "打印机|Orvo QM7065FDW|1|Orvo/QM7065FDW?serial=Z9|"
               "usb://Orvo/QM7065FDW?serial=Z9\n"
               "Copy|Orvo Q7020DN|1|Orvo/Q7020DN?serial=123|usb://Orvo/Q7020DN?serial=123\n"
               "Lower|orvo q7030dw|2|127.0.0.30|socket://127.0.0.30:9100\n"
               "Net|Orvo Q7030DW|2|127.0.0.20|socket://127.0.0.20:9100\n"
               "Office|Orvo Q7020DN|1|Orvo/Q7020DN?serial=123|"
               "usb://Orvo/Q7020DN?serial=123");
    QStringList reversed = all;
    std::reverse(reversed.begin(), reversed.end());
    QTest::newRow("order follows the lines")
        << QStringList{reversed.at(2), reversed.at(7)}
        << QStringLiteral("Office|Orvo Q7020DN|1|Orvo/Q7020DN?serial=123|"
                          "usb://Orvo/Q7020DN?serial=123\n"
                          "打印机|Orvo QM7065FDW|1|Orvo/QM7065FDW?serial=Z9|"
                          "usb://Orvo/QM7065FDW?serial=Z9");
    QTest::newRow("no lines") << QStringList() << QString();
}

void TestDeviceManage::discovery()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, expected);
    WritePpd(QStringLiteral("打印机"), "*ModelName: \"Orvo QM7065FDW\"");
    WritePpd(QStringLiteral("Copy"), "*ModelName: \"Orvo Q7020DN\"");
    WritePpd(QStringLiteral("Ipp"), "*ModelName: \"Orvo Q7020\"");
    WritePpd(QStringLiteral("Lower"), "*ModelName: \"orvo q7030dw\"");
    WritePpd(QStringLiteral("Net"), "*ModelName: \"Orvo Q7030DW\"");
    WritePpd(QStringLiteral("Office"), "*ModelName: \"Orvo Q7020DN\"");
    WritePpd(QStringLiteral("Unknown"), "*ModelName: \"Orvo Q9999\"");
    // Raw has no PPD at all.
    TrdDeviceManage manager;
    QCOMPARE(Describe(manager.SelectQueues(Queues(lines), true)), expected);
}

void TestDeviceManage::discoveryWithoutDriverCheck()
{
    TrdDeviceManage manager;
    const QList<stPrinterInfo> list =
        manager.SelectQueues(Queues({"Raw socket://127.0.0.21:9100", "Ipp ipp://127.0.0.1/x",
                                     "U usb://Other/X?serial=1"}),
                             false);
    QCOMPARE(Describe(list), QStringLiteral("Raw||2|127.0.0.21|socket://127.0.0.21:9100\n"
                                            "U||1|Other/X?serial=1|usb://Other/X?serial=1"));
}

void TestDeviceManage::ppdPathStaysInPpdDirectory_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent directory") << "../outside";
    QTest::newRow("slash") << "sub/inner";
    QTest::newRow("dot") << ".";
    QTest::newRow("empty") << "";
}

void TestDeviceManage::ppdPathStaysInPpdDirectory()
{
    QFETCH(QString, name);
    // Valid PPDs wherever a name with path characters could lead.
    const QByteArray ppd = "*PPD-Adobe: \"4.3\"\n*ModelName: \"Orvo Q7020\"\n";
    for (const QString& path : {FixedPaths::CupsPpdDir() + QStringLiteral("../outside.ppd"),
                                FixedPaths::CupsPpdDir() + QStringLiteral("sub/inner.ppd"),
                                FixedPaths::CupsPpdDir() + QStringLiteral("..ppd"),
                                FixedPaths::CupsPpdDir() + QStringLiteral(".ppd")}) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ppd);
    }
    TrdDeviceManage manager;
    QString model = QStringLiteral("untouched");
    QVERIFY(!manager.CheckDriverMatch(name, model));
    QCOMPARE(model, QStringLiteral("untouched"));
}

void TestDeviceManage::comparison_data()
{
    QTest::addColumn<QList<stPrinterInfo>>("shared");
    QTest::addColumn<QList<stPrinterInfo>>("found");
    QTest::addColumn<bool>("equal");
    const stPrinterInfo a = Info("A", 1, "Orvo/Q7020?serial=1", "usb://Orvo/Q7020?serial=1");
    const stPrinterInfo b = Info("B", 2, "127.0.0.2", "socket://127.0.0.2:9100");
    stPrinterInfo aModel = a;
    aModel.strModel = QStringLiteral("Orvo Q7020");
    aModel.iConnectType = 2;
    stPrinterInfo bUri = b;
    bUri.strURI = QStringLiteral("socket://127.0.0.2:9101");
    stPrinterInfo bPort = b;
    bPort.strPort = QStringLiteral("127.0.0.3");
    stPrinterInfo aCase = a;
    aCase.strName = QStringLiteral("a");
    QTest::newRow("both empty") << QList<stPrinterInfo>() << QList<stPrinterInfo>() << true;
    QTest::newRow("same") << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{a, b} << true;
    QTest::newRow("model and type only")
        << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{aModel, b} << true;
    QTest::newRow("reordered") << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{b, a} << false;
    QTest::newRow("new URI") << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{a, bUri}
                             << false;
    QTest::newRow("new port") << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{a, bPort}
                              << false;
    QTest::newRow("name case") << QList<stPrinterInfo>{a} << QList<stPrinterInfo>{aCase} << false;
    QTest::newRow("added") << QList<stPrinterInfo>{a} << QList<stPrinterInfo>{a, b} << false;
    QTest::newRow("removed") << QList<stPrinterInfo>{a, b} << QList<stPrinterInfo>{a} << false;
}

void TestDeviceManage::comparison()
{
    QFETCH(QList<stPrinterInfo>, shared);
    QFETCH(QList<stPrinterInfo>, found);
    QFETCH(bool, equal);
    QList<stPrinterManager> list;
    TrdDeviceManage manager;
    manager.Init(&list);
    SharedPrinterList::Replace(&list, manager.GetInitPrinterList(shared));
    QCOMPARE(list.size(), shared.size());
    QCOMPARE(SharedPrinterList::Equals(&list, found), equal);
}

void TestDeviceManage::replacementResetsEntries()
{
    QList<stPrinterManager> list;
    TrdDeviceManage manager;
    manager.Init(&list);
    const stPrinterInfo a =
        Info("A", 1, "Orvo/Q7020?serial=1", "usb://Orvo/Q7020?serial=1", "Orvo Q7020");
    SharedPrinterList::Replace(&list, manager.GetInitPrinterList({a}));
    list[0].stState.iStatus = 5;
    list[0].stState.listError1 << ERROR_STATUS_3;
    list[0].stState.ulSupply1000 = 77;
    list[0].listJobState << stJobState{QStringLiteral("A-1"), 1, -1};
    const stPrinterInfo b = Info("B", 2, "127.0.0.2", "socket://127.0.0.2");
    SharedPrinterList::Replace(&list, manager.GetInitPrinterList({a, b}));
    QCOMPARE(list.size(), 2);
    for (const stPrinterManager& entry : list) {
        QCOMPARE(entry.stState.iStatus, 2);
        QVERIFY(entry.stState.listError1.isEmpty());
        QCOMPARE(entry.stState.ulSupply1000, quint64(0));
        QVERIFY(entry.listJobState.isEmpty());
    }
    QCOMPARE(list.at(0).stInfo.strModel, QStringLiteral("Orvo Q7020"));
    QCOMPARE(list.at(1).stInfo.strName, QStringLiteral("B"));
}

void TestDeviceManage::staleStatusFiles()
{
    QVERIFY(QDir().mkpath(CfgDir()));
    const QStringList files{"A.dat",     "B.DAT",       "c.dat",           "Büro.dat", "gone.dat",
                            "a.dat.bak", ".hidden.dat", "printerlist.ini", "C.dat"};
    for (const QString& name : files) {
        QVERIFY(Touch(CfgDir() + name));
    }
    QVERIFY(QDir().mkpath(CfgDir() + QStringLiteral("dir.dat")));
    QVERIFY(QFile::link(CfgDir() + QStringLiteral("A.dat"), CfgDir() + QStringLiteral("link.dat")));

    TrdDeviceManage manager;
    manager.RemoveStaleStatusFiles({Info("A", 1, "", ""), Info("c", 1, "", ""),
                                    Info("Büro", 1, "", ""), Info("B", 1, "", "")});
    QStringList left = QDir(CfgDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                QDir::NoDotAndDotDot);
    left.sort();
    // B.DAT is not B's file (names are compared exactly); C.dat is not c's.
    QStringList expected{".hidden.dat", "A.dat",   "Büro.dat", "a.dat.bak",
                         "c.dat",       "dir.dat", "link.dat", "printerlist.ini"};
    expected.sort();
    QCOMPARE(left, expected);
}

void TestDeviceManage::staleStatusFilesWithoutCfgDir()
{
    TrdDeviceManage manager;
    manager.RemoveStaleStatusFiles({});
    QVERIFY(!QDir(CfgDir()).exists()); // the clean-up creates nothing
}

void TestDeviceManage::heartbeat()
{
    TrdDeviceManage manager;
    const QString path = CfgDir() + QStringLiteral("service.hb");
    QVERIFY(!QFile::exists(path));
    const QRegularExpression form(
        QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]$"));
    QByteArray previous;
    for (int i = 0; i < 3; ++i) {
        const QDateTime before = QDateTime::currentDateTime();
        manager.WriteHeartbeat(); // creates the cfg directory the first time
        const QDateTime after = QDateTime::currentDateTime();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QCOMPARE(content.size(), 25);
        QVERIFY2(form.match(QString::fromLatin1(content)).hasMatch(), content.constData());
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(content.mid(1, 23)),
                                                      QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        QVERIFY(stamp >= before.addMSecs(-1) && stamp <= after);
        QVERIFY(content != previous);
        previous = content;
        QThread::msleep(3);
    }
}

void TestDeviceManage::noWriteThroughLinks_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("heartbeat") << "service.hb";
    QTest::newRow("printer list") << "printerlist.ini";
    QTest::newRow("status file") << "Q.dat";
    QTest::newRow("tool output") << "USBdevicelist.tmp";
    QTest::newRow("tool output with its errors") << "addprinter.tmp";
}

// A cfg directory handed to a user: whatever the user links there, root writes nothing behind it.
void TestDeviceManage::noWriteThroughLinks()
{
    QFETCH(QString, file);
    const QString path = CfgDir() + file;
    const QString victim = m_root->filePath(QStringLiteral("victim"));
    QVERIFY(QDir().mkpath(CfgDir()));
    QVERIFY(Touch(victim));
    QVERIFY(QFile::link(victim, path));

    UtilLog::SetLogEnable(true);
    TrdDeviceManage manager;
    TrdGetPrinterStatus worker;
    worker.Printer().stInfo.strName = QStringLiteral("Q");
    unsigned char reply[] = "reply";
    if (file == QLatin1String("service.hb")) {
        manager.WriteHeartbeat();
    } else if (file == QLatin1String("printerlist.ini")) {
        manager.SavePrinterInfo({Info("Q", 2, "h", "socket://h")}, true);
    } else if (file == QLatin1String("Q.dat")) {
        worker.CheckPrinterStatus(reply, sizeof reply);
    } else {
        CupsTool::Run(file.startsWith(QLatin1String("addprinter")) ? "echo written > %s 2>&1"
                                                                   : "echo written > %s",
                      {path}, "test");
    }
    UtilLog::SetLogEnable(false);

    QFile target(victim);
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), QByteArray("x"));
    QByteArray log;
    const QDir logs(FixedPaths::LogDir());
    for (const QString& name : logs.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        QFile part(logs.filePath(name));
        QVERIFY(part.open(QIODevice::ReadOnly));
        log += part.readAll();
    }
    QVERIFY2(log.contains(") not writing " + QFile::encodeName(path) + ": it is a symbolic link\n"),
             log.constData());
}

QTEST_GUILESS_MAIN(TestDeviceManage)
#include "test_devicemanage.moc"
