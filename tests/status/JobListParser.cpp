#include "tests/status/JobListParser.h"

namespace {
const QString c_strAlerts = QStringLiteral("Alerts:");
const QString c_strAlertsZh = QString::fromUtf8("警告");
const QString c_strStatus = QStringLiteral("Status:");
const QString c_strStatusZh = QString::fromUtf8("状态");

bool WasPrinting(const QList<stJobState>& previous, const QString& jobId)
{
    for (const stJobState& job : previous) {
        if (job.strJobID == jobId && (job.iStatus == JobListParser::JOB_PRINTING ||
                                      job.iStatus == JobListParser::JOB_STOPPING)) {
            return true;
        }
    }
    return false;
}

// The text of a status line behind its label ("Status: ", "状态：").
QString StatusText(const QString& detail)
{
    QString text =
        detail.mid(detail.startsWith(c_strStatus) ? c_strStatus.size() : c_strStatusZh.size());
    if (text.startsWith(QChar(0xFF1A)) || text.startsWith(QLatin1Char(':'))) {
        text.remove(0, 1);
    }
    return text.trimmed();
}
} // namespace

JobListParser::stPass JobListParser::Parse(const QStringList& lines,
                                           const QList<stJobState>& previous, bool offlineCancel)
{
    stPass pass;
    stJobState current; // carried from line to line: detail lines act on the last job line
    bool processing = false;
    bool statusText = false; // the current job's status line carries a message

    for (const QString& line : lines) {
        if (line.startsWith(QLatin1Char('\t'))) {
            const QString detail = line.trimmed();
            if (detail.startsWith(c_strAlerts) || detail.startsWith(c_strAlertsZh)) {
                // The alert keywords stay English in every locale.
                if (detail.contains(QLatin1String("none"))) {
                    current.iStatus = JOB_NO_ALERT;
                } else if (detail.contains(QLatin1String("job-printing"))) {
                    current.iStatus = JOB_PRINTING;
                    if (offlineCancel) {
                        pass.listActions.append({ACTION_OFFLINE_CANCEL, current.strJobID});
                    } else {
                        pass.listJobs.append(current);
                    }
                } else if (detail.contains(QLatin1String("job-canceled-by-user"))) {
                    current.iStatus = JOB_CANCELED_BY_USER;
                    if (WasPrinting(previous, current.strJobID)) {
                        pass.listActions.append({ACTION_PRINTER_CANCEL, current.strJobID});
                    }
                } else if (processing) {
                    current.iStatus = JOB_PRINTING;
                    pass.listJobs.append(current);
                } else if (detail.contains(QLatin1String("processing-to-stop-point")) &&
                           statusText && WasPrinting(previous, current.strJobID)) {
                    // Between the user's cancel and its "job-canceled-by-user" CUPS shows the
                    // job stopping for a moment; dropping it here would lose the cancel.
                    current.iStatus = JOB_STOPPING;
                    pass.listJobs.append(current);
                } else {
                    current.iStatus = JOB_OTHER;
                }
            } else if (detail.startsWith(c_strStatus) || detail.startsWith(c_strStatusZh)) {
                if (detail.contains(QLatin1String("Processing"))) {
                    processing = true;
                }
                statusText = !StatusText(detail).isEmpty();
            }
            continue;
        }

        // A job line: "Q-8   user   1024   date". Lines of three words or fewer (headings,
        // messages) are not jobs and leave the current job in place.
        const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() > 3) {
            processing = false;
            statusText = false;
            current.strJobID = words.first();
            current.iStatus = JOB_LISTED;
        }
    }
    return pass;
}
