#include "devices/TrdDeviceManage.h"

#include "devices/PrinterListFile.h"
#include "devices/QueueCreator.h"
#include "service/CupsEventWatcher.h"
#include "service/CupsReasonPublisher.h"
#include "service/FixedPaths.h"
#include "service/PublishedFiles.h"
#include "service/SafeWrite.h"
#include "service/SharedPrinterList.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <cstdio>
#include <unistd.h>

TrdDeviceManage::TrdDeviceManage(QObject* parent) : UtilThreadBase(parent) {}

// The workers and their threads outlive the device manager on purpose: they are never stopped.
TrdDeviceManage::~TrdDeviceManage() = default;

void TrdDeviceManage::Init(QList<stPrinterManager>* printerList)
{
    pPrinterList = printerList;
}

void TrdDeviceManage::SlotTaskStart()
{
    if (!BeginTask()) {
        return;
    }
    bool bFirstCycle = true;
    int iEmptyCount = 0;
    for (;;) {
        const int iWait = RunOneCycle(bFirstCycle, iEmptyCount);
        if (iWait == CYCLE_END_PROCESS) {
            EndProcess();
        }
        if (WaitForSleep(iWait)) {
            return;
        }
        bFirstCycle = false;
    }
}

void TrdDeviceManage::SlotThreadQuit()
{
    RequestQuit();
}

int TrdDeviceManage::RunOneCycle(bool firstCycle, int& emptyCount)
{
    if (firstCycle) {
        RemoveLeftovers();
    }
    ORVO_LOG("get printer list");
    // The heartbeat tells readers that the published files are current. Before CUPS has given
    // a list once, nothing published is: a list and status files of an earlier run, which no
    // worker watches.
    if (m_bListKnown) {
        WriteHeartbeat();
    }
    // Discovery asks CUPS directly and writes no file: a full or read-only cfg directory
    // cannot make it see no printers.
    const QList<stPrinterInfo> listPrinter = GetPrinterInfo(true);
    if (!m_discovery.Answered()) {
        // No answer is not "no printers": the published list stays, the workers watch on, and
        // the cycle does not count towards the end. A CUPS that is stopped or hangs (cupsd
        // waits 25 s for an absent colord at a queue change) is waited for: ending here would
        // be for good when cups.service does not start again, as after a hang.
        ORVO_LOG("CUPS does not answer");
        TellCupsAnswers(false);
        return CYCLE_WAIT_MS;
    }
    TellCupsAnswers(true);
    ORVO_LOG("printer num:%d", listPrinter.size());
    if (m_bListKnown) {
        return ApplyList(listPrinter, false, emptyCount);
    }
    // The first list CUPS gives is published even when unchanged or empty (Count 0), and the
    // first heartbeat follows it.
    m_bListKnown = true;
    const int wait = ApplyList(listPrinter, true, emptyCount);
    WriteHeartbeat();
    return wait;
}

int TrdDeviceManage::ApplyList(const QList<stPrinterInfo>& listPrinter, bool firstList,
                               int& emptyCount)
{
    if (listPrinter.isEmpty()) {
        ++emptyCount;
        if (!firstList) {
            return emptyCount > MAX_EMPTY_CYCLES ? CYCLE_END_PROCESS : EMPTY_CYCLE_WAIT_MS;
        }
    } else {
        emptyCount = 0;
    }

    if (SharedPrinterList::Equals(pPrinterList, listPrinter)) {
        // Unforced after the first list: only a deleted file is written again.
        SavePrinterInfo(listPrinter, firstList);
        return CYCLE_WAIT_MS;
    }

    // New workers first: until the replacement below they find their position outside the list
    // and idle, which is harmless. The queues' CUPS state reasons follow the list before any
    // worker can report for a new queue.
    StartWorkers(listPrinter.size());
    WatchReasons(listPrinter);
    // Stale files go after the replacement: a worker publishes only while its entry is in the
    // list, so no reply can bring back a file removed here.
    SharedPrinterList::Replace(pPrinterList, GetInitPrinterList(listPrinter));
    RemoveStaleStatusFiles(listPrinter);
    SavePrinterInfo(listPrinter, true);
    return CYCLE_WAIT_MS;
}

void TrdDeviceManage::StartWorkers(int count)
{
    const int iFirst = m_listWorkers.size();
    if (count <= iFirst) {
        return;
    }
    for (int k = iFirst; k < count; ++k) {
        auto* worker = new TrdGetPrinterStatus(nullptr);
        auto* thread = new QThread(nullptr);
        // Shows as the thread's name in ps and top (at most 15 characters are kept).
        thread->setObjectName(QStringLiteral("orvo-status-%1").arg(k));
        worker->moveToThread(thread);
        // Before the thread runs: its start orders the worker's position and list for it.
        worker->Init(k, pPrinterList);
        thread->start(QThread::InheritPriority);
        connect(this, SIGNAL(SgnStatusThreadStart()), worker, SLOT(SlotTaskStart()));
        connect(this, SIGNAL(SgnThreadQuit()), worker, SLOT(SlotThreadQuit()));
        m_listWorkers.append(worker);
        m_listThreads.append(thread);
    }
    // Queued into every worker's thread; the ones already running ignore it.
    emit SgnStatusThreadStart();
}

void TrdDeviceManage::RemoveLeftovers()
{
    // Earlier versions of the service wrote tool output into these names; a run that was
    // stopped (or ended itself) in the middle of a tool run left them behind, and nothing
    // writes them any more. A heartbeat, list or status file is never one of them. A published
    // file's new content that a stop kept from being renamed into place goes too.
    static const QRegularExpression leftover(
        QStringLiteral("^(printer_\\d+\\.tmp|printjob_\\d+\\.tmp|printerlist\\.\\d{14})$"));
    QDir dir(FixedPaths::CfgDir());
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& file : files) {
        if (leftover.match(file).hasMatch() || SafeWrite::IsTemporaryName(file)) {
            dir.remove(file);
        }
    }
}

void TrdDeviceManage::TellCupsAnswers(bool answers)
{
    // Into the journal, once per change: the admin who finds orvo-status calling the service
    // stale while systemd shows it running learns why. The log is off by default.
    if (answers == m_bCupsAnswers) {
        return;
    }
    m_bCupsAnswers = answers;
    std::fprintf(stderr, answers ? "orvo-statusd: CUPS answers again\n"
                                 : "orvo-statusd: CUPS does not answer; the published printer "
                                   "list stays until it does\n");
    std::fflush(stderr);
}

[[noreturn]] void TrdDeviceManage::EndProcess()
{
    ORVO_LOG("no printer found in %d cycles, end service", MAX_EMPTY_CYCLES + 1);
    // The status workers are still running in their threads. exit() would run the destructors
    // of static objects (the list lock, the fixed paths, Qt's globals) under their feet; _exit()
    // ends every thread at once without touching them. Only stdio buffers need flushing first;
    // every file of the service is closed after each use.
    FinishInCups();
    std::fflush(nullptr);
    _exit(0);
}

void TrdDeviceManage::WatchReasons(const QList<stPrinterInfo>& list)
{
    QStringList names;
    for (const stPrinterInfo& info : list) {
        names.append(info.strName);
    }
    CupsReasonPublisher::Instance().Watch(names);
    CupsEventWatcher::Instance().Watch(names);
}

void TrdDeviceManage::FinishInCups()
{
    // Nothing the service set may outlive it in CUPS. A scheduler that does not answer in time
    // keeps the reasons until the next start takes them back, and the subscription until the
    // next start takes it over or its lease ends.
    CupsReasonPublisher::Instance().Finish(FINISH_REASONS_MS);
    CupsEventWatcher::Instance().Finish(FINISH_SUBSCRIPTION_MS);
}

QList<stPrinterInfo> TrdDeviceManage::GetPrinterInfo(bool driverCheck)
{
    return m_discovery.GetPrinterInfo(driverCheck);
}

QList<stPrinterInfo> TrdDeviceManage::SelectQueues(const QList<CupsClient::stQueue>& queues,
                                                   bool driverCheck)
{
    return m_discovery.SelectQueues(queues, driverCheck);
}

bool TrdDeviceManage::FromDeviceUri(const QString& name, const QString& uri, stPrinterInfo& info)
{
    return QueueDiscovery::FromDeviceUri(name, uri, info);
}

bool TrdDeviceManage::CheckDriverMatch(QString name, QString& model)
{
    return m_discovery.CheckDriverMatch(name, model);
}

QList<stPrinterManager> TrdDeviceManage::GetInitPrinterList(QList<stPrinterInfo> list)
{
    stPrinterState state;
    InitStPrinterState(state);
    QList<stPrinterManager> result;
    result.reserve(list.size());
    for (const stPrinterInfo& info : list) {
        stPrinterManager entry;
        entry.stInfo = info;
        entry.stState = state;
        result.append(entry);
    }
    return result;
}

void TrdDeviceManage::InitStPrinterInfo(stPrinterInfo& info)
{
    info = stPrinterInfo();
}

void TrdDeviceManage::InitStPrinterState(stPrinterState& state)
{
    state = stPrinterState();
}

void TrdDeviceManage::RemoveStaleStatusFiles(const QList<stPrinterInfo>& list)
{
    QDir dir(FixedPaths::CfgDir());
    if (!dir.exists()) {
        return;
    }
    QSet<QString> keep;
    for (const stPrinterInfo& info : list) {
        keep.insert(PublishedFiles::StatusFileName(info.strName));
    }
    // Without QDir::CaseSensitive the pattern ignores letter case; hidden files and symbolic
    // links are not listed.
    const QStringList files =
        dir.entryList(QStringList{QLatin1Char('*') + PublishedFiles::STATUS_FILE_SUFFIX},
                      QDir::Files | QDir::NoSymLinks);
    for (const QString& file : files) {
        if (!keep.contains(file)) {
            dir.remove(file);
        }
    }
}

// Queue creation and URI change live in QueueCreator, which discovers through this manager.
QueueCreator TrdDeviceManage::Creator()
{
    return QueueCreator(
        [this](bool driverCheck) { return m_discovery.GetPrinterInfo(driverCheck); });
}

void TrdDeviceManage::CheckNewPNP(QList<stPrinterInfo> known)
{
    Creator().CheckNewPNP(known);
}

void TrdDeviceManage::AddPrinterViaURI(QString uri)
{
    Creator().AddPrinterViaURI(uri);
}

QString TrdDeviceManage::GetNewName(QString wanted)
{
    return Creator().GetNewName(wanted);
}

int TrdDeviceManage::ChangeNetPrinterURI(QString name, QString uri)
{
    return Creator().ChangeNetPrinterURI(name, uri);
}

void TrdDeviceManage::SavePrinterInfo(QList<stPrinterInfo> list, bool force)
{
    const QString strCfg = FixedPaths::CfgDir();
    MakePathExist(strCfg);
    // A write that failed (cfg directory full or read-only) is owed until one succeeds: the
    // unchanged cycles after it would otherwise leave the old list in place for good.
    m_bListFileOwed = !PrinterListFile::Write(strCfg + PublishedFiles::PRINTER_LIST_NAME, list,
                                              force || m_bListFileOwed);
}

void TrdDeviceManage::WriteHeartbeat()
{
    const QString strCfg = FixedPaths::CfgDir();
    MakePathExist(strCfg);
    const QByteArray stamp = PublishedFiles::HeartbeatStamp(QDateTime::currentDateTime());
    SafeWrite::RewriteFile(strCfg + PublishedFiles::HEARTBEAT_NAME, stamp);
}
