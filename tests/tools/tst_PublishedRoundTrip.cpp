// The published files written by the service's own writers and read back by orvo-status' reader,
// without the service: the printer list, the heartbeat and each printer's status file.

#include "devices/PrinterListFile.h"
#include "devices/TrdDeviceManage.h"
#include "service/FixedPaths.h"
#include "service/PublishedFiles.h"
#include "status/StatusEvaluator.h"
#include "tests/replies/ReplyBuilder.h"
#include "tools/status/StatusReader.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QList<stPrinterInfo>)

namespace {
stPrinterInfo Info(const QString& name, int type, const QString& port, const QString& uri)
{
    stPrinterInfo info;
    info.strName = name;
    info.strModel = QStringLiteral("Orvo Q7020DN");
    info.iConnectType = type;
    info.strPort = port;
    info.strURI = uri;
    return info;
}
} // namespace

class TestPublishedRoundTrip : public QObject
{
    Q_OBJECT
private slots:
    void writtenThenRead_data();
    void writtenThenRead();
};

void TestPublishedRoundTrip::writtenThenRead_data()
{
    QTest::addColumn<QList<stPrinterInfo>>("printers");
    QTest::addColumn<QByteArray>("reply");

    const stPrinterInfo usb = Info(QStringLiteral("Q7020"), CONNECT_TYPE_USB,
                                   QStringLiteral("Orvo/Q7020DN?serial=WA00000001"),
                                   QStringLiteral("usb://Orvo/Q7020DN?serial=WA00000001"));
    const stPrinterInfo net =
        Info(QStringLiteral("Office"), CONNECT_TYPE_NET, QStringLiteral("127.0.0.12"),
             QStringLiteral("socket://127.0.0.12:9100"));
    const stPrinterInfo foreign =
        Info(QStringLiteral("Büro Drucker=2;a"), CONNECT_TYPE_NET, QStringLiteral("127.0.0.13"),
             QStringLiteral("socket://127.0.0.13:9100"));
    const QByteArray ready = ReplyBuilder().setStatusCode(1).addSupplyValue(0x1000, 80, 2).build();
    const QByteArray jam = ReplyBuilder()
                               .setStatusCode(2)
                               .setStatusText("Paper jam")
                               .setErrorCodes1({0x1106})
                               .setErrorCodes2({0x2001, 0x2002})
                               .addSupplyValue(0x1101, 12345, 4)
                               .build();

    QTest::newRow("no printer") << QList<stPrinterInfo>() << ready;
    QTest::newRow("usb printer, ready") << QList<stPrinterInfo>{usb} << ready;
    QTest::newRow("network printer, jammed") << QList<stPrinterInfo>{net} << jam;
    QTest::newRow("name with letters and signs INI escapes")
        << QList<stPrinterInfo>{foreign} << jam;
    QTest::newRow("three printers") << QList<stPrinterInfo>{usb, net, foreign} << ready;
}

void TestPublishedRoundTrip::writtenThenRead()
{
    QFETCH(QList<stPrinterInfo>, printers);
    QFETCH(QByteArray, reply);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    FixedPaths::SetRootForTesting(root.path());
    QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));

    QVERIFY(PrinterListFile::Write(FixedPaths::CfgDir() + PublishedFiles::PRINTER_LIST_NAME,
                                   printers, true));
    TrdDeviceManage().WriteHeartbeat();
    const auto* bytes = reinterpret_cast<const unsigned char*>(reply.constData());
    for (const stPrinterInfo& info : printers) {
        QVERIFY(StatusEvaluator::WriteStatusFile(StatusEvaluator::StatusFilePath(info.strName),
                                                 bytes, static_cast<unsigned long>(reply.size())));
    }
    stPrinterState written;
    QVERIFY(StatusEvaluator::Decode(bytes, static_cast<unsigned long>(reply.size()), written));

    const StatusSnapshot snapshot = StatusReader(FixedPaths::CfgDir()).Read();
    FixedPaths::SetRootForTesting(QString());

    QVERIFY2(snapshot.stList.bRead, qPrintable(snapshot.stList.strProblem));
    QCOMPARE(snapshot.stList.iCount, printers.size());
    QVERIFY2(snapshot.stList.listWarnings.isEmpty(),
             qPrintable(snapshot.stList.listWarnings.join(QLatin1Char('\n'))));
    QCOMPARE(snapshot.stHeartbeat.enState, ServiceState::Alive);
    QCOMPARE(snapshot.stHeartbeat.strStamp.size(), PublishedFiles::HEARTBEAT_SIZE);
    QCOMPARE(snapshot.listPrinters.size(), printers.size());
    for (int i = 0; i < printers.size(); ++i) {
        const stPrinterInfo& info = printers.at(i);
        const stPrinterReport& read = snapshot.listPrinters.at(i);
        QCOMPARE(read.strName, info.strName);
        QCOMPARE(read.strModel, info.strModel);
        QCOMPARE(read.iConnectType, info.iConnectType);
        QCOMPARE(read.strPort, info.strPort);
        QCOMPARE(read.strURI, info.strURI);
        QCOMPARE(read.enFileState, StatusFileState::Decoded);
        QCOMPARE(read.iStatus, written.iStatus);
        QCOMPARE(read.strStatusText, written.strStatusText);
        QCOMPARE(read.listErrors1.size(), written.listError1.size());
        QCOMPARE(read.listErrors2.size(), written.listError2.size());
        for (const stSupplyEntry& supply : read.listSupplies) {
            if (supply.usType == 0x1000) {
                QCOMPARE(supply.ulValue, written.ulSupply1000);
            } else if (supply.usType == 0x1101) {
                QCOMPARE(supply.ulValue, written.ulSupply1101);
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestPublishedRoundTrip)
#include "tst_PublishedRoundTrip.moc"
