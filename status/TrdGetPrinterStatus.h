#pragma once

#include "service/CupsClient.h"
#include "service/PrinterRecords.h"
#include "service/UtilThreadBase.h"
#include "status/JobWatchRule.h"

#include <QList>
#include <QString>

#include <cstdint>

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

    // Job watch: one pass over the user's CUPS jobs on this worker's queue, its cancels sent.
    // `firstPass`: the first of an iteration, which asks CUPS afresh while a job prints.
    int CheckJobStatus(bool firstPass = true);
    // The decisions of one pass without sending them: CUPS is asked only when its answer may
    // have changed since the last question (see JobsFromCups), the job list is updated.
    // False when CUPS gave no answer: then the job list stays and nothing is decided.
    bool JobPass(bool firstPass, bool offline, JobWatchRule::stPass& pass);
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
    // The jobs CUPS listed for this pass: asked afresh, or the last answer while it holds.
    bool JobsFromCups(bool firstPass, QList<CupsClient::stJob>& jobs);
    // Whether the next pass (not the first of an iteration) would use the held answer.
    bool NextPassHolds() const;
    // Sleeps `ms` or less: wakes early when an event concerns `queue`; true when quitting.
    bool WaitForCups(const QString& queue, std::uint64_t stamp, int ms);

    // An answer of CUPS kept for the next passes, with what it was asked about. It holds while
    // the event watcher's stamp for the queue has not changed since the question.
    struct stHeldJobs
    {
        bool bValid = false;
        QString strName;
        QString strURI;
        QList<int> listAlsoIds; // the finished jobs asked for besides the unfinished ones
        QList<CupsClient::stJob> listJobs;
        std::uint64_t uStamp = 0;
        // Whether the answer tells of every job of `ids`: listed, or asked for.
        bool Covers(const QList<int>& ids) const;
    };
    struct stHeldPrinting
    {
        bool bValid = false;
        QString strName;
        bool bPrinting = false;
        std::uint64_t uStamp = 0;
    };
    stHeldJobs m_stHeldJobs;
    stHeldPrinting m_stHeldPrinting;
    // The stamp of the queue when the last pass began: a wait ends when it changes.
    std::uint64_t m_uPassStamp = 0;

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
