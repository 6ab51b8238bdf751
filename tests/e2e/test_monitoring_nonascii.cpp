// The job watch of a USB printer whose queue name is not ASCII. The CUPS tools list no job of
// such a queue, so this watch was blind; now the owner's cancel reaches the printer and the
// offline rule cancels the queue's jobs, as for any other name. The real service runs under
// orvo-usb-sim, as in test_monitoring_usb.

#include "tests/support/TestEnv.h"

#include "tests/replies/ReplyBuilder.h"

#include <QtTest>

namespace {
const QString c_strQueue = QString::fromUtf8("Büro-打印机");
const QString c_strSerial = QStringLiteral("NA12345678");

QByteArray UsbData()
{
    return ReplyBuilder()
        .setHeader(QByteArray(7, '\0'))
        .setInfo1("Orvo Q7020DN")
        .setStatusCode(1)
        .setStatusText("Ready")
        .build()
        .mid(7);
}
} // namespace

class TestMonitoringNonAscii : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QString m_strControl;
    QProcess* m_service = nullptr;

    QString Ctl(const QStringList& command) const
    {
        return m_env.usbSimCtl(QStringLiteral(ORVO_USB_SIM), m_strControl, command);
    }
    int Count(const QString& what) const
    {
        return m_env.usbSimCount(QStringLiteral(ORVO_USB_SIM), m_strControl, what);
    }
    // Two more status requests frame at least one whole iteration with its job watch.
    bool WaitForIteration()
    {
        const int target = Count("status") + 2;
        return m_env.waitFor([&] { return Count("status") >= target; }, 8000,
                             QStringLiteral("two more status requests"));
    }
    QString PrintingJob(const QByteArray& data)
    {
        const QString job = m_env.submitRawJob(c_strQueue, data);
        if (job.isEmpty() ||
            !m_env.waitFor([&] { return m_env.isPrinting(c_strQueue); }, 10000, "printing") ||
            !WaitForIteration()) {
            return QString();
        }
        return job;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void userCancelReachesPrinter();
    void offlineCancelsJobs();
};

void TestMonitoringNonAscii::initTestCase()
{
    TESTENV_VERIFY(m_env, m_env.addQueue(c_strQueue, "usb://Orvo/Q7020DN?serial=" + c_strSerial,
                                         QStringLiteral("Orvo Q7020DN")));
    m_strControl = TestEnv::controlDir() + QStringLiteral("/usb-nonascii.ctl");
    m_service = m_env.startServiceUnderUsbSim(QStringLiteral(ORVO_USB_SIM),
                                              {"--control", m_strControl, "--device",
                                               "Q7020DN:" + c_strSerial, "--reply",
                                               QString::fromLatin1(UsbData().toHex())});
    TESTENV_VERIFY(m_env, m_service);
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [] {
                                  return TestEnv::fileExists(TestEnv::cfgDir() + c_strQueue +
                                                             QStringLiteral(".dat"));
                              },
                              20000, "the status file"));
}

void TestMonitoringNonAscii::cleanupTestCase()
{
    m_env.cancelAllJobs(c_strQueue);
    if (m_service) {
        m_env.stopProcess(m_service);
    }
}

void TestMonitoringNonAscii::userCancelReachesPrinter()
{
    QCOMPARE(Ctl({"reset-count", "0"}), QStringLiteral("ok"));
    const QString job = PrintingJob("first job\n");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    TESTENV_VERIFY(m_env, m_env.cancelJob(job));
    QVERIFY2(m_env.waitFor([&] { return Count("cancel") >= 1; }, 5000, "a cancel request"),
             qPrintable(m_env.lastError()));
    TESTENV_VERIFY(m_env, WaitForIteration());
    QCOMPARE(Count("cancel"), 1);
}

void TestMonitoringNonAscii::offlineCancelsJobs()
{
    const QString job = PrintingJob("second job\n");
    TESTENV_VERIFY(m_env, !job.isEmpty());
    // The printer can no longer be opened: given up, and its printing job cancelled in CUPS.
    QCOMPARE(Ctl({"open-fail", "0", "on"}), QStringLiteral("ok"));
    QVERIFY2(m_env.waitFor([&] { return !m_env.jobIds(c_strQueue).contains(job); }, 6000,
                           "the job cancelled in CUPS"),
             qPrintable(m_env.lastError()));
    if (TestEnv::serviceLogOn()) {
        QVERIFY(TestEnv::serviceLogCount("offline cancel cups job:" + c_strQueue) >= 1);
    }
}

QTEST_GUILESS_MAIN(TestMonitoringNonAscii)
#include "test_monitoring_nonascii.moc"
