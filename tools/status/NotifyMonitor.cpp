#include "tools/status/NotifyMonitor.h"

#include "tools/status/NotifyWording.h"
#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusFormatter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

#include <cstdio>

namespace {

void Say(const QString& text)
{
    const QByteArray bytes = QStringLiteral("orvo-status: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString ServiceProblem(const stHeartbeatReport& hb)
{
    switch (hb.enState) {
    case ServiceState::Alive:
        return QString();
    case ServiceState::Stale:
        return NotifyMonitor::tr("last heartbeat %1").arg(StatusFormatter::Age(hb.iAgeMs));
    case ServiceState::NotRunning:
        return NotifyMonitor::tr("no heartbeat");
    case ServiceState::Unknown:
        break;
    }
    return NotifyMonitor::tr("heartbeat unreadable");
}

} // namespace

int NotifyMonitor::Run(const StatusReader& reader)
{
    DesktopNotifier notifier;
    QString error;
    if (!notifier.ConnectBus(&error)) {
        Say(QStringLiteral("cannot show desktop notifications: %1").arg(error));
        return EXIT_NO_DESKTOP;
    }
    switch (notifier.ClaimInstanceName(&error)) {
    case DesktopNotifier::Claim::Claimed:
        break;
    case DesktopNotifier::Claim::AlreadyTaken:
        // Started both by the session's systemd and by the desktop's autostart: one is enough.
        Say(QStringLiteral("already notifying in this session"));
        return 0;
    case DesktopNotifier::Claim::Failed:
        Say(QStringLiteral("cannot show desktop notifications: %1").arg(error));
        return EXIT_NO_DESKTOP;
    }
    if (!notifier.ConnectServer(&error)) {
        Say(QStringLiteral("cannot show desktop notifications: %1").arg(error));
        return EXIT_NO_DESKTOP;
    }
    NotifyMonitor monitor(reader, &notifier);
    // A notification server that comes back hears at once what it missed.
    QDBusServiceWatcher serverWatcher(QLatin1String(DesktopNotifier::SERVER_NAME),
                                      QDBusConnection::sessionBus(),
                                      QDBusServiceWatcher::WatchForRegistration);
    connect(&serverWatcher, SIGNAL(serviceRegistered(QString)), &monitor, SLOT(SlotDeadline()));
    // Ends with the session: a copy started by the desktop's autostart has no one to stop it.
    QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                                          QStringLiteral("org.freedesktop.DBus.Local"),
                                          QStringLiteral("Disconnected"), &monitor,
                                          SLOT(SlotBusGone()));
    monitor.m_watch.Start();
    return QCoreApplication::exec();
}

NotifyMonitor::NotifyMonitor(const StatusReader& reader, DesktopNotifier* notifier)
    : m_reader(reader), m_pNotifier(notifier),
      m_watch(reader, 0, false, [this](const StatusSnapshot& snapshot, int) { Evaluate(snapshot); })
{
    m_clock.start();
    m_deadlineTimer.setSingleShot(true);
    connect(&m_deadlineTimer, SIGNAL(timeout()), this, SLOT(SlotDeadline()));
}

stNotifyInput NotifyMonitor::PolicyInput(const StatusSnapshot& snapshot)
{
    stNotifyInput input;
    input.bServiceAlive = snapshot.stHeartbeat.enState == ServiceState::Alive;
    input.strServiceProblem = ServiceProblem(snapshot.stHeartbeat);
    input.bListRead = snapshot.stList.bRead;
    const qint64 listAgeMs = snapshot.stList.iAgeMs;
    for (const stPrinterReport& report : snapshot.listPrinters) {
        const PrinterCondition condition =
            PrinterCondition::Classify(report, snapshot.stHeartbeat.enState, listAgeMs);
        input.listPrinters << NotifyWording::Printer(report.strName, condition);
    }
    return input;
}

bool NotifyMonitor::DesktopTellsPrinters()
{
    // GNOME's print notifications (gsd-print-notifications) hold this name while they run; asked
    // at every change, since they may come up after us at login or be switched off later.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus &&
        bus->isServiceRegistered(QStringLiteral("org.gnome.SettingsDaemon.PrintNotifications"))
            .value()) {
        return true;
    }
    // Cinnamon's settings daemon has the same print notifications and no name of their own on
    // the bus; its sessions say who they are.
    const QStringList desktops =
        QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'));
    return desktops.contains(QStringLiteral("X-Cinnamon"), Qt::CaseInsensitive) ||
           desktops.contains(QStringLiteral("Cinnamon"), Qt::CaseInsensitive);
}

void NotifyMonitor::Evaluate(const StatusSnapshot& snapshot)
{
    stNotifyInput input = PolicyInput(snapshot);
    input.bDesktopTellsPrinters = DesktopTellsPrinters();
    Apply(m_policy.Evaluate(input, m_clock.elapsed()));
    ArmDeadline();
}

void NotifyMonitor::SlotDeadline()
{
    Evaluate(m_reader.Read());
}

void NotifyMonitor::SlotBusGone()
{
    Say(QStringLiteral("the session bus went away"));
    QCoreApplication::exit(0);
}

void NotifyMonitor::Apply(const QList<stNotifyAction>& actions)
{
    for (const stNotifyAction& action : actions) {
        QString error;
        if (action.enKind == stNotifyAction::Kind::Close) {
            const quint32 id = m_hashIds.take(action.strSubject);
            if (id != 0 && !m_pNotifier->Close(id, &error)) {
                Say(error);
            }
            continue;
        }
        // One line per message in the journal, in English: "why did I (not) hear about it?" has
        // an answer.
        const QString summary = StatusFormatter::Printable(action.stMessage.strLogSummary);
        const quint32 id =
            m_pNotifier->Show(m_hashIds.value(action.strSubject), action.stMessage, &error);
        if (id == 0) {
            // The server may come back (a desktop shell restarting): the policy says it again
            // then. A server that stays away is told once per message, not at every retry.
            m_policy.NotShown(action.strSubject, m_clock.elapsed());
            const QString line = QStringLiteral("%1 - %2").arg(summary, error);
            if (m_hashUnshown.value(action.strSubject) != line) {
                Say(line);
                m_hashUnshown.insert(action.strSubject, line);
            }
            continue;
        }
        m_hashUnshown.remove(action.strSubject);
        Say(QStringLiteral("told: %1").arg(summary));
        m_hashIds.insert(action.strSubject, id);
    }
}

void NotifyMonitor::ArmDeadline()
{
    const qint64 due = m_policy.NextDeadlineMs();
    if (due < 0) {
        m_deadlineTimer.stop();
        return;
    }
    m_deadlineTimer.start(int(qBound<qint64>(0, due - m_clock.elapsed(), 24 * 3600 * 1000)));
}
