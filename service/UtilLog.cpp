#include "service/UtilLog.h"

#include "service/FixedPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

std::atomic<bool> UtilLog::s_bEnable{false};

namespace {
int s_iLogIndex = 0;
QString s_strLogNameTmp;
QString s_strLogName;
QMutex s_mutexLog;

QString IndexedName()
{
    return s_strLogNameTmp + QString::number(s_iLogIndex) + QStringLiteral(".log");
}
} // namespace

void UtilLog::SetLogEnable(bool on)
{
    // The names are guarded too: a worker may be writing a line while the log is switched.
    QMutexLocker lock(&s_mutexLog);
    s_bEnable.store(on, std::memory_order_relaxed);
    if (!on) {
        s_strLogName = QString();
        return;
    }
    s_iLogIndex = 0;
    s_strLogNameTmp = FixedPaths::LogDir();
    QDir().mkpath(s_strLogNameTmp);
    s_strLogNameTmp += QStringLiteral("/log_srv") +
                       QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_hhmmss_"));
    s_strLogName = IndexedName();
}

void UtilLog::WriteLine(const char* file, int line, const char* function, const char* message)
{
    QMutexLocker lock(&s_mutexLog);
    if (!s_bEnable.load(std::memory_order_relaxed) || s_strLogName.isNull()) {
        return;
    }
    const QString text =
        QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz] (")) +
        QString::fromUtf8(file) + QLatin1Char('@') + QString::number(line) + QLatin1Char(' ') +
        QString::fromUtf8(function) + QStringLiteral(") ") + QString::fromLocal8Bit(message) +
        QLatin1Char('\n');

    if (QFileInfo(s_strLogName).size() > ROLL_OVER_SIZE) {
        ++s_iLogIndex;
        s_strLogName = IndexedName();
    }
    QFile out(s_strLogName);
    if (out.open(QIODevice::Append | QIODevice::Text)) {
        out.write(text.toLocal8Bit());
        out.close();
    }
}
