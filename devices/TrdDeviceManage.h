#pragma once

#include "PrinterRecords.h"
#include "UtilThreadBase.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextCodec;
class QThread;
class TrdGetPrinterStatus;

// The service's control loop on the main thread: heartbeat, discovery of the Orvo queues,
// one status worker per printer position, the shared printer list and the printer list file.
class TrdDeviceManage : public UtilThreadBase
{
    Q_OBJECT
public:
    explicit TrdDeviceManage(QObject* parent = nullptr);
    ~TrdDeviceManage() override;

    void Init(QList<stPrinterManager>* printerList);

    // Discovery.
    QList<stPrinterInfo> GetPrinterInfo(bool driverCheck);
    bool CheckDriverMatch(QString name, QString& model);
    QList<stPrinterManager> GetInitPrinterList(QList<stPrinterInfo> list);
    static void InitStPrinterInfo(stPrinterInfo& info);
    static void InitStPrinterState(stPrinterState& state);

    // Printer list file and heartbeat.
    void SavePrinterInfo(QList<stPrinterInfo> list, bool force);
    void WriteHeartbeat();

    // Queue creation and URI change; the cycle itself never calls them.
    void CheckNewPNP(QList<stPrinterInfo> known);
    void AddPrinterViaURI(QString uri);
    QString GetNewName(QString wanted);
    int ChangeNetPrinterURI(QString name, QString uri);

    int WorkerCount() const { return m_listWorkers.size(); }

signals:
    void SgnUpdatePrinterList();
    void SgnStatusThreadStart();
    void SgnThreadQuit();

public slots:
    void SlotTaskStart();
    void SlotThreadQuit();

private:
    QList<TrdGetPrinterStatus*> m_listWorkers;
    QList<QThread*> m_listThreads;
    QList<stPrinterManager>* pPrinterList = nullptr;
    QTextCodec* m_pCodec = nullptr;
};
