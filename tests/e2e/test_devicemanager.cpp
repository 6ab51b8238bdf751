#include "tests/support/TestEnv.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTextCodec>
#include <QtTest>

#include <sys/stat.h>

// The real service binary doing the device manager's job against queues made with lpadmin in
// the private scheduler, judged by the files the desktop application reads and by the threads
// the process runs.
class TestDeviceManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void noPrinter();
    void mixedQueues();
    void changesWhileRunning();

private:
    struct stListed
    {
        QString strName, strModel, strType, strPort, strURI;
        bool operator==(const stListed& o) const
        {
            return strName == o.strName && strModel == o.strModel && strType == o.strType &&
                   strPort == o.strPort && strURI == o.strURI;
        }
    };
    static QString ListFile() { return TestEnv::cfgDir() + "printerlist.ini"; }
    static QString Heartbeat() { return TestEnv::cfgDir() + "service.hb"; }
    static QString Dat(const QString& name) { return TestEnv::cfgDir() + name + ".dat"; }
    static QList<stListed> ReadList();
    static QStringList ListedNames();
    static QStringList WorkerThreads(qint64 pid);
    static QStringList Expected(int count);
    QStringList LpstatNames();
    QProcess* StartService();
    // Waits for a heartbeat other than `previous` and returns it (empty on time-out).
    QByteArray NextHeartbeat(const QByteArray& previous, int timeoutMs);
    static QDateTime StampTime(const QByteArray& stamp);

    TestEnv m_env;
};

namespace {
const QRegularExpression
    c_heartbeatForm(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]$"));
}

QList<TestDeviceManager::stListed> TestDeviceManager::ReadList()
{
    // As the desktop application reads it.
    QSettings settings(ListFile(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    QList<stListed> list;
    const int count = settings.value("Main/Count", -1).toInt();
    for (int i = 0; i < count; ++i) {
        settings.beginGroup(QStringLiteral("printer_%1").arg(i));
        list.append({settings.value("Name").toString(), settings.value("Model").toString(),
                     settings.value("ConnectType").toString(), settings.value("Port").toString(),
                     settings.value("URI").toString()});
        settings.endGroup();
    }
    return list;
}

QStringList TestDeviceManager::ListedNames()
{
    if (!QFileInfo::exists(ListFile())) {
        return {"<no file>"};
    }
    QStringList names;
    for (const stListed& entry : ReadList()) {
        names << entry.strName;
    }
    return names;
}

QStringList TestDeviceManager::WorkerThreads(qint64 pid)
{
    // The device manager names each worker's thread after its position.
    QStringList names;
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray comm = TestEnv::readFile(taskDir + "/" + task + "/comm").trimmed();
        if (comm.startsWith("orvo-status-")) {
            names << QString::fromLatin1(comm);
        }
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

QStringList TestDeviceManager::Expected(int count)
{
    QStringList names;
    for (int k = 0; k < count; ++k) {
        names << QStringLiteral("orvo-status-%1").arg(k);
    }
    return names;
}

QStringList TestDeviceManager::LpstatNames()
{
    const ToolResult result = m_env.runTool("/usr/bin/lpstat", {"-v"});
    QStringList names;
    for (const QString& line : result.out().split('\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.size() >= 3) {
            names << words.at(2).chopped(1);
        }
    }
    return names;
}

QProcess* TestDeviceManager::StartService()
{
    return m_env.startProcess(TestEnv::serviceBinary(), {});
}

QByteArray TestDeviceManager::NextHeartbeat(const QByteArray& previous, int timeoutMs)
{
    QByteArray now;
    m_env.waitFor(
        [&] {
            now = TestEnv::readFile(Heartbeat());
            return !now.isEmpty() && now != previous;
        },
        timeoutMs, "a new heartbeat");
    return now == previous ? QByteArray() : now;
}

QDateTime TestDeviceManager::StampTime(const QByteArray& stamp)
{
    return QDateTime::fromString(QString::fromLatin1(stamp.mid(1, 23)), "yyyy-MM-dd hh:mm:ss.zzz");
}

void TestDeviceManager::init()
{
    QDir(TestEnv::installRoot()).removeRecursively();
}

void TestDeviceManager::cleanup()
{
    for (const QString& name : LpstatNames()) {
        m_env.removeQueue(name);
    }
}

void TestDeviceManager::noPrinter()
{
    QElapsedTimer timer;
    timer.start();
    QProcess* service = StartService();
    TESTENV_VERIFY(m_env, service);
    // Every heartbeat as it comes: each cycle writes a new one of exactly 25 bytes.
    QList<QByteArray> stamps;
    while (service->state() != QProcess::NotRunning && timer.elapsed() < 20000) {
        const QByteArray now = TestEnv::readFile(Heartbeat());
        if (!now.isEmpty()) { // a reader may catch the file just after its truncation
            QCOMPARE(now.size(), 25);
            QVERIFY2(c_heartbeatForm.match(QString::fromLatin1(now)).hasMatch(), now.constData());
            if (stamps.isEmpty() || stamps.last() != now) {
                stamps << now;
            }
        }
        service->waitForFinished(5);
    }
    // The last cycle writes its heartbeat and ends the process at once: read it after the end.
    const QByteArray last = TestEnv::readFile(Heartbeat());
    if (!last.isEmpty() && (stamps.isEmpty() || stamps.last() != last)) {
        stamps << last;
    }
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(service->state(), QProcess::NotRunning);
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 0);

    // Cycle 1 waits 3 s, cycles 2 and 3 wait 1 s each, cycle 4 ends the process.
    QCOMPARE(stamps.size(), 4);
    const qint64 gap1 = StampTime(stamps.at(0)).msecsTo(StampTime(stamps.at(1)));
    const qint64 gap2 = StampTime(stamps.at(1)).msecsTo(StampTime(stamps.at(2)));
    const qint64 gap3 = StampTime(stamps.at(2)).msecsTo(StampTime(stamps.at(3)));
    QVERIFY2(gap1 >= 3000 && gap1 < 3800, qPrintable(QString::number(gap1)));
    QVERIFY2(gap2 >= 1000 && gap2 < 1800, qPrintable(QString::number(gap2)));
    QVERIFY2(gap3 >= 1000 && gap3 < 1800, qPrintable(QString::number(gap3)));
    QVERIFY2(elapsed >= 5000 && elapsed < 9000, qPrintable(QString::number(elapsed)));

    QCOMPARE(TestEnv::readFile(ListFile()), QByteArray("[Main]\nCount=0\n"));
    QCOMPARE(TestEnv::readFile(Heartbeat()), stamps.last());
    // No report file of lpstat is left behind.
    QCOMPARE(QDir(TestEnv::cfgDir()).entryList({"printerlist.*"}, QDir::Files),
             QStringList({"printerlist.ini"}));
}

void TestDeviceManager::mixedQueues()
{
    struct stQueue
    {
        const char* name;
        const char* uri;
        const char* model; // nullptr: raw queue
        bool listed;
        const char* port;
    };
    const stQueue queues[] = {
        {"Office", "usb://Orvo/Q7020DN?serial=123", "Orvo Q7020DN", true,
         "Orvo/Q7020DN?serial=123"},
        {"Copy", "usb://Orvo/Q7020DN?serial=123", "Orvo Q7020DN", true, "Orvo/Q7020DN?serial=123"},
        {"Lower", "socket://127.0.0.30:9100", "orvo q7030dw", true, "127.0.0.30"},
        {"Unknown", "socket://127.0.0.31:9100", "Orvo Q9999", false, nullptr},
        {"Ipp", "ipp://127.0.0.1/printers/x", "Orvo Q7020", false, nullptr},
        {"Raw", "socket://127.0.0.32:9100", nullptr, false, nullptr},
        {"Büro", "usb://Orvo/Q7025DW?serial=B1", "Orvo Q7025DW", true, "Orvo/Q7025DW?serial=B1"},
        {"打印机", "socket://127.0.0.33:9100", "Orvo QM7065FDW", true, "127.0.0.33"},
        {"Net6", "socket://[::1]:9100", "Orvo Q7040DN", true, "::1"},
        {"Query", "socket://127.0.0.34:9100/?snmp=false", "Orvo Q7045DW", true, "127.0.0.34"},
    };
    QHash<QString, stListed> expected;
    for (const stQueue& q : queues) {
        if (q.model) {
            TESTENV_VERIFY(m_env, m_env.addQueue(QString::fromUtf8(q.name), q.uri, q.model));
        } else {
            TESTENV_VERIFY(m_env, m_env.addRawQueue(QString::fromUtf8(q.name), q.uri));
        }
        if (q.listed) {
            expected.insert(QString::fromUtf8(q.name),
                            {QString::fromUtf8(q.name), q.model,
                             QString(q.uri).startsWith("usb") ? "1" : "2", q.port, q.uri});
        }
    }
    // In the order lpstat reports the queues.
    QList<stListed> want;
    for (const QString& name : LpstatNames()) {
        if (expected.contains(name)) {
            want << expected.value(name);
        }
    }
    QCOMPARE(want.size(), expected.size());

    QProcess* service = StartService();
    TESTENV_VERIFY(m_env, service);
    TESTENV_VERIFY(m_env,
                   m_env.waitFor([] { return QFileInfo::exists(ListFile()); }, 10000, "list"));
    const QList<stListed> got = ReadList();
    QCOMPARE(got.size(), want.size());
    for (int i = 0; i < want.size(); ++i) {
        QCOMPARE(got.at(i).strName, want.at(i).strName);
        QCOMPARE(got.at(i).strModel, want.at(i).strModel);
        QCOMPARE(got.at(i).strType, want.at(i).strType);
        QCOMPARE(got.at(i).strPort, want.at(i).strPort);
        QCOMPARE(got.at(i).strURI, want.at(i).strURI);
    }

    // The text itself: UTF-8, sorted keys, values holding "=" in double quotes.
    const QByteArray text = TestEnv::readFile(ListFile());
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("utf-8")->toUnicode(text.constData(), text.size(), &state);
    QCOMPARE(state.invalidChars, 0);
    QVERIFY(text.startsWith(QStringLiteral("[Main]\nCount=%1\n\n").arg(want.size()).toUtf8()));
    QVERIFY(text.contains("\nName=B\xc3\xbcro\n"));
    QVERIFY(text.contains("\nName=\xe6\x89\x93\xe5\x8d\xb0\xe6\x9c\xba\n"));
    QVERIFY(text.contains(
        "\nPort=\"Orvo/Q7020DN?serial=123\"\nURI=\"usb://Orvo/Q7020DN?serial=123\"\n"));
    QVERIFY(text.contains("\nURI=\"socket://127.0.0.34:9100/?snmp=false\"\n"));
    QVERIFY(text.contains("\nPort=127.0.0.30\nURI=socket://127.0.0.30:9100\n"));
    const QRegularExpression section("\\[printer_(\\d+)\\]\nConnectType=[12]\nModel=[^\n]*\nName=[^"
                                     "\n]*\nPort=[^\n]*\nURI=[^\n]*\n");
    int sections = 0;
    for (auto it = section.globalMatch(QString::fromUtf8(text)); it.hasNext(); it.next()) {
        ++sections;
    }
    QCOMPARE(sections, want.size());

    // One worker thread per listed printer.
    TESTENV_VERIFY(
        m_env,
        m_env.waitFor([&] { return WorkerThreads(service->processId()) == Expected(want.size()); },
                      5000, "one worker thread per printer"));
    QCOMPARE(service->state(), QProcess::Running); // printers present: it keeps running
    m_env.stopProcess(service);
}

void TestDeviceManager::changesWhileRunning()
{
    const char* names[] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
        TESTENV_VERIFY(m_env, m_env.addQueue(names[i],
                                             QStringLiteral("socket://127.0.0.1%1:9100").arg(i + 1),
                                             "Orvo Q7020DN"));
    }
    QProcess* service = StartService();
    TESTENV_VERIFY(m_env, service);
    const qint64 pid = service->processId();
    auto waitList = [&](const QStringList& names, const char* what) {
        return m_env.waitFor([&] { return ListedNames() == names; }, 8000, what);
    };
    auto threads = [&](int count) {
        return m_env.waitFor([&] { return WorkerThreads(pid) == Expected(count); }, 3000,
                             QStringLiteral("%1 worker threads").arg(count));
    };
    TESTENV_VERIFY(m_env, waitList({"A", "B", "C"}, "the first list"));
    TESTENV_VERIFY(m_env, threads(3));

    // Heartbeat once per cycle, about every 3 s while printers are there.
    const QByteArray hb1 = NextHeartbeat(QByteArray(), 1000);
    const QByteArray hb2 = NextHeartbeat(hb1, 5000);
    const QByteArray hb3 = NextHeartbeat(hb2, 5000);
    QVERIFY(!hb3.isEmpty());
    const qint64 gap = StampTime(hb2).msecsTo(StampTime(hb3));
    QVERIFY2(gap >= 3000 && gap < 4000, qPrintable(QString::number(gap)));
    QCOMPARE(hb3.size(), 25);

    // Unchanged cycles leave the list file byte for byte as it is, not even rewritten.
    const QByteArray listBefore = TestEnv::readFile(ListFile());
    struct stat before
    {
    };
    QCOMPARE(stat(QFile::encodeName(ListFile()).constData(), &before), 0);
    QVERIFY(!NextHeartbeat(hb3, 5000).isEmpty());
    struct stat after
    {
    };
    QCOMPARE(stat(QFile::encodeName(ListFile()).constData(), &after), 0);
    QCOMPARE(TestEnv::readFile(ListFile()), listBefore);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A removed printer: its status file and unknown ones go, the others stay.
    for (const char* name : {"A", "B", "C", "stale"}) {
        TESTENV_VERIFY(m_env, m_env.writeFile(Dat(name), "status"));
    }
    TESTENV_VERIFY(m_env, m_env.removeQueue("B"));
    TESTENV_VERIFY(m_env, waitList({"A", "C"}, "B to leave the list"));
    QVERIFY(!QFileInfo::exists(Dat("B")));
    QVERIFY(!QFileInfo::exists(Dat("stale")));
    QVERIFY(QFileInfo::exists(Dat("A")));
    QVERIFY(QFileInfo::exists(Dat("C")));
    QSettings old(ListFile(), QSettings::IniFormat);
    QCOMPARE(old.value("printer_2/Name").toString(), QStringLiteral("C")); // stays behind Count
    TESTENV_VERIFY(m_env, threads(3));

    // Growing back to three positions needs no worker; a fourth position does.
    TESTENV_VERIFY(m_env, m_env.addQueue("D", "socket://127.0.0.14:9100", "Orvo Q7030DN"));
    TESTENV_VERIFY(m_env, waitList({"A", "C", "D"}, "D in the list"));
    TESTENV_VERIFY(m_env, threads(3));
    TESTENV_VERIFY(m_env, m_env.addQueue("E", "socket://127.0.0.15:9100", "Orvo Q7030DN"));
    TESTENV_VERIFY(m_env, waitList({"A", "C", "D", "E"}, "E in the list"));
    TESTENV_VERIFY(m_env, threads(4));

    // A new URI for a queue.
    TESTENV_VERIFY(m_env, m_env.setQueueUri("A", "socket://127.0.0.21:9100"));
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  const QList<stListed> list = ReadList();
                                  return !list.isEmpty() && list.at(0).strPort == "127.0.0.21" &&
                                         list.at(0).strURI == "socket://127.0.0.21:9100";
                              },
                              8000, "the new URI of A"));

    // A deleted list file is written again.
    QVERIFY(QFile::remove(ListFile()));
    TESTENV_VERIFY(m_env, waitList({"A", "C", "D", "E"}, "the list file again"));

    // All printers gone: the fourth empty cycle ends the process with status 0; the list file
    // keeps the last printers.
    QElapsedTimer timer;
    for (const char* name : {"A", "C", "D", "E"}) {
        TESTENV_VERIFY(m_env, m_env.removeQueue(name));
    }
    timer.start();
    QVERIFY(service->waitForFinished(12000));
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 0);
    QVERIFY2(timer.elapsed() >= 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(ListedNames(), QStringList({"A", "C", "D", "E"}));
}

QTEST_GUILESS_MAIN(TestDeviceManager)
#include "test_devicemanager.moc"
