// orvo-status --notify and --prometheus against the real service watching simulated network
// printers (tests/doubles/printersim) inside orvo-testenv. The desktop is a private session bus
// (dbus-daemon) on which this test itself serves org.freedesktop.Notifications and records what
// arrives. The scenarios follow one another in one service run.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct stRecord
{
    quint32 uiReplaces = 0;
    quint32 uiId = 0;
    QString strApp;
    QString strSummary;
    int iUrgency = -1;
    QString strBody;
};

// Queue names with non-ASCII and shell characters travel into summaries and label values.
const QString c_strBuero = QStringLiteral("Büro;$(id)|<打印机>&");
const QString c_strOffice = QStringLiteral("Office");

QByteArray Reply(quint8 statusCode, const QVector<quint16>& errors1,
                 const QVector<quint16>& errors2 = {})
{
    return ReplyBuilder()
        .setInfo1("Orvo Q7040DN")
        .setStatusCode(statusCode)
        .setErrorCodes1(errors1)
        .setErrorCodes2(errors2)
        .addSupplyValue(0x1000, 80, 2)
        .build();
}
const QByteArray c_replyReady = Reply(1, {});
const QByteArray c_replyTonerLow = Reply(2, {}, {0x11A0});
const QByteArray c_replyPaperOut = Reply(3, {0x1106});
const QByteArray c_replyJam = Reply(3, {0x110D});

} // namespace

// The desktop's notification service, as far as orvo-status uses it.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<stRecord> listRecords;

public slots:
    quint32 Notify(const QString& app, quint32 replacesId, const QString&, const QString& summary,
                   const QString& body, const QStringList&, const QVariantMap& hints, qint32)
    {
        const quint32 id = replacesId != 0 ? replacesId : ++m_uiLastId;
        // Servers such as GNOME Shell read the urgency only as a byte.
        const QVariant urgency = hints.value(QStringLiteral("urgency"));
        listRecords << stRecord{replacesId,
                                id,
                                app,
                                summary,
                                urgency.userType() == QMetaType::UChar ? urgency.toInt() : -1,
                                body};
        return id;
    }
    void CloseNotification(quint32) {}
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = version = QStringLiteral("test");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("orvo-test-notifications");
    }

private:
    quint32 m_uiLastId = 0;
};

class TestNotify : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    NotificationServer m_server;
    QDBusConnection m_bus{QString()};
    QString m_strBusAddress;
    QString m_strEmptyBusAddress;
    QProcess* m_busDaemon = nullptr;
    QProcess* m_service = nullptr;
    QProcess* m_notifier = nullptr;

    static QString Control(const QString& queue)
    {
        return TestEnv::controlDir() + (queue == c_strOffice ? "/office.ctl" : "/buero.ctl");
    }
    static QString StatusFile(const QString& queue) { return TestEnv::cfgDir() + queue + ".dat"; }

    QString StartBus(const QString& name, QProcess** daemon = nullptr)
    {
        const QString socket = TestEnv::controlDir() + "/" + name;
        const QString config = socket + ".conf";
        const QByteArray xml =
            "<busconfig><type>session</type><listen>unix:path=" + socket.toUtf8() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow own=\"*\"/>"
            "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>";
        QProcess* process =
            m_env.writeFile(config, xml)
                ? m_env.startProcess("dbus-daemon", {"--nofork", "--config-file=" + config})
                : nullptr;
        if (daemon) {
            *daemon = process;
        }
        const bool up = process && m_env.waitFor([&] { return QFileInfo::exists(socket); }, 10000,
                                                 "the bus socket " + socket);
        return up ? "unix:path=" + socket : QString();
    }
    bool SetReply(const QString& queue, const QByteArray& reply)
    {
        return TestEnv::controlRequest(Control(queue), "set-reply-hex " + reply.toHex()) == "ok" &&
               m_env.waitFor([&] { return TestEnv::readFile(StatusFile(queue)) == reply; }, 15000,
                             "the new reply in the status file of " + queue);
    }
    // In English unless a language is given, whatever the environment of the test says.
    QProcess* StartNotifier(const QString& lang = "C.UTF-8")
    {
        QProcess* notifier =
            m_env.startProcess(ORVO_STATUS_BIN, {"--notify"},
                               {"DBUS_SESSION_BUS_ADDRESS=" + m_strBusAddress, "LANG=" + lang,
                                "LANGUAGE=", "LC_ALL=", "LC_MESSAGES="},
                               true);
        const bool owned =
            notifier &&
            m_env.waitFor(
                [&] { return m_bus.interface()->isServiceRegistered("org.orvo.StatusNotify"); },
                10000, "orvo-status --notify on the bus");
        return owned ? notifier : nullptr;
    }
    QList<stRecord> About(const QString& queue) const
    {
        QList<stRecord> found;
        for (const stRecord& record : m_server.listRecords) {
            if (record.strSummary.startsWith(queue + ": ")) {
                found << record;
            }
        }
        return found;
    }
    // "<urgency> <summary>" per message; "replaced elsewhere" when a message about the printer
    // did not replace its first notification.
    QStringList Told(const QString& queue) const
    {
        const QList<stRecord> records = About(queue);
        QStringList told;
        for (const stRecord& record : records) {
            const bool inPlace =
                told.isEmpty() ? record.uiReplaces == 0 : record.uiReplaces == records.first().uiId;
            told << (inPlace ? QString::number(record.iUrgency) + " " +
                                   record.strSummary.mid(queue.size() + 2)
                             : QStringLiteral("replaced elsewhere"));
        }
        return told;
    }
    bool WaitForCount(const QString& queue, int count, int ms)
    {
        return m_env.waitFor([&] { return About(queue).size() >= count; }, ms,
                             QStringLiteral("notification %1 about %2").arg(count).arg(queue));
    }
    // Absence has no moment to wait for: the bus is served all along.
    static bool HoldsFor(const std::function<bool()>& condition, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            if (!condition()) {
                return false;
            }
            QTest::qWait(50);
        }
        return condition();
    }
    bool StartSimulator(const QString& queue, const QString& address, const QByteArray& reply)
    {
        const QString ready = Control(queue) + ".ready";
        return m_env.startProcess(ORVO_PRINTER_SIM,
                                  {"serve", "--address", address, "--reply-hex",
                                   QString::fromLatin1(reply.toHex()), "--control", Control(queue),
                                   "--ready", ready},
                                  {}, true) &&
               m_env.waitFor([&] { return TestEnv::fileExists(ready); }, 10000,
                             "simulator at " + address) &&
               m_env.addQueue(queue, "socket://" + address + ":9100/?snmp=false", "Orvo Q7040DN");
    }

private slots:
    void initTestCase();
    void startState();
    void shortLivedCopies_data();
    void shortLivedCopies();
    void paperOutThenCleared();
    void flappingPrinter();
    void unreachablePrinter();
    void prometheusExport();
    void serverAwayWhenFirstSeen();
    void inGerman();
    void serviceStopped();
    void endsWithTheSession();
};

void TestNotify::initTestCase()
{
    m_strBusAddress = StartBus("session-bus", &m_busDaemon);
    TESTENV_VERIFY(m_env, !m_strBusAddress.isEmpty());
    m_strEmptyBusAddress = StartBus("empty-bus");
    TESTENV_VERIFY(m_env, !m_strEmptyBusAddress.isEmpty());
    m_bus = QDBusConnection::connectToBus(m_strBusAddress, "test-session");
    QVERIFY2(m_bus.isConnected(), qPrintable(m_bus.lastError().message()));
    QVERIFY(m_bus.registerObject("/org/freedesktop/Notifications", &m_server,
                                 QDBusConnection::ExportAllSlots));
    QVERIFY(m_bus.registerService("org.freedesktop.Notifications"));

    TESTENV_VERIFY(m_env, StartSimulator(c_strBuero, "127.0.0.2", c_replyTonerLow));
    TESTENV_VERIFY(m_env, StartSimulator(c_strOffice, "127.0.0.3", c_replyReady));
    m_service = m_env.startProcess(TestEnv::serviceBinary(), {});
    TESTENV_VERIFY(m_env, m_service);
    for (const QString& queue : {c_strBuero, c_strOffice}) {
        TESTENV_VERIFY(m_env, m_env.waitFor([&] { return TestEnv::fileExists(StatusFile(queue)); },
                                            20000, "the first status file of " + queue));
    }
}

void TestNotify::startState()
{
    // Toner low needs someone, so it is told at start; a ready printer is not.
    m_notifier = StartNotifier();
    TESTENV_VERIFY(m_env, m_notifier);
    TESTENV_VERIFY(m_env, WaitForCount(c_strBuero, 1, 10000));
    QVERIFY(HoldsFor([&] { return m_server.listRecords.size() == 1; }, 3000));
    QCOMPARE(m_server.listRecords.first().strApp, QStringLiteral("orvo-status"));
    QCOMPARE(Told(c_strBuero), QStringList{"1 toner low, 80 % left"});
}

void TestNotify::paperOutThenCleared()
{
    TESTENV_VERIFY(m_env, SetReply(c_strBuero, c_replyPaperOut));
    TESTENV_VERIFY(m_env, WaitForCount(c_strBuero, 2, 10000));
    TESTENV_VERIFY(m_env, SetReply(c_strBuero, c_replyReady));
    TESTENV_VERIFY(m_env, WaitForCount(c_strBuero, 3, 40000));
    QVERIFY(HoldsFor([&] { return About(c_strBuero).size() == 3; }, 2000));
    const QStringList told = Told(c_strBuero);
    QCOMPARE(told, (QStringList{"1 toner low, 80 % left", "2 paper out", "0 ready again"}));
}

void TestNotify::flappingPrinter()
{
    for (int flap = 0; flap < 3; ++flap) {
        TESTENV_VERIFY(m_env, SetReply(c_strOffice, c_replyJam));
        TESTENV_VERIFY(m_env, SetReply(c_strOffice, c_replyReady));
    }
    TESTENV_VERIFY(m_env, WaitForCount(c_strOffice, 1, 10000));
    QVERIFY(HoldsFor([&] { return About(c_strOffice).size() == 1; }, 2000));
    TESTENV_VERIFY(m_env, WaitForCount(c_strOffice, 2, 40000));
    QCOMPARE(Told(c_strOffice), (QStringList{"2 paper jam", "0 ready again"}));
}

void TestNotify::unreachablePrinter()
{
    // Six unanswered polls and the service gives the printer up: its status file goes.
    QCOMPARE(TestEnv::controlRequest(Control(c_strOffice), "silent"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitForCount(c_strOffice, 3, 30000));
    QCOMPARE(Told(c_strOffice).at(2), QStringLiteral("2 not answering"));
    QCOMPARE(TestEnv::controlRequest(Control(c_strOffice), "answer"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env,
                   m_env.waitFor([&] { return TestEnv::fileExists(StatusFile(c_strOffice)); },
                                 20000, "the printer answering again"));
}

void TestNotify::inGerman()
{
    // The desktop of someone who reads German, with no German locale in the C library.
    m_env.stopProcess(m_notifier);
    TESTENV_VERIFY(m_env, SetReply(c_strBuero, c_replyTonerLow));
    m_server.listRecords.clear();
    m_notifier = StartNotifier("de_DE.UTF-8");
    TESTENV_VERIFY(m_env, m_notifier);
    TESTENV_VERIFY(m_env, WaitForCount(c_strBuero, 1, 10000));
    QCOMPARE(Told(c_strBuero), QStringList{"1 Toner fast leer, noch 80 %"});
    QCOMPARE(About(c_strBuero).first().strBody,
             QStringLiteral("Der Drucker druckt weiter.\nToner fast leer, Code 0x11A0: eine neue "
                            "Tonerkartusche bereithalten."));
    // The journal stays English.
    QByteArray journal;
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  journal += m_notifier->readAllStandardError();
                                  return journal.contains("told: ");
                              },
                              5000, "the journal's line"));
    QVERIFY2(QString::fromUtf8(journal).contains("told: " + c_strBuero + ": toner low, 80 % left"),
             journal.constData());
}

void TestNotify::prometheusExport()
{
    const QString textfiles = TestEnv::controlDir() + "/node-exporter";
    QVERIFY(QDir().mkpath(textfiles));
    const ToolResult result =
        m_env.runTool(ORVO_STATUS_BIN, {"--prometheus", "--output", textfiles + "/orvo.prom"});
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    const ToolResult parsed =
        m_env.runTool(ORVO_SYSTEM_PYTHON, {ORVO_PROM_SAMPLES, textfiles + "/orvo.prom"});
    QVERIFY2(parsed.ok(), qPrintable(parsed.describe()));
    QStringList infos;
    for (const QString& line : parsed.out().split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject sample = QJsonDocument::fromJson(line.section(' ', 1).toUtf8()).object();
        if (line.startsWith("orvo_printer_info ")) {
            infos << sample.value("queue").toString() + "|" + sample.value("connection").toString();
        } else if (line.startsWith("orvo_printer_state ") &&
                   sample.value("value").toDouble() == 1) {
            QCOMPARE(sample.value("state").toString(), QStringLiteral("ready"));
        }
    }
    infos.sort();
    QCOMPARE(infos, (QStringList{c_strBuero + "|network", c_strOffice + "|network"}));
}

void TestNotify::serverAwayWhenFirstSeen()
{
    // The desktop's notification server restarts just as the jam appears: told once it is back.
    const int before = About(c_strBuero).size();
    m_notifier->readAllStandardError();
    QVERIFY(m_bus.unregisterService("org.freedesktop.Notifications"));
    TESTENV_VERIFY(m_env, SetReply(c_strBuero, c_replyJam));
    QByteArray said;
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  said += m_notifier->readAllStandardError();
                                  return said.contains(": paper jam - notification not shown");
                              },
                              10000, "the notifier to find no server"));
    QVERIFY(m_bus.registerService("org.freedesktop.Notifications"));
    TESTENV_VERIFY(m_env, WaitForCount(c_strBuero, before + 1, 10000));
    QCOMPARE(Told(c_strBuero).at(before), QStringLiteral("2 paper jam"));
}

void TestNotify::serviceStopped()
{
    // A paper-out printer whose service then stops: a notifier started now says once that the
    // service is not running and nothing about the printer. Stopped as systemd stops it: SIGTERM,
    // then status 0.
    QCOMPARE(m_env.stopProcess(m_notifier), 0);
    TESTENV_VERIFY(m_env, SetReply(c_strBuero, c_replyPaperOut));
    m_env.stopProcess(m_service);
    m_service = nullptr;
    const QString heartbeat = TestEnv::cfgDir() + "service.hb";
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  return QFileInfo(heartbeat).lastModified().msecsTo(
                                             QDateTime::currentDateTime()) > 11000;
                              },
                              20000, "the heartbeat to grow stale"));
    m_server.listRecords.clear();
    m_notifier = StartNotifier();
    TESTENV_VERIFY(m_env, m_notifier);
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return !m_server.listRecords.isEmpty(); }, 10000,
                                        "a notification about the service"));
    QVERIFY(HoldsFor([&] { return m_server.listRecords.size() == 1; }, 4000));
    QCOMPARE(m_server.listRecords.first().strSummary,
             QStringLiteral("Printer status service not running"));
}

void TestNotify::shortLivedCopies_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString none = "unix:path=" + TestEnv::controlDir() + "/no-bus";
    QTest::newRow("second copy") << m_strBusAddress << 0 << "already notifying";
    QTest::newRow("no session bus") << none << 5 << "no session bus";
    QTest::newRow("no notification service")
        << m_strEmptyBusAddress << 5 << "no desktop notification service";
}

void TestNotify::shortLivedCopies()
{
    QFETCH(QString, bus);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const int before = m_server.listRecords.size();
    QProcess copy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    copy.setProcessEnvironment(env);
    copy.start(ORVO_STATUS_BIN, {"--notify"});
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return copy.state() == QProcess::NotRunning; }, 30000,
                                        "the copy to end"));
    QCOMPARE(copy.exitCode(), exitCode);
    const QString err = QString::fromUtf8(copy.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(m_server.listRecords.size(), before);
}

void TestNotify::endsWithTheSession()
{
    // A copy started by the desktop's autostart has no one to stop it but the session's end.
    QVERIFY(m_notifier);
    m_env.stopProcess(m_busDaemon);
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return m_notifier->state() == QProcess::NotRunning; },
                                        10000, "orvo-status --notify to end with its bus"));
    QCOMPARE(m_notifier->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestNotify)
#include "test_notify.moc"
