#include "status/JobWatchRule.h"
#include "status/OfflineCancelRule.h"

#include <QtTest>

// Jobs are written "ID|reason,reason|message" (no third part: CUPS gave no message), job lists
// "QUEUE-ID:STATE" and actions "offline:QUEUE-ID" / "printer:QUEUE-ID", so a row reads like
// the answer it describes. The queue is "Q".
namespace {
QList<CupsClient::stJob> CupsJobs(const QStringList& specs)
{
    QList<CupsClient::stJob> jobs;
    for (const QString& spec : specs) {
        const QStringList f = spec.split(QLatin1Char('|'));
        CupsClient::stJob job;
        job.iId = f.at(0).toInt();
        job.listReasons = f.value(1).split(QLatin1Char(','), Qt::SkipEmptyParts);
        job.bHasMessage = f.size() > 2;
        job.strMessage = f.value(2);
        jobs.append(job);
    }
    return jobs;
}

QList<stJobState> Jobs(const QStringList& specs)
{
    QList<stJobState> jobs;
    for (const QString& spec : specs) {
        stJobState job;
        job.strJobID = spec.section(QLatin1Char(':'), 0, -2);
        job.iStatus = spec.section(QLatin1Char(':'), -1).toInt();
        jobs.append(job);
    }
    return jobs;
}

QStringList Describe(const JobWatchRule::stPass& pass)
{
    QStringList out;
    for (const stJobState& job : pass.listJobs) {
        out << QStringLiteral("%1:%2").arg(job.strJobID).arg(job.iStatus);
    }
    for (const JobWatchRule::stAction& action : pass.listActions) {
        out << (action.eAction == JobWatchRule::ACTION_OFFLINE_CANCEL
                    ? QStringLiteral("offline:")
                    : QStringLiteral("printer:")) +
                   action.strJobID;
    }
    return out;
}
} // namespace

class TestJobList : public QObject
{
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
    void watchedIds();
    void offlineRule_data();
    void offlineRule();
};

void TestJobList::rule_data()
{
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QStringList>("previous");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<QStringList>("result"); // stored jobs, then actions

    const QStringList none;
    QTest::newRow("no jobs") << none << QStringList{"Q-1:1"} << true << none;
    QTest::newRow("printing job stored, pending and held not")
        << QStringList{"1|none", "2|job-printing|Printing on USB", "3|job-hold-until-specified"}
        << none << false << QStringList{"Q-2:1"};
    QTest::newRow("other reasons while processing: printing")
        << QStringList{"1|media-empty-warning|Processing page 1"} << none << false
        << QStringList{"Q-1:1"};
    QTest::newRow("other reasons while not processing: not printing")
        << QStringList{"1|media-empty-warning|Waiting for printer"} << none << false << none;
    QTest::newRow("\"none\" is tested first")
        << QStringList{"1|none,job-printing"} << none << false << none;
    QTest::newRow("reasons are matched with letter case")
        << QStringList{"1|JOB-PRINTING"} << none << false << none;
    QTest::newRow("no reasons at all") << QStringList{"1||Processing"} << none << false << none;
    QTest::newRow("offline: one cancel per printing job")
        << QStringList{"1|job-printing", "2|job-printing"} << QStringList{"Q-1:1"} << true
        << QStringList{"offline:Q-1", "offline:Q-2"};
    QTest::newRow("offline: processing jobs with other reasons are kept")
        << QStringList{"1|media-jam-error|Processing"} << none << true << QStringList{"Q-1:1"};
    QTest::newRow("cancel of a job seen printing is forwarded")
        << QStringList{"1|job-canceled-by-user|"} << QStringList{"Q-1:1"} << false
        << QStringList{"printer:Q-1"};
    QTest::newRow("cancel after stopping is forwarded")
        << QStringList{"1|job-canceled-by-user|"} << QStringList{"Q-1:5"} << false
        << QStringList{"printer:Q-1"};
    QTest::newRow("cancel of a job never seen printing is not")
        << QStringList{"1|job-canceled-by-user|"} << QStringList{"Q-1:4"} << false << none;
    QTest::newRow("forward matches the identifier exactly")
        << QStringList{"1|job-canceled-by-user"} << QStringList{"q-1:1", "Q-10:1"} << false << none;
    QTest::newRow("a printing job stopping is kept")
        << QStringList{"1|processing-to-stop-point|Sending data to printer."}
        << QStringList{"Q-1:1"} << false << QStringList{"Q-1:5"};
    QTest::newRow("a stopped job without a message has ended")
        << QStringList{"1|processing-to-stop-point|"} << QStringList{"Q-1:5"} << false << none;
    QTest::newRow("a stopping job never seen printing is not kept")
        << QStringList{"1|processing-to-stop-point|Sending data to printer."} << none << false
        << none;
}

void TestJobList::rule()
{
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, previous);
    QFETCH(bool, offline);
    QFETCH(QStringList, result);
    const JobWatchRule::stPass pass =
        JobWatchRule::Apply(QStringLiteral("Q"), CupsJobs(jobs), Jobs(previous), offline);
    QCOMPARE(Describe(pass), result);
    for (const stJobState& job : pass.listJobs) {
        QCOMPARE(job.iReserved, -1);
    }
}

void TestJobList::watchedIds()
{
    // Only this queue's records count, also when another queue's name extends this one's.
    const QList<stJobState> previous =
        Jobs({"Q-3:1", "Q-10:5", "Q-3:1", "Other-4:1", "Q-1-5:1", "Q-x:1", "Q-0:1"});
    QCOMPARE(JobWatchRule::WatchedIds(QStringLiteral("Q"), previous), (QList<int>{3, 10}));
    QCOMPARE(JobWatchRule::WatchedIds(QStringLiteral("Q-1"), previous), QList<int>{5});
}

void TestJobList::offlineRule_data()
{
    QTest::addColumn<int>("connectType");
    QTest::addColumn<int>("workerStatus");
    QTest::addColumn<int>("sharedStatus");
    QTest::addColumn<bool>("fires");

    QTest::newRow("usb gone, was 4") << 1 << 2 << 4 << true;
    QTest::newRow("usb gone, was 3") << 1 << 2 << 3 << true;
    QTest::newRow("usb gone, was 0") << 1 << 2 << 0 << true;
    QTest::newRow("usb gone, was already gone") << 1 << 2 << 2 << false;
    QTest::newRow("usb answering") << 1 << 4 << 4 << false;
    for (int shared : {0, 1, 2, 3, 12}) {
        QTest::newRow(qPrintable(QStringLiteral("network gone, was %1").arg(shared)))
            << 2 << 2 << shared << false;
    }
    for (int shared : {4, 5, 6, 8, 11}) {
        QTest::newRow(qPrintable(QStringLiteral("network gone, was %1").arg(shared)))
            << 2 << 2 << shared << true;
    }
    QTest::newRow("undetermined type counts as network, was 4") << 0 << 2 << 4 << true;
    QTest::newRow("undetermined type counts as network, was 3") << 0 << 2 << 3 << false;
    QTest::newRow("network answering") << 2 << 4 << 5 << false;
}

void TestJobList::offlineRule()
{
    QFETCH(int, connectType);
    QFETCH(int, workerStatus);
    QFETCH(int, sharedStatus);
    QFETCH(bool, fires);
    QCOMPARE(OfflineCancelRule::Fires(connectType, workerStatus, sharedStatus), fires);
}

QTEST_APPLESS_MAIN(TestJobList)
#include "test_joblist.moc"
