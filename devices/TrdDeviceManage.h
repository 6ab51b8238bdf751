#pragma once

#include "devices/QueueDiscovery.h"
#include "service/CupsClient.h"
#include "service/PrinterRecords.h"
#include "service/UtilThreadBase.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class QueueCreator;
class QThread;
class TrdGetPrinterStatus;

// The service's control loop on the main thread: heartbeat, discovery of the Orvo queues,
// one status worker per printer position, the shared printer list and the printer list file.
class TrdDeviceManage : public UtilThreadBase
{
    Q_OBJECT
public:
    // Pace of the cycle and the rule that ends the process.
    static constexpr int CYCLE_WAIT_MS = 3000;
    static constexpr int EMPTY_CYCLE_WAIT_MS = 1000;
    static constexpr int MAX_EMPTY_CYCLES = 3; // the next empty cycle ends the process
    // How long the end of the process waits for CUPS to take back the service's state reasons.
    static constexpr int FINISH_REASONS_MS = 3000;
    static constexpr int FINISH_SUBSCRIPTION_MS = 2000;
    // RunOneCycle's answer when the process is to end.
    static constexpr int CYCLE_END_PROCESS = -1;

    explicit TrdDeviceManage(QObject* parent = nullptr);
    ~TrdDeviceManage() override;

    void Init(QList<stPrinterManager>* printerList);

    // One pass of the cycle: heartbeat, discovery, and on a change new workers, status file
    // clean-up, the new shared list and the printer list file. Returns how long to wait before
    // the next pass (ms), or CYCLE_END_PROCESS. `emptyCount` carries the consecutive empty
    // cycles from pass to pass. SlotTaskStart is a loop over it.
    int RunOneCycle(bool firstCycle, int& emptyCount);

    // Discovery (QueueDiscovery, the same orvo-add-printer uses): the USB and socket queues CUPS
    // has, with driverCheck only those whose PPD names a model of the table. Empty when CUPS
    // does not answer.
    QList<stPrinterInfo> GetPrinterInfo(bool driverCheck);
    // The half of GetPrinterInfo after the question: the queues it keeps, in CUPS' order.
    QList<stPrinterInfo> SelectQueues(const QList<CupsClient::stQueue>& queues, bool driverCheck);
    // A USB or socket queue's record from its name and device URI; false for other schemes.
    static bool FromDeviceUri(const QString& name, const QString& uri, stPrinterInfo& info);
    bool CheckDriverMatch(QString name, QString& model);
    QList<stPrinterManager> GetInitPrinterList(QList<stPrinterInfo> list);
    static void InitStPrinterInfo(stPrinterInfo& info);
    static void InitStPrinterState(stPrinterState& state);

    // Removes every "*.dat" in the cfg directory that is not the status file of a queue in `list`.
    void RemoveStaleStatusFiles(const QList<stPrinterInfo>& list);

    // Printer list file and heartbeat.
    void SavePrinterInfo(QList<stPrinterInfo> list, bool force);
    void WriteHeartbeat();

    // Queue creation and URI change; the cycle itself never calls them.
    void CheckNewPNP(QList<stPrinterInfo> known);
    void AddPrinterViaURI(QString uri);
    QString GetNewName(QString wanted);
    int ChangeNetPrinterURI(QString name, QString uri);

    int WorkerCount() const { return m_listWorkers.size(); }
    const QList<TrdGetPrinterStatus*>& Workers() const { return m_listWorkers; }
    const QList<QThread*>& Threads() const { return m_listThreads; }

signals:
    void SgnUpdatePrinterList();
    void SgnStatusThreadStart();
    void SgnThreadQuit();

public slots:
    void SlotTaskStart();
    void SlotThreadQuit();

public:
    // The end of the process, whatever ends it: the state reasons the service set in CUPS and
    // its event subscription go first. Safe from any thread.
    static void FinishInCups();

private:
    // The half of RunOneCycle after an answered discovery: the empty-cycle rule, and on a change
    // new workers, the shared list, the status file clean-up and the printer list file.
    int ApplyList(const QList<stPrinterInfo>& listPrinter, bool firstList, int& emptyCount);
    static void WatchReasons(const QList<stPrinterInfo>& list);
    // Creates, moves, starts and wires the workers for the positions [workers, count) and sends
    // the start signal once for the batch.
    void StartWorkers(int count);
    // Removes the transient files an earlier run may have left in the cfg directory.
    static void RemoveLeftovers();
    [[noreturn]] static void EndProcess();
    // Says in the service's standard error when CUPS stops or starts answering discovery.
    void TellCupsAnswers(bool answers);
    // The queue operations, discovering through this manager's discovery.
    QueueCreator Creator();

    QList<TrdGetPrinterStatus*> m_listWorkers;
    QList<QThread*> m_listThreads;
    QList<stPrinterManager>* pPrinterList = nullptr;
    QueueDiscovery m_discovery; // with the main thread's connection to the scheduler
    // CUPS has given a list since the start: what the service publishes is current.
    bool m_bListKnown = false;
    bool m_bCupsAnswers = true; // as last told in standard error
    // The last write of printerlist.ini failed: the next one is forced.
    bool m_bListFileOwed = false;
};
