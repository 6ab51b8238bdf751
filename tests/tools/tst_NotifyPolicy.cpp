// What orvo-status --notify decides to tell, step by step. A step reads
// "<ms> up|down [nolist] [QUEUE:KEY,KEY! ...]": the time, whether the service beats, and each
// listed printer with its conditions ("!" stops printing). "up" without printers is an empty
// list. An action is "<subject>/<urgency>" or "<subject>/close"; the service is "service";
// "@<ms>" is when the policy wants to look again without a change. A step with "unshown" is one
// whose messages the desktop did not take.

#include "tools/status/NotifyPolicy.h"

#include <QtTest>

namespace {

stNotifyInput ParseStep(const QString& step, qint64* nowMs)
{
    const QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    *nowMs = words.value(0).toLongLong();
    stNotifyInput input;
    input.bServiceAlive = words.value(1) == QLatin1String("up");
    input.bListRead = !words.contains(QStringLiteral("nolist"));
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
            printer.listConditions << stNotifyCondition{key, key, stops};
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

} // namespace

class TestNotifyPolicy : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
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

QTEST_APPLESS_MAIN(TestNotifyPolicy)
#include "tst_NotifyPolicy.moc"
