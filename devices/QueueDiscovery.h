#pragma once

#include "service/CupsClient.h"
#include "service/PrinterRecords.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>

class QTextCodec;

// Discovery: which of the queues CUPS has are USB or socket queues, and with the driver check
// which of them are Orvo printers the service can watch. The device manager's cycle and
// orvo-add-printer discover through it; one object per thread (it keeps a CUPS connection).
class QueueDiscovery
{
public:
    QueueDiscovery();

    // The USB and socket queues CUPS has, with driverCheck only those whose PPD names a model of
    // the table. Empty when CUPS does not answer (Answered() then says false).
    QList<stPrinterInfo> GetPrinterInfo(bool driverCheck);
    // The half of GetPrinterInfo after the question: the queues it keeps, in CUPS' order. With
    // driverCheck, a queue of ours whose name cannot be watched is logged once while it stays.
    QList<stPrinterInfo> SelectQueues(const QList<CupsClient::stQueue>& queues, bool driverCheck);
    // A USB or socket queue's record from its name and device URI; false for other schemes.
    static bool FromDeviceUri(const QString& name, const QString& uri, stPrinterInfo& info);
    // The model the queue's PPD names, when it names one of the table.
    bool CheckDriverMatch(QString name, QString& model);
    // Whether CUPS answered the last GetPrinterInfo.
    bool Answered() const { return m_bDiscoveryAnswered; }

private:
    // CheckDriverMatch for a name given as bytes, which need not be UTF-8.
    bool FindModelByBytes(const QByteArray& name, QString& model);

    CupsClient m_cups; // this thread's connection to the scheduler
    // CUPS' last answered list of queues, and the event watcher's stamp when it was asked.
    QList<CupsClient::stQueue> m_listQueues;
    bool m_bQueuesHeld = false;
    std::uint64_t m_uQueuesStamp = 0;
    QTextCodec* m_pCodec = nullptr;
    bool m_bDiscoveryAnswered = true;
    // The queues of ours that cannot be watched and are already in the log, as CUPS names them.
    QSet<QByteArray> m_setSkippedTold;
};
