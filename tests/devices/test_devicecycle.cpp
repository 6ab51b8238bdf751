#include "devices/TrdDeviceManage.h"
#include "service/FixedPaths.h"
#include "service/SharedPrinterList.h"
#include "status/TrdGetPrinterStatus.h"
#include "tests/support/TestEnv.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

// The device manager's cycle, one pass at a time, against the private scheduler of
// orvo-testenv: which passes create workers (and how they are wired), when the start signal
// goes out, the shared list, the status file clean-up, the printer list file and the rule that
// ends the process. The passes build on each other, like the cycles of one service run.
class TestDeviceCycle : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void noPrinterEndsInFourthCycle();
    void firstPrinters();
    void unchangedCycle();
    void printerAdded();
    void printerRemoved();
    void printerBack();
    void newUri();
    void modelChangeAlone();
    void deletedListFileWrittenAgain();
    void allGone();
    void wiring();

private:
    int Cycle(bool first = false) { return m_manager->RunOneCycle(first, m_iEmpty); }
    QStringList SharedNames() const;
    QStringList ListFileNames() const; // the first Count names of printerlist.ini
    QString ListFileValue(const QString& key) const;
    void VerifyWorkers(int count);
    static QString ListFile() { return FixedPaths::CfgDir() + QStringLiteral("printerlist.ini"); }
    static QString Dat(const QString& name) { return FixedPaths::CfgDir() + name + ".dat"; }

    TestEnv m_env;
    QList<stPrinterManager> m_list;
    std::unique_ptr<TrdDeviceManage> m_manager;
    std::unique_ptr<QSignalSpy> m_spy;
    int m_iEmpty = 0;
};

void TestDeviceCycle::initTestCase()
{
    QDir(TestEnv::installRoot()).removeRecursively();
    m_manager = std::make_unique<TrdDeviceManage>();
    m_manager->Init(&m_list);
    m_spy = std::make_unique<QSignalSpy>(m_manager.get(), SIGNAL(SgnStatusThreadStart()));
}

void TestDeviceCycle::cleanupTestCase()
{
    // The service never stops its workers; a test has to, before its statics go away.
    for (TrdGetPrinterStatus* worker : m_manager->Workers()) {
        worker->RequestQuit();
    }
    for (QThread* thread : m_manager->Threads()) {
        thread->quit();
        QVERIFY2(thread->wait(20000), "a status worker did not stop");
    }
    qDeleteAll(m_manager->Workers());
    qDeleteAll(m_manager->Threads());
}

QStringList TestDeviceCycle::SharedNames() const
{
    QStringList names;
    for (const stPrinterManager& entry : SharedPrinterList::Copy(&m_list)) {
        names << entry.stInfo.strName;
    }
    return names;
}

QStringList TestDeviceCycle::ListFileNames() const
{
    QSettings settings(ListFile(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    QStringList names;
    const int count = settings.value(QStringLiteral("Main/Count"), -1).toInt();
    for (int i = 0; i < count; ++i) {
        names << settings.value(QStringLiteral("printer_%1/Name").arg(i)).toString();
    }
    return names;
}

QString TestDeviceCycle::ListFileValue(const QString& key) const
{
    QSettings settings(ListFile(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    return settings.value(key).toString();
}

void TestDeviceCycle::VerifyWorkers(int count)
{
    QCOMPARE(m_manager->WorkerCount(), count);
    QCOMPARE(m_manager->Threads().size(), count);
    for (int k = 0; k < count; ++k) {
        TrdGetPrinterStatus* worker = m_manager->Workers().at(k);
        QThread* thread = m_manager->Threads().at(k);
        QVERIFY(worker->parent() == nullptr);
        QVERIFY(thread->parent() == nullptr);
        QCOMPARE(worker->thread(), thread);
        QVERIFY(thread->isRunning());
        QCOMPARE(thread->priority(), QThread::InheritPriority);
        QCOMPARE(worker->Index(), k);
        QVERIFY(thread != QThread::currentThread());
    }
}

void TestDeviceCycle::noPrinterEndsInFourthCycle()
{
    QCOMPARE(Cycle(true), TrdDeviceManage::CYCLE_WAIT_MS);
    QCOMPARE(QFile(ListFile()).size(), qint64(QByteArray("[Main]\nCount=0\n").size()));
    QCOMPARE(ListFileValue("Main/Count"), QStringLiteral("0"));
    QCOMPARE(Cycle(), TrdDeviceManage::EMPTY_CYCLE_WAIT_MS);
    QCOMPARE(Cycle(), TrdDeviceManage::EMPTY_CYCLE_WAIT_MS);
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_END_PROCESS);
    QCOMPARE(m_spy->count(), 0);
    VerifyWorkers(0);
    QVERIFY(QFileInfo::exists(FixedPaths::CfgDir() + "service.hb"));
    // No report file of lpstat is left behind.
    QCOMPARE(QDir(FixedPaths::CfgDir()).entryList({"printerlist.2*"}, QDir::Files), QStringList());
}

void TestDeviceCycle::firstPrinters()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("A", "socket://127.0.0.11:9100", "Orvo Q7020DN"));
    TESTENV_VERIFY(m_env, m_env.addQueue("B", "socket://127.0.0.12:9100", "Orvo Q7030DW"));
    m_iEmpty = 0;
    QCOMPARE(Cycle(true), TrdDeviceManage::CYCLE_WAIT_MS);
    QCOMPARE(m_iEmpty, 0);
    VerifyWorkers(2);
    QCOMPARE(m_spy->count(), 1);
    QCOMPARE(SharedNames(), QStringList({"A", "B"}));
    QCOMPARE(ListFileNames(), QStringList({"A", "B"}));
}

void TestDeviceCycle::unchangedCycle()
{
    const QByteArray before = TestEnv::readFile(ListFile());
    const QDateTime modified = QFileInfo(ListFile()).lastModified();
    QThread::msleep(20);
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    VerifyWorkers(2);
    QCOMPARE(m_spy->count(), 1);
    QCOMPARE(TestEnv::readFile(ListFile()), before);
    QCOMPARE(QFileInfo(ListFile()).lastModified(), modified);
}

void TestDeviceCycle::printerAdded()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("C", "socket://127.0.0.13:9100", "Orvo Q7040DN"));
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    VerifyWorkers(3);
    QCOMPARE(m_spy->count(), 2); // once for the batch of one
    QCOMPARE(SharedNames(), QStringList({"A", "B", "C"}));
    QCOMPARE(ListFileNames(), QStringList({"A", "B", "C"}));
}

void TestDeviceCycle::printerRemoved()
{
    for (const char* name : {"A", "B", "C", "stale", "x.DAT"}) {
        TESTENV_VERIFY(m_env, m_env.writeFile(Dat(name), "status"));
    }
    TESTENV_VERIFY(m_env, m_env.removeQueue("B"));
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    VerifyWorkers(3); // worker 2 idles, nobody is stopped
    QCOMPARE(m_spy->count(), 2);
    QCOMPARE(SharedNames(), QStringList({"A", "C"}));
    QCOMPARE(ListFileNames(), QStringList({"A", "C"}));
    // The section of the former third printer stays behind Count.
    QCOMPARE(ListFileValue("printer_2/Name"), QStringLiteral("C"));
    QVERIFY(QFileInfo::exists(Dat("A")));
    QVERIFY(QFileInfo::exists(Dat("C")));
    QVERIFY(!QFileInfo::exists(Dat("B")));
    QVERIFY(!QFileInfo::exists(Dat("stale")));
    QVERIFY(!QFileInfo::exists(Dat("x.DAT")));
}

void TestDeviceCycle::printerBack()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("B", "socket://127.0.0.12:9100", "Orvo Q7030DW"));
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    VerifyWorkers(3); // no fourth worker
    QCOMPARE(m_spy->count(), 2);
    QCOMPARE(SharedNames(), QStringList({"A", "B", "C"}));
}

void TestDeviceCycle::newUri()
{
    TESTENV_VERIFY(m_env, m_env.setQueueUri("C", "socket://127.0.0.14:9100"));
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    VerifyWorkers(3);
    QCOMPARE(m_spy->count(), 2);
    stPrinterManager entry;
    QVERIFY(SharedPrinterList::CopyEntry(&m_list, 2, entry));
    QCOMPARE(entry.stInfo.strURI, QStringLiteral("socket://127.0.0.14:9100"));
    QCOMPARE(entry.stInfo.strPort, QStringLiteral("127.0.0.14"));
    QCOMPARE(ListFileValue("printer_2/URI"), QStringLiteral("socket://127.0.0.14:9100"));
}

void TestDeviceCycle::modelChangeAlone()
{
    TESTENV_VERIFY(m_env, m_env.addQueue("A", "socket://127.0.0.11:9100", "Orvo Q7020D"));
    const QByteArray before = TestEnv::readFile(ListFile());
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    // Not a change: neither the list nor the file is touched.
    QCOMPARE(TestEnv::readFile(ListFile()), before);
    QCOMPARE(ListFileValue("printer_0/Model"), QStringLiteral("Orvo Q7020DN"));
    stPrinterManager entry;
    QVERIFY(SharedPrinterList::CopyEntry(&m_list, 0, entry));
    QCOMPARE(entry.stInfo.strModel, QStringLiteral("Orvo Q7020DN"));
}

void TestDeviceCycle::deletedListFileWrittenAgain()
{
    QVERIFY(QFile::remove(ListFile()));
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_WAIT_MS);
    QCOMPARE(ListFileNames(), QStringList({"A", "B", "C"}));
    // Written from this cycle's discovery, so the new model shows now.
    QCOMPARE(ListFileValue("printer_0/Model"), QStringLiteral("Orvo Q7020D"));
    QCOMPARE(m_spy->count(), 2);
}

void TestDeviceCycle::allGone()
{
    for (const char* name : {"A", "B", "C"}) {
        TESTENV_VERIFY(m_env, m_env.removeQueue(name));
    }
    const QByteArray before = TestEnv::readFile(ListFile());
    QCOMPARE(Cycle(), TrdDeviceManage::EMPTY_CYCLE_WAIT_MS);
    QCOMPARE(Cycle(), TrdDeviceManage::EMPTY_CYCLE_WAIT_MS);
    QCOMPARE(Cycle(), TrdDeviceManage::EMPTY_CYCLE_WAIT_MS);
    QCOMPARE(Cycle(), TrdDeviceManage::CYCLE_END_PROCESS);
    // Empty cycles change nothing: the list and the file keep the last printers.
    QCOMPARE(TestEnv::readFile(ListFile()), before);
    QCOMPARE(SharedNames(), QStringList({"A", "B", "C"}));
    VerifyWorkers(3);
    QCOMPARE(m_spy->count(), 2);
}

void TestDeviceCycle::wiring()
{
    // Each worker hangs on both signals exactly once: the first disconnect finds the
    // connection, the second finds none.
    const TrdDeviceManage* manager = m_manager.get();
    for (TrdGetPrinterStatus* worker : m_manager->Workers()) {
        for (int round = 0; round < 2; ++round) {
            const bool first = round == 0;
            QCOMPARE(QObject::disconnect(manager, SIGNAL(SgnStatusThreadStart()), worker,
                                         SLOT(SlotTaskStart())),
                     first);
            QCOMPARE(QObject::disconnect(manager, SIGNAL(SgnThreadQuit()), worker,
                                         SLOT(SlotThreadQuit())),
                     first);
        }
    }
}

QTEST_GUILESS_MAIN(TestDeviceCycle)
#include "test_devicecycle.moc"
