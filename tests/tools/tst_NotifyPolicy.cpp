// What orvo-status --notify decides to tell, step by step. A step reads
// "<ms> up|down [nolist] [desktop] [QUEUE:KEY,KEY! ...]": the time, whether the service beats,
// whether the desktop announces CUPS' printer-state-reasons itself, and each listed printer with
// its conditions ("!" stops printing). "up" without printers is an empty
// list. An action is "<subject>/<urgency>" or "<subject>/close"; the service is "service";
// "@<ms>" is when the policy wants to look again without a change. A step with "unshown" is one
// whose messages the desktop did not take.
// Then what the messages say of decoded replies: summary, body, icon and category.

#include "tests/tools/DecodedReport.h"
#include "tools/status/NotifyPolicy.h"
#include "tools/status/NotifyWording.h"
#include "tools/status/StatusReader.h"

#include <QtTest>

Q_DECLARE_METATYPE(stPrinterReport)

namespace {

stNotifyInput ParseStep(const QString& step, qint64* nowMs)
{
    const QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    *nowMs = words.value(0).toLongLong();
    stNotifyInput input;
    input.bServiceAlive = words.value(1) == QLatin1String("up");
    input.bListRead = !words.contains(QStringLiteral("nolist"));
    input.bDesktopTellsPrinters = words.contains(QStringLiteral("desktop"));
    for (const QString& word : words.mid(2)) {
        if (!word.contains(QLatin1Char(':'))) {
            continue;
        }
        stNotifyPrinter printer;
        printer.strQueue = word.section(QLatin1Char(':'), 0, 0);
        for (QString key :
             word.section(QLatin1Char(':'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const bool stops = key.endsWith(QLatin1Char('!'));
            key.remove(QLatin1Char('!'));
            printer.listConditions << stNotifyCondition{key, key, key, stops, QString(), QString()};
        }
        input.listPrinters << printer;
    }
    return input;
}

QString Render(const QList<stNotifyAction>& actions)
{
    QStringList out;
    for (const stNotifyAction& action : actions) {
        const QString subject =
            action.strSubject.isEmpty() ? QStringLiteral("service") : action.strSubject;
        out << subject + QLatin1Char('/') +
                   (action.enKind == stNotifyAction::Kind::Close
                        ? QStringLiteral("close")
                        : QString::number(int(action.stMessage.enUrgency)));
    }
    return out.join(QLatin1Char(' '));
}

QString Shown(const stNotifyMessage& message)
{
    return QStringList{message.strSummary, message.strBody, message.strIcon, message.strCategory}
        .join(QLatin1Char('|'));
}

} // namespace

class TestNotifyPolicy : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void wording_data();
    void wording();
};

void TestNotifyPolicy::steps_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("nothing at start when all is well")
        << QStringList{"0 up A: B:"} << QStringList{""};
    QTest::newRow("start state that needs someone")
        << QStringList{"0 up A:paper-out! B:"} << QStringList{"A/2"};
    QTest::newRow("paper out, cleared once it stayed away")
        << QStringList{"0 up A:",     "1000 up A:paper-out!", "2000 up A:paper-out!", "3000 up A:",
                       "21999 up A:", "22000 up A:",          "60000 up A:"}
        << QStringList{"", "A/2", "", "@22000", "@22000", "A/0", ""};
    QTest::newRow("flapping printer")
        << QStringList{"0 up A:jam!",    "1000 up A:", "2000 up A:jam!", "3000 up A:",
                       "4000 up A:jam!", "5000 up A:", "23999 up A:",    "24000 up A:"}
        << QStringList{"A/2", "@20000", "", "@22000", "", "@24000", "@24000", "A/0"};
    QTest::newRow("warning, then one that stops printing")
        << QStringList{"0 up A:toner-low", "1000 up A:toner-low,toner-empty!"}
        << QStringList{"A/1", "A/2"};
    QTest::newRow("one of two cleared")
        << QStringList{"0 up A:jam!,toner-low", "1000 up A:toner-low", "21000 up A:toner-low",
                       "22000 up A:", "41000 up A:"}
        << QStringList{"A/2", "@20000", "", "@41000", "A/0"};
    QTest::newRow("service stops: told once, old states left alone")
        << QStringList{"0 up A:", "1000 down A:paper-out!", "2000 down A:paper-out!"}
        << QStringList{"", "service/1", ""};
    QTest::newRow("service back: a restart that has not polled yet clears nothing")
        << QStringList{"0 up A:jam!", "1000 down A:jam!",
                       "30000 up A:", "49999 up A:", "50000 up A:"}
        << QStringList{"A/2", "service/1", "@50000", "@50000", "service/0 A/0"};
    QTest::newRow("service that stalls now and then")
        << QStringList{"0 up A:",      "1000 down A:", "2000 up A:",
                       "3000 down A:", "4000 up A:",   "24000 up A:"}
        << QStringList{"", "service/1", "@22000", "", "@24000", "service/0"};
    QTest::newRow("service ended itself without printers")
        << QStringList{"0 up", "1000 down"} << QStringList{"", ""};
    QTest::newRow("printer leaves the list")
        << QStringList{"0 up A:jam! B:", "1000 up B:"} << QStringList{"A/2", "A/close"};
    QTest::newRow("jam while the desktop is away, told when it is back")
        << QStringList{"0 up A:", "1000 up A:jam! unshown", "4000 up A:jam!", "5000 up A:jam!"}
        << QStringList{"", "A/2@4000", "A/2", ""};
    QTest::newRow("service stops while the desktop is away")
        << QStringList{"0 up A:", "1000 down A: unshown", "4000 down A:", "5000 down A:"}
        << QStringList{"", "service/1@4000", "service/1", ""};
    QTest::newRow("cleared while the desktop is away")
        << QStringList{"0 up A:jam!", "1000 up A:", "21000 up A: unshown", "24000 up A:"}
        << QStringList{"A/2", "@20000", "A/0@24000", "A/0"};
    QTest::newRow("gone before it was ever shown: no cleared")
        << QStringList{"0 up A:jam! unshown", "3000 up A:", "23000 up A:"}
        << QStringList{"A/2@3000", "@20000", ""};
    QTest::newRow("desktop tells the printers: only the service is told")
        << QStringList{"0 up desktop A:jam!", "1000 down desktop A:jam!", "30000 up desktop A:"}
        << QStringList{"", "service/1", "@50000"};
    QTest::newRow("desktop's notifier comes up after a printer was told")
        << QStringList{"0 up A:jam!", "1000 up desktop A:jam!", "60000 up desktop A:"}
        << QStringList{"A/2", "A/close", ""};
    QTest::newRow("unreadable list forgets nothing")
        << QStringList{"0 up A:jam!", "1000 up nolist", "30000 up A:jam!"}
        << QStringList{"A/2", "", ""};
}

void TestNotifyPolicy::steps()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    NotifyPolicy policy;
    for (int i = 0; i < steps.size(); ++i) {
        qint64 nowMs = 0;
        const stNotifyInput input = ParseStep(steps.at(i), &nowMs);
        const QList<stNotifyAction> actions = policy.Evaluate(input, nowMs);
        if (steps.at(i).contains(QLatin1String(" unshown"))) {
            for (const stNotifyAction& action : actions) {
                policy.NotShown(action.strSubject, nowMs);
            }
        }
        QString got = Render(actions);
        if (policy.NextDeadlineMs() >= 0) {
            got += QLatin1Char('@') + QString::number(policy.NextDeadlineMs());
        }
        QCOMPARE(got, expected.at(i));
    }
}

void TestNotifyPolicy::wording_data()
{
    QTest::addColumn<stPrinterReport>("printer");
    QTest::addColumn<qint64>("listAgeMs");
    QTest::addColumn<QString>("told");    // summary|body|icon|category
    QTest::addColumn<QString>("cleared"); // the same once it has cleared

    const QString stops = "Printing has stopped until this is dealt with.\n";
    const QString error = "|printer-error|device.error";
    QTest::newRow("jam and an unnamed error: codes in the body")
        << DecodedReport(3, {0x1200, 0x110D}, {}, 80) << qint64(60000)
        << "Q: paper jam, printer error|" + stops +
               "Paper jam, code 0x110D: remove the jammed paper.\n"
               "Another error, code 0x1200: see the printer's panel." +
               error
        << "Q: ready again|Cleared: paper jam, printer error.|printer|device";
    QTest::newRow("toner low says the level and is a warning")
        << DecodedReport(1, {}, {0x11A0}, 4) << qint64(60000)
        << "Q: toner low, 4 % left|The printer still prints.\n"
           "Toner low, code 0x11A0: have a new toner cartridge at hand.|dialog-warning|device"
        << "Q: ready again|Cleared: toner low.|printer|device";
    QTest::newRow("two unnamed warnings, one summary word")
        << DecodedReport(2, {}, {0x2200, 0x2201}, -1) << qint64(60000)
        << "Q: printer warning|The printer still prints.\n"
           "Another warning, code 0x2200: see the printer's panel.\n"
           "Another warning, code 0x2201: see the printer's panel.|dialog-warning|device"
        << "Q: ready again|Cleared: printer warning.|printer|device";
    QTest::newRow("status code without a meaning")
        << DecodedReport(7, {}, {}, -1) << qint64(60000)
        << "Q: unknown status|The printer still prints.\n"
           "Status 7, which this program does not know: see the printer's panel."
           "|dialog-warning|device"
        << "Q: ready again|Cleared: unknown status.|printer|device";
    stPrinterReport gone;
    gone.enFileState = StatusFileState::Missing;
    QTest::newRow("not answering")
        << gone << qint64(60000)
        << "Q: not answering|" + stops +
               "Not answering: check that the printer is switched on and connected." + error
        << "Q: ready again|Cleared: not answering.|printer|device";
}

void TestNotifyPolicy::wording()
{
    QFETCH(stPrinterReport, printer);
    QFETCH(qint64, listAgeMs);
    QFETCH(QString, told);
    QFETCH(QString, cleared);

    const PrinterCondition condition =
        PrinterCondition::Classify(printer, ServiceState::Alive, listAgeMs);
    stNotifyInput input;
    input.bServiceAlive = true;
    input.bListRead = true;
    input.listPrinters << NotifyWording::Printer(QStringLiteral("Q"), condition);
    NotifyPolicy policy;
    QList<stNotifyAction> actions = policy.Evaluate(input, 0);
    QCOMPARE(actions.size(), 1);
    QCOMPARE(Shown(actions.first().stMessage), told);

    input.listPrinters = {stNotifyPrinter{QStringLiteral("Q"), {}}};
    policy.Evaluate(input, 1000);
    actions = policy.Evaluate(input, 1000 + NotifyPolicy::CLEAR_HOLD_MS);
    QCOMPARE(actions.size(), 1);
    QCOMPARE(Shown(actions.first().stMessage), cleared);
}

QTEST_APPLESS_MAIN(TestNotifyPolicy)
#include "tst_NotifyPolicy.moc"
