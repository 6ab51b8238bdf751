#include "service/UtilThreadBase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {
class Worker : public UtilThreadBase
{
public:
    int cycles = 0;
    void Start()
    {
        if (!BeginTask()) {
            return;
        }
        ++cycles;
    }
};
} // namespace

// Generous upper bounds: the machine may be busy; the lower bounds are what matters.
class TestThreadBase : public QObject
{
    Q_OBJECT
private slots:
    void quitBeforeLongWaitReturnsAtOnce();
    void quitDuringSliceEndsAfterThatSlice_data();
    void quitDuringSliceEndsAfterThatSlice();
    void zeroAndNegativeOnlyReportTheFlag();
    void startGuardRunsOnce();
    void makePathExist();
};

void TestThreadBase::quitBeforeLongWaitReturnsAtOnce()
{
    Worker worker;
    worker.RequestQuit();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(worker.WaitForSleep(3000));
    QVERIFY(timer.elapsed() < 100);
}

void TestThreadBase::quitDuringSliceEndsAfterThatSlice_data()
{
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<int>("quitAfterMs");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    // 700 ms into a 1000 ms wait: the second slice is slept to its end.
    QTest::newRow("1000, quit at 700") << 1000 << 700 << 950 << 1400;
    // Below one slice: one plain sleep, then the flag.
    QTest::newRow("100, quit at 30") << 100 << 30 << 95 << 400;
    // 3000 ms, quit at 200: noticed before the second slice.
    QTest::newRow("3000, quit at 200") << 3000 << 200 << 480 << 900;
}

void TestThreadBase::quitDuringSliceEndsAfterThatSlice()
{
    QFETCH(int, waitMs);
    QFETCH(int, quitAfterMs);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    Worker worker;
    QElapsedTimer timer;
    timer.start();
    // std::thread, whose join ThreadSanitizer sees (QThread::wait goes through Qt internals).
    std::thread quitter([&worker, quitAfterMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(quitAfterMs));
        worker.RequestQuit();
    });
    const bool quit = worker.WaitForSleep(waitMs);
    const qint64 elapsed = timer.elapsed();
    quitter.join();
    QVERIFY(quit);
    QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
}

void TestThreadBase::zeroAndNegativeOnlyReportTheFlag()
{
    Worker worker;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!worker.WaitForSleep(0));
    QVERIFY(!worker.WaitForSleep(-700));
    worker.RequestQuit();
    QVERIFY(worker.WaitForSleep(0));
    QVERIFY(timer.elapsed() < 100);
}

void TestThreadBase::startGuardRunsOnce()
{
    Worker worker;
    QVERIFY(!worker.IsRunning());
    worker.Start();
    worker.Start();
    QCOMPARE(worker.cycles, 1);
    QVERIFY(worker.IsRunning());
}

void TestThreadBase::makePathExist()
{
    QTemporaryDir dir;
    const QString existing = dir.path();
    const QDateTime before = QFileInfo(existing).lastModified();
    QVERIFY(UtilThreadBase::MakePathExist(existing));
    QCOMPARE(QDir(existing).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 0);
    QCOMPARE(QFileInfo(existing).lastModified(), before);

    const QString nested = dir.filePath("a/b/c/");
    QVERIFY(UtilThreadBase::MakePathExist(nested));
    QVERIFY(QDir(nested).exists());

    // A regular file where a directory should be: reported, not hidden.
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!UtilThreadBase::MakePathExist(dir.filePath("file/sub")));
}

QTEST_GUILESS_MAIN(TestThreadBase)
#include "test_threadbase.moc"
