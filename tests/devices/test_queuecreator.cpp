// QueueCreator against the private CUPS of orvo-testenv: devices reported by the usb backend,
// queues created with the Orvo PPDs installed under /usr/share/cups/model/Orvo/.
#include "devices/QueueCreator.h"
#include "devices/TrdDeviceManage.h"
#include "service/FixedPaths.h"
#include "service/UtilLog.h"
#include "tests/support/TestEnv.h"
#include "tests/support/ToolRunner.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/wait.h>

namespace {
struct Queue
{
    QString strName;
    QString strURI;
};

QList<Queue> AllQueues()
{
    QList<Queue> queues;
    const ToolResult listed = ToolRunner::run(QStringLiteral("lpstat"), {QStringLiteral("-v")});
    for (const QString& line : listed.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (pieces.size() >= 4 && line.startsWith(QLatin1String("device for "))) {
            queues.append({pieces.at(2).chopped(1), pieces.at(3)});
        }
    }
    return queues;
}

QStringList QueueNames()
{
    QStringList names;
    for (const Queue& queue : AllQueues()) {
        names.append(queue.strName);
    }
    names.sort();
    return names;
}

QString UriOf(const QString& name)
{
    for (const Queue& queue : AllQueues()) {
        if (queue.strName == name) {
            return queue.strURI;
        }
    }
    return QString();
}

QString PpdModelName(const QString& queue)
{
    const QByteArray ppd = TestEnv::readFile(QStringLiteral("/etc/cups/ppd/") + queue + ".ppd");
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^\\*ModelName:\\s*\"([^\"]*)\""),
                           QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(ppd));
    return m.hasMatch() ? m.captured(1) : QString();
}

using Kinds_t = QList<QueueCreator::enProblemKind>;

Kinds_t Kinds(const QList<QueueCreator::stProblem>& problems)
{
    QList<QueueCreator::enProblemKind> kinds;
    for (const QueueCreator::stProblem& problem : problems) {
        kinds.append(problem.enKind);
    }
    return kinds;
}

// Markers the commands in hostile device serial numbers would create if a shell ran them.
const QString MARKER = QStringLiteral("/run/orvo-testenv/pwned");
} // namespace

class TestQueueCreator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void newDeviceGetsEnabledQueueWithModelPpd();
    void takenNameGetsNextSuffix_data();
    void takenNameGetsNextSuffix();
    void secondDeviceOfSameModel_data();
    void secondDeviceOfSameModel();
    void knownDeviceIsSkipped_data();
    void knownDeviceIsSkipped();
    void uriForms_data();
    void uriForms();
    void unknownModelCreatesNothing();
    void hostileUriRunsNothingExtra_data();
    void hostileUriRunsNothingExtra();
    void overlongUriIsRefused();
    void deviceListFailureIsReported();
    void changeUri_data();
    void changeUri();
    void changeUriOfMissingQueueCreatesNothing();
    void changeUriFailureReturnsStatus();

private:
    // The device manager's discovery, as the service hands it to QueueCreator.
    std::function<QList<stPrinterInfo>(bool)> Discover()
    {
        return [this](bool driverCheck) { return m_manager.GetPrinterInfo(driverCheck); };
    }

    // cups-deviced sometimes drops the lines a backend printed just before it exited (about one
    // listing in fifteen when the test backend reports several devices); the device missed
    // by one run is found by the next, as it would be in the field. So where several devices
    // must be seen, CheckNewPNP runs until `queues` queues exist, at most a few times; with
    // no queue expected it runs just as often and must create none.
    void CheckUntil(QueueCreator& creator, int queues)
    {
        for (int run = 0; run < 5 && (queues == 0 || QueueNames().size() < queues); ++run) {
            creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
        }
    }

    TestEnv m_env;
    TrdDeviceManage m_manager;
};

void TestQueueCreator::initTestCase()
{
    UtilLog::SetLogEnable(true);
}

void TestQueueCreator::init()
{
    for (const QString& name : QueueNames()) {
        TESTENV_VERIFY(m_env, m_env.removeQueue(name));
    }
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({}));
    QFile::remove(MARKER);
    QFile::remove(MARKER + "2");
}

void TestQueueCreator::cleanup()
{
    if (!m_env.cupsdRunning()) {
        TESTENV_VERIFY(m_env, m_env.startCupsd());
    }
    // No report of any run may be left behind in the cfg directory.
    const QStringList left = QDir(FixedPaths::CfgDir()).entryList(QDir::Files);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

void TestQueueCreator::newDeviceGetsEnabledQueueWithModelPpd()
{
    const QString uri = QStringLiteral("usb://Orvo/Q7030DN?serial=123");
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({uri}));
    QueueCreator creator(Discover());
    creator.CheckNewPNP(m_manager.GetPrinterInfo(true));

    QCOMPARE(creator.TakeProblems().size(), 0);
    QCOMPARE(QueueNames(), QStringList{"Orvo-Q7030DN"});
    QCOMPARE(UriOf("Orvo-Q7030DN"), uri);
    QCOMPARE(PpdModelName("Orvo-Q7030DN"), QStringLiteral("Orvo Q7030DN"));
    QVERIFY2(m_env.printerLine("Orvo-Q7030DN").contains("enabled"),
             qPrintable(m_env.printerLine("Orvo-Q7030DN")));
    const ToolResult accepting = m_env.runTool("lpstat", {"-a", "Orvo-Q7030DN"});
    QVERIFY2(accepting.out().startsWith("Orvo-Q7030DN accepting requests"),
             qPrintable(accepting.describe()));

    const QList<stPrinterInfo> next = m_manager.GetPrinterInfo(true);
    QCOMPARE(next.size(), 1);
    QCOMPARE(next.first().strName, QStringLiteral("Orvo-Q7030DN"));
    QCOMPARE(next.first().strModel, QStringLiteral("Orvo Q7030DN"));

    // Now it is known: a second run changes nothing.
    creator.CheckNewPNP(next);
    QCOMPARE(QueueNames(), QStringList{"Orvo-Q7030DN"});
    QCOMPARE(creator.TakeProblems().size(), 0);
}

void TestQueueCreator::takenNameGetsNextSuffix_data()
{
    // Existing queues as "name|uri|kind" (kind: orvo = Orvo PPD, raw = no PPD).
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");

    QTest::newRow("same case, USB")
        << QStringList{"Orvo-Q7020|usb://Orvo/Q7020?serial=9|orvo"} << "Orvo-Q7020-2";
    QTest::newRow("lower case") << QStringList{"orvo-q7020|usb://Orvo/Q7020?serial=9|orvo"}
                                << "Orvo-Q7020-2";
    QTest::newRow("-2 taken too") << QStringList{"Orvo-Q7020|usb://Orvo/Q7020?serial=9|orvo",
                                                 "ORVO-Q7020-2|usb://Orvo/Q7020?serial=8|orvo"}
                                  << "Orvo-Q7020-3";
    QTest::newRow("ipp queue") << QStringList{"Orvo-Q7020|ipp://127.0.0.1/printers/x|raw"}
                               << "Orvo-Q7020-2";
    QTest::newRow("raw socket queue")
        << QStringList{"Orvo-Q7020|socket://127.0.0.1:9100/?snmp=false|raw"} << "Orvo-Q7020-2";
    QTest::newRow("file queue") << QStringList{"Orvo-Q7020|file:/dev/null|raw"} << "Orvo-Q7020-2";
    QTest::newRow("ipp -2, usb base") << QStringList{"Orvo-Q7020|usb://Orvo/Q7020?serial=9|orvo",
                                                     "orvo-q7020-2|ipp://127.0.0.1/printers/y|raw"}
                                      << "Orvo-Q7020-3";
    QTest::newRow("other model's name")
        << QStringList{"Orvo-Q7020DN|file:/dev/null|raw"} << "Orvo-Q7020";
}

void TestQueueCreator::takenNameGetsNextSuffix()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    QMap<QString, QString> before;
    for (const QString& spec : existing) {
        const QStringList f = spec.split('|');
        if (f.at(2) == "orvo") {
            TESTENV_VERIFY(m_env, m_env.addQueueWithDriver(f.at(0), f.at(1), "Q7020"));
        } else {
            TESTENV_VERIFY(m_env, m_env.addRawQueue(f.at(0), f.at(1)));
        }
        before.insert(f.at(0), UriOf(f.at(0)));
    }
    QueueCreator creator(Discover());
    QCOMPARE(creator.GetNewName("Orvo-Q7020"), expected);

    const QString uri = QStringLiteral("usb://Orvo/Q7020?serial=new");
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({uri}));
    creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
    QCOMPARE(creator.TakeProblems().size(), 0);
    QCOMPARE(UriOf(expected), uri);
    QCOMPARE(PpdModelName(expected), QStringLiteral("Orvo Q7020"));
    // The queues that were there are untouched: same URI, and a raw one still has no PPD.
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QCOMPARE(UriOf(it.key()), it.value());
        if (!it.value().startsWith("usb:")) {
            QVERIFY(!QFile::exists("/etc/cups/ppd/" + it.key() + ".ppd"));
        }
    }
    QCOMPARE(QueueNames().size(), existing.size() + 1);
}

void TestQueueCreator::secondDeviceOfSameModel_data()
{
    QTest::addColumn<bool>("together");
    QTest::newRow("one after the other") << false;
    QTest::newRow("both in one device list") << true;
}

void TestQueueCreator::secondDeviceOfSameModel()
{
    QFETCH(bool, together);
    const QString first = QStringLiteral("usb://Orvo/QM7065FDW?serial=A1");
    const QString second = QStringLiteral("usb://Orvo/QM7065FDW?serial=B2");
    QueueCreator creator(Discover());
    if (!together) {
        TESTENV_VERIFY(m_env, m_env.setUsbDevices({first}));
        creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
        QCOMPARE(QueueNames(), QStringList{"Orvo-QM7065FDW"});
    }
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({first, second}));
    CheckUntil(creator, 2);
    QCOMPARE(creator.TakeProblems().size(), 0);
    QCOMPARE(QueueNames(), (QStringList{"Orvo-QM7065FDW", "Orvo-QM7065FDW-2"}));
    QCOMPARE(UriOf("Orvo-QM7065FDW"), first);
    QCOMPARE(UriOf("Orvo-QM7065FDW-2"), second);
}

void TestQueueCreator::knownDeviceIsSkipped_data()
{
    QTest::addColumn<QString>("queueUri");
    QTest::addColumn<QString>("deviceUri");
    QTest::addColumn<bool>("discoveryFailed"); // the caller's discovery found nothing
    for (bool failed : {false, true}) {
        const char* suffix = failed ? ", discovery failed" : "";
        QTest::newRow(qPrintable(QStringLiteral("same URI%1").arg(suffix)))
            << "usb://Orvo/Q7040DN?serial=abc"
            << "usb://Orvo/Q7040DN?serial=abc" << failed;
        QTest::newRow(qPrintable(QStringLiteral("serial in other case%1").arg(suffix)))
            << "usb://Orvo/Q7040DN?serial=abc"
            << "usb://Orvo/Q7040DN?serial=ABC" << failed;
        QTest::newRow(qPrintable(QStringLiteral("whole URI in other case%1").arg(suffix)))
            << "usb://Orvo/Q7040DN?serial=abc"
            << "USB://ORVO/q7040dn?SERIAL=ABC" << failed;
    }
}

void TestQueueCreator::knownDeviceIsSkipped()
{
    QFETCH(QString, queueUri);
    QFETCH(QString, deviceUri);
    QFETCH(bool, discoveryFailed);
    TESTENV_VERIFY(m_env, m_env.addQueueWithDriver("Office", queueUri, "Q7040DN"));
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({deviceUri}));
    QueueCreator creator(Discover());
    // A failed discovery reads as "no printers known"; the device still has its queue, and a
    // second one would be a permanent change to the user's CUPS.
    creator.CheckNewPNP(discoveryFailed ? QList<stPrinterInfo>() : m_manager.GetPrinterInfo(true));
    QCOMPARE(QueueNames(), QStringList{"Office"});
    QCOMPARE(creator.TakeProblems().size(), 0);
}

void TestQueueCreator::uriForms_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("queue"); // empty: no queue
    QTest::addColumn<QString>("model");

    QTest::newRow("other maker") << QStringList{"usb://Other/Q7020?serial=1"} << ""
                                 << "";
    QTest::newRow("maker name longer") << QStringList{"usb://OrvoX/Q7020?serial=1"} << ""
                                       << "";
    QTest::newRow("not usb") << QStringList{"ipp://Orvo/Q7020?serial=1"} << ""
                             << "";
    QTest::newRow("maker in lower case") << QStringList{"usb://orvo/Q7020?serial=1"} << "Orvo-Q7020"
                                         << "Orvo Q7020";
    QTest::newRow("no serial query") << QStringList{"usb://Orvo/Q7032DW"} << "Orvo-Q7032DW"
                                     << "Orvo Q7032DW";
    QTest::newRow("serial key in upper case")
        << QStringList{"usb://Orvo/Q7032DW?SERIAL=7"} << "Orvo-Q7032DW"
        << "Orvo Q7032DW";
    QTest::newRow("model key in lower case")
        << QStringList{"usb://Orvo/q7020dn?serial=5"} << "Orvo-q7020dn"
        << "Orvo Q7020DN";
    QTest::newRow("key that prefixes a longer one")
        << QStringList{"usb://Orvo/Q7020?serial=5"} << "Orvo-Q7020"
        << "Orvo Q7020";
    QTest::newRow("other maker beside ours")
        << QStringList{"usb://Other/X1?serial=1", "usb://Orvo/Q7045DW?serial=2"} << "Orvo-Q7045DW"
        << "Orvo Q7045DW";
}

void TestQueueCreator::uriForms()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, queue);
    QFETCH(QString, model);
    TESTENV_VERIFY(m_env, m_env.setUsbDevices(devices));
    QueueCreator creator(Discover());
    CheckUntil(creator, queue.isEmpty() ? 0 : 1);
    QCOMPARE(creator.TakeProblems().size(), 0);
    if (queue.isEmpty()) {
        QCOMPARE(QueueNames(), QStringList());
        return;
    }
    QCOMPARE(QueueNames(), QStringList{queue});
    QCOMPARE(UriOf(queue), devices.last());
    QCOMPARE(PpdModelName(queue), model);
}

void TestQueueCreator::unknownModelCreatesNothing()
{
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({"usb://Orvo/Q9999?serial=1"}));
    QueueCreator creator(Discover());
    creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
    QCOMPARE(QueueNames(), QStringList());
    const QList<QueueCreator::stProblem> problems = creator.TakeProblems();
    QCOMPARE(Kinds(problems), Kinds_t{QueueCreator::PROBLEM_UNKNOWN_MODEL});
    QCOMPARE(problems.first().strSubject, QStringLiteral("usb://Orvo/Q9999?serial=1"));

    QByteArray log;
    for (const QFileInfo& file : QDir(FixedPaths::LogDir()).entryInfoList(QDir::Files)) {
        log += TestEnv::readFile(file.filePath());
    }
    QVERIFY2(log.contains("AddPrinterViaURI) not found model : Q9999\n"), log.constData());
}

void TestQueueCreator::hostileUriRunsNothingExtra_data()
{
    QTest::addColumn<QString>("uri");
    QTest::newRow("command substitution and backquotes")
        << "usb://Orvo/Q7020?serial=$(touch${IFS}/run/orvo-testenv/pwned)`touch${IFS}/run/"
           "orvo-testenv/pwned2`";
    QTest::newRow("double quote and separators")
        << "usb://Orvo/Q7020?serial=\";touch${IFS}/run/orvo-testenv/pwned;\"";
    QTest::newRow("backslash before quote")
        << "usb://Orvo/Q7020?serial=\\\";touch${IFS}/run/orvo-testenv/pwned;#";
    QTest::newRow("single quotes") << "usb://Orvo/Q7020?serial='$(touch${IFS}/run/orvo-testenv/"
                                      "pwned)'";
    QTest::newRow("variable") << "usb://Orvo/Q7020?serial=$HOME$IFS";
}

void TestQueueCreator::hostileUriRunsNothingExtra()
{
    QFETCH(QString, uri);
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({uri}));
    QueueCreator creator(Discover());
    creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
    QVERIFY(!QFile::exists(MARKER));
    QVERIFY(!QFile::exists(MARKER + "2"));
    QCOMPARE(creator.TakeProblems().size(), 0);
    // The serial number reaches CUPS byte for byte.
    QCOMPARE(QueueNames(), QStringList{"Orvo-Q7020"});
    QCOMPARE(UriOf("Orvo-Q7020"), uri);
}

void TestQueueCreator::overlongUriIsRefused()
{
    const QString uri = QStringLiteral("usb://Orvo/Q7020?serial=") + QString(300, 'x');
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({uri}));
    QueueCreator creator(Discover());
    creator.CheckNewPNP(m_manager.GetPrinterInfo(true));
    QCOMPARE(Kinds(creator.TakeProblems()), Kinds_t{QueueCreator::PROBLEM_REFUSED});
    QCOMPARE(QueueNames(), QStringList());
}

void TestQueueCreator::deviceListFailureIsReported()
{
    TESTENV_VERIFY(m_env, m_env.setUsbDevices({"usb://Orvo/Q7020?serial=1"}));
    TESTENV_VERIFY(m_env, m_env.stopCupsd());
    QueueCreator creator(Discover());
    creator.CheckNewPNP({});
    QCOMPARE(Kinds(creator.TakeProblems()), Kinds_t{QueueCreator::PROBLEM_DEVICE_LIST});
    TESTENV_VERIFY(m_env, m_env.startCupsd());
    QCOMPARE(QueueNames(), QStringList());
}

void TestQueueCreator::changeUri_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("nameGiven");
    QTest::addColumn<QString>("uri");
    QTest::newRow("socket URI") << "Net"
                                << "Net"
                                << "socket://127.0.0.1:9101/?snmp=false";
    QTest::newRow("name in other case") << "Net"
                                        << "NET"
                                        << "socket://127.0.0.2:9100";
    QTest::newRow("usb URI") << "Orvo-Q7020"
                             << "Orvo-Q7020"
                             << "usb://Orvo/Q7020?serial=2";
    QTest::newRow("shell characters in URI")
        << "Net"
        << "Net"
        << "socket://127.0.0.1:9100/?x=$(touch${IFS}/run/orvo-testenv/pwned)`a`";
    // CUPS refuses quotes, backslashes and slashes in queue names, but takes the rest.
    QTest::newRow("shell characters in name")
        << "Q$(cd${IFS}$ORVO_TESTENV_DIR;touch${IFS}pwned)`x`;|&"
        << "Q$(cd${IFS}$ORVO_TESTENV_DIR;touch${IFS}pwned)`x`;|&"
        << "socket://127.0.0.1:9100";
}

void TestQueueCreator::changeUri()
{
    QFETCH(QString, queue);
    QFETCH(QString, nameGiven);
    QFETCH(QString, uri);
    TESTENV_VERIFY(m_env, m_env.addQueueWithDriver(queue, "socket://127.0.0.1:9100", "Q7020"));
    TESTENV_VERIFY(m_env, m_env.runTool("cupsdisable", {queue}).ok());
    QueueCreator creator(Discover());
    QCOMPARE(creator.ChangeNetPrinterURI(nameGiven, uri), 0);
    QCOMPARE(creator.TakeProblems().size(), 0);
    QCOMPARE(QueueNames(), QStringList{queue});
    QCOMPARE(UriOf(queue), uri);
    QVERIFY2(m_env.printerLine(queue).contains("enabled"), qPrintable(m_env.printerLine(queue)));
    QVERIFY(!QFile::exists(MARKER));
}

void TestQueueCreator::changeUriOfMissingQueueCreatesNothing()
{
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Net", "socket://127.0.0.1:9100"));
    QueueCreator creator(Discover());
    QCOMPARE(creator.ChangeNetPrinterURI("Nett", "socket://127.0.0.1:9101"), -1);
    QCOMPARE(Kinds(creator.TakeProblems()), Kinds_t{QueueCreator::PROBLEM_NO_QUEUE});
    QCOMPARE(QueueNames(), QStringList{"Net"});
    QCOMPARE(UriOf("Net"), QStringLiteral("socket://127.0.0.1:9100"));
}

void TestQueueCreator::changeUriFailureReturnsStatus()
{
    TESTENV_VERIFY(m_env, m_env.addRawQueue("Net", "socket://127.0.0.1:9100"));
    QueueCreator creator(Discover());
    const int status = creator.ChangeNetPrinterURI("Net", "nosuchscheme://x");
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
    const QList<QueueCreator::stProblem> problems = creator.TakeProblems();
    QCOMPARE(Kinds(problems), Kinds_t{QueueCreator::PROBLEM_LPADMIN});
    QCOMPARE(problems.first().iStatus, status);
    QCOMPARE(UriOf("Net"), QStringLiteral("socket://127.0.0.1:9100"));
}

QTEST_GUILESS_MAIN(TestQueueCreator)
#include "test_queuecreator.moc"
