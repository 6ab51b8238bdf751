#pragma once

#include "tools/status/DesktopNotifier.h"
#include "tools/status/NotifyPolicy.h"
#include "tools/status/StatusReader.h"
#include "tools/status/StatusSnapshot.h"
#include "tools/status/StatusWatch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

// orvo-status --notify: watches the published files the way --watch does and turns what changes
// into desktop notifications, one per printer, replaced in place.
class NotifyMonitor : public QObject
{
    Q_OBJECT

public:
    // No session bus, or nothing on it that shows notifications.
    static constexpr int EXIT_NO_DESKTOP = 5;

    // Runs until the process is stopped or the session bus goes away. The exit status: 0, also
    // when another copy already runs in this session; EXIT_NO_DESKTOP with the reason on stderr.
    static int Run(const StatusReader& reader);

private slots:
    void SlotDeadline();
    void SlotBusGone();

private:
    NotifyMonitor(const StatusReader& reader, DesktopNotifier* notifier);

    // What the policy needs from a snapshot.
    static stNotifyInput PolicyInput(const StatusSnapshot& snapshot);
    // Whether the session's own print notifications announce CUPS' printer-state-reasons.
    static bool DesktopTellsPrinters();
    void Evaluate(const StatusSnapshot& snapshot);
    void Apply(const QList<stNotifyAction>& actions);
    void ArmDeadline();

    StatusReader m_reader;
    DesktopNotifier* m_pNotifier;
    NotifyPolicy m_policy;
    StatusWatch m_watch;
    QTimer m_deadlineTimer;
    QElapsedTimer m_clock;
    QHash<QString, quint32> m_hashIds;     // notification id by subject
    QHash<QString, QString> m_hashUnshown; // the last failure said, by subject
};
