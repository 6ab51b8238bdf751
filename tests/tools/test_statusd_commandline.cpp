// orvo-statusd's command line: it takes no arguments, so --help, --version and mistakes must be
// answered without starting the service, and a user other than root is refused at once.

#include "generated/OrvoVersion.h"

#include <QProcess>
#include <QtTest>

class TestStatusdCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestStatusdCommandLine::answers_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("stdOut"); // start of standard output
    QTest::addColumn<QByteArray>("stdErr"); // all of standard error

    QTest::newRow("--help") << QStringList{"--help"} << false << 0
                            << QByteArray("Usage: orvo-statusd [--help | --version]\n")
                            << QByteArray();
    QTest::newRow("--version") << QStringList{"--version"} << false << 0
                               << QByteArray("orvo-statusd " ORVO_VERSION "\n") << QByteArray();
    QTest::newRow("unknown option")
        << QStringList{"--frobnicate"} << false << 2 << QByteArray()
        << QByteArray("orvo-statusd: unexpected argument '--frobnicate'. Try --help\n");
    QTest::newRow("--help with more") << QStringList{"--help", "now"} << false << 2 << QByteArray()
                                      << QByteArray("orvo-statusd: unexpected argument 'now'. Try "
                                                    "--help\n");
    QTest::newRow("not root") << QStringList() << true << 1 << QByteArray()
                              << QByteArray("orvo-statusd: must run as root (it reads the CUPS "
                                            "PPDs, opens USB printers and writes under "
                                            "/opt/orvo); start it with: sudo systemctl start "
                                            "orvo-statusd\n");
}

void TestStatusdCommandLine::answers()
{
    QFETCH(QStringList, args);
    QFETCH(bool, asNobody);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, stdOut);
    QFETCH(QByteArray, stdErr);

    QProcess process;
    if (asNobody) {
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                  QStringLiteral(ORVO_STATUSD_BIN)} +
                          args);
    } else {
        process.start(QStringLiteral(ORVO_STATUSD_BIN), args);
    }
    // A service that started instead of answering would run until killed.
    QVERIFY2(process.waitForFinished(20000), "orvo-statusd started instead of answering");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(out.startsWith(stdOut), out.constData());
    QCOMPARE(process.readAllStandardError(), stdErr);
}

QTEST_GUILESS_MAIN(TestStatusdCommandLine)
#include "test_statusd_commandline.moc"
