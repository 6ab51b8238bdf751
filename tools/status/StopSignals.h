#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT end a running --watch or --notify through the event loop with exit status
// 0: a stop someone asked for (systemctl stop, a logout, Ctrl-C) is how a watch normally ends, not
// a failure. The handler only writes a byte to a pipe; the event loop reads it and quits.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers; a signal the process was started with ignored (a job started in the
    // background by a shell ignores SIGINT) stays ignored. False when the pipe cannot be made.
    static bool Install(QObject* parent);

private slots:
    void SlotSignal();

private:
    explicit StopSignals(QObject* parent);

    QSocketNotifier* m_pNotifier = nullptr;
};
