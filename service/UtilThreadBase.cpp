#include "service/UtilThreadBase.h"

#include <QDir>

#include <unistd.h>

UtilThreadBase::UtilThreadBase(QObject* parent) : QObject(parent) {}

bool UtilThreadBase::BeginTask()
{
    if (m_bRunning) {
        return false;
    }
    m_bRunning = true;
    return true;
}

bool UtilThreadBase::WaitForSleep(int ms)
{
    constexpr int SLICE_MS = 500;
    if (ms >= SLICE_MS) {
        for (int i = 0; i < ms / SLICE_MS; ++i) {
            if (IsQuitRequested()) {
                return true;
            }
            usleep(SLICE_MS * 1000);
        }
    }
    const int rest = ms % SLICE_MS;
    if (rest > 0) {
        usleep(static_cast<useconds_t>(rest) * 1000);
    }
    return IsQuitRequested();
}

bool UtilThreadBase::MakePathExist(const QString& path)
{
    if (QDir(path).exists()) {
        return true;
    }
    // mkpath also succeeds when another thread created the directory in the meantime.
    return QDir().mkpath(path);
}
