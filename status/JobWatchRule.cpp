#include "status/JobWatchRule.h"

namespace {
bool WasPrinting(const QList<stJobState>& previous, const QString& jobId)
{
    for (const stJobState& job : previous) {
        if (job.strJobID == jobId && (job.iStatus == JobWatchRule::JOB_PRINTING ||
                                      job.iStatus == JobWatchRule::JOB_STOPPING)) {
            return true;
        }
    }
    return false;
}
} // namespace

QString JobWatchRule::JobId(const QString& queue, int id)
{
    return queue + QLatin1Char('-') + QString::number(id);
}

QList<int> JobWatchRule::WatchedIds(const QString& queue, const QList<stJobState>& previous)
{
    QList<int> ids;
    const QString prefix = queue + QLatin1Char('-');
    for (const stJobState& job : previous) {
        if (!job.strJobID.startsWith(prefix)) {
            continue;
        }
        bool ok = false;
        const int id = job.strJobID.mid(prefix.size()).toInt(&ok);
        if (ok && id > 0 && !ids.contains(id)) {
            ids.append(id);
        }
    }
    return ids;
}

JobWatchRule::stPass JobWatchRule::Apply(const QString& queue, const QList<CupsClient::stJob>& jobs,
                                         const QList<stJobState>& previous, bool offlineCancel)
{
    stPass pass;
    for (const CupsClient::stJob& job : jobs) {
        stJobState current;
        current.strJobID = JobId(queue, job.iId);
        current.iStatus = JOB_LISTED;
        if (job.listReasons.isEmpty()) {
            continue;
        }
        // The message is the printer's, copied into the job while it prints.
        const bool processing =
            job.bHasMessage && job.strMessage.contains(QLatin1String("Processing"));
        const bool hasMessage = job.bHasMessage && !job.strMessage.trimmed().isEmpty();
        const QStringList& reasons = job.listReasons;

        if (reasons.contains(QLatin1String("none"))) {
            current.iStatus = JOB_NO_ALERT;
        } else if (reasons.contains(QLatin1String("job-printing"))) {
            current.iStatus = JOB_PRINTING;
            if (offlineCancel) {
                pass.listActions.append({ACTION_OFFLINE_CANCEL, current.strJobID});
            } else {
                pass.listJobs.append(current);
            }
        } else if (reasons.contains(QLatin1String("job-canceled-by-user"))) {
            current.iStatus = JOB_CANCELED_BY_USER;
            if (WasPrinting(previous, current.strJobID)) {
                pass.listActions.append({ACTION_PRINTER_CANCEL, current.strJobID});
            }
        } else if (processing) {
            current.iStatus = JOB_PRINTING;
            pass.listJobs.append(current);
        } else if (reasons.contains(QLatin1String("processing-to-stop-point")) && hasMessage &&
                   WasPrinting(previous, current.strJobID)) {
            // Between the user's cancel and its "job-canceled-by-user" CUPS shows the job
            // stopping for a moment; dropping it here would lose the cancel.
            current.iStatus = JOB_STOPPING;
            pass.listJobs.append(current);
        }
    }
    return pass;
}
