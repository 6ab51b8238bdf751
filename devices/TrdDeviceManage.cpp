#include "devices/TrdDeviceManage.h"

#include "devices/DeviceUri.h"
#include "devices/PrinterListFile.h"
#include "devices/QueueCreator.h"
#include "service/FixedPaths.h"
#include "service/PpdModelReader.h"
#include "service/PublishedFiles.h"
#include "service/QueueNameCheck.h"
#include "service/SafeWrite.h"
#include "service/SharedListGuard.h"
#include "service/UtilLog.h"
#include "status/TrdGetPrinterStatus.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

TrdDeviceManage::TrdDeviceManage(QObject* parent) : UtilThreadBase(parent)
{
    m_pCodec = QTextCodec::codecForName("utf-8");
}

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
    WriteHeartbeat();
    // Discovery asks CUPS directly and writes no file: a full or read-only cfg directory
    // cannot make it see no printers. A CUPS that does not answer lists none, as it is.
    const QList<stPrinterInfo> listPrinter = GetPrinterInfo(true);
    if (!m_bDiscoveryAnswered) {
        ORVO_LOG("CUPS does not answer");
    }
    ORVO_LOG("printer num:%d", listPrinter.size());

    if (listPrinter.isEmpty()) {
        ++emptyCount;
        // The first cycle publishes even an empty list, so the desktop sees Count 0.
        if (!firstCycle) {
            return emptyCount > MAX_EMPTY_CYCLES ? CYCLE_END_PROCESS : EMPTY_CYCLE_WAIT_MS;
        }
    } else {
        emptyCount = 0;
    }

    if (SharedListEquals(listPrinter)) {
        // Unforced after the first cycle: only a deleted file is written again.
        SavePrinterInfo(listPrinter, firstCycle);
        return CYCLE_WAIT_MS;
    }

    // New workers first: until the replacement below they find their position outside the list
    // and idle, which is harmless.
    StartWorkers(listPrinter.size());
    // Stale files go after the replacement: a worker publishes only while its entry is in the
    // list, so no reply can bring back a file removed here.
    ReplaceSharedList(listPrinter);
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
        thread->start(QThread::InheritPriority);
        worker->Init(k, pPrinterList);
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

[[noreturn]] void TrdDeviceManage::EndProcess()
{
    ORVO_LOG("no printer found in %d cycles, end service", MAX_EMPTY_CYCLES + 1);
    // The status workers are still running in their threads. exit() would run the destructors
    // of static objects (the list lock, the fixed paths, Qt's globals) under their feet; _exit()
    // ends every thread at once without touching them. Only stdio buffers need flushing first;
    // every file of the service is closed after each use.
    std::fflush(nullptr);
    _exit(0);
}

QList<stPrinterInfo> TrdDeviceManage::GetPrinterInfo(bool driverCheck)
{
    QList<CupsClient::stQueue> queues;
    m_bDiscoveryAnswered = m_cups.GetQueues(queues);
    return SelectQueues(queues, driverCheck);
}

QList<stPrinterInfo> TrdDeviceManage::SelectQueues(const QList<CupsClient::stQueue>& queues,
                                                   bool driverCheck)
{
    QList<stPrinterInfo> result;
    QSet<QByteArray> skipped;
    for (const CupsClient::stQueue& queue : queues) {
        stPrinterInfo info;
        InitStPrinterInfo(info);
        if (!FromDeviceUri(queue.strName, queue.strDeviceUri, info)) {
            continue;
        }
        // Only the list of watched printers leaves these out; the other callers want every queue.
        const QByteArray name = queue.baName.isEmpty() ? queue.strName.toUtf8() : queue.baName;
        const QString problem = driverCheck ? QueueNameCheck::Problem(name) : QString();
        if (!problem.isEmpty()) {
            // Told only for a queue of ours: the others are none of the service's business.
            QString model;
            if (FindModelByBytes(name, model)) {
                skipped.insert(name);
                if (!m_setSkippedTold.contains(name)) {
                    ORVO_LOG(QStringLiteral("queue %s (%s) skipped: %s"),
                             QueueNameCheck::Escaped(name).constData(), model.toUtf8().constData(),
                             problem.toUtf8().constData());
                }
            }
            continue;
        }
        if (driverCheck && !CheckDriverMatch(info.strName, info.strModel)) {
            continue;
        }
        result.append(info);
    }
    // Only the queues still there stay told: one that went away is told again when it is back.
    // A CUPS that did not answer says nothing about them.
    if (driverCheck && m_bDiscoveryAnswered) {
        m_setSkippedTold = skipped;
    }
    return result;
}

bool TrdDeviceManage::FindModelByBytes(const QByteArray& name, QString& model)
{
    if (!QueueNameCheck::UsableAsFileName(name)) {
        return false;
    }
    // Opened by its bytes and read through the descriptor: a name that is not UTF-8 has no
    // QString that leads back to the file.
    const QByteArray path = QFile::encodeName(FixedPaths::CupsPpdDir()) + name + ".ppd";
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool found =
        PpdModelReader::FindModel(QStringLiteral("/proc/self/fd/%1").arg(fd), m_pCodec, model);
    ::close(fd);
    return found;
}

bool TrdDeviceManage::FromDeviceUri(const QString& name, const QString& uri, stPrinterInfo& info)
{
    // "usb://" is six characters; the port text of a USB queue is what follows it.
    constexpr int USB_SCHEME_LENGTH = 6;
    if (name.isEmpty()) {
        return false;
    }
    if (uri.startsWith(QLatin1String("usb"), Qt::CaseInsensitive)) {
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_USB;
        info.strPort = uri.mid(USB_SCHEME_LENGTH);
        info.strURI = uri;
        return true;
    }
    if (uri.startsWith(QLatin1String("socket"), Qt::CaseInsensitive) ||
        uri.startsWith(QLatin1String("orvosocket"), Qt::CaseInsensitive)) {
        bool found = false;
        const QString host = DeviceUri::HostOf(uri, 0, &found);
        if (!found) {
            return false;
        }
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_NET;
        info.strPort = host;
        info.strURI = uri;
        return true;
    }
    return false; // ipp, lpd, dnssd, file, a class without a device: nothing to ask
}

bool TrdDeviceManage::CheckDriverMatch(QString name, QString& model)
{
    // The name comes from parsed tool output and becomes part of a path: CUPS never gives a
    // queue a name that leaves its PPD directory, and nothing else may.
    if (!QueueNameCheck::UsableAsFileName(name)) {
        return false;
    }
    const QString strPath = FixedPaths::CupsPpdDir() + name + QStringLiteral(".ppd");
    return PpdModelReader::FindModel(strPath, m_pCodec, model);
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

bool TrdDeviceManage::SharedListEquals(const QList<stPrinterInfo>& list) const
{
    SharedListGuard lock;
    if (pPrinterList->size() != list.size()) {
        return false;
    }
    for (int i = 0; i < list.size(); ++i) {
        const stPrinterInfo& shared = pPrinterList->at(i).stInfo;
        const stPrinterInfo& found = list.at(i);
        if (shared.strName != found.strName || shared.strPort != found.strPort ||
            shared.strURI != found.strURI) {
            return false;
        }
    }
    return true;
}

void TrdDeviceManage::ReplaceSharedList(const QList<stPrinterInfo>& list)
{
    QList<stPrinterManager> fresh = GetInitPrinterList(list);
    {
        SharedListGuard lock;
        pPrinterList->swap(fresh);
    }
    // `fresh` now holds the old entries; they are released here, outside the lock.
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
void TrdDeviceManage::CheckNewPNP(QList<stPrinterInfo> known)
{
    QueueCreator([this](bool driverCheck) {
        return GetPrinterInfo(driverCheck);
    }).CheckNewPNP(known);
}

void TrdDeviceManage::AddPrinterViaURI(QString uri)
{
    QueueCreator([this](bool driverCheck) {
        return GetPrinterInfo(driverCheck);
    }).AddPrinterViaURI(uri);
}

QString TrdDeviceManage::GetNewName(QString wanted)
{
    return QueueCreator([this](bool driverCheck) { return GetPrinterInfo(driverCheck); })
        .GetNewName(wanted);
}

int TrdDeviceManage::ChangeNetPrinterURI(QString name, QString uri)
{
    return QueueCreator([this](bool driverCheck) { return GetPrinterInfo(driverCheck); })
        .ChangeNetPrinterURI(name, uri);
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
    SafeWrite::ReplaceFile(strCfg + PublishedFiles::HEARTBEAT_NAME, stamp);
}
