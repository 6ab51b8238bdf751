#pragma once

#include "service/PrinterRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

// The job watch's reading of the CUPS tools before it asked CUPS in process, kept unchanged as
// the reference of test_cups_differential.
// Reads one job listing ("lpstat -u USER -W all -l -o QUEUE") and tells what a job-watch pass
// makes of it: the jobs now printing, and the cancels to send. Pure: lines in, records out, so
// captured listings of every locale can be replayed in tests.
class JobListParser
{
public:
    // State codes a pass gives a job while it reads the listing; JOB_PRINTING and JOB_STOPPING
    // are stored.
    enum
    {
        JOB_NO_ALERT = 0,         // alerts "none"
        JOB_PRINTING = 1,         // alerts "job-printing", or other alerts while "Processing"
        JOB_OTHER = 2,            // other alerts, not processing
        JOB_CANCELED_BY_USER = 3, // alerts "job-canceled-by-user"
        JOB_LISTED = 4,           // job line read, no alerts line yet
        // A printing job that CUPS is stopping: "processing-to-stop-point" while its status
        // line still carries the printer's message. Stored, so that the "job-canceled-by-user"
        // that follows still finds the job that was printing.
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
        QList<stJobState> listJobs;  // the jobs printing now, in listing order
        QList<stAction> listActions; // in the order the listing gave rise to them
    };

    // `previous` is the job list of the previous pass. `offlineCancel` says whether the offline
    // rule holds for this pass: then a printing job is cancelled instead of stored.
    static stPass Parse(const QStringList& lines, const QList<stJobState>& previous,
                        bool offlineCancel);
};
