#include "CupsTool.h"
#include "JobListParser.h"
#include "OfflineCancelRule.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Job lists are written as "ID:STATUS", actions as "offline:ID" and "printer:ID", so a table
// row reads like the listing it describes.
namespace {
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

QStringList Describe(const QList<stJobState>& jobs)
{
    QStringList out;
    for (const stJobState& job : jobs)
        out << QStringLiteral("%1:%2").arg(job.strJobID).arg(job.iStatus);
    return out;
}

QStringList Describe(const QList<JobListParser::stAction>& actions)
{
    QStringList out;
    for (const JobListParser::stAction& action : actions)
        out << (action.eAction == JobListParser::ACTION_OFFLINE_CANCEL
                    ? QStringLiteral("offline:")
                    : QStringLiteral("printer:")) +
                   action.strJobID;
    return out;
}

const QString c_strShellQueue = QStringLiteral("q$(touch${IFS}$ORVO_TESTENV_DIR${PWD:0:1}pwned)");
} // namespace

class TestJobList : public QObject
{
    Q_OBJECT
private slots:
    void capturedListing_data();
    void capturedListing();
    void constructedListing_data();
    void constructedListing();
    void storedRecordsAreWhole();
    void offlineRule_data();
    void offlineRule();
};

void TestJobList::capturedListing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("previous");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QStringList>("actions");

    const QStringList none;
    for (const QString& locale : {QStringLiteral("C"), QStringLiteral("zh_CN")}) {
        auto row = [&](const char* name, const QString& base) -> QTestData& {
            return QTest::newRow(
                       qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(name), locale)))
                   << QStringLiteral("%1.%2.txt").arg(base, locale);
        };
        // The short one-line forms that -u prints first carry no detail lines: they store
        // nothing, though Office-3 prints.
        row("printing job stored, pending and ended ones not", "printing-and-pending")
            << none << false << QStringList{"Office-3:1"} << none;
        row("printing job still printing: nothing to forward", "printing-and-pending")
            << QStringList{"Office-3:1"} << false << QStringList{"Office-3:1"} << none;
        row("job cancelled by the user after it was seen printing", "printing-and-pending")
            << QStringList{"Office-2:1"} << false << QStringList{"Office-3:1"}
            << QStringList{"printer:Office-2"};
        row("printer gone: the printing job is cancelled, not stored", "printing-and-pending")
            << QStringList{"Office-3:1"} << true << none << QStringList{"offline:Office-3"};
        row("all ended: the job seen printing was cancelled", "all-ended")
            << QStringList{"Office-3:1"} << false << none << QStringList{"printer:Office-3"};
        row("jobs seen printing that ended otherwise forward nothing", "all-ended")
            << QStringList{"Office-4:1", "Floor2-5:1"} << false << none << none;
        row("only a printing record counts as seen printing", "all-ended")
            << QStringList{"Office-3:4"} << false << none << none;
        row("other user: no short form, same jobs", "other-user")
            << none << false << QStringList{"Office-3:1"} << none;
        row("jobs printing on other queues are not this queue's", "other-queue")
            << QStringList{"Floor2-2:1"} << false << none << none;
        row("queue name with shell characters", "shell-name")
            << none << false << QStringList{c_strShellQueue + "-3:1"} << none;
        row("non-ASCII queue: lpstat prints no long form", "non-ascii")
            << none << false << none << none;
        row("unknown queue", "unknown-queue") << none << true << none << none;
    }
    // A user's cancel as the next pass may meet it: the cancelled job is stopping.
    QTest::newRow("stopping after the user's cancel C")
        << "stopping.C.txt" << QStringList{"Office-2:1"} << false << QStringList{"Office-2:5"}
        << none;
    QTest::newRow("stopping after the user's cancel zh_CN")
        << "stopping.zh_CN.txt" << QStringList{"Office-3:1"} << false << QStringList{"Office-3:5"}
        << none;
    QTest::newRow("still stopping C") << "stopping.C.txt" << QStringList{"Office-2:5"} << false
                                      << QStringList{"Office-2:5"} << none;
    QTest::newRow("stopping, never seen printing C")
        << "stopping.C.txt" << none << false << none << none;
    QTest::newRow("cancel after stopping is forwarded C")
        << "all-ended.C.txt" << QStringList{"Office-3:5"} << false << none
        << QStringList{"printer:Office-3"};
}

void TestJobList::capturedListing()
{
    QFETCH(QString, file);
    QFETCH(QStringList, previous);
    QFETCH(bool, offline);
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, actions);

    // Read the way the worker reads the tool's output file.
    QTemporaryDir dir;
    const QString copy = dir.filePath("printjob_0.tmp");
    QVERIFY(QFile::copy(QStringLiteral(ORVO_TEST_DATA_DIR "/lpstat-jobs/") + file, copy));
    bool opened = false;
    const QStringList lines = CupsTool::ReadAndRemove(copy, &opened);
    QVERIFY(opened);
    QVERIFY(!lines.isEmpty());

    const JobListParser::stPass pass = JobListParser::Parse(lines, Jobs(previous), offline);
    QCOMPARE(Describe(pass.listJobs), jobs);
    QCOMPARE(Describe(pass.listActions), actions);
}

void TestJobList::constructedListing_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("previous");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<QStringList>("actions");

    const QStringList none;
    const QString job1 = QStringLiteral(
        "Q-1                     root              1024   Mon Dec  7 23:43:22 2026\n");
    const QString job2 = QStringLiteral(
        "Q-2                     root              1024   Mon Dec  7 23:44:01 2026\n");
    QTest::newRow("empty listing") << none << QStringList{"Q-1:1"} << true << none << none;
    QTest::newRow("other alerts while processing: printing")
        << QStringList{job1, "\tStatus: Processing page 1\n", "\tAlerts: media-empty-warning\n"}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("other alerts while not processing: not printing")
        << QStringList{job1, "\tStatus: Waiting for printer\n", "\tAlerts: media-empty-warning\n"}
        << none << false << none << none;
    QTest::newRow("processing-to-stop-point while processing")
        << QStringList{job1, "\tStatus: Processing\n", "\tAlerts: processing-to-stop-point\n"}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("pending job without a status line")
        << QStringList{job1, "\tAlerts: none\n", "\tqueued for Q\n"} << none << false << none
        << none;
    QTest::newRow("the next job line clears the processing mark")
        << QStringList{job1, "\tStatus: Processing\n", "\tAlerts: job-hold-until-specified\n", job2,
                       "\tAlerts: job-hold-until-specified\n"}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("three words or fewer start no job")
        << QStringList{job1, "\tStatus: Processing\n", "Q-2 root 1024\n",
                       "\tAlerts: job-printing\n"}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("a short line keeps the processing mark")
        << QStringList{job1, "\tStatus: Processing\n", "lpstat: note\n",
                       "\tAlerts: media-jam-error\n"}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("detail lines before any job act on an empty identifier")
        << QStringList{"\tAlerts: job-printing\n"} << none << false << QStringList{":1"} << none;
    QTest::newRow("zh_CN detail lines with a full-width colon")
        << QStringList{job1, QString::fromUtf8("\t状态：Processing\n"),
                       QString::fromUtf8("\t警告：media-jam-error\n")}
        << none << false << QStringList{"Q-1:1"} << none;
    QTest::newRow("zh_CN canceled job forwards like the English one")
        << QStringList{job1, QString::fromUtf8("\t状态：\n"),
                       QString::fromUtf8("\t警告：job-canceled-by-user\n")}
        << QStringList{"Q-1:1"} << false << none << QStringList{"printer:Q-1"};
    QTest::newRow("alert keywords are matched with letter case")
        << QStringList{job1, "\tAlerts: JOB-PRINTING\n"} << none << false << none << none;
    QTest::newRow("status keyword is matched with letter case")
        << QStringList{job1, "\tstatus: Processing\n", "\tAlerts: media-jam-error\n"} << none
        << false << none << none;
    QTest::newRow("\"none\" is tested first")
        << QStringList{job1, "\tAlerts: none job-printing\n"} << none << false << none << none;
    QTest::newRow("detail lines indented with spaces are no detail lines")
        << QStringList{job1, "        Alerts: job-printing\n"} << none << false << none << none;
    QTest::newRow("one cancel per printing line while offline")
        << QStringList{job1, "\tAlerts: job-printing\n", job2, "\tAlerts: job-printing\n"}
        << QStringList{"Q-1:1"} << true << none << QStringList{"offline:Q-1", "offline:Q-2"};
    QTest::newRow("offline: processing jobs with other alerts are kept")
        << QStringList{job1, "\tStatus: Processing\n", "\tAlerts: media-jam-error\n"} << none
        << true << QStringList{"Q-1:1"} << none;
    QTest::newRow("forward matches the identifier exactly")
        << QStringList{job1, "\tAlerts: job-canceled-by-user\n"} << QStringList{"q-1:1", "Q-10:1"}
        << false << none << none;
    QTest::newRow("a printing job stopping is kept")
        << QStringList{job1, "\tStatus: Sending data to printer.\n",
                       "\tAlerts: processing-to-stop-point\n"}
        << QStringList{"Q-1:1"} << false << QStringList{"Q-1:5"} << none;
    QTest::newRow("zh_CN: a printing job stopping is kept")
        << QStringList{job1, QString::fromUtf8("\t状态：Sending data to printer.\n"),
                       QString::fromUtf8("\t警告：processing-to-stop-point\n")}
        << QStringList{"Q-1:1"} << false << QStringList{"Q-1:5"} << none;
    QTest::newRow("a stopped job without a message has ended")
        << QStringList{job1, "\tStatus: \n", "\tAlerts: processing-to-stop-point\n"}
        << QStringList{"Q-1:5"} << false << none << none;
    QTest::newRow("zh_CN: a stopped job without a message has ended")
        << QStringList{job1, QString::fromUtf8("\t状态：\n"),
                       QString::fromUtf8("\t警告：processing-to-stop-point\n")}
        << QStringList{"Q-1:1"} << false << none << none;
    QTest::newRow("a stopping job never seen printing is not kept")
        << QStringList{job1, "\tStatus: Sending data to printer.\n",
                       "\tAlerts: processing-to-stop-point\n"}
        << none << false << none << none;
    QTest::newRow("the message belongs to its own job")
        << QStringList{job2, "\tStatus: Sending data to printer.\n", "\tAlerts: none\n", job1,
                       "\tAlerts: processing-to-stop-point\n"}
        << QStringList{"Q-1:1"} << false << none << none;
    QTest::newRow("forward once per listed cancel")
        << QStringList{job1, "\tAlerts: job-canceled-by-user\n", job1,
                       "\tAlerts: job-canceled-by-user\n"}
        << QStringList{"Q-1:1"} << false << none << QStringList{"printer:Q-1", "printer:Q-1"};
}

void TestJobList::constructedListing()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, previous);
    QFETCH(bool, offline);
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, actions);

    const JobListParser::stPass pass = JobListParser::Parse(lines, Jobs(previous), offline);
    QCOMPARE(Describe(pass.listJobs), jobs);
    QCOMPARE(Describe(pass.listActions), actions);
}

void TestJobList::storedRecordsAreWhole()
{
    const JobListParser::stPass pass = JobListParser::Parse(
        {"A-7 root 1024 Mon Dec  7 23:43:22 2026\n", "\tAlerts: job-printing\n"}, {}, false);
    QCOMPARE(pass.listJobs.size(), 1);
    QCOMPARE(pass.listJobs.at(0).strJobID, QStringLiteral("A-7"));
    QCOMPARE(pass.listJobs.at(0).iStatus, int(JobListParser::JOB_PRINTING));
    QCOMPARE(pass.listJobs.at(0).iReserved, -1);
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
    for (int shared : {0, 1, 2, 3, 12})
        QTest::newRow(qPrintable(QStringLiteral("network gone, was %1").arg(shared)))
            << 2 << 2 << shared << false;
    for (int shared : {4, 5, 6, 8, 11})
        QTest::newRow(qPrintable(QStringLiteral("network gone, was %1").arg(shared)))
            << 2 << 2 << shared << true;
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

QTEST_GUILESS_MAIN(TestJobList)
#include "test_joblist.moc"
