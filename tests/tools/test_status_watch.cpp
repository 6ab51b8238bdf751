// orvo-status --watch piped, as the demo and scripts use it, against the real service and a
// simulated network printer: the starting state once, then one line per change, nothing while
// only the heartbeat beats, and every printer unknown once the service stops.

#include "tests/replies/ReplyBuilder.h"
#include "tests/support/TestEnv.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString c_strQueue = QStringLiteral("Office");
const QString c_strAddress = QStringLiteral("127.0.0.2");

QByteArray Reply(quint8 statusCode, const QVector<quint16>& errors1)
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7040DN")
        .setStatusCode(statusCode)
        .setErrorCodes1(errors1)
        .addSupplyValue(0x1000, 80, 2)
        .build();
}

} // namespace

class TestStatusWatch : public QObject
{
    Q_OBJECT

private slots:
    void pipedWatchTellsChanges();

private:
    // The lines the watcher printed so far, without their time of day.
    QStringList Lines()
    {
        m_baOut += m_pWatch->readAllStandardOutput();
        static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        QStringList lines;
        for (const QString& line : QString::fromUtf8(m_baOut).split(QLatin1Char('\n'))) {
            if (time.match(line).hasMatch()) {
                lines << line.mid(9);
            } else if (!line.isEmpty()) {
                lines << QStringLiteral("<not a change line> ") + line;
            }
        }
        return lines;
    }
    bool WaitForLine(const QString& line, int ms)
    {
        return m_env.waitFor([&] { return Lines().contains(line); }, ms,
                             QStringLiteral("the line \"%1\" after: %2")
                                 .arg(line, Lines().join(QStringLiteral(" | "))));
    }

    TestEnv m_env;
    QProcess* m_pWatch = nullptr;
    QByteArray m_baOut;
};

void TestStatusWatch::pipedWatchTellsChanges()
{
    const QString control = TestEnv::controlDir() + QStringLiteral("/office.ctl");
    const QString ready = control + QStringLiteral(".ready");
    TESTENV_VERIFY(m_env, m_env.startProcess(QStringLiteral(ORVO_PRINTER_SIM),
                                             {"serve", "--address", c_strAddress, "--reply-hex",
                                              QString::fromLatin1(Reply(1, {}).toHex()),
                                              "--control", control, "--ready", ready},
                                             {}, true));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return TestEnv::fileExists(ready); }, 10000,
                                        QStringLiteral("the printer simulator")));
    TESTENV_VERIFY(m_env,
                   m_env.addQueue(c_strQueue, "socket://" + c_strAddress + ":9100/?snmp=false",
                                  "Orvo Q7040DN"));
    QProcess* service = m_env.startProcess(TestEnv::serviceBinary(), {});
    TESTENV_VERIFY(m_env, service);
    TESTENV_VERIFY(m_env, m_env.waitFor(
                              [&] {
                                  return TestEnv::fileExists(TestEnv::cfgDir() + c_strQueue +
                                                             QStringLiteral(".dat"));
                              },
                              20000, QStringLiteral("the printer's first status file")));

    m_pWatch = m_env.startProcess(QStringLiteral(ORVO_STATUS_BIN), {"--watch"}, {}, true);
    TESTENV_VERIFY(m_env, m_pWatch);
    TESTENV_VERIFY(m_env, WaitForLine(QStringLiteral("Office: ready; toner 80 %"), 10000));
    // The service beats about every 3 s.
    QVERIFY2(QRegularExpression(QStringLiteral("^service: alive - heartbeat [0-3] s ago$"))
                 .match(Lines().first())
                 .hasMatch(),
             qPrintable(Lines().join(QStringLiteral(" | "))));

    // Several heartbeats pass: no line.
    QVERIFY2(TestEnv::holdsFor([&] { return Lines().size() == 2; }, 7000),
             qPrintable(Lines().join(QStringLiteral(" | "))));

    const ToolResult set = m_env.runTool(
        QStringLiteral(ORVO_PRINTER_SIM),
        {"ctl", control, "set-reply-hex " + QString::fromLatin1(Reply(2, {0x1106}).toHex())});
    QVERIFY2(set.ok(), qPrintable(set.describe()));
    TESTENV_VERIFY(m_env,
                   WaitForLine(QStringLiteral("Office: ready -> paper out (0x1106)"), 15000));
    QVERIFY2(Lines().size() == 3, qPrintable(Lines().join(QStringLiteral(" | "))));

    // The service ends: its printers are no longer known, and that is told, not their old state.
    m_env.stopProcess(service);
    TESTENV_VERIFY(m_env, WaitForLine(QStringLiteral("service: alive -> stale"), 20000));
    TESTENV_VERIFY(m_env, WaitForLine(QStringLiteral("Office: paper out (0x1106) -> unknown (the "
                                                     "service is not running)"),
                                      5000));
    QVERIFY2(Lines().size() == 5, qPrintable(Lines().join(QStringLiteral(" | "))));
    m_env.stopProcess(m_pWatch);
}

QTEST_GUILESS_MAIN(TestStatusWatch)
#include "test_status_watch.moc"
