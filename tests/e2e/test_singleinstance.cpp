#include "tests/support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

// The single-instance check of the real binary, in a PID namespace of its own so that "ps -A"
// sees only the processes of this test.
class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void secondCopyReturnsAtOnce();
    void otherProcessesDoNotCount_data();
    void otherProcessesDoNotCount();
    void longNameMatchedOnFirst15();

private:
    // Copies `source` to the control directory under `name`, executable.
    QString CopyAs(const QString& source, const QString& name);
    // Runs the program to its end; returns its exit code, -1 on time-out or crash.
    int RunToEnd(const QString& program, int timeoutMs, qint64* elapsedMs);
    QStringList InstallRootFiles() const;
    TestEnv m_env;
};

void TestSingleInstance::init()
{
    QDir(TestEnv::installRoot()).removeRecursively();
}

QString TestSingleInstance::CopyAs(const QString& source, const QString& name)
{
    const QString target = TestEnv::controlDir() + QLatin1Char('/') + name;
    QFile::remove(target);
    if (!QFile::copy(source, target)) {
        return QString();
    }
    QFile::setPermissions(target,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return target;
}

int TestSingleInstance::RunToEnd(const QString& program, int timeoutMs, qint64* elapsedMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList());
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    *elapsedMs = timer.elapsed();
    if (!process.readAll().isEmpty()) {
        return -2; // a second copy must print nothing at all
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList TestSingleInstance::InstallRootFiles() const
{
    QStringList files;
    QDir root(TestEnv::installRoot());
    for (const QString& dir : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString& file : QDir(root.filePath(dir)).entryList(QDir::Files)) {
            files << dir + QLatin1Char('/') + file;
        }
    }
    return files;
}

void TestSingleInstance::secondCopyReturnsAtOnce()
{
    // The first copy finds no printer and runs its four empty cycles (about 5 s).
    QProcess* first = m_env.startProcess(TestEnv::serviceBinary(), {});
    TESTENV_VERIFY(m_env, first);
    TESTENV_VERIFY(
        m_env, m_env.waitFor([] { return TestEnv::fileExists(TestEnv::cfgDir() + "service.hb"); },
                             5000, "first copy writes its heartbeat"));
    qint64 elapsed = 0;
    QCOMPARE(RunToEnd(TestEnv::serviceBinary(), 10000, &elapsed), 0);
    QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
    QVERIFY(!TestEnv::fileExists(TestEnv::tempDir() + "pslist.tmp"));
    // The first copy is undisturbed: it still runs and ends by itself with status 0.
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(first->waitForFinished(15000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
}

void TestSingleInstance::otherProcessesDoNotCount_data()
{
    QTest::addColumn<QString>("otherName");
    QTest::addColumn<bool>("refused");
    // A process whose command column reads "orvo-statusd" is another instance, whatever it is.
    QTest::newRow("same name") << "orvo-statusd" << true;
    // Passes grep, fails the exact comparison of the command column.
    QTest::newRow("name as prefix") << "orvo-statusd-helper" << false;
    // grep is case-sensitive even though the comparison is not.
    QTest::newRow("other letter case") << "ORVO-STATUSD" << false;
    QTest::newRow("unrelated") << "printerd" << false;
}

void TestSingleInstance::otherProcessesDoNotCount()
{
    QFETCH(QString, otherName);
    QFETCH(bool, refused);
    const QString sleeper = CopyAs(QStringLiteral("/bin/sleep"), otherName);
    QVERIFY(!sleeper.isEmpty());
    QProcess* other = m_env.startProcess(sleeper, {QStringLiteral("60")});
    TESTENV_VERIFY(m_env, other);

    if (refused) {
        qint64 elapsed = 0;
        QCOMPARE(RunToEnd(TestEnv::serviceBinary(), 10000, &elapsed), 0);
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
        // It wrote nothing: only the temp directory the check itself needs exists.
        QCOMPARE(InstallRootFiles(), QStringList());
        QVERIFY(!QDir(TestEnv::cfgDir()).exists());
    } else {
        QProcess* service = m_env.startProcess(TestEnv::serviceBinary(), {});
        TESTENV_VERIFY(m_env, service);
        TESTENV_VERIFY(
            m_env,
            m_env.waitFor([] { return TestEnv::fileExists(TestEnv::cfgDir() + "service.hb"); },
                          5000, "the service starts and writes its heartbeat"));
        QVERIFY(!TestEnv::fileExists(TestEnv::tempDir() + "pslist.tmp"));
        m_env.stopProcess(service);
    }
    m_env.stopProcess(other);
}

void TestSingleInstance::longNameMatchedOnFirst15()
{
    const QString longName = CopyAs(TestEnv::serviceBinary(), "orvo-statusd-with-a-long-name");
    QVERIFY(!longName.isEmpty());
    QProcess* first = m_env.startProcess(longName, {});
    TESTENV_VERIFY(m_env, first);
    TESTENV_VERIFY(
        m_env, m_env.waitFor([] { return TestEnv::fileExists(TestEnv::cfgDir() + "service.hb"); },
                             5000, "first long-named copy writes its heartbeat"));
    qint64 elapsed = 0;
    QCOMPARE(RunToEnd(longName, 10000, &elapsed), 0);
    QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
    QCOMPARE(first->state(), QProcess::Running);
    m_env.stopProcess(first);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
