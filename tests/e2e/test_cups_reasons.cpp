// The printer's condition in CUPS: the real service, a simulated network printer and the
// private cupsd. What the printer reports must show in the queue's printer-state-reasons and
// printer-state-message (Get-Printer-Attributes) within one iteration, reasons set by someone
// else must survive, and nothing of ours may stay once the service has ended.

#include "tests/support/TestEnv.h"

#include "service/CupsClient.h"
#include "tests/replies/ReplyBuilder.h"

#include <QProcess>
#include <QtTest>

namespace {
const QString c_strQueue = QStringLiteral("Office");
const QString c_strAddress = QStringLiteral("127.0.0.2");
const QString c_strControl = QStringLiteral("/office.ctl");
const QStringList c_listOwn = {"media-empty-error", "media-jam-error",   "cover-open-error",
                               "toner-empty-error", "toner-low-warning", "other-error",
                               "other-warning",     "offline-report"};

QByteArray Reply(quint8 statusCode, const QVector<quint16>& errors1 = {},
                 const QVector<quint16>& errors2 = {}, quint64 toner = 55)
{
    return ReplyBuilder()
        .setHeader(QByteArray::fromHex("a5003050e07408"))
        .setInfo1("Orvo Q7040DN")
        .setStatusCode(statusCode)
        .setErrorCodes1(errors1)
        .setErrorCodes2(errors2)
        .addSupplyValue(0x1000, toner, 2)
        .build();
}
} // namespace

class TestCupsReasons : public QObject
{
    Q_OBJECT

private:
    TestEnv m_env;
    QProcess* m_service = nullptr;

    QString Ctl(const QString& command) const
    {
        const ToolResult result =
            m_env.runTool(QStringLiteral(ORVO_PRINTER_SIM),
                          {"ctl", TestEnv::controlDir() + c_strControl, command}, 5000);
        return result.ok() ? result.out().trimmed() : QStringLiteral("error: ") + result.describe();
    }
    // "reasons | message" as Get-Printer-Attributes gives them now.
    static QString Shown()
    {
        CupsClient cups;
        QStringList reasons;
        QString message;
        if (cups.GetStateReasons(c_strQueue, reasons, message) != CupsClient::CHANGE_DONE) {
            return QStringLiteral("<no answer>");
        }
        reasons.sort();
        return reasons.join(QLatin1Char(' ')) + QStringLiteral(" | ") + message;
    }
    static bool CarriesOwn()
    {
        for (const QString& own : c_listOwn) {
            if (Shown().section(QLatin1Char('|'), 0, 0).split(QLatin1Char(' ')).contains(own)) {
                return true;
            }
        }
        return false;
    }
    bool WaitShown(const QString& expected, int ms)
    {
        return m_env.waitFor(
            [&] { return Shown() == expected; }, ms,
            QStringLiteral("\"%1\" in CUPS, shown: \"%2\"").arg(expected, Shown()));
    }
    bool StartService()
    {
        m_service = m_env.startProcess(TestEnv::serviceBinary(), {});
        return m_service != nullptr;
    }

private slots:
    void initTestCase();
    void conditions_data();
    void conditions();
    void othersReasonsSurvive();
    void stopTakesBack_data();
    void stopTakesBack();
};

void TestCupsReasons::initTestCase()
{
    const QString ready = TestEnv::controlDir() + c_strControl + ".ready";
    QProcess* sim = m_env.startProcess(QStringLiteral(ORVO_PRINTER_SIM),
                                       {"serve", "--address", c_strAddress, "--reply-hex",
                                        QString::fromLatin1(Reply(1).toHex()), "--control",
                                        TestEnv::controlDir() + c_strControl, "--ready", ready},
                                       {}, true);
    TESTENV_VERIFY(m_env, sim && m_env.waitFor([&] { return TestEnv::fileExists(ready); }, 10000,
                                               "the simulator"));
    TESTENV_VERIFY(m_env,
                   m_env.addQueue(c_strQueue, "socket://" + c_strAddress + ":9100/?snmp=false",
                                  "Orvo Q7040DN"));
    TESTENV_VERIFY(m_env, StartService());
    // A new entry's first iteration runs its job watch a second apart; from the second poll on
    // the printer is asked every second.
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return Ctl("count").startsWith("requests 2"); },
                                        20000, "the second poll"));
}

void TestCupsReasons::conditions_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("withinMs");
    // One iteration of a printer polled every second, and the margin of a loaded machine.
    constexpr int ITERATION = 4000;
    const auto set = [](const QByteArray& reply) {
        return QStringLiteral("set-reply-hex ") + QString::fromLatin1(reply.toHex());
    };
    QTest::newRow("paper out") << set(Reply(3, {0x1106}))
                               << QStringLiteral("media-empty-error | Paper out") << ITERATION;
    QTest::newRow("jam") << set(Reply(3, {0x110D})) << QStringLiteral("media-jam-error | Paper jam")
                         << ITERATION;
    QTest::newRow("cover open and toner low")
        << set(Reply(3, {0x110F}, {0x11A0}, 4))
        << QStringLiteral("cover-open-error toner-low-warning | Cover open, toner low (4 %)")
        << ITERATION;
    QTest::newRow("toner low") << set(Reply(2, {}, {0x11A0}, 4))
                               << QStringLiteral("toner-low-warning | Toner low (4 %)")
                               << ITERATION;
    QTest::newRow("unnamed codes") << set(Reply(3, {0x1200}, {0x1300}))
                                   << QStringLiteral("other-error other-warning | Printer error "
                                                     "0x1200, printer warning 0x1300")
                                   << ITERATION;
    QTest::newRow("cleared") << set(Reply(1)) << QStringLiteral(" | ") << ITERATION;
    // Given up on after six unanswered polls, each waiting 2 s for its answer, a second apart.
    QTest::newRow("unreachable") << QStringLiteral("silent")
                                 << QStringLiteral("offline-report | Not answering")
                                 << 6 * 3000 + ITERATION;
    // An unreachable printer is asked every 10 s.
    QTest::newRow("back") << QStringLiteral("answer") << QStringLiteral(" | ") << 12000 + ITERATION;
}

void TestCupsReasons::conditions()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);
    QFETCH(int, withinMs);
    QCOMPARE(Ctl(command), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitShown(expected, withinMs));
}

void TestCupsReasons::othersReasonsSurvive()
{
    // The iteration after an unreachable printer answered again still runs at the 10 s pace.
    QCOMPARE(Ctl("reset-count"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, m_env.waitFor([&] { return Ctl("count").startsWith("requests 2"); },
                                        15000, "the printer asked every second again"));
    // cupsdisable is the scheduler's own "paused"; a reason the service knows nothing of is
    // set by a direct request, as a backend or another program would.
    TESTENV_VERIFY(m_env, m_env.runTool("cupsdisable", {c_strQueue}).ok());
    CupsClient cups;
    QStringList reasons;
    QString message;
    QCOMPARE(cups.GetStateReasons(c_strQueue, reasons, message), CupsClient::CHANGE_DONE);
    QCOMPARE(
        cups.SetStateReasons(c_strQueue, reasons << "marker-waste-almost-full-warning", QString()),
        CupsClient::CHANGE_DONE);
    QCOMPARE(Ctl("set-reply-hex " + Reply(3, {0x1106}).toHex()), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitShown("marker-waste-almost-full-warning media-empty-error paused | "
                                    "Paper out",
                                    4000));
    QCOMPARE(Ctl("set-reply-hex " + Reply(1).toHex()), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, WaitShown("marker-waste-almost-full-warning paused | ", 4000));
    TESTENV_VERIFY(m_env, m_env.runTool("cupsenable", {c_strQueue}).ok());
}

void TestCupsReasons::stopTakesBack_data()
{
    QTest::addColumn<bool>("kill");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("kill, then a new start") << true;
}

void TestCupsReasons::stopTakesBack()
{
    QFETCH(bool, kill);
    QCOMPARE(Ctl("set-reply-hex " + Reply(3, {0x110D}).toHex()), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env,
                   WaitShown("marker-waste-almost-full-warning media-jam-error | Paper jam", 4000));
    if (!kill) {
        QCOMPARE(m_env.stopProcess(m_service), 0);
        QCOMPARE(Shown(), QStringLiteral("marker-waste-almost-full-warning | "));
        TESTENV_VERIFY(m_env, StartService());
        return;
    }
    m_service->kill();
    QVERIFY(m_service->waitForFinished(5000));
    QVERIFY(CarriesOwn());
    // Silent: whatever clears the leftovers is the start, not a reply.
    QCOMPARE(Ctl("silent"), QStringLiteral("ok"));
    TESTENV_VERIFY(m_env, StartService());
    TESTENV_VERIFY(m_env, WaitShown("marker-waste-almost-full-warning | ", 5000));
    QCOMPARE(m_env.stopProcess(m_service), 0);
}

QTEST_GUILESS_MAIN(TestCupsReasons)
#include "test_cups_reasons.moc"
