// orvo-status --prometheus: label values escaped as the format requires, and the export written
// in one step, read back by the reference parser (python3-prometheus-client) and passed by
// promtool's check of the naming conventions, with queue names that would break the file or add
// series if they were not escaped.

#include "tests/replies/ReplyBuilder.h"
#include "tools/status/PrometheusExporter.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// No CUPS queue can have the first two names, but a printer list file can hold them.
const QStringList c_listNames = {QStringLiteral("Q\"} 1\norvo_service_up{x=\"1"),
                                 QStringLiteral("back\\slash\\\"quote\\n"),
                                 QStringLiteral("Büro;$(id)|打印机")};

int Run(const QStringList& args, QString* err = nullptr)
{
    QProcess process;
    process.start(args.first(), args.mid(1));
    const bool done = process.waitForFinished(30000);
    if (err) {
        *err = QString::fromUtf8(process.readAllStandardError());
    }
    return done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class TestPrometheus : public QObject
{
    Q_OBJECT

private slots:
    void escape_data();
    void escape();
    void exportReadBack();
};

void TestPrometheus::escape_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << "Office"
                           << "Office";
    QTest::newRow("backslash") << "a\\b"
                               << "a\\\\b";
    QTest::newRow("double quote") << "a\"b"
                                  << "a\\\"b";
    QTest::newRow("line feed") << "a\nb"
                               << "a\\nb";
    QTest::newRow("escape-like text stays text") << "\\n\\\""
                                                 << "\\\\n\\\\\\\"";
    QTest::newRow("UTF-8 and shell characters") << "Büro;$(id)|打印机"
                                                << "Büro;$(id)|打印机";
}

void TestPrometheus::escape()
{
    QFETCH(QString, value);
    QFETCH(QString, escaped);
    QCOMPARE(PrometheusExporter::EscapeLabelValue(value), escaped);
}

void TestPrometheus::exportReadBack()
{
    // A paper-out printer with its toner level, a ready one, one not asked yet.
    QTemporaryDir temp;
    const QString cfg = temp.path() + "/cfg/";
    QVERIFY(QDir().mkpath(cfg) && QDir().mkpath(temp.path() + "/textfiles"));
    {
        QSettings list(cfg + "printerlist.ini", QSettings::IniFormat);
        list.setIniCodec("UTF-8");
        list.setValue("Main/Count", c_listNames.size());
        for (int i = 0; i < c_listNames.size(); ++i) {
            list.setValue(QStringLiteral("printer_%1/Name").arg(i), c_listNames.at(i));
            list.setValue(QStringLiteral("printer_%1/ConnectType").arg(i), 2);
        }
    }
    const QByteArray replies[] = {ReplyBuilder()
                                      .setStatusCode(3)
                                      .setErrorCodes1({0x1106, 0x1200, 0x1201})
                                      .addSupplyValue(0x1000, 40, 2)
                                      .build(),
                                  ReplyBuilder().setStatusCode(1).build()};
    for (int i = 0; i < 2; ++i) {
        QFile file(cfg + c_listNames.at(i) + ".dat");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(replies[i]) == replies[i].size());
    }
    QFile heartbeat(cfg + "service.hb");
    QVERIFY(heartbeat.open(QIODevice::WriteOnly));
    const QString stamp = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss.zzz]");
    heartbeat.write(stamp.toLatin1());
    heartbeat.close();

    // Written twice: the second run replaces the first, and no temporary file stays behind.
    const QString target = temp.path() + "/textfiles/orvo-status.prom";
    QString err;
    for (int run = 0; run < 2; ++run) {
        QVERIFY2(Run({ORVO_STATUS_BIN, "--prometheus", "--dir", cfg, "--output", target}, &err) ==
                     0,
                 qPrintable(err));
    }
    QCOMPARE(QDir(temp.path() + "/textfiles").entryList(QDir::Files | QDir::Hidden),
             QStringList{"orvo-status.prom"});
    QVERIFY(QFile::permissions(target) & QFile::ReadOther);

    QProcess promtool;
    promtool.setStandardInputFile(target);
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(ORVO_PROMTOOL, {"check", "metrics"});
    QVERIFY(promtool.waitForFinished(30000));
    QVERIFY2(promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0,
             promtool.readAll().constData());

    QProcess parser;
    parser.start(ORVO_SYSTEM_PYTHON, {ORVO_PROM_SAMPLES, target});
    QVERIFY(parser.waitForFinished(30000));
    QVERIFY2(parser.exitCode() == 0, parser.readAllStandardError().constData());
    QMultiMap<QString, QJsonObject> samples;
    for (const QByteArray& line : parser.readAllStandardOutput().split('\n')) {
        const int space = line.indexOf(' ');
        samples.insert(line.left(space), QJsonDocument::fromJson(line.mid(space + 1)).object());
    }
    // The label's values of the samples named so, in file order; with a value, only those.
    const auto labels = [&](const QString& name, const QString& label, double value = -1) {
        QStringList values;
        for (const QJsonObject& sample : samples.values(name)) {
            if (value < 0 || sample.value("value").toDouble() == value) {
                values.prepend(sample.value(label).toVariant().toString());
            }
        }
        return values;
    };
    // Nothing injected: one service series, one info series per printer, names intact.
    QCOMPARE(labels("orvo_service_up", "value"), QStringList{"1"});
    QCOMPARE(labels("orvo_printer_info", "queue"), c_listNames);
    // The heartbeat as the time it was written, so its age is computed when Prometheus asks.
    const QStringList beat = labels("orvo_service_heartbeat_timestamp_seconds", "value");
    QCOMPARE(beat.size(), 1);
    QCOMPARE(qRound64(beat.first().toDouble() * 1000),
             QDateTime::fromString(stamp, "[yyyy-MM-dd hh:mm:ss.zzz]").toMSecsSinceEpoch());
    // A state set: every state of every printer, 1 on the one it is in.
    QCOMPARE(labels("orvo_printer_state", "state").size(), 7 * c_listNames.size());
    QCOMPARE(labels("orvo_printer_state", "state", 1),
             (QStringList{"error", "ready", "no-status"}));
    // IPP keywords; the two bare error codes are one series.
    QCOMPARE(labels("orvo_printer_condition", "condition"), (QStringList{"media-empty", "other"}));
    QCOMPARE(labels("orvo_printer_condition", "severity"),
             (QStringList{"stops-printing", "stops-printing"}));
    QCOMPARE(labels("orvo_printer_supply_level_ratio", "value"), QStringList{"0.4"});

    QCOMPARE(Run({ORVO_STATUS_BIN, "--prometheus", "--dir", cfg, "--output",
                  temp.path() + "/missing/orvo-status.prom"},
                 &err),
             PrometheusExporter::EXIT_NOT_WRITTEN);
    QVERIFY2(err.contains(temp.path() + "/missing"), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestPrometheus)
#include "test_prometheus.moc"
