// orvo-status run as people and scripts run it: the real binary against cfg directories built
// from the fixtures in tests/data/statusfiles/, its text and JSON output read back field by field.

#include "generated/OrvoVersion.h"
#include "tests/replies/ReplyBuilder.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString kTool = QStringLiteral(ORVO_STATUS_BIN);
const QString kFixtures = QStringLiteral(ORVO_TEST_DATA_DIR "/statusfiles");
const char kStampFormat[] = "[yyyy-MM-dd hh:mm:ss.zzz]";
const int kRunTimeoutMs = 30000;
const QString kCompletion = QStringLiteral(ORVO_STATUS_COMPLETION);

struct RunResult
{
    bool bFinished = false;
    int iExitCode = -1;
    QByteArray baOut;
    QByteArray baErr;
};

RunResult RunTool(const QStringList& args,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    RunResult result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(kTool, args);
    result.bFinished = process.waitForFinished(kRunTimeoutMs);
    if (!result.bFinished) {
        process.kill();
        process.waitForFinished();
    }
    result.iExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.baOut = process.readAllStandardOutput();
    result.baErr = process.readAllStandardError();
    return result;
}

// The text output, split into its header lines and one label -> value map per printer block.
struct TextReport
{
    QMap<QString, QString> mapHeader; // "Directory", "Service", "Printers"
    QStringList listWarnings;
    QStringList listOrder; // queue names in output order
    QMap<QString, QMap<QString, QString>> mapPrinters;
};

// The --verbose form: header lines, then after a blank line each printer's line
// ("Office: ready; toner 30 %", kept as "Summary") followed by its indented raw fields.
TextReport ParseText(const QByteArray& out)
{
    static const QRegularExpression header(QStringLiteral("^([A-Za-z]+):\\s+(.*)$"));
    static const QRegularExpression printer(QStringLiteral("^([^ ]+): (.*)$"));
    static const QRegularExpression field(QStringLiteral("^    ([^:]+):\\s*(.*)$"));
    TextReport report;
    QString current;
    bool inPrinters = false;
    for (const QString& line : QString::fromUtf8(out).split(QLatin1Char('\n'))) {
        if (line.isEmpty()) {
            inPrinters = true;
            continue;
        }
        QRegularExpressionMatch match = field.match(line);
        if (match.hasMatch() && !current.isEmpty()) {
            report.mapPrinters[current].insert(match.captured(1), match.captured(2));
            continue;
        }
        match = printer.match(line);
        if (inPrinters && match.hasMatch()) {
            current = match.captured(1);
            report.listOrder << current;
            report.mapPrinters[current].insert(QStringLiteral("Summary"), match.captured(2));
            continue;
        }
        match = header.match(line);
        if (!inPrinters && match.hasMatch()) {
            if (match.captured(1) == QLatin1String("Warning")) {
                report.listWarnings << match.captured(2);
            } else {
                report.mapHeader.insert(match.captured(1), match.captured(2));
            }
        }
    }
    return report;
}

QJsonObject ParseJson(const QByteArray& out, bool* ok)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
    *ok = error.error == QJsonParseError::NoError && doc.isObject();
    if (!*ok) {
        qWarning("not a JSON object (%s): %s", qPrintable(error.errorString()), out.constData());
    }
    return doc.object();
}

// A printer's object with the fields under "raw" lifted up (raw "supplies" replaces the named
// one), as the checks of the decoding read them.
QJsonObject Flat(const QJsonObject& printer)
{
    QJsonObject out = printer;
    const QJsonObject raw = printer.value(QStringLiteral("raw")).toObject();
    for (auto it = raw.begin(); it != raw.end(); ++it) {
        out.insert(it.key(), it.value());
    }
    return out;
}

QJsonObject PrinterByQueue(const QJsonObject& root, const QString& queue)
{
    for (const QJsonValue& value : root.value(QStringLiteral("printers")).toArray()) {
        if (value.toObject().value(QStringLiteral("queue")).toString() == queue) {
            return Flat(value.toObject());
        }
    }
    return QJsonObject();
}

QStringList QueueNames(const QJsonObject& root)
{
    QStringList names;
    for (const QJsonValue& value : root.value(QStringLiteral("printers")).toArray()) {
        names << value.toObject().value(QStringLiteral("queue")).toString();
    }
    return names;
}

QByteArray ReadFixture(const QString& relative)
{
    QFile file(kFixtures + QLatin1Char('/') + relative);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read fixture %s", qPrintable(file.fileName()));
        return QByteArray();
    }
    return file.readAll();
}

// The status reply a description in statusfiles/replies/ stands for; empty on a broken fixture.
QByteArray Reply(const QString& name)
{
    ReplyBuilder builder;
    QString error;
    if (!ReplyBuilder::fromDescriptionFile(kFixtures + QStringLiteral("/replies/") + name, &builder,
                                           &error)) {
        qWarning("%s", qPrintable(error));
        return QByteArray();
    }
    return builder.build();
}

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(content) == content.size();
}

QByteArray Stamp(const QDateTime& time)
{
    return time.toString(QLatin1String(kStampFormat)).toLatin1();
}

// The lines of output that form complete lines so far.
QList<QByteArray> CompleteLines(const QByteArray& out)
{
    QList<QByteArray> lines = out.split('\n');
    lines.removeLast(); // the unfinished rest, or "" after the last line end
    return lines;
}

} // namespace

class TestOrvoStatus : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void normalDirectoryText();
    void normalDirectoryJson();
    void exitStatus_data();
    void exitStatus();
    void printerList_data();
    void printerList();
    void statusFile_data();
    void statusFile();
    void heartbeat_data();
    void heartbeat();
    void fifoDoesNotStall_data();
    void fifoDoesNotStall();
    void heartbeatInRepeatedHour_data();
    void heartbeatInRepeatedHour();
    void nonAsciiQueueNames();
    void controlCharactersEscaped();
    void queueNameOutsideDirectory();
    void usage_data();
    void usage();
    void language_data();
    void language();
    void watchPicksUpChange_data();
    void watchPicksUpChange();
    void namedQueues_data();
    void namedQueues();
    void stopSignal_data();
    void stopSignal();
    void completion_data();
    void completion();

private:
    // A cfg directory with the normal printer list, both status files and a fresh heartbeat.
    bool MakeNormalDirectory();

    QScopedPointer<QTemporaryDir> m_pTemp;
    QString m_strDir;
};

void TestOrvoStatus::init()
{
    m_pTemp.reset(new QTemporaryDir);
    QVERIFY(m_pTemp->isValid());
    m_strDir = m_pTemp->path() + QStringLiteral("/cfg");
    QVERIFY(QDir().mkpath(m_strDir));
}

bool TestOrvoStatus::MakeNormalDirectory()
{
    return WriteFile(m_strDir + QStringLiteral("/printerlist.ini"),
                     ReadFixture(QStringLiteral("normal/printerlist.ini"))) &&
           WriteFile(m_strDir + QStringLiteral("/Office.dat"),
                     Reply(QStringLiteral("usb_ready.txt"))) &&
           WriteFile(m_strDir + QStringLiteral("/Lab.dat"),
                     Reply(QStringLiteral("network_jam.txt"))) &&
           WriteFile(m_strDir + QStringLiteral("/service.hb"), Stamp(QDateTime::currentDateTime()));
}

void TestOrvoStatus::normalDirectoryText()
{
    QVERIFY(MakeNormalDirectory());
    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 4); // Lab has a paper jam
    QVERIFY2(run.baErr.isEmpty(), run.baErr.constData());

    const TextReport report = ParseText(run.baOut);
    QVERIFY2(report.mapHeader.value(QStringLiteral("Service")).startsWith("alive - heartbeat "),
             run.baOut.constData());
    QCOMPARE(report.mapHeader.value(QStringLiteral("Printers")), QStringLiteral("2"));
    QVERIFY(report.listWarnings.isEmpty());
    QCOMPARE(report.listOrder, QStringList({QStringLiteral("Office"), QStringLiteral("Lab")}));

    const QMap<QString, QString> usb = report.mapPrinters.value(QStringLiteral("Office"));
    QCOMPARE(usb.value(QStringLiteral("Summary")), QStringLiteral("ready"));
    QCOMPARE(usb.value(QStringLiteral("Queue")), QStringLiteral("Office"));
    QCOMPARE(usb.value(QStringLiteral("Model")), QStringLiteral("Orvo Q7020DN"));
    QCOMPARE(usb.value(QStringLiteral("Connection")), QStringLiteral("USB"));
    QCOMPARE(usb.value(QStringLiteral("Port")),
             QStringLiteral("Orvo/Q7020DN?serial=E73512K4N101234"));
    QCOMPARE(usb.value(QStringLiteral("URI")),
             QStringLiteral("usb://Orvo/Q7020DN?serial=E73512K4N101234"));
    QCOMPARE(
        usb.value(QStringLiteral("Status file")),
        QStringLiteral("Office.dat, %1 bytes").arg(Reply(QStringLiteral("usb_ready.txt")).size()));
    QCOMPARE(usb.value(QStringLiteral("Status")), QStringLiteral("3 = printer status code 0"));
    QCOMPARE(usb.value(QStringLiteral("Status text")), QStringLiteral("Ready"));
    QCOMPARE(usb.value(QStringLiteral("Info 1")), QStringLiteral("Orvo Q7020DN"));
    QCOMPARE(usb.value(QStringLiteral("Info 2")), QStringLiteral("E73512K4N101234"));
    QCOMPARE(usb.value(QStringLiteral("Info 3")), QStringLiteral("1.04.2"));
    QCOMPARE(usb.value(QStringLiteral("Errors 1")), QStringLiteral("none"));
    QCOMPARE(usb.value(QStringLiteral("Errors 2")), QStringLiteral("none"));
    QCOMPARE(usb.value(QStringLiteral("Supplies text")), QStringLiteral("Toner OK"));
    QCOMPARE(usb.value(QStringLiteral("Toner type")), QStringLiteral("0"));
    QCOMPARE(usb.value(QStringLiteral("Supplies")),
             QStringLiteral("0x0001=1 0x1000=300 0x1001=100 0x1002=50 0x1003=10000 0x1004=5 "
                            "0x1100=7 0x1101=65536 0x1102=123456"));

    const QMap<QString, QString> net = report.mapPrinters.value(QStringLiteral("Lab"));
    QCOMPARE(net.value(QStringLiteral("Summary")),
             QStringLiteral("error - paper jam (0x110D), printer error 0x1200, printer error "
                            "0x1107, printer warning 0x2200; toner 12 %"));
    QCOMPARE(net.value(QStringLiteral("Model")), QStringLiteral("Orvo QM7065FDW"));
    QCOMPARE(net.value(QStringLiteral("Connection")), QStringLiteral("network"));
    QCOMPARE(net.value(QStringLiteral("Port")), QStringLiteral("127.0.0.1"));
    QCOMPARE(net.value(QStringLiteral("URI")), QStringLiteral("socket://127.0.0.1:9100"));
    QCOMPARE(net.value(QStringLiteral("Status")), QStringLiteral("6 = printer status code 3"));
    QCOMPARE(net.value(QStringLiteral("Status text")), QStringLiteral("Paper jam"));
    QCOMPARE(net.value(QStringLiteral("Info 2")), QStringLiteral("SN 99887766"));
    QCOMPARE(net.value(QStringLiteral("Errors 1")),
             QStringLiteral("3: 0x1200 -> 1, 0x110D -> 11, 0x1107 -> 0"));
    QCOMPARE(net.value(QStringLiteral("Errors 2")), QStringLiteral("1: 0x2200 -> 3"));
    QVERIFY(net.contains(QStringLiteral("Supplies text")));
    QCOMPARE(net.value(QStringLiteral("Supplies text")), QString());
    QCOMPARE(net.value(QStringLiteral("Supplies")), QStringLiteral("0x1000=12 0x1102=123456"));
}

void TestOrvoStatus::normalDirectoryJson()
{
    QVERIFY(MakeNormalDirectory());
    const RunResult run = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 4);
    bool ok = false;
    const QJsonObject root = ParseJson(run.baOut, &ok);
    QVERIFY(ok);

    QCOMPARE(root.value(QStringLiteral("schemaVersion")).toInt(), 2);
    QCOMPARE(root.value(QStringLiteral("directoryExists")).toBool(), true);
    const QJsonObject service = root.value(QStringLiteral("service")).toObject();
    QCOMPARE(service.value(QStringLiteral("state")).toString(), QStringLiteral("alive"));
    QCOMPARE(service.value(QStringLiteral("alive")).toBool(), true);
    QVERIFY(service.value(QStringLiteral("heartbeatRaw")).toString().startsWith(QLatin1Char('[')));
    // ISO 8601 with its zone, and the same instant as the stamp.
    const QString iso = service.value(QStringLiteral("heartbeat")).toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}"
                                               "(Z|[+-]\\d\\d:\\d\\d)$"))
                 .match(iso)
                 .hasMatch(),
             qPrintable(iso));
    QCOMPARE(QDateTime::fromString(iso, Qt::ISODateWithMs),
             QDateTime::fromString(service.value(QStringLiteral("heartbeatRaw")).toString(),
                                   QLatin1String(kStampFormat)));
    const double age = service.value(QStringLiteral("ageSeconds")).toDouble(-1);
    QVERIFY2(age >= 0 && age < 10, qPrintable(QString::number(age)));

    const QJsonObject list = root.value(QStringLiteral("printerList")).toObject();
    QCOMPARE(list.value(QStringLiteral("read")).toBool(), true);
    QCOMPARE(list.value(QStringLiteral("count")).toInt(-1), 2);
    QCOMPARE(QueueNames(root), QStringList({QStringLiteral("Office"), QStringLiteral("Lab")}));

    const QJsonObject usb = PrinterByQueue(root, QStringLiteral("Office"));
    QCOMPARE(usb.value(QStringLiteral("index")).toInt(-1), 0);
    QCOMPARE(usb.value(QStringLiteral("model")).toString(), QStringLiteral("Orvo Q7020DN"));
    QCOMPARE(usb.value(QStringLiteral("connectType")).toInt(), 1);
    QCOMPARE(usb.value(QStringLiteral("connection")).toString(), QStringLiteral("USB"));
    QCOMPARE(usb.value(QStringLiteral("port")).toString(),
             QStringLiteral("Orvo/Q7020DN?serial=E73512K4N101234"));
    QCOMPARE(usb.value(QStringLiteral("uri")).toString(),
             QStringLiteral("usb://Orvo/Q7020DN?serial=E73512K4N101234"));
    const QJsonObject usbFile = usb.value(QStringLiteral("statusFile")).toObject();
    QCOMPARE(usbFile.value(QStringLiteral("name")).toString(), QStringLiteral("Office.dat"));
    QCOMPARE(usbFile.value(QStringLiteral("state")).toString(), QStringLiteral("decoded"));
    QCOMPARE(usbFile.value(QStringLiteral("size")).toInt(),
             Reply(QStringLiteral("usb_ready.txt")).size());
    QVERIFY(usbFile.value(QStringLiteral("problem")).isNull());
    QCOMPARE(usb.value(QStringLiteral("decoded")).toBool(), true);
    QCOMPARE(usb.value(QStringLiteral("status")).toInt(-1), 3);
    QCOMPARE(usb.value(QStringLiteral("statusCode")).toInt(-1), 0);
    QCOMPARE(usb.value(QStringLiteral("statusText")).toString(), QStringLiteral("Ready"));
    QCOMPARE(usb.value(QStringLiteral("info1")).toString(), QStringLiteral("Orvo Q7020DN"));
    QCOMPARE(usb.value(QStringLiteral("info2")).toString(), QStringLiteral("E73512K4N101234"));
    QCOMPARE(usb.value(QStringLiteral("info3")).toString(), QStringLiteral("1.04.2"));
    QCOMPARE(usb.value(QStringLiteral("errors1")).toArray().size(), 0);
    QCOMPARE(usb.value(QStringLiteral("errors2")).toArray().size(), 0);
    const QJsonObject supplies = usb.value(QStringLiteral("supplies")).toObject();
    QCOMPARE(supplies.value(QStringLiteral("text")).toString(), QStringLiteral("Toner OK"));
    QCOMPARE(supplies.value(QStringLiteral("tonerType")).toInt(-1), 0);
    const QJsonObject values = supplies.value(QStringLiteral("values")).toObject();
    QCOMPARE(values.size(), 9);
    // Named, the toner value is no percentage: it stays only among the raw values.
    QCOMPARE(root.value(QStringLiteral("printers"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("supplies")),
             QJsonValue(QJsonObject{{QStringLiteral("toner"),
                                     QJsonObject{{QStringLiteral("percent"), QJsonValue()}}}}));
    const QList<QPair<QString, double>> expected = {
        {QStringLiteral("0x0001"), 1},      {QStringLiteral("0x1000"), 300},
        {QStringLiteral("0x1001"), 100},    {QStringLiteral("0x1002"), 50},
        {QStringLiteral("0x1003"), 10000},  {QStringLiteral("0x1004"), 5},
        {QStringLiteral("0x1100"), 7},      {QStringLiteral("0x1101"), 65536},
        {QStringLiteral("0x1102"), 123456},
    };
    for (const auto& entry : expected) {
        QVERIFY2(values.contains(entry.first), qPrintable(entry.first));
        QCOMPARE(values.value(entry.first).toDouble(-1), entry.second);
    }

    const QJsonObject net = PrinterByQueue(root, QStringLiteral("Lab"));
    QCOMPARE(net.value(QStringLiteral("index")).toInt(-1), 1);
    QCOMPARE(net.value(QStringLiteral("connectType")).toInt(), 2);
    QCOMPARE(net.value(QStringLiteral("connection")).toString(), QStringLiteral("network"));
    QCOMPARE(net.value(QStringLiteral("port")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(net.value(QStringLiteral("status")).toInt(-1), 6);
    QCOMPARE(net.value(QStringLiteral("statusCode")).toInt(-1), 3);
    QCOMPARE(net.value(QStringLiteral("statusText")).toString(), QStringLiteral("Paper jam"));
    const QJsonArray errors1 = net.value(QStringLiteral("errors1")).toArray();
    QCOMPARE(errors1.size(), 3);
    const int codes1[][2] = {{0x1200, 1}, {0x110D, 11}, {0x1107, 0}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject error = errors1.at(i).toObject();
        QCOMPARE(error.value(QStringLiteral("code")).toInt(-1), codes1[i][0]);
        QCOMPARE(error.value(QStringLiteral("error")).toInt(-1), codes1[i][1]);
        QCOMPARE(error.value(QStringLiteral("hex")).toString(),
                 QStringLiteral("0x%1")
                     .arg(codes1[i][0], 4, 16, QLatin1Char('0'))
                     .toUpper()
                     .replace(QStringLiteral("0X"), QStringLiteral("0x")));
    }
    const QJsonArray errors2 = net.value(QStringLiteral("errors2")).toArray();
    QCOMPARE(errors2.size(), 1);
    QCOMPARE(errors2.at(0).toObject().value(QStringLiteral("code")).toInt(-1), 0x2200);
    QCOMPARE(errors2.at(0).toObject().value(QStringLiteral("error")).toInt(-1), 3);
    const QJsonObject netValues =
        net.value(QStringLiteral("supplies")).toObject().value(QStringLiteral("values")).toObject();
    QCOMPARE(netValues.value(QStringLiteral("0x1000")).toDouble(-1), 12.0);
    QCOMPARE(netValues.value(QStringLiteral("0x1102")).toDouble(-1), 123456.0);
    QVERIFY(!netValues.contains(QStringLiteral("0x0001"))); // not in the reply
    QCOMPARE(net.value(QStringLiteral("state")).toString(), QStringLiteral("error"));
    QCOMPARE(net.value(QStringLiteral("needsAttention")).toBool(), true);
    const QJsonObject jam = net.value(QStringLiteral("conditions")).toArray().at(0).toObject();
    QCOMPARE(jam.value(QStringLiteral("key")).toString(), QStringLiteral("jam"));
    QCOMPARE(jam.value(QStringLiteral("severity")).toString(), QStringLiteral("stops-printing"));
    QCOMPARE(jam.value(QStringLiteral("code")).toString(), QStringLiteral("0x110D"));
    QCOMPARE(root.value(QStringLiteral("printers"))
                 .toArray()
                 .at(1)
                 .toObject()
                 .value(QStringLiteral("supplies")),
             QJsonValue(QJsonObject{
                 {QStringLiteral("toner"), QJsonObject{{QStringLiteral("percent"), 12}}}}));
}

void TestOrvoStatus::exitStatus_data()
{
    QTest::addColumn<QString>("dirName");        // under the temporary directory
    QTest::addColumn<QByteArray>("printerList"); // written when not null
    QTest::addColumn<bool>("heartbeat");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printersLine");

    // 1: a file cannot be read; 3: the service is not running.
    QTest::newRow("missing directory") << "absent" << QByteArray() << false << 3
                                       << QStringLiteral("unknown (directory %1/ does not exist)");
    QTest::newRow("empty directory") << "cfg" << QByteArray() << false << 3
                                     << "unknown (no printer list (printerlist.ini missing))";
    QTest::newRow("foreign printer list, no heartbeat")
        << "cfg" << ReadFixture(QStringLiteral("foreign/printerlist.ini")) << false << 3
        << "unknown (printerlist.ini is not an INI file (binary content))";
    QTest::newRow("heartbeat only") << "cfg" << QByteArray() << true << 1
                                    << "unknown (no printer list (printerlist.ini missing))";
    QTest::newRow("printer list only")
        << "cfg" << ReadFixture(QStringLiteral("normal/printerlist.ini")) << false << 3 << "2";
    QTest::newRow("printer list a directory")
        << "cfg/printerlist.ini/.." << QByteArray() << true << 1
        << "unknown (cannot read printerlist.ini: it is a directory)";
}

void TestOrvoStatus::exitStatus()
{
    QFETCH(QString, dirName);
    QFETCH(QByteArray, printerList);
    QFETCH(bool, heartbeat);
    QFETCH(int, exitCode);
    QFETCH(QString, printersLine);

    QString dir = m_pTemp->path() + QLatin1Char('/') + dirName;
    if (dirName.endsWith(QLatin1String("/.."))) {
        QVERIFY(QDir().mkpath(dir));
        dir = QDir::cleanPath(dir);
    }
    if (!printerList.isNull()) {
        QVERIFY(WriteFile(dir + QStringLiteral("/printerlist.ini"), printerList));
    }
    if (heartbeat) {
        QVERIFY(
            WriteFile(dir + QStringLiteral("/service.hb"), Stamp(QDateTime::currentDateTime())));
    }
    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), dir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, exitCode);
    const TextReport report = ParseText(run.baOut);
    QCOMPARE(report.mapHeader.value(QStringLiteral("Printers")),
             printersLine.contains(QLatin1String("%1")) ? printersLine.arg(dir) : printersLine);
    if (heartbeat || !printersLine.startsWith(QLatin1String("unknown"))) {
        QVERIFY2(run.baErr.isEmpty(), run.baErr.constData());
    } else {
        QVERIFY2(run.baErr.startsWith("orvo-status: nothing to read in "), run.baErr.constData());
    }

    const RunResult json = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), dir});
    QVERIFY(json.bFinished);
    QCOMPARE(json.iExitCode, exitCode);
    bool ok = false;
    const QJsonObject root = ParseJson(json.baOut, &ok);
    QVERIFY(ok);
    QCOMPARE(root.value(QStringLiteral("directoryExists")).toBool(),
             dirName != QLatin1String("absent"));
}

void TestOrvoStatus::printerList_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("queues");
    QTest::addColumn<QString>("message");    // the warning, or the problem when not read
    QTest::addColumn<QStringList>("absent"); // names that must not appear in the text output

    QTest::newRow("normal list") << ReadFixture(QStringLiteral("normal/printerlist.ini")) << true
                                 << 2
                                 << QStringList({QStringLiteral("Office"), QStringLiteral("Lab")})
                                 << QString() << QStringList();
    QTest::newRow("empty file") << ReadFixture(QStringLiteral("empty/printerlist.ini")) << true << 0
                                << QStringList() << "printerlist.ini is empty: no printers listed"
                                << QStringList();
    QTest::newRow("Count beyond the sections present")
        << ReadFixture(QStringLiteral("count_short/printerlist.ini")) << true << 3
        << QStringList({QStringLiteral("Office"), QStringLiteral("Lab")})
        << "Count is 3 but 1 of its sections is missing: printer_1" << QStringList();
    QTest::newRow("Count far beyond the sections present")
        << QByteArray("[Main]\nCount=100000\n\n[printer_1]\nName=Lab\nConnectType=2\n") << true
        << 100000 << QStringList({QStringLiteral("Lab")})
        << "Count is 100000 but 99999 of its sections are missing: printer_0, printer_2, "
           "printer_3, printer_4, printer_5 and 99994 more"
        << QStringList();
    QTest::newRow("stale sections beyond Count ignored")
        << ReadFixture(QStringLiteral("stale_sections/printerlist.ini")) << true << 1
        << QStringList({QStringLiteral("Lab")}) << QString()
        << QStringList({QStringLiteral("Office"), QStringLiteral("Basement")});
    QTest::newRow("Count 0 with old sections")
        << QByteArray("[Main]\nCount=0\n\n[printer_0]\nName=Office\nConnectType=1\n") << true << 0
        << QStringList() << QString() << QStringList({QStringLiteral("Office")});
    QTest::newRow("not an INI file")
        << ReadFixture(QStringLiteral("foreign/printerlist.ini")) << false << -1 << QStringList()
        << "printerlist.ini is not an INI file (binary content)" << QStringList();
    QTest::newRow("text without a Count")
        << QByteArray("Hello,\nthis is not the printer list.\n") << false << -1 << QStringList()
        << "printerlist.ini is not a printer list: no Count in [Main]" << QStringList();
    QTest::newRow("Count not a number")
        << QByteArray("[Main]\nCount=two\n") << false << -1 << QStringList()
        << "printerlist.ini has an unusable Count \"two\"" << QStringList();
    QTest::newRow("too large to be a list")
        << QByteArray("[Main]\nCount=1\n") + QByteArray(2 * 1024 * 1024, ';') << false << -1
        << QStringList() << "printerlist.ini is too large to be a printer list (2097167 bytes)"
        << QStringList();
    QTest::newRow("Count at the largest int")
        << QByteArray("[Main]\nCount=2147483647\n") << false << -1 << QStringList()
        << "printerlist.ini has an unusable Count \"2147483647\"" << QStringList();
    QTest::newRow("negative Count")
        << QByteArray("[Main]\nCount=-1\n") << false << -1 << QStringList()
        << "printerlist.ini has an unusable Count \"-1\"" << QStringList();
}

void TestOrvoStatus::printerList()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, read);
    QFETCH(int, count);
    QFETCH(QStringList, queues);
    QFETCH(QString, message);
    QFETCH(QStringList, absent);

    QVERIFY(WriteFile(m_strDir + QStringLiteral("/printerlist.ini"), content));
    QVERIFY(
        WriteFile(m_strDir + QStringLiteral("/service.hb"), Stamp(QDateTime::currentDateTime())));

    // Reading the list needs no writable directory. The temporary directory is one that takes no
    // new file even from root (for a missing one Qt falls back to "/", which root can write).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/proc"));

    // Listed printers without a status file have no status yet; an unusable list is unreadable.
    const int exitCode = !read ? 1 : queues.isEmpty() ? 0 : 4;
    const RunResult run =
        RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir}, env);
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, exitCode);
    bool ok = false;
    const QJsonObject root = ParseJson(run.baOut, &ok);
    QVERIFY(ok);
    const QJsonObject list = root.value(QStringLiteral("printerList")).toObject();
    QCOMPARE(list.value(QStringLiteral("read")).toBool(), read);
    QCOMPARE(list.value(QStringLiteral("count")).toInt(-1), count);
    QCOMPARE(QueueNames(root), queues);
    const QJsonArray warnings = list.value(QStringLiteral("warnings")).toArray();
    if (read) {
        QVERIFY(list.value(QStringLiteral("problem")).isNull());
        QCOMPARE(warnings.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(warnings.at(0).toString(), message);
        }
    } else {
        QCOMPARE(list.value(QStringLiteral("problem")).toString(), message);
        QVERIFY(warnings.isEmpty());
    }

    const RunResult text =
        RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir}, env);
    QVERIFY(text.bFinished);
    QCOMPARE(text.iExitCode, exitCode);
    const TextReport report = ParseText(text.baOut);
    QCOMPARE(report.listOrder, queues);
    for (const QString& queue : queues) {
        QCOMPARE(report.mapPrinters.value(queue).value(QStringLiteral("Summary")),
                 QStringLiteral("no status - waiting for the first reply"));
    }
    if (read) {
        QCOMPARE(report.mapHeader.value(QStringLiteral("Printers")),
                 count == 0 ? QStringLiteral("none listed") : QString::number(count));
        QCOMPARE(report.listWarnings, message.isEmpty() ? QStringList() : QStringList(message));
    } else {
        QCOMPARE(report.mapHeader.value(QStringLiteral("Printers")),
                 QStringLiteral("unknown (%1)").arg(message));
    }
    for (const QString& name : absent) {
        QVERIFY2(!text.baOut.contains(name.toUtf8()), qPrintable(name));
    }
}

void TestOrvoStatus::statusFile_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("status"); // -1: none known
    QTest::addColumn<QString>("fileLine");
    QTest::addColumn<QString>("statusLine");

    const QByteArray ready = Reply(QStringLiteral("usb_ready.txt"));
    const QString unknown = QStringLiteral("unknown: the status file holds no complete reply");
    QTest::newRow("no status file")
        << false << QByteArray() << "missing" << 2 << "Office.dat: no status file"
        << "2 = no status";
    QTest::newRow("empty (USB time-out)")
        << true << QByteArray() << "empty" << -1
        << "Office.dat: status file is empty (no reply: USB time-out)" << unknown;
    QTest::newRow("zero bytes of a failed USB transfer")
        << true << QByteArray(6, '\0') << "no reply" << -1
        << "Office.dat: no reply: USB transfer failed, 6 zero bytes" << unknown;
    QTest::newRow("cut in text 1") << true << ready.left(20) << "truncated" << -1
                                   << "Office.dat: reply truncated, 20 bytes" << unknown;
    QTest::newRow("cut in the supplies")
        << true << ready.left(ready.size() - 3) << "truncated" << -1
        << QStringLiteral("Office.dat: reply truncated, %1 bytes").arg(ready.size() - 3) << unknown;
    QTest::newRow("cut by one byte")
        << true << ready.left(ready.size() - 1) << "truncated" << -1
        << QStringLiteral("Office.dat: reply truncated, %1 bytes").arg(ready.size() - 1) << unknown;
    QTest::newRow("garbage") << true << ReadFixture(QStringLiteral("garbage.dat")) << "foreign"
                             << -1
                             << "Office.dat: not a status reply (33 bytes whose lengths run past "
                                "any reply)"
                             << unknown;
    QTest::newRow("larger than any reply")
        << true << QByteArray(3000, 'x') << "foreign" << -1
        << "Office.dat: not a status reply: 3000 bytes, more than any reply holds" << unknown;
    QTest::newRow("bytes behind the last entry")
        << true << ready + QByteArray("\xde\xad", 2) << "decoded" << 3
        << QStringLiteral("Office.dat, %1 bytes").arg(ready.size() + 2)
        << "3 = printer status code 0";
}

void TestOrvoStatus::statusFile()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(QString, state);
    QFETCH(int, status);
    QFETCH(QString, fileLine);
    QFETCH(QString, statusLine);

    QVERIFY(MakeNormalDirectory());
    const QString office = m_strDir + QStringLiteral("/Office.dat");
    QVERIFY(QFile::remove(office));
    if (present) {
        QVERIFY(WriteFile(office, content));
    }

    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 4); // Lab's paper jam
    const TextReport report = ParseText(run.baOut);
    const QMap<QString, QString> usb = report.mapPrinters.value(QStringLiteral("Office"));
    QCOMPARE(usb.value(QStringLiteral("Status file")), fileLine);
    QCOMPARE(usb.value(QStringLiteral("Status")), statusLine);
    QCOMPARE(usb.contains(QStringLiteral("Status text")), state == QLatin1String("decoded"));
    // One broken file does not touch the other printer.
    QCOMPARE(report.mapPrinters.value(QStringLiteral("Lab")).value(QStringLiteral("Status text")),
             QStringLiteral("Paper jam"));

    const RunResult json = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(json.bFinished);
    QCOMPARE(json.iExitCode, 4);
    bool ok = false;
    const QJsonObject printer =
        PrinterByQueue(ParseJson(json.baOut, &ok), QStringLiteral("Office"));
    QVERIFY(ok);
    const QJsonObject file = printer.value(QStringLiteral("statusFile")).toObject();
    QCOMPARE(file.value(QStringLiteral("state")).toString(), state);
    QCOMPARE(file.value(QStringLiteral("size")).toInt(-1), present ? content.size() : -1);
    QCOMPARE(file.value(QStringLiteral("problem")).isNull(), state == QLatin1String("decoded"));
    QCOMPARE(printer.value(QStringLiteral("decoded")).toBool(), state == QLatin1String("decoded"));
    if (status < 0) {
        QVERIFY(printer.value(QStringLiteral("status")).isNull());
    } else {
        QCOMPARE(printer.value(QStringLiteral("status")).toInt(-1), status);
    }
}

void TestOrvoStatus::heartbeat_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("minAge"); // seconds; both 0 when no age is known
    QTest::addColumn<double>("maxAge");
    QTest::addColumn<QString>("serviceLine"); // start of the text line

    const QDateTime now = QDateTime::currentDateTime();
    QTest::newRow("fresh") << true << Stamp(now) << "alive" << 0.0 << 9.0
                           << "alive - heartbeat 0 s ago";
    QTest::newRow("a minute old") << true << Stamp(now.addSecs(-90)) << "stale" << 89.0 << 120.0
                                  << "stale - last heartbeat 9";
    QTest::newRow("days old") << true << Stamp(now.addDays(-3)) << "stale" << 3 * 86400.0
                              << 3 * 86400.0 + 60 << "stale - last heartbeat 3 days ago; ";
    QTest::newRow("years old") << true << QByteArray("[2020-01-01 00:00:00.000]") << "stale"
                               << 86400.0 << 1e12 << "stale - last heartbeat ";
    QTest::newRow("an hour in the future") << true << Stamp(now.addSecs(3600)) << "stale" << -3601.0
                                           << -3500.0 << "stale - last heartbeat in 59 min, ";
    QTest::newRow("with a line end") << true << Stamp(now) + '\n'
                                     << "alive" << 0.0 << 9.0 << "alive - heartbeat ";
    QTest::newRow("missing") << false << QByteArray() << "not running" << 0.0 << 0.0
                             << "not running - no heartbeat file";
    QTest::newRow("empty") << true << QByteArray() << "unknown" << 0.0 << 0.0
                           << "unknown - heartbeat file is empty";
    QTest::newRow("garbage") << true << QByteArray("service is up\n") << "unknown" << 0.0 << 0.0
                             << "unknown - heartbeat file holds no time stamp";
}

void TestOrvoStatus::heartbeat()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(QString, state);
    QFETCH(double, minAge);
    QFETCH(double, maxAge);
    QFETCH(QString, serviceLine);

    QVERIFY(MakeNormalDirectory());
    const QString path = m_strDir + QStringLiteral("/service.hb");
    QVERIFY(QFile::remove(path));
    if (present) {
        QVERIFY(WriteFile(path, content));
    }

    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    // A service that is not running makes every printer unknown, whatever its file says.
    const bool alive = state == QLatin1String("alive");
    QCOMPARE(run.iExitCode, alive ? 4 : 3);
    const TextReport report = ParseText(run.baOut);
    const QString line = report.mapHeader.value(QStringLiteral("Service"));
    QVERIFY2(line.startsWith(serviceLine), qPrintable(line));
    QCOMPARE(report.mapPrinters.value(QStringLiteral("Office")).value(QStringLiteral("Summary")),
             alive ? QStringLiteral("ready")
                   : QStringLiteral("unknown - the service is not running"));

    const RunResult json = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(json.bFinished);
    bool ok = false;
    const QJsonObject service =
        ParseJson(json.baOut, &ok).value(QStringLiteral("service")).toObject();
    QVERIFY(ok);
    QCOMPARE(service.value(QStringLiteral("state")).toString(), state);
    QCOMPARE(service.value(QStringLiteral("alive")).toBool(), alive);
    const QJsonObject lab = PrinterByQueue(ParseJson(json.baOut, &ok), QStringLiteral("Lab"));
    QCOMPARE(lab.value(QStringLiteral("state")).toString(),
             alive ? QStringLiteral("error") : QStringLiteral("unknown"));
    QCOMPARE(lab.value(QStringLiteral("conditions")).toArray().isEmpty(), !alive);
    const QJsonValue age = service.value(QStringLiteral("ageSeconds"));
    if (minAge == 0 && maxAge == 0) {
        QVERIFY(age.isNull());
        QVERIFY(service.value(QStringLiteral("heartbeat")).isNull());
    } else {
        QVERIFY2(age.toDouble() >= minAge && age.toDouble() <= maxAge,
                 qPrintable(QString::number(age.toDouble())));
        QCOMPARE(service.value(QStringLiteral("heartbeatRaw")).toString().toLatin1(),
                 content.trimmed());
    }
}

void TestOrvoStatus::fifoDoesNotStall_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("printer list") << "printerlist.ini" << 1;
    QTest::newRow("status file") << "Office.dat" << 4;
    QTest::newRow("heartbeat") << "service.hb" << 1;
}

void TestOrvoStatus::fifoDoesNotStall()
{
    QFETCH(QString, file);
    QFETCH(int, exitCode);

    // Nobody writes into the FIFO: a reader that opened it blocking would wait forever.
    QVERIFY(MakeNormalDirectory());
    const QByteArray path = QFile::encodeName(m_strDir + QLatin1Char('/') + file);
    QVERIFY(QFile::remove(QFile::decodeName(path)));
    QVERIFY(::mkfifo(path.constData(), 0600) == 0);

    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY2(run.bFinished, "orvo-status hangs on a FIFO");
    QCOMPARE(run.iExitCode, exitCode);
    QVERIFY2(run.baOut.contains("not a regular file"), run.baOut.constData());
}

void TestOrvoStatus::heartbeatInRepeatedHour_data()
{
    QTest::addColumn<QString>("written"); // when the service wrote the stamp, UTC

    // In Berlin 02:30 on 2026-10-25 happens twice: in summer time, then in winter time.
    QTest::newRow("first 02:30 (summer time)") << "2026-10-25T00:30:00Z";
    QTest::newRow("second 02:30 (winter time)") << "2026-10-25T01:30:00Z";
}

void TestOrvoStatus::heartbeatInRepeatedHour()
{
    QFETCH(QString, written);

    QVERIFY(MakeNormalDirectory());
    const QString path = m_strDir + QStringLiteral("/service.hb");
    QVERIFY(WriteFile(path, "[2026-10-25 02:30:00.000]"));
    const QDateTime when = QDateTime::fromString(written, Qt::ISODate);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
    process.setProcessEnvironment(env);
    process.start(kTool, {QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(process.waitForFinished(kRunTimeoutMs));
    bool ok = false;
    const QJsonObject service =
        ParseJson(process.readAllStandardOutput(), &ok).value(QStringLiteral("service")).toObject();
    QVERIFY(ok);
    // The reading the file's time points at, not the other one an hour away.
    const QDateTime heartbeat =
        QDateTime::fromString(service.value(QStringLiteral("heartbeat")).toString(), Qt::ISODate);
    QCOMPARE(heartbeat.toUTC(), when);
}

void TestOrvoStatus::nonAsciiQueueNames()
{
    const QString buero = QStringLiteral("B\u00fcro");
    const QString printer = QStringLiteral("\u6253\u5370\u673a");
    QVERIFY(WriteFile(m_strDir + QStringLiteral("/printerlist.ini"),
                      ReadFixture(QStringLiteral("nonascii/printerlist.ini"))));
    QVERIFY(WriteFile(m_strDir + QLatin1Char('/') + buero + QStringLiteral(".dat"),
                      Reply(QStringLiteral("usb_ready.txt"))));
    QVERIFY(WriteFile(m_strDir + QLatin1Char('/') + printer + QStringLiteral(".dat"),
                      Reply(QStringLiteral("network_jam.txt"))));

    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 3); // no heartbeat
    const TextReport report = ParseText(run.baOut);
    QCOMPARE(report.listOrder, QStringList({buero, printer}));
    QCOMPARE(report.mapPrinters.value(buero).value(QStringLiteral("Queue")), buero);
    QCOMPARE(report.mapPrinters.value(buero).value(QStringLiteral("Status file")).left(9),
             buero + QStringLiteral(".dat,"));
    QCOMPARE(report.mapPrinters.value(printer).value(QStringLiteral("Status text")),
             QStringLiteral("Paper jam"));

    const RunResult json = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(json.bFinished);
    bool ok = false;
    const QJsonObject root = ParseJson(json.baOut, &ok);
    QVERIFY(ok);
    QCOMPARE(QueueNames(root), QStringList({buero, printer}));
    QCOMPARE(PrinterByQueue(root, buero).value(QStringLiteral("status")).toInt(-1), 3);
    QCOMPARE(PrinterByQueue(root, printer)
                 .value(QStringLiteral("statusFile"))
                 .toObject()
                 .value(QStringLiteral("name"))
                 .toString(),
             printer + QStringLiteral(".dat"));
    QCOMPARE(PrinterByQueue(root, printer).value(QStringLiteral("status")).toInt(-1), 6);
}

void TestOrvoStatus::controlCharactersEscaped()
{
    QVERIFY(MakeNormalDirectory());
    QVERIFY(WriteFile(m_strDir + QStringLiteral("/Office.dat"),
                      Reply(QStringLiteral("control_chars.txt"))));

    const RunResult run = RunTool({QStringLiteral("--verbose"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 4);
    QVERIFY(!run.baOut.contains('\x1b'));
    QVERIFY(!run.baOut.contains('\x07'));
    const QMap<QString, QString> usb =
        ParseText(run.baOut).mapPrinters.value(QStringLiteral("Office"));
    QCOMPARE(usb.value(QStringLiteral("Info 1")), QStringLiteral("\\x1b[2JOrvo"));
    QCOMPARE(usb.value(QStringLiteral("Status text")), QStringLiteral("Ready\\x1b]0;owned\\x07"));
    QCOMPARE(usb.value(QStringLiteral("Status")),
             QStringLiteral("0 = unknown printer status code 25"));

    // JSON carries the texts as decoded; its own escaping keeps them inert.
    const RunResult json = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(json.bFinished);
    QVERIFY(!json.baOut.contains('\x1b'));
    bool ok = false;
    const QJsonObject printer =
        PrinterByQueue(ParseJson(json.baOut, &ok), QStringLiteral("Office"));
    QVERIFY(ok);
    QCOMPARE(printer.value(QStringLiteral("info1")).toString(), QStringLiteral("\x1b[2JOrvo"));
    QCOMPARE(printer.value(QStringLiteral("status")).toInt(-1), 0);
    QCOMPARE(printer.value(QStringLiteral("statusCode")).toInt(-1), 25);
}

void TestOrvoStatus::queueNameOutsideDirectory()
{
    // A hand-edited list must not make the reader open files outside the directory.
    QVERIFY(WriteFile(m_pTemp->path() + QStringLiteral("/outside.dat"),
                      Reply(QStringLiteral("usb_ready.txt"))));
    QVERIFY(WriteFile(m_strDir + QStringLiteral("/printerlist.ini"),
                      "[Main]\nCount=2\n\n[printer_0]\nName=../outside\nConnectType=1\n\n"
                      "[printer_1]\nConnectType=2\n"));
    QVERIFY(
        WriteFile(m_strDir + QStringLiteral("/service.hb"), Stamp(QDateTime::currentDateTime())));

    const RunResult run = RunTool({QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, 4); // neither printer has a status
    bool ok = false;
    const QJsonArray printers =
        ParseJson(run.baOut, &ok).value(QStringLiteral("printers")).toArray();
    QVERIFY(ok);
    QCOMPARE(printers.size(), 2);
    const QJsonObject outside = Flat(printers.at(0).toObject());
    QCOMPARE(outside.value(QStringLiteral("queue")).toString(), QStringLiteral("../outside"));
    QCOMPARE(outside.value(QStringLiteral("decoded")).toBool(), false);
    QVERIFY(outside.value(QStringLiteral("status")).isNull());
    const QJsonObject file = outside.value(QStringLiteral("statusFile")).toObject();
    QCOMPARE(file.value(QStringLiteral("state")).toString(), QStringLiteral("unreadable"));
    QCOMPARE(file.value(QStringLiteral("problem")).toString(),
             QStringLiteral("the queue name cannot name a status file"));
    const QJsonObject unnamed = Flat(printers.at(1).toObject());
    QCOMPARE(unnamed.value(QStringLiteral("statusFile"))
                 .toObject()
                 .value(QStringLiteral("problem"))
                 .toString(),
             QStringLiteral("the section has no queue name"));
}

void TestOrvoStatus::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("stdoutPart");
    QTest::addColumn<QByteArray>("stderrPart");

    QTest::newRow("--help") << QStringList({QStringLiteral("--help")}) << 0
                            << QByteArray("Exit status:\n  0  all fine") << QByteArray();
    QTest::newRow("--help names the options")
        << QStringList({QStringLiteral("--help")}) << 0 << QByteArray("--watch") << QByteArray();
    QTest::newRow("unknown option")
        << QStringList({QStringLiteral("--bogus")}) << 2 << QByteArray()
        << QByteArray("orvo-status: unknown option '--bogus'. Try --help\n");
    QTest::newRow("--help names the program, not its path")
        << QStringList({QStringLiteral("--help")}) << 0
        << QByteArray("Usage: orvo-status [options] [queue...]\n") << QByteArray();
    QTest::newRow("--version") << QStringList({QStringLiteral("--version")}) << 0
                               << QByteArray("orvo-status " ORVO_VERSION "\n") << QByteArray();
    QTest::newRow("--count without --watch")
        << QStringList({QStringLiteral("--count"), QStringLiteral("2")}) << 2 << QByteArray()
        << QByteArray("--count goes with --watch");
    QTest::newRow("--count not a number")
        << QStringList({QStringLiteral("--watch"), QStringLiteral("--count"), QStringLiteral("x")})
        << 2 << QByteArray()
        << QByteArray("--count 'x' is not a number of 1 or more. Try --help\n");
    QTest::newRow("--help lists every exit status")
        << QStringList({QStringLiteral("--help")}) << 0
        << QByteArray("  5  --notify: no session bus, or no notification service on it\n"
                      "  6  --prometheus --output: the file cannot be written\n")
        << QByteArray();
    QTest::newRow("--dir without a value") << QStringList({QStringLiteral("--dir")}) << 2
                                           << QByteArray() << QByteArray("missing value after");
}

void TestOrvoStatus::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, stdoutPart);
    QFETCH(QByteArray, stderrPart);

    const RunResult run = RunTool(args);
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, exitCode);
    QVERIFY2(run.baOut.contains(stdoutPart), run.baOut.constData());
    QVERIFY2(run.baErr.contains(stderrPart), run.baErr.constData());
    if (exitCode == 2) {
        QCOMPARE(run.baErr.count('\n'), 1); // one line, not a usage block
    }
}

void TestOrvoStatus::language_data()
{
    QTest::addColumn<QStringList>("locale"); // the environment's language variables
    QTest::addColumn<QStringList>("args");   // --dir DIR added
    QTest::addColumn<QStringList>("expected");

    const QStringList german{"LANG=de_DE.UTF-8"};
    QTest::newRow("status lines in German")
        << german << QStringList()
        << QStringList{"Dienst:       läuft - Lebenszeichen vor ",
                       "\nLab: Fehler - Papierstau (0x110D), Druckerfehler 0x1200, Druckerfehler "
                       "0x1107, Druckerwarnung 0x2200; Toner 12 %\n"};
    QTest::newRow("--help in German")
        << german << QStringList{"--help"}
        << QStringList{"Aufruf: orvo-status [Optionen] [Warteschlange...]\n", "\nOptionen:\n",
                       "Exit-Status:\n  0  alles in Ordnung", "Weiterlaufen und jede Änderung"};
    QTest::newRow("LC_ALL before LANG")
        << QStringList{"LANG=de_DE.UTF-8", "LC_ALL=C.UTF-8"} << QStringList()
        << QStringList{"Service:   alive - heartbeat ", "\nLab: error - paper jam (0x110D)"};
    QTest::newRow("JSON for scripts stays English")
        << german << QStringList{"--json"}
        << QStringList{"\"summary\": \"error - paper jam (0x110D), printer error 0x1200",
                       "\"text\": \"printer warning 0x2200\"", "\"state\": \"alive\""};
}

void TestOrvoStatus::language()
{
    QFETCH(QStringList, locale);
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);

    QVERIFY(MakeNormalDirectory());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys()) {
        if (key == "LANG" || key == "LANGUAGE" || key.startsWith("LC_")) {
            env.remove(key);
        }
    }
    for (const QString& setting : locale) {
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    const RunResult run = RunTool(args + QStringList{"--dir", m_strDir}, env);
    QVERIFY(run.bFinished);
    const QString out = QString::fromUtf8(run.baOut);
    for (const QString& part : expected) {
        QVERIFY2(out.contains(part), qPrintable(out));
    }
}

void TestOrvoStatus::watchPicksUpChange_data()
{
    QTest::addColumn<QString>("change");

    QTest::newRow("status file rewritten in place") << "rewrite";
    QTest::newRow("status file appears") << "appear";
    QTest::newRow("printer list replaced by rename") << "rename";
    QTest::newRow("heartbeat written") << "heartbeat";
}

void TestOrvoStatus::watchPicksUpChange()
{
    QFETCH(QString, change);

    QVERIFY(MakeNormalDirectory());
    const QString office = m_strDir + QStringLiteral("/Office.dat");
    const QString heartbeat = m_strDir + QStringLiteral("/service.hb");
    // An old heartbeat stays stale, so nothing changes between the snapshots but the test's edit.
    QVERIFY(WriteFile(heartbeat, "[2020-01-01 00:00:00.000]"));
    if (change == QLatin1String("appear")) {
        QVERIFY(QFile::remove(office));
    } else if (change == QLatin1String("heartbeat")) {
        QVERIFY(QFile::remove(heartbeat));
    }

    QProcess process;
    process.start(kTool, {QStringLiteral("--watch"), QStringLiteral("--count"), QStringLiteral("2"),
                          QStringLiteral("--json"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(process.waitForStarted(kRunTimeoutMs));
    QByteArray out;
    QDeadlineTimer firstDeadline(kRunTimeoutMs);
    while (CompleteLines(out).isEmpty() && !firstDeadline.hasExpired() &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    QVERIFY2(CompleteLines(out).size() == 1, "the first snapshot did not arrive as one line");
    bool ok = false;
    const QJsonObject first = ParseJson(CompleteLines(out).at(0), &ok);
    QVERIFY(ok);

    if (change == QLatin1String("rewrite") || change == QLatin1String("appear")) {
        QVERIFY(WriteFile(office, Reply(QStringLiteral("usb_printing.txt"))));
    } else if (change == QLatin1String("rename")) {
        const QString next = m_strDir + QStringLiteral("/printerlist.ini.new");
        QVERIFY(WriteFile(next, "[Main]\nCount=1\n\n[printer_0]\nName=Lab\nConnectType=2\n"));
        QVERIFY(::rename(
                    QFile::encodeName(next).constData(),
                    QFile::encodeName(m_strDir + QStringLiteral("/printerlist.ini")).constData()) ==
                0);
    } else {
        QVERIFY(WriteFile(heartbeat, "[2021-01-01 00:00:00.000]"));
    }

    QVERIFY2(process.waitForFinished(kRunTimeoutMs), "no second snapshot after the change");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3); // the heartbeat is stale
    out += process.readAllStandardOutput();
    const QList<QByteArray> lines = CompleteLines(out);
    QCOMPARE(lines.size(), 2);
    const QJsonObject second = ParseJson(lines.at(1), &ok);
    QVERIFY(ok);

    const QJsonObject before = PrinterByQueue(first, QStringLiteral("Office"));
    const QJsonObject after = PrinterByQueue(second, QStringLiteral("Office"));
    if (change == QLatin1String("rewrite")) {
        QCOMPARE(before.value(QStringLiteral("status")).toInt(-1), 3);
        QCOMPARE(after.value(QStringLiteral("status")).toInt(-1), 4);
        QCOMPARE(after.value(QStringLiteral("statusText")).toString(), QStringLiteral("Printing"));
    } else if (change == QLatin1String("appear")) {
        QCOMPARE(before.value(QStringLiteral("status")).toInt(-1), 2);
        QCOMPARE(after.value(QStringLiteral("status")).toInt(-1), 4);
    } else if (change == QLatin1String("rename")) {
        QCOMPARE(QueueNames(first), QStringList({QStringLiteral("Office"), QStringLiteral("Lab")}));
        QCOMPARE(QueueNames(second), QStringList({QStringLiteral("Lab")}));
    } else {
        const QJsonObject service = second.value(QStringLiteral("service")).toObject();
        QCOMPARE(first.value(QStringLiteral("service"))
                     .toObject()
                     .value(QStringLiteral("state"))
                     .toString(),
                 QStringLiteral("not running"));
        QCOMPARE(service.value(QStringLiteral("state")).toString(), QStringLiteral("stale"));
        QCOMPARE(service.value(QStringLiteral("heartbeatRaw")).toString(),
                 QStringLiteral("[2021-01-01 00:00:00.000]"));
    }
}

void TestOrvoStatus::namedQueues_data()
{
    QTest::addColumn<QStringList>("args"); // after --dir and the normal directory
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<QByteArray>("notShown");
    QTest::addColumn<QByteArray>("stderrPart");

    // Office is ready, Lab has a paper jam.
    QTest::newRow("the ready one alone: all fine")
        << QStringList{"Office"} << 0 << QByteArray("Office: ready") << QByteArray("Lab")
        << QByteArray();
    QTest::newRow("the jammed one") << QStringList{"Lab"} << 4 << QByteArray("Lab: error")
                                    << QByteArray("Office") << QByteArray();
    QTest::newRow("--json") << QStringList{"--json", "Office"} << 0
                            << QByteArray("\"queue\": \"Office\"") << QByteArray("\"Lab\"")
                            << QByteArray();
    QTest::newRow("--prometheus") << QStringList{"--prometheus", "Lab"} << 0
                                  << QByteArray("queue=\"Lab\"") << QByteArray("Office")
                                  << QByteArray();
    QTest::newRow("an unknown name is named")
        << QStringList{"Office", "Nowhere\n"} << 2 << QByteArray() << QByteArray("Office")
        << QByteArray("orvo-status: no printer 'Nowhere\\x0a' in the service's printer list (it "
                      "holds Office, Lab)\n");
}

void TestOrvoStatus::namedQueues()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, notShown);
    QFETCH(QByteArray, stderrPart);

    QVERIFY(MakeNormalDirectory());
    const RunResult run = RunTool(QStringList{QStringLiteral("--dir"), m_strDir} + args);
    QVERIFY(run.bFinished);
    QCOMPARE(run.iExitCode, exitCode);
    QVERIFY2(run.baOut.contains(shown) && !run.baOut.contains(notShown), run.baOut.constData());
    QVERIFY2(stderrPart.isEmpty() ? run.baErr.isEmpty() : run.baErr == stderrPart,
             run.baErr.constData());
}

void TestOrvoStatus::stopSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestOrvoStatus::stopSignal()
{
    QFETCH(int, signal);
    QVERIFY(MakeNormalDirectory());
    QProcess process;
    process.start(kTool, {QStringLiteral("--watch"), QStringLiteral("--dir"), m_strDir});
    QVERIFY(process.waitForStarted());
    // Running its event loop once the first state is out.
    QByteArray out;
    QDeadlineTimer deadline(kRunTimeoutMs);
    while (!out.contains("Lab: ") && !deadline.hasExpired()) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    QVERIFY2(out.contains("Lab: "), out.constData());
    QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(kRunTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TestOrvoStatus::completion_data()
{
    QTest::addColumn<QStringList>("words"); // the command line up to the word being completed
    QTest::addColumn<QStringList>("offered");

    QTest::newRow("first option: every mode")
        << QStringList{"--"} << QStringList{"--dir",  "--help",  "--version", "--verbose",
                                            "--json", "--watch", "--notify",  "--prometheus"};
    QTest::newRow("--count only with --watch")
        << QStringList{"--watch", "--"} << QStringList{"--dir", "--verbose", "--json", "--count"};
    QTest::newRow("--prometheus takes --output, nothing it refuses")
        << QStringList{"--prometheus", "--"} << QStringList{"--dir", "--output"};
    QTest::newRow("--notify goes alone") << QStringList{"--notify", "--"} << QStringList{"--dir"};
    QTest::newRow("--dir: directories as paths, without a space")
        << QStringList{"--dir", "@/s"} << QStringList{"compopt -o filenames", "@/sub"};
    QTest::newRow("--output: files as paths")
        << QStringList{"--prometheus", "--output", "@/s"}
        << QStringList{"compopt -o filenames", "@/sfile", "@/sub"};
    QTest::newRow("queue names from the printer list")
        << QStringList{"--dir", "@/cfg", "L"} << QStringList{"Lab"};
}

void TestOrvoStatus::completion()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);

    // "@" is this test's directory: a cfg directory, a subdirectory and a file.
    QVERIFY(MakeNormalDirectory());
    QVERIFY(QDir().mkpath(m_pTemp->path() + QStringLiteral("/sub")) &&
            WriteFile(m_pTemp->path() + QStringLiteral("/sfile"), "x"));
    words.replaceInStrings(QStringLiteral("@"), m_pTemp->path());
    offered.replaceInStrings(QStringLiteral("@"), m_pTemp->path());
    // bash as it completes: COMP_WORDS and COMP_CWORD set; compopt works only inside a real
    // completion, so a function stands in for it and tells what was asked of it.
    QProcess bash;
    bash.start(QStringLiteral("/bin/bash"),
               QStringList{QStringLiteral("-c"),
                           QStringLiteral("source \"$0\"; compopt() { echo \"compopt $*\"; }; "
                                          "COMP_WORDS=(orvo-status \"$@\"); COMP_CWORD=$#; "
                                          "_orvo_status; printf '%s\\n' \"${COMPREPLY[@]}\""),
                           kCompletion} +
                   words);
    QVERIFY(bash.waitForFinished(kRunTimeoutMs));
    QVERIFY2(bash.exitCode() == 0, bash.readAllStandardError().constData());
    QStringList lines = QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    QCOMPARE(lines, offered);
}

int main(int argc, char** argv)
{
    // Queue names outside ASCII reach the file system in the local 8-bit encoding; the test and
    // the tool it starts must agree on it.
    qputenv("LC_ALL", "C.UTF-8");
    QCoreApplication app(argc, argv);
    TestOrvoStatus test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_orvostatus.moc"
