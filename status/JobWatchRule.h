#pragma once

#include "service/CupsClient.h"
#include "service/PrinterRecords.h"

#include <QList>
#include <QString>

// What one job-watch pass makes of a queue's jobs as CUPS reports them: the jobs printing now,
// and the cancels to send. Pure: records in, records out.
class JobWatchRule
{
public:
    // State codes a pass gives a job; JOB_PRINTING and JOB_STOPPING are stored.
    enum
    {
        JOB_NO_ALERT = 0,         // reasons "none"
        JOB_PRINTING = 1,         // reasons "job-printing", or others while "Processing"
        JOB_OTHER = 2,            // other reasons, not processing
        JOB_CANCELED_BY_USER = 3, // reasons "job-canceled-by-user"
        JOB_LISTED = 4,           // listed without reasons
        // A printing job that CUPS is stopping: "processing-to-stop-point" while the job still
        // carries the printer's message. Stored, so that the "job-canceled-by-user" that
        // follows still finds the job that was printing.
        JOB_STOPPING = 5,
    };

    enum enAction
    {
        // The printer was found unreachable while the job prints: cancel it in CUPS.
        ACTION_OFFLINE_CANCEL,
        // The user cancelled in CUPS a job the previous pass saw printing: tell the printer.
        ACTION_PRINTER_CANCEL,
    };

    struct stAction
    {
        enAction eAction = ACTION_OFFLINE_CANCEL;
        QString strJobID;
    };

    struct stPass
    {
        QList<stJobState> listJobs;  // the jobs printing now, in job order
        QList<stAction> listActions; // in the order the jobs gave rise to them
    };

    // `previous` is the job list of the previous pass. `offlineCancel` says whether the offline
    // rule holds for this pass: then a printing job is cancelled instead of stored.
    static stPass Apply(const QString& queue, const QList<CupsClient::stJob>& jobs,
                        const QList<stJobState>& previous, bool offlineCancel);

    // A job's identifier as the CUPS tools write it: "QUEUE-ID".
    static QString JobId(const QString& queue, int id);
    // The CUPS job ids of the stored records of `previous`: CUPS must be asked about them even
    // when they have finished, since their cancel is what the pass looks for.
    static QList<int> WatchedIds(const QString& queue, const QList<stJobState>& previous);
};
