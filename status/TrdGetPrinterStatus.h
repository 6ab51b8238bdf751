#pragma once

#include "service/CupsClient.h"
#include "service/PrinterRecords.h"
#include "service/UtilThreadBase.h"

#include <QList>
#include <QString>

// One status worker per position of the shared printer list, running in a thread of its own:
// polls the printer at that position, publishes its status file, watches its CUPS jobs and
// writes the results back into the shared list.
class TrdGetPrinterStatus : public UtilThreadBase
{
    Q_OBJECT
public:
    explicit TrdGetPrinterStatus(QObject* parent = nullptr);
    ~TrdGetPrinterStatus() override;

    void Init(int index, QList<stPrinterManager>* printerList);

    // Cycle pacing: true when this iteration polls; `interval` receives the poll interval (ms).
    bool CheckNeedStatus(int& interval);
    static bool CheckStatusChange(stPrinterState oldState, stPrinterState newState);

    // Status channels. >= 0: a reply decoded; negative: the failure codes of each channel.
    int GetPrinterStatusUSB(QString port);
    int GetPrinterStatusUDP(QString host);
    int CancelPrinterJob(QString port);
    static bool GetPrinterVidPid(QString port, int& vid, int& pid);

    // Evaluation of one reply: publishes the status file, decodes into stPrinter.stState.
    int CheckPrinterStatus(unsigned char* buf, unsigned long len);
    bool CheckRecvBufChange(unsigned char* buf, unsigned long len);

    // Job watch: one pass over the user's CUPS jobs on this worker's queue.
    int CheckJobStatus();
    void CancelCUPSJob(QString queue);

    // The worker's working copy, for the cycle's tests and the tests of the operations above.
    stPrinterManager& Printer() { return stPrinter; }
    int Index() const { return iIndex; }

signals:
    void SgnUpdatePrinterStatus(int);

public slots:
    void SlotTaskStart();
    void SlotThreadQuit();

private:
    int iIndex = -1;
    QList<stPrinterManager>* pPrinterList = nullptr;
    stPrinterManager stPrinter;
    int iLastRecvLen = 0;
    unsigned char ucLastRecvBuf[2048] = {};
    // The queue and URI whose reply is remembered: a worker takes up whatever entry stands at
    // its position, and another printer's reply says nothing about what this one's file holds.
    QString m_strLastRecvName;
    QString m_strLastRecvURI;
    // This worker's own connection to the scheduler. It holds back while CUPS is silent: the
    // device manager finds out when it answers again, and the polls keep their pace meanwhile.
    CupsClient m_cups{CupsClient::HOLD_BACK};
};
