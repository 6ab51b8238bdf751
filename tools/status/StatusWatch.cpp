#include "tools/status/StatusWatch.h"

#include "service/PublishedFiles.h"
#include "tools/status/ExitStatus.h"
#include "tools/status/JsonFormatter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringList>

namespace {

const int POLL_INTERVAL_MS = 1000;
// Gathers the events of one rewrite (cut, write, close; or write temporary, rename).
const int SETTLE_MS = 100;

} // namespace

StatusWatch::StatusWatch(const StatusReader& reader, int maxCount, bool everyRead, Printer printer,
                         QObject* parent)
    : QObject(parent), m_reader(reader), m_iMaxCount(maxCount), m_bEveryRead(everyRead),
      m_printer(std::move(printer))
{
    m_pollTimer.setInterval(POLL_INTERVAL_MS);
    m_settleTimer.setInterval(SETTLE_MS);
    m_settleTimer.setSingleShot(true);
    connect(&m_pollTimer, SIGNAL(timeout()), this, SLOT(SlotRefresh()));
    connect(&m_settleTimer, SIGNAL(timeout()), this, SLOT(SlotRefresh()));
    connect(&m_watcher, SIGNAL(directoryChanged(QString)), this, SLOT(SlotChanged()));
    connect(&m_watcher, SIGNAL(fileChanged(QString)), this, SLOT(SlotChanged()));
}

void StatusWatch::Start()
{
    SlotRefresh();
    if (m_iMaxCount == 0 || m_iPrinted < m_iMaxCount) {
        m_pollTimer.start();
    }
}

void StatusWatch::SlotChanged()
{
    if (!m_settleTimer.isActive()) {
        m_settleTimer.start();
    }
}

void StatusWatch::SlotRefresh()
{
    if (m_iMaxCount > 0 && m_iPrinted >= m_iMaxCount) {
        return;
    }
    const StatusSnapshot snapshot = m_reader.Read();
    UpdateWatchedPaths(snapshot);

    // Compare without the heartbeat's time and age, which differ on every beat; the alive/stale
    // state stays in, so a service that stops shows.
    const QByteArray key =
        QJsonDocument(JsonFormatter::ToObject(snapshot, false)).toJson(QJsonDocument::Compact);
    if (m_iPrinted > 0 && key == m_baLastKey && !m_bEveryRead) {
        return;
    }
    m_baLastKey = key;
    m_iExitCode = ExitStatus::For(snapshot);
    ++m_iPrinted;
    m_printer(snapshot, m_iPrinted);
    if (m_iMaxCount > 0 && m_iPrinted >= m_iMaxCount) {
        m_pollTimer.stop();
        m_settleTimer.stop();
        QCoreApplication::exit(m_iExitCode);
    }
}

void StatusWatch::UpdateWatchedPaths(const StatusSnapshot& snapshot)
{
    // Files replaced by rename drop out of the watcher, so the set is renewed on every read.
    QStringList wanted;
    if (snapshot.bDirExists) {
        wanted << snapshot.strDir << snapshot.strDir + PublishedFiles::PRINTER_LIST_NAME
               << snapshot.strDir + PublishedFiles::HEARTBEAT_NAME;
        for (const stPrinterReport& printer : snapshot.listPrinters) {
            if (!printer.strFileName.isEmpty()) {
                wanted << snapshot.strDir + printer.strFileName;
            }
        }
    }
    QStringList existing;
    for (const QString& path : wanted) {
        if (QFileInfo::exists(path)) {
            existing << path;
        }
    }
    const QStringList current = m_watcher.files() + m_watcher.directories();
    QStringList stale;
    for (const QString& path : current) {
        if (!existing.contains(path)) {
            stale << path;
        }
    }
    if (!stale.isEmpty()) {
        m_watcher.removePaths(stale);
    }
    QStringList added;
    for (const QString& path : existing) {
        if (!current.contains(path)) {
            added << path;
        }
    }
    if (!added.isEmpty()) {
        m_watcher.addPaths(added);
    }
}
