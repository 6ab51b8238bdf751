// Queue names as hostile as CUPS lets them be, watched by the real service: shell syntax that
// would create a marker file if any command ran it, non-ASCII, and 127 bytes (the longest CUPS
// takes), once plain and once made of characters that must be escaped, which makes the
// service's commands longer than their 255-byte limit. The service must run nothing but its
// own commands, name every status file after its queue, refuse (never cut) a command that is
// too long, and go on watching the other printers. A queue whose name is not UTF-8 is
// skipped and told once in the log.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"
#include "tests/support/ToolRunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QString c_strSim = QStringLiteral(ORVO_PRINTER_SIM);
const QString c_strAddress = QStringLiteral("127.0.0.2");
const QString c_strMarker = QStringLiteral("orvo-pwn-");

QByteArray Reply(quint8 statusCode, int toner)
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(statusCode)
        .setStatusText("Ready")
        .addSupplyValue(0x1000, static_cast<quint64>(toner), 2)
        .build();
}

struct stHostile
{
    const char* row;
    QString strName;
};

QString LongName(const QString& start, QChar fill)
{
    QString name = start;
    while (name.toUtf8().size() < 127) {
        name += fill;
    }
    return name;
}

// Every payload would create "orvo-pwn-N" in the service's working directory if a shell ran
// it; CUPS refuses spaces and '/', so ${IFS} separates the words and the path is relative.
QList<stHostile> Names()
{
    return {
        {"command substitution", QStringLiteral("H$(touch${IFS}orvo-pwn-1)")},
        {"backquotes", QStringLiteral("H`touch${IFS}orvo-pwn-2`")},
        {"semicolons", QStringLiteral("H;touch${IFS}orvo-pwn-3;")},
        {"pipe", QStringLiteral("H|touch${IFS}orvo-pwn-4")},
        {"ampersands", QStringLiteral("H&touch${IFS}orvo-pwn-5&")},
        {"redirection", QStringLiteral("H>orvo-pwn-6")},
        {"braces, bang, glob", QStringLiteral("H{a,b}!*~<x")},
        {"non-ASCII", QStringLiteral("Büro-打印机")},
        {"127 bytes", LongName(QStringLiteral("L"), QLatin1Char('x'))},
        // Each '$' doubles when escaped: the job query and the idle check exceed 255 bytes.
        {"127 bytes to escape",
         LongName(QStringLiteral("S$(touch${IFS}orvo-pwn-7)"), QLatin1Char('$'))},
    };
}

// A name CUPS takes but the service cannot carry: Latin-1, not UTF-8. Made by the shell, as a
// QString cannot hold it.
const char* const c_szLatin1Printf = "H\\374-latin1";
const QString c_strLatin1Told =
    QStringLiteral("queue H\\xfc-latin1 (Orvo Q7020DN) skipped: the queue name is not valid UTF-8");

bool Latin1Queue(const char* function, const QStringList& args)
{
    const ToolResult result = ToolRunner::run(
        "/bin/bash", QStringList{"-c",
                                 QStringLiteral(". \"$0\" && %1 \"$(printf '%2')\" \"$@\"")
                                     .arg(function, c_szLatin1Printf),
                                 TestEnv::scriptsDir() + "/lib.sh"} +
                         args);
    if (!result.ok()) {
        qWarning("%s: %s", function, qPrintable(result.describe()));
    }
    return result.ok();
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void statusFileNamedAfterQueue_data();
    void statusFileNamedAfterQueue();
    void tooLongCommandsRefusedOthersWatched();
    void idleChecksWithHostileNames();
    void nothingElseRan();
    void unwatchableNameToldOnce();

private:
    TestEnv m_env;
    QString m_strControl;
    QString m_strWorkDir;
    QProcess* m_service = nullptr;

    int Requests() const
    {
        const QStringList w =
            TestEnv::controlRequest(m_strControl, "count").split(QLatin1Char(' '));
        const int at = w.indexOf("requests");
        return at >= 0 && at + 1 < w.size() ? w.at(at + 1).toInt() : -1;
    }
    QString SetReply(const QByteArray& reply) const
    {
        return TestEnv::controlRequest(m_strControl,
                                       "set-reply-hex " + QString::fromLatin1(reply.toHex()));
    }
    static QString Dat(const QString& name) { return TestEnv::cfgDir() + name + ".dat"; }
    static QByteArray Content(const QString& path)
    {
        bool ok = false;
        const QByteArray data = TestEnv::readFile(path, &ok);
        return ok ? data : QByteArray("<missing>");
    }
    bool AllHold(const QByteArray& reply, QString* missing = nullptr) const
    {
        for (const stHostile& h : Names()) {
            if (Content(Dat(h.strName)) != reply) {
                if (missing) {
                    *missing = h.strName;
                }
                return false;
            }
        }
        return true;
    }
    static QStringList Markers();
};

QStringList TestHostile::Markers()
{
    // Wherever a command could have run: the service's working directory, its install root,
    // the root directory, the scratch space and /tmp.
    QStringList found;
    const QStringList places{QDir::currentPath(), TestEnv::installRoot(), "/", "/tmp",
                             TestEnv::controlDir()};
    for (const QString& place : places) {
        QDirIterator it(place, {c_strMarker + "*"}, QDir::AllEntries | QDir::Hidden | QDir::System,
                        place == "/" ? QDirIterator::NoIteratorFlags
                                     : QDirIterator::Subdirectories);
        while (it.hasNext()) {
            found << it.next();
        }
    }
    return found;
}

void TestHostile::initTestCase()
{
    // The service's commands would run in its working directory: a fresh one to look into.
    m_strWorkDir = TestEnv::controlDir() + "/hostile-cwd";
    QDir(m_strWorkDir).removeRecursively();
    QVERIFY(QDir().mkpath(m_strWorkDir));
    QVERIFY(QDir::setCurrent(m_strWorkDir));
    QDir(TestEnv::installRoot()).removeRecursively();
    QCOMPARE(Markers(), QStringList());

    m_strControl = TestEnv::controlDir() + "/hostile-net.ctl";
    const QString ready = TestEnv::controlDir() + "/hostile-net.ready";
    QFile::remove(ready);
    TESTENV_VERIFY(m_env,
                   m_env.startProcess("python3", {c_strSim, "serve", "--address", c_strAddress,
                                                  "--tcp-port", "-1", "--reply-hex",
                                                  QString::fromLatin1(Reply(1, 40).toHex()),
                                                  "--control", m_strControl, "--ready", ready}));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return QFileInfo::exists(ready); }, 10000,
                                        "the network printer simulator"));
    // Every queue a network printer at the same simulated address.
    for (const stHostile& h : Names()) {
        QVERIFY2(h.strName.toUtf8().size() <= 127, h.row);
        TESTENV_VERIFY(m_env,
                       m_env.addQueue(h.strName, "socket://" + c_strAddress + ":9100/?snmp=false",
                                      "Orvo Q7020DN"));
    }
    QVERIFY(Latin1Queue("testenv_add_queue",
                        {"socket://" + c_strAddress + ":9100/?snmp=false", "Orvo Q7020DN"}));
    m_service = m_env.startProcess(TestEnv::serviceBinary(), {});
    TESTENV_VERIFY(m_env, m_service);
    QString missing;
    QVERIFY2(
        m_env.waitFor([&] { return AllHold(Reply(1, 40), &missing); }, 40000, "every status file"),
        qPrintable("no status file for " + missing));
    // The list file is written after the workers start: a status file may come first.
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  QSettings list(TestEnv::cfgDir() + "printerlist.ini",
                                                 QSettings::IniFormat);
                                  return list.value("Main/Count").toInt() == Names().size();
                              },
                              10000, "the printer list"));
}

void TestHostile::cleanupTestCase()
{
    if (m_service) {
        m_env.stopProcess(m_service);
    }
    for (const stHostile& h : Names()) {
        m_env.removeQueue(h.strName);
    }
    Latin1Queue("testenv_remove_queue", {});
}

void TestHostile::statusFileNamedAfterQueue_data()
{
    QTest::addColumn<QString>("name");
    for (const stHostile& h : Names()) {
        QTest::newRow(h.row) << h.strName;
    }
}

void TestHostile::statusFileNamedAfterQueue()
{
    QFETCH(QString, name);
    QCOMPARE(Content(Dat(name)), Reply(1, 40));
    // Listed under its own name for the desktop.
    QSettings settings(TestEnv::cfgDir() + "printerlist.ini", QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    QStringList listed;
    for (int i = 0; i < settings.value("Main/Count").toInt(); ++i) {
        listed << settings.value(QStringLiteral("printer_%1/Name").arg(i)).toString();
    }
    QVERIFY2(listed.contains(name), qPrintable(listed.join(" | ")));
    // No file of another name: the cfg directory holds exactly the queues' files.
    QStringList dats = QDir(TestEnv::cfgDir()).entryList({"*.dat"}, QDir::Files);
    QCOMPARE(dats.size(), Names().size());
}

void TestHostile::idleChecksWithHostileNames()
{
    // Status 3: each worker now asks CUPS with "lpstat -p" whether its queue prints, about ten
    // times a second, with the queue name in the command.
    const int before = Requests();
    QCOMPARE(SetReply(Reply(0, 41)), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return AllHold(Reply(0, 41)); }, 20000,
                                        "the idle reply in every status file"));
    QVERIFY(Requests() > before);
    // Three device-manager cycles: every worker has written its state back and checked its
    // queue many times.
    QByteArray last = TestEnv::readFile(TestEnv::cfgDir() + "service.hb");
    int cycles = 0;
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  const QByteArray now =
                                      TestEnv::readFile(TestEnv::cfgDir() + "service.hb");
                                  if (!now.isEmpty() && now != last) {
                                      last = now;
                                      ++cycles;
                                  }
                                  return cycles >= 3;
                              },
                              15000, "three cycles"));
    // Idle printers are not polled: only while their queue prints, and none prints.
    const int idle = Requests();
    cycles = 0;
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  const QByteArray now =
                                      TestEnv::readFile(TestEnv::cfgDir() + "service.hb");
                                  if (!now.isEmpty() && now != last) {
                                      last = now;
                                      ++cycles;
                                  }
                                  return cycles >= 1;
                              },
                              5000, "one more cycle"));
    QCOMPARE(Requests(), idle);
    QCOMPARE(m_service->state(), QProcess::Running);
}

void TestHostile::nothingElseRan()
{
    QCOMPARE(Markers(), QStringList());
    QCOMPARE(m_service->state(), QProcess::Running);
}

void TestHostile::tooLongCommandsRefusedOthersWatched()
{
    QCOMPARE(SetReply(Reply(1, 42)), QStringLiteral("ok"));
    QString missing;
    QVERIFY2(m_env.waitFor([&] { return AllHold(Reply(1, 42), &missing); }, 20000,
                           "the changed reply in every status file"),
             qPrintable("not updated: " + missing));
    QCOMPARE(m_service->state(), QProcess::Running);
    QCOMPARE(Markers(), QStringList());
}

void TestHostile::unwatchableNameToldOnce()
{
    if (!TestEnv::serviceLogOn()) {
        QSKIP("the service log is off in this build");
    }
    QVERIFY(m_env.waitFor([] { return TestEnv::serviceLogCount(c_strLatin1Told) > 0; }, 10000,
                          "the skipped queue in the log"));
    // Three more discovery cycles tell it no more.
    const int cycles = TestEnv::serviceLogCount("get printer list");
    QVERIFY(
        m_env.waitFor([&] { return TestEnv::serviceLogCount("get printer list") >= cycles + 3; },
                      20000, "three more cycles"));
    QCOMPARE(TestEnv::serviceLogCount(c_strLatin1Told), 1);
}

QTEST_GUILESS_MAIN(TestHostile)
#include "test_hostile.moc"
