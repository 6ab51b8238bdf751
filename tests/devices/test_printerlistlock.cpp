#include "devices/TrdDeviceManage.h"
#include "service/SharedPrinterList.h"

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

// The device manager replaces the shared list while worker-like threads copy their entry out and
// write it back, the way the status workers do. Run under ThreadSanitizer this shows whether the
// accesses are serialised; in any build it checks that no copy is ever torn (a name with
// another entry's URI) and that write-backs land only on the entry they came from.
class TestPrinterListLock : public QObject
{
    Q_OBJECT
private slots:
    void replaceWhileWorkersCopyAndWriteBack();
};

namespace {
constexpr int WORKERS = 4;
constexpr int REPLACEMENTS = 3000;

// Three printer lists of different lengths; the URI of every entry is derived from its name.
QList<stPrinterInfo> Variant(int v)
{
    QList<stPrinterInfo> list;
    const int size = 1 + (v % 3) * 2; // 1, 3, 5 entries
    for (int i = 0; i < size; ++i) {
        stPrinterInfo info;
        info.strName = QStringLiteral("P%1_%2").arg(v % 3).arg(i);
        info.iConnectType = 2;
        info.strPort = QStringLiteral("127.0.%1.%2").arg(v % 3).arg(i + 1);
        info.strURI =
            QStringLiteral("socket://") + info.strPort + QStringLiteral("/") + info.strName;
        list.append(info);
    }
    return list;
}

bool Consistent(const stPrinterInfo& info)
{
    return info.strURI ==
           QStringLiteral("socket://") + info.strPort + QStringLiteral("/") + info.strName;
}
} // namespace

void TestPrinterListLock::replaceWhileWorkersCopyAndWriteBack()
{
    QList<stPrinterManager> shared;
    TrdDeviceManage manager;
    manager.Init(&shared);
    SharedPrinterList::Replace(&shared, manager.GetInitPrinterList(Variant(0)));

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<int> wrongWriteBack{0};
    std::atomic<long> writeBacks{0};
    std::vector<std::thread> workers;
    for (int k = 0; k < WORKERS; ++k) {
        workers.emplace_back([&, k] {
            while (!stop.load()) {
                stPrinterManager copy;
                if (!SharedPrinterList::CopyEntry(&shared, k, copy)) {
                    continue;
                }
                if (!Consistent(copy.stInfo)) {
                    ++torn;
                }
                // The poll: new state and jobs, worked on outside the lock.
                copy.stState.iStatus = 100 + k;
                copy.stState.strStatusText = copy.stInfo.strName;
                copy.stState.listError1.append(ERROR_STATUS_1);
                copy.listJobState.append(stJobState{copy.stInfo.strName + "-1", 1, -1});
                if (SharedPrinterList::WriteBack(&shared, k, copy)) {
                    ++writeBacks;
                }
            }
        });
    }

    for (int i = 1; i <= REPLACEMENTS; ++i) {
        const QList<stPrinterInfo> next = Variant(i);
        if (!SharedPrinterList::Equals(&shared, next)) {
            SharedPrinterList::Replace(&shared, manager.GetInitPrinterList(next));
        }
        // A state written back always belongs to the entry that carries it.
        for (const stPrinterManager& entry : SharedPrinterList::Copy(&shared)) {
            if (!entry.stState.strStatusText.isEmpty() &&
                entry.stState.strStatusText != entry.stInfo.strName) {
                ++wrongWriteBack;
            }
        }
    }
    stop = true;
    for (std::thread& worker : workers) {
        worker.join();
    }

    QCOMPARE(torn.load(), 0);
    QCOMPARE(wrongWriteBack.load(), 0);
    QVERIFY2(writeBacks.load() > 0, "the workers never wrote back");
    QCOMPARE(shared.size(), Variant(REPLACEMENTS).size());
}

QTEST_GUILESS_MAIN(TestPrinterListLock)
#include "test_printerlistlock.moc"
