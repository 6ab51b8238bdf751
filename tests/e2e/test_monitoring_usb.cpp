// The real service watching an emulated USB printer: orvo-usb-sim runs orvo-statusd under the
// umockdev preload, the private scheduler has a usb queue for the printer's serial number, and
// the test environment's usb backend keeps the queue's jobs "printing" until they are
// cancelled. The scenarios follow one another in one service run.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <functional>

namespace {
const QString c_strQueue = QStringLiteral("UsbOffice");
const QString c_strSerial = QStringLiteral("AB12345678");

QByteArray Reply(quint8 statusCode, const QByteArray& text)
{
    return ReplyBuilder()
        .setHeader(QByteArray(7, '\0'))
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(statusCode)
        .setStatusText(text)
        .addSupplyValue(0x1000, 80, 2)
        .build();
}
// A USB printer sends the reply without its seven header bytes; the service puts seven zero
// bytes in front, and that is what the status file holds.
QByteArray UsbData(const QByteArray& reply)
{
    return reply.mid(7);
}
QByteArray StatusFileOf(const QByteArray& reply)
{
    return QByteArray(7, '\0') + UsbData(reply);
}
} // namespace

class TestMonitoringUsb : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QString m_strControl;
    QProcess* m_service = nullptr;
    const QByteArray m_replyReady = Reply(1, "Ready");
    const QByteArray m_replyWarming = Reply(2, "Warming up");
    QElapsedTimer m_goneSince; // since the status file went

    static QString StatusFile() { return TestEnv::cfgDir() + c_strQueue + QStringLiteral(".dat"); }
    QByteArray StatusFileContent() const
    {
        bool ok = false;
        const QByteArray data = TestEnv::readFile(StatusFile(), &ok);
        return ok ? data : QByteArray("<missing>");
    }
    QString Ctl(const QStringList& command) const
    {
        return m_env.usbSimCtl(QStringLiteral(ORVO_USB_SIM), m_strControl, command);
    }
    int Count(const QString& what) const
    {
        return m_env.usbSimCount(QStringLiteral(ORVO_USB_SIM), m_strControl, what);
    }
    // Waits for `n` more status requests: each one starts a new iteration of the worker, so
    // two of them frame at least one complete job watch and write-back.
    bool WaitForPolls(int n, int ms)
    {
        const int target = Count("status") + n;
        return m_env.waitFor([&] { return Count("status") >= target; }, ms,
                             QStringLiteral("%1 more status requests").arg(n));
    }
    bool WaitForAlert(const QString& job, const QString& alert, int ms)
    {
        return m_env.waitForJobAlert(c_strQueue, job, alert, ms);
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void replyReachesStatusFile();
    void userCancelReachesPrinterOnce();
    void otherFailuresKeepStateUnopenableCancelsJob();
    void jobStaysWhilePrinterStaysGone();
};

void TestMonitoringUsb::initTestCase()
{
    TESTENV_VERIFY(m_env, m_env.addQueue(c_strQueue,
                                         QStringLiteral("usb://Orvo/Q7020DN?serial=") + c_strSerial,
                                         QStringLiteral("Orvo Q7020DN")));
    m_strControl = TestEnv::controlDir() + QStringLiteral("/usb-monitoring.ctl");
    QStringList args{"--control", m_strControl,
                     "--device",  "Q7020DN:" + c_strSerial,
                     "--reply",   QString::fromLatin1(UsbData(m_replyReady).toHex())};
    m_service = m_env.startServiceUnderUsbSim(QStringLiteral(ORVO_USB_SIM), args);
    TESTENV_VERIFY(m_env, m_service);
}

void TestMonitoringUsb::cleanupTestCase()
{
    m_env.cancelAllJobs(c_strQueue);
    if (m_service) {
        m_env.stopProcess(m_service);
    }
}

void TestMonitoringUsb::replyReachesStatusFile()
{
    // Discovery, the new worker and its first poll.
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent() == StatusFileOf(m_replyReady); }, 20000,
                           "the first reply in the status file"),
             StatusFileContent().toHex().constData());
    QCOMPARE(Ctl({"set-reply", "0", QString::fromLatin1(UsbData(m_replyWarming).toHex())}),
             QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent() == StatusFileOf(m_replyWarming); },
                           5000, "the changed reply in the status file"),
             StatusFileContent().toHex().constData());
}

void TestMonitoringUsb::userCancelReachesPrinterOnce()
{
    QCOMPARE(Ctl({"reset-count", "0"}), QStringLiteral("ok"));
    const QString printing = m_env.submitRawJob(c_strQueue, "first job\n");
    const QString pending = m_env.submitRawJob(c_strQueue, "second job\n");
    TESTENV_VERIFY(m_env, !printing.isEmpty() && !pending.isEmpty());
    TESTENV_VERIFY(m_env, WaitForAlert(printing, "job-printing", 10000));
    TESTENV_VERIFY(m_env, WaitForPolls(2, 8000)); // the worker has seen it printing

    // A job that never printed: its cancel stays in CUPS.
    TESTENV_VERIFY(m_env, m_env.cancelJob(pending));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return !m_env.jobIds(c_strQueue).contains(pending); },
                                        5000, "the pending job cancelled"));
    TESTENV_VERIFY(m_env, WaitForPolls(2, 8000));
    QCOMPARE(Count("cancel"), 0);

    // The printing job, cancelled by its owner: the printer is told once.
    TESTENV_VERIFY(m_env, m_env.cancelJob(printing));
    QVERIFY2(m_env.waitFor([&] { return Count("cancel") >= 1; }, 5000, "a cancel request"),
             qPrintable(m_env.lastError()));
    TESTENV_VERIFY(m_env, WaitForPolls(2, 8000));
    QCOMPARE(Count("cancel"), 1);
    if (TestEnv::serviceLogOn()) {
        QCOMPARE(TestEnv::serviceLogCount("Cancel printer job:" + c_strQueue), 1);
    }
}

void TestMonitoringUsb::otherFailuresKeepStateUnopenableCancelsJob()
{
    const QString job = m_env.submitRawJob(c_strQueue, "third job\n");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    TESTENV_VERIFY(m_env, WaitForAlert(job, "job-printing", 10000));
    TESTENV_VERIFY(m_env, WaitForPolls(2, 8000));

    // The interface cannot be claimed: a failure that keeps the last state and its file.
    const QByteArray before = StatusFileContent();
    QCOMPARE(before, StatusFileOf(m_replyWarming));
    QCOMPARE(Ctl({"claim-fail", "0", "on"}), QStringLiteral("ok"));
    QVERIFY(TestEnv::holdsFor(
        [&] { return StatusFileContent() == before && m_env.isPrinting(c_strQueue); },
        3500)); // more than two iterations

    // The device cannot be opened any more: unreachable at the first failed poll. The state
    // written back before was still the printer's own (not 2), so its job is cancelled.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Ctl({"open-fail", "0", "on"}), QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return !TestEnv::fileExists(StatusFile()); }, 4000,
                           "the status file removed"),
             qPrintable(m_env.lastError()));
    m_goneSince.start();
    QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(m_env.waitFor([&] { return !m_env.jobIds(c_strQueue).contains(job); }, 3000,
                           "the job cancelled in CUPS"),
             qPrintable(m_env.lastError()));
    if (TestEnv::serviceLogOn()) {
        QVERIFY(TestEnv::serviceLogCount("offline cancel cups job:" + c_strQueue) >= 1);
    }
}

void TestMonitoringUsb::jobStaysWhilePrinterStaysGone()
{
    // Still unopenable. Every pass of the iteration that found it so cancels the printing
    // job; once that iteration has written back 2 (1.5 s of passes at the USB pace, with
    // room for slow tool runs), a new job is left alone.
    QVERIFY(m_goneSince.isValid());
    QVERIFY(m_env.waitFor([&] { return m_goneSince.elapsed() > 3000; }, 5000,
                          "the end of the iteration that found the printer gone"));
    const QString job = m_env.submitRawJob(c_strQueue, "fourth job\n");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    TESTENV_VERIFY(m_env, WaitForAlert(job, "job-printing", 10000));
    QVERIFY(TestEnv::holdsFor(
        [&] {
            return m_env.jobIds(c_strQueue).contains(job) && !TestEnv::fileExists(StatusFile());
        },
        4000));

    // It opens again: the next poll publishes the reply.
    QCOMPARE(Ctl({"open-fail", "0", "off"}), QStringLiteral("ok"));
    QCOMPARE(Ctl({"claim-fail", "0", "off"}), QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return StatusFileContent() == StatusFileOf(m_replyWarming); },
                           5000, "the status file back"),
             StatusFileContent().toHex().constData());
    QVERIFY(m_env.jobIds(c_strQueue).contains(job));
}

QTEST_GUILESS_MAIN(TestMonitoringUsb)
#include "test_monitoring_usb.moc"
