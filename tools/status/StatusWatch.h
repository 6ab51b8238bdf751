#pragma once

#include "tools/status/StatusReader.h"
#include "tools/status/StatusSnapshot.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>

// Prints a snapshot, then a new one whenever the files change. Changes are noticed through a
// watcher on the directory and its files (events come in bursts: a status file is cut, then
// written, so they are gathered for a moment) and through a one-second poll, which also catches
// what the watcher misses: a directory created later, a file replaced by rename, or a heartbeat
// growing old. A snapshot is handed on only when it differs from the last one in more than the
// heartbeat's beat, or on every read when a live view asks for that.
class StatusWatch : public QObject
{
    Q_OBJECT

public:
    using Printer = std::function<void(const StatusSnapshot&, int number)>;

    // maxCount 0 watches until the process is stopped; otherwise the application quits after
    // that many snapshots.
    StatusWatch(const StatusReader& reader, int maxCount, bool everyRead, Printer printer,
                QObject* parent = nullptr);

    void Start();

    // All snapshots asked for have been printed.
    bool Finished() const { return m_iMaxCount > 0 && m_iPrinted >= m_iMaxCount; }
    // Exit status of the last snapshot printed.
    int ExitCode() const { return m_iExitCode; }

private slots:
    void SlotChanged();
    void SlotRefresh();

private:
    void UpdateWatchedPaths(const StatusSnapshot& snapshot);

    StatusReader m_reader;
    int m_iMaxCount;
    bool m_bEveryRead;
    int m_iPrinted = 0;
    int m_iExitCode = 0;
    Printer m_printer;
    QByteArray m_baLastKey;
    QFileSystemWatcher m_watcher;
    QTimer m_pollTimer;
    QTimer m_settleTimer;
};
