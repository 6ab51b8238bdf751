// orvo-status --prometheus: label values escaped as the format requires, the whole export read
// back by the reference parser (python3-prometheus-client), and the output file replaced in one
// step.

#include "PrometheusExporter.h"
#include "ReplyBuilder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Names no CUPS queue can have, but a printer list file can hold: the escaper must hold them.
const QStringList c_listHostile = {
    QStringLiteral("Q\"} 1\norvo_service_up{x=\"1"),
    QStringLiteral("back\\slash\\\"quote\\n"),
    QStringLiteral("Büro;$(id)|打印机"),
};

QList<QJsonObject> Samples(const QByteArray& text, QString* error)
{
    QProcess parser;
    parser.start(QStringLiteral(ORVO_SYSTEM_PYTHON), {QStringLiteral(ORVO_PROM_SAMPLES)});
    parser.write(text);
    parser.closeWriteChannel();
    QList<QJsonObject> samples;
    if (!parser.waitForFinished(30000) || parser.exitCode() != 0) {
        *error = QString::fromUtf8(parser.readAllStandardError());
        return samples;
    }
    for (const QByteArray& line : parser.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            samples << QJsonDocument::fromJson(line).object();
        }
    }
    return samples;
}

QList<QJsonObject> Named(const QList<QJsonObject>& samples, const QString& name)
{
    QList<QJsonObject> found;
    for (const QJsonObject& sample : samples) {
        if (sample.value(QStringLiteral("name")).toString() == name) {
            found << sample;
        }
    }
    return found;
}

QString Label(const QJsonObject& sample, const QString& label)
{
    return sample.value(QStringLiteral("labels")).toObject().value(label).toString();
}

} // namespace

class TestPrometheus : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_temp;
    QString Run(const QStringList& args, int* exitCode, QByteArray* out = nullptr);

private slots:
    void initTestCase();
    void escape_data();
    void escape();
    void readBack();
    void outputFile();
};

QString TestPrometheus::Run(const QStringList& args, int* exitCode, QByteArray* out)
{
    QProcess tool;
    tool.start(QStringLiteral(ORVO_STATUS_BIN),
               QStringList{"--prometheus", "--dir", m_temp.path() + "/cfg"} + args);
    *exitCode = tool.waitForFinished(30000) ? tool.exitCode() : -1;
    if (out) {
        *out = tool.readAllStandardOutput();
    }
    return QString::fromUtf8(tool.readAllStandardError());
}

void TestPrometheus::initTestCase()
{
    // A paper-out printer with its toner level, a ready one, and one that never answered.
    const QString dir = m_temp.path() + "/cfg/";
    QVERIFY(QDir().mkpath(dir));
    {
        QSettings list(dir + "printerlist.ini", QSettings::IniFormat);
        list.setIniCodec("UTF-8");
        list.setValue("Main/Count", c_listHostile.size());
        for (int i = 0; i < c_listHostile.size(); ++i) {
            const QString section = QStringLiteral("printer_%1/").arg(i);
            list.setValue(section + "Name", c_listHostile.at(i));
            list.setValue(section + "Model", "Orvo Q7040DN");
            list.setValue(section + "ConnectType", 2);
        }
    }
    const QList<QByteArray> replies = {ReplyBuilder()
                                           .setStatusCode(3)
                                           .setErrorCodes1({0x1106})
                                           .addSupplyValue(0x1000, 40, 2)
                                           .build(),
                                       ReplyBuilder().setStatusCode(1).build()};
    for (int i = 0; i < replies.size(); ++i) {
        QFile file(dir + c_listHostile.at(i) + ".dat");
        QVERIFY(!c_listHostile.at(i).contains('/') && file.open(QIODevice::WriteOnly));
        file.write(replies.at(i));
    }
    QFile heartbeat(dir + "service.hb");
    QVERIFY(heartbeat.open(QIODevice::WriteOnly));
    heartbeat.write(QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss.zzz]").toLatin1());
}

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

void TestPrometheus::readBack()
{
    int exitCode = -1;
    QByteArray out;
    const QString err = Run({}, &exitCode, &out);
    QCOMPARE(exitCode, 0);
    QString error;
    const QList<QJsonObject> samples = Samples(out, &error);
    QVERIFY2(!samples.isEmpty(), qPrintable(error + "\n" + QString::fromUtf8(out)));

    // Nothing injected: one service series, one info series per printer, names intact.
    QCOMPARE(Named(samples, "orvo_service_up").size(), 1);
    QCOMPARE(Named(samples, "orvo_service_up").first().value("value").toDouble(), 1.0);
    QStringList queues;
    for (const QJsonObject& sample : Named(samples, "orvo_printer_info")) {
        queues << Label(sample, "queue");
    }
    QCOMPARE(queues, c_listHostile);

    QMap<QString, QString> states;
    for (const QJsonObject& sample : Named(samples, "orvo_printer_state")) {
        states.insert(Label(sample, "queue"), Label(sample, "state"));
    }
    QCOMPARE(states.value(c_listHostile.at(0)), QStringLiteral("error"));
    QCOMPARE(states.value(c_listHostile.at(1)), QStringLiteral("ready"));
    const QList<QJsonObject> conditions = Named(samples, "orvo_printer_condition");
    QCOMPARE(conditions.size(), 1);
    QCOMPARE(Label(conditions.first(), "queue"), c_listHostile.at(0));
    QCOMPARE(Label(conditions.first(), "condition"), QStringLiteral("paper-out"));
    const QList<QJsonObject> supplies = Named(samples, "orvo_printer_supply_level_percent");
    QCOMPARE(supplies.size(), 1);
    QCOMPARE(supplies.first().value("value").toDouble(), 40.0);
}

void TestPrometheus::outputFile()
{
    const QString textfiles = m_temp.path() + "/textfiles";
    QVERIFY(QDir().mkpath(textfiles));
    const QString target = textfiles + "/orvo-status.prom";
    int exitCode = -1;
    for (int run = 0; run < 2; ++run) {
        const QString err = Run({"--output", target}, &exitCode);
        QVERIFY2(exitCode == 0, qPrintable(err));
    }
    QCOMPARE(QDir(textfiles).entryList(QDir::Files | QDir::Hidden),
             QStringList{"orvo-status.prom"});
    QCOMPARE(QFile::permissions(target) & (QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther),
             QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    QVERIFY2(!Named(Samples(file.readAll(), &error), "orvo_printer_info").isEmpty(),
             qPrintable(error));

    const QString err = Run({"--output", m_temp.path() + "/missing/orvo-status.prom"}, &exitCode);
    QCOMPARE(exitCode, PrometheusExporter::EXIT_NOT_WRITTEN);
    QVERIFY2(err.contains(m_temp.path() + "/missing"), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestPrometheus)
#include "test_prometheus.moc"
