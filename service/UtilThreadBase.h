#pragma once

#include <QObject>
#include <QString>

#include <atomic>

// Base of the two worker objects: a once-only start guard, a quit flag that another thread may
// set, a sleep that watches the flag, and the directory helper every writer uses.
class UtilThreadBase : public QObject
{
    Q_OBJECT
public:
    explicit UtilThreadBase(QObject* parent = nullptr);

    // Sleeps about `ms` milliseconds in slices of 500 ms, testing the quit flag before each
    // slice; returns the quit flag.
    bool WaitForSleep(int ms);
    // True when `path` exists as a directory or could be created with its parents.
    static bool MakePathExist(const QString& path);

    // Sets the quit flag from any thread. A running cycle sees it at its next wait.
    void RequestQuit() { m_bQuit.store(true, std::memory_order_relaxed); }
    bool IsQuitRequested() const { return m_bQuit.load(std::memory_order_relaxed); }
    bool IsRunning() const { return m_bRunning; }

protected:
    // Start guard of SlotTaskStart: false when the cycle already ran or runs.
    bool BeginTask();

private:
    bool m_bRunning = false; // touched only by the thread that runs SlotTaskStart
    std::atomic<bool> m_bQuit{false};
};
