#include "status/TrdGetPrinterStatus.h"

#include "service/CupsEventWatcher.h"
#include "service/CupsReasonPublisher.h"
#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/ModelTable.h"
#include "service/PrinterReasons.h"
#include "service/QueueNameCheck.h"
#include "service/SharedPrinterList.h"
#include "service/StatusReply.h"
#include "service/UtilLog.h"
#include "status/JobWatchRule.h"
#include "status/OfflineCancelRule.h"
#include "status/StatusEvaluator.h"
#include "status/UdpStatusChannel.h"
#include "status/UsbStatusChannel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {
// Pace of the cycle (ms): the poll interval of each kind of printer; the job watch runs ten
// passes a tenth of it apart.
constexpr int INTERVAL_NO_ENTRY = 1000;
constexpr int INTERVAL_USB = 1500;
constexpr int INTERVAL_NET_UNREACHABLE = 10000;
constexpr int INTERVAL_NET = 1000;
constexpr int INTERVAL_NET_IDLE_CHECK = 100;
constexpr int JOB_WATCH_PASSES = 10;
// A network printer is given up on the failed poll after this many in a row.
constexpr int MAX_NET_FAILURES = 5;
// An idle network printer whose "not printing" answer holds until an event waits this long at
// most before it looks again, for a new entry at its position.
constexpr int INTERVAL_NET_IDLE_HELD = 1000;

std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool HoldsPrintingJob(const QList<stJobState>& jobs)
{
    return std::any_of(jobs.cbegin(), jobs.cend(), [](const stJobState& job) {
        return job.iStatus == JobWatchRule::JOB_PRINTING ||
               job.iStatus == JobWatchRule::JOB_STOPPING;
    });
}

// The printer is unreachable: its status file goes, so nobody shows a stale state, and the
// error lists with it. Texts and supplies keep their last values.
void MarkUnreachable(stPrinterManager& printer)
{
    QFile::remove(StatusEvaluator::StatusFilePath(printer.stInfo.strName));
    stPrinterState& state = printer.stState;
    state.iStatus = PRINTER_STATUS_UNKNOWN;
    state.iErrorCount1 = 0;
    state.iErrorCount2 = 0;
    state.listError1.clear();
    state.listError2.clear();
    state.iFailCount = 0;
    CupsReasonPublisher::Instance().Report(printer.stInfo.strName, PrinterReasons::Unreachable());
}
} // namespace

TrdGetPrinterStatus::TrdGetPrinterStatus(QObject* parent) : UtilThreadBase(parent) {}
TrdGetPrinterStatus::~TrdGetPrinterStatus() = default;

void TrdGetPrinterStatus::Init(int index, QList<stPrinterManager>* printerList)
{
    // Called before this worker's thread starts, so the thread's start orders both stores
    // before every read of the cycle, for the sanitizer as well as for the program.
    iIndex = index;
    pPrinterList = printerList;
}

void TrdGetPrinterStatus::SlotTaskStart()
{
    if (!BeginTask()) {
        return;
    }

    for (;;) {
        int interval = INTERVAL_NO_ENTRY;
        if (!SharedPrinterList::HasEntry(pPrinterList, iIndex)) {
            if (WaitForSleep(INTERVAL_NO_ENTRY)) {
                return;
            }
            continue;
        }
        if (!CheckNeedStatus(interval)) {
            // An idle printer's answer that holds until an event: wait for one.
            const stHeldPrinting& idle = m_stHeldPrinting;
            const bool held = interval == INTERVAL_NET_IDLE_CHECK && idle.bValid && idle.uStamp;
            if (held ? WaitForCups(idle.strName, idle.uStamp, INTERVAL_NET_IDLE_HELD)
                     : WaitForSleep(interval)) {
                return;
            }
            continue;
        }

        // The list may have shrunk since the check: then the next round idles.
        if (!SharedPrinterList::CopyEntry(pPrinterList, iIndex, stPrinter)) {
            continue;
        }

        const stPrinterInfo& info = stPrinter.stInfo;
        ORVO_LOG(QStringLiteral("try to connect ") + info.strName);
        const bool usb = info.iConnectType == CONNECT_TYPE_USB;
        const int ret = usb ? GetPrinterStatusUSB(info.strPort) : GetPrinterStatusUDP(info.strPort);
        if (ret < 0) {
            ORVO_LOG(QStringLiteral("connect %s fail, ret = %d"),
                     info.strName.toLocal8Bit().constData(), ret);
            bool unreachable = false;
            if (usb) {
                unreachable = ret == UsbStatusChannel::RESULT_NO_DEVICE;
            } else {
                unreachable = ++stPrinter.stState.iFailCount > MAX_NET_FAILURES;
            }
            if (unreachable) {
                MarkUnreachable(stPrinter);
            }
        }

        // Ten passes a tenth of the interval apart. A pass whose answer from CUPS still holds
        // would only repeat the last one's decisions, so the worker sleeps instead until an
        // event concerns its queue or the iteration ends.
        const std::int64_t end = SteadyMs() + interval;
        std::int64_t nextPass = SteadyMs();
        for (bool first = true;; first = false) {
            CheckJobStatus(first);
            nextPass += interval / JOB_WATCH_PASSES;
            const std::int64_t now = SteadyMs();
            if (now >= end) {
                break;
            }
            const std::int64_t wakeAt = NextPassHolds() ? end : std::min(nextPass, end);
            // Quitting drops this iteration: the list keeps what the last one wrote.
            if (WaitForCups(info.strName, m_uPassStamp, static_cast<int>(wakeAt - now))) {
                return;
            }
            if (SteadyMs() >= end) {
                break;
            }
        }

        // Dropped when the device manager replaced the list meanwhile.
        SharedPrinterList::WriteBack(pPrinterList, iIndex, stPrinter);
    }
}

void TrdGetPrinterStatus::SlotThreadQuit()
{
    RequestQuit();
}

bool TrdGetPrinterStatus::CheckNeedStatus(int& interval)
{
    stPrinterInfo info;
    int status = PRINTER_STATUS_UNKNOWN;
    if (!SharedPrinterList::CopyInfo(pPrinterList, iIndex, info, status)) {
        interval = INTERVAL_NO_ENTRY;
        return false;
    }

    if (info.iConnectType == CONNECT_TYPE_USB) {
        interval = INTERVAL_USB;
        return true;
    }
    interval = INTERVAL_NET_IDLE_CHECK;
    if (status == PRINTER_STATUS_UNKNOWN) {
        interval = INTERVAL_NET_UNREACHABLE;
        return true;
    }
    if (status != PRINTER_STATUS_IDLE) {
        interval = INTERVAL_NET;
        return true;
    }

    // An idle network printer is asked only while CUPS has a job printing on it. While CUPS
    // cannot say, it is asked as if it printed: a job may still be going out through its
    // backend, and a printer that stops with it must not go unseen for the length of an outage.
    const std::uint64_t stamp = CupsEventWatcher::Instance().QueueStamp(info.strName);
    stHeldPrinting& held = m_stHeldPrinting;
    if (!stamp || !held.bValid || held.uStamp != stamp || held.strName != info.strName) {
        bool answered = false;
        const bool printing = m_cups.IsPrinting(info.strName, &answered);
        held = {answered, info.strName, printing, stamp};
        if (!answered) {
            interval = INTERVAL_NET;
            return true;
        }
    }
    if (!held.bPrinting) {
        return false;
    }
    interval = INTERVAL_NET;
    return true;
}

bool TrdGetPrinterStatus::WaitForCups(const QString& queue, std::uint64_t stamp, int ms)
{
    const std::int64_t end = SteadyMs() + ms;
    for (std::int64_t left = ms; left > 0; left = end - SteadyMs()) {
        if (IsQuitRequested() ||
            CupsEventWatcher::Instance().WaitForChange(queue, stamp, static_cast<int>(left))) {
            break;
        }
    }
    return IsQuitRequested();
}

bool TrdGetPrinterStatus::CheckStatusChange(stPrinterState oldState, stPrinterState newState)
{
    return oldState.iStatus != newState.iStatus || oldState.ulSupply1000 != newState.ulSupply1000 ||
           oldState.listError1 != newState.listError1 || oldState.listError2 != newState.listError2;
}

namespace {
// The log lines of one USB exchange, in the order the exchange met their events.
void LogUsbExchange(const char* function, const UsbStatusChannel::stExchange& exchange,
                    bool withClaimCode)
{
    if (exchange.bDriverActive) {
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Kernel Driver Active"));
    }
    if (exchange.bDriverDetached) {
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Kernel Driver Detached!"));
    }
    switch (exchange.iResult) {
    case UsbStatusChannel::RESULT_INIT_FAILED:
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Init Error"));
        break;
    case UsbStatusChannel::RESULT_NO_DEVICE_LIST:
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Get Device Error"));
        break;
    case UsbStatusChannel::RESULT_NO_DESCRIPTOR:
        WriteStringLog(__FILE__, __LINE__, function,
                       QStringLiteral("*** libusb_get_device_descriptor failed! i:%d"),
                       exchange.iDescriptorIndex);
        WriteStringLog(__FILE__, __LINE__, function,
                       QStringLiteral("*** get_device_descriptor failed!"));
        break;
    case UsbStatusChannel::RESULT_NO_DEVICE:
        if (exchange.bSerialAmbiguous) {
            WriteStringLog(__FILE__, __LINE__, function,
                           QStringLiteral("the serial number is cut short and begins the serial "
                                          "numbers of more than one device"));
        }
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Cannot open device"));
        break;
    case UsbStatusChannel::RESULT_NO_INTERFACE:
        if (withClaimCode) {
            WriteStringLog(__FILE__, __LINE__, function,
                           QStringLiteral("Cannot Claim Interface,ret = %d"), exchange.iClaimError);
        } else {
            WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Cannot Claim Interface"));
        }
        break;
    case UsbStatusChannel::RESULT_EXCEPTION:
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("throw error"));
        break;
    default:
        break;
    }
}
} // namespace

bool TrdGetPrinterStatus::GetPrinterVidPid(QString port, int& vid, int& pid)
{
    const stModelInfo* model = ModelTable::FindByPortText(port);
    if (!model) {
        return false;
    }
    vid = model->iVid;
    pid = model->iPid;
    return true;
}

int TrdGetPrinterStatus::GetPrinterStatusUSB(QString port)
{
    unsigned char buffer[UsbStatusChannel::BUFFER_SIZE];
    const UsbStatusChannel::stExchange exchange =
        UsbStatusChannel::Exchange(port, UsbStatusChannel::REQUEST_STATUS, buffer);
    LogUsbExchange("GetPrinterStatusUSB", exchange, true);

    int transfer = exchange.iTransfer;
    if (exchange.iResult == UsbStatusChannel::RESULT_EXCEPTION) {
        transfer = UsbStatusChannel::RESULT_EXCEPTION;
    } else if (exchange.iResult != UsbStatusChannel::RESULT_TRANSFERRED) {
        return exchange.iResult;
    }

    // A failed transfer still reaches the evaluation, so the status file shows it.
    return CheckPrinterStatus(buffer, UsbStatusChannel::ReplyLength(transfer));
}

int TrdGetPrinterStatus::CancelPrinterJob(QString port)
{
    unsigned char buffer[UsbStatusChannel::BUFFER_SIZE];
    const UsbStatusChannel::stExchange exchange =
        UsbStatusChannel::Exchange(port, UsbStatusChannel::REQUEST_CANCEL, buffer);
    LogUsbExchange("CancelPrinterJob", exchange, false);
    if (exchange.iResult != UsbStatusChannel::RESULT_TRANSFERRED) {
        return exchange.iResult;
    }
    return exchange.iTransfer;
}

int TrdGetPrinterStatus::GetPrinterStatusUDP(QString host)
{
    unsigned char buffer[UdpStatusChannel::BUFFER_SIZE];
    const int received = UdpStatusChannel::Poll(host, buffer);
    if (received < 0) {
        return received;
    }
    return CheckPrinterStatus(buffer, static_cast<unsigned long>(received));
}

int TrdGetPrinterStatus::CheckPrinterStatus(unsigned char* buf, unsigned long len)
{
    MakePathExist(FixedPaths::CfgDir());
    const QString path = StatusEvaluator::StatusFilePath(stPrinter.stInfo.strName);
    // The remembered reply follows every reply, also one written because the file was
    // missing: otherwise a worker's first reply is never remembered, and an empty reply after
    // it (a USB time-out) would match the empty memory and leave the old reply published. A
    // file whose size is not the reply's (one from an earlier run, or cut from outside) is
    // rewritten even when the reply matches the memory.
    const stPrinterInfo& info = stPrinter.stInfo;
    if (info.strName != m_strLastRecvName || info.strURI != m_strLastRecvURI) {
        iLastRecvLen = -1;
        m_strLastRecvName = info.strName;
        m_strLastRecvURI = info.strURI;
    }
    const bool changed = CheckRecvBufChange(buf, len);
    const auto publish = [&] {
        const QFileInfo file(path);
        if (changed || !file.exists() || file.size() != static_cast<qint64>(len)) {
            // A reply that did not reach the file (read-only or full disk) must not count as
            // published: forgetting it makes the next reply, even an identical one, write
            // again once the disk takes it, instead of leaving a stale or empty file behind.
            if (!StatusEvaluator::WriteStatusFile(path, buf, len)) {
                iLastRecvLen = -1;
            }
        }
    };
    // The device manager removes the files of printers that left the list once it has replaced
    // the list. Writing only while the entry is still this printer's, with the list held,
    // keeps a reply that was still on its way from publishing a file for a queue that is
    // gone. The write is one small local file, so the list is held only briefly. A worker
    // without a list (the tests of the evaluation) always publishes.
    if (!pPrinterList) {
        publish();
    } else if (!SharedPrinterList::WhileOwn(pPrinterList, iIndex, stPrinter.stInfo, publish)) {
        iLastRecvLen = -1;
    }

    stStatusReply reply;
    if (!StatusEvaluator::Decode(buf, len, stPrinter.stState, &reply)) {
        return -1;
    }
    // CUPS shows the condition too; the publisher's thread tells it, and only on a change.
    CupsReasonPublisher::Instance().Report(stPrinter.stInfo.strName,
                                           PrinterReasons::FromReply(reply));
    return 0;
}

bool TrdGetPrinterStatus::CheckRecvBufChange(unsigned char* buf, unsigned long len)
{
    const unsigned long remembered = static_cast<unsigned long>(iLastRecvLen);
    if (len == remembered && (len == 0 || std::memcmp(buf, ucLastRecvBuf, len) == 0)) {
        return false;
    }
    if (len > sizeof ucLastRecvBuf) {
        // Larger than any channel delivers: cannot be remembered, so the next reply counts
        // as changed whatever it holds.
        iLastRecvLen = -1;
        return true;
    }
    iLastRecvLen = static_cast<int>(len);
    std::memcpy(ucLastRecvBuf, buf, len);
    return true;
}

bool TrdGetPrinterStatus::JobsFromCups(bool firstPass, QList<CupsClient::stJob>& jobs)
{
    const stPrinterInfo& info = stPrinter.stInfo;
    // All users' jobs on the queue that have not finished, and the ones the last pass saw
    // printing (their cancel is what this pass looks for).
    const QList<int> alsoIds = JobWatchRule::WatchedIds(info.strName, stPrinter.listJobState);
    const std::uint64_t stamp = CupsEventWatcher::Instance().QueueStamp(info.strName);
    m_uPassStamp = stamp;
    // The last answer holds while no event concerned the queue since, it was about this queue
    // and covers every job watched now. A backend changes a printing job's reasons without an
    // event, so the first pass of each iteration asks while a job prints.
    const stHeldJobs& held = m_stHeldJobs;
    if (stamp && held.bValid && held.uStamp == stamp && held.strName == info.strName &&
        held.strURI == info.strURI && held.Covers(alsoIds) &&
        !(firstPass && HoldsPrintingJob(stPrinter.listJobState))) {
        jobs = held.listJobs;
        return true;
    }
    m_stHeldJobs.bValid = false;
    // A CUPS that does not answer says nothing about the jobs: the pass keeps the jobs it
    // watches and cancels nothing on a guess.
    if (!m_cups.GetJobs(info.strName, alsoIds, jobs)) {
        return false;
    }
    m_stHeldJobs = {true, info.strName, info.strURI, alsoIds, jobs, stamp};
    return true;
}

bool TrdGetPrinterStatus::NextPassHolds() const
{
    const stHeldJobs& held = m_stHeldJobs;
    if (!m_uPassStamp || !held.bValid || held.uStamp != m_uPassStamp) {
        return false;
    }
    return held.Covers(JobWatchRule::WatchedIds(stPrinter.stInfo.strName, stPrinter.listJobState));
}

bool TrdGetPrinterStatus::stHeldJobs::Covers(const QList<int>& ids) const
{
    return std::all_of(ids.cbegin(), ids.cend(), [this](int id) {
        return listAlsoIds.contains(id) ||
               std::any_of(listJobs.cbegin(), listJobs.cend(),
                           [id](const CupsClient::stJob& job) { return job.iId == id; });
    });
}

bool TrdGetPrinterStatus::JobPass(bool firstPass, bool offline, JobWatchRule::stPass& pass)
{
    QList<CupsClient::stJob> jobs;
    if (!JobsFromCups(firstPass, jobs)) {
        return false;
    }
    pass = JobWatchRule::Apply(stPrinter.stInfo.strName, jobs, stPrinter.listJobState, offline);
    stPrinter.listJobState = pass.listJobs;
    return true;
}

int TrdGetPrinterStatus::CheckJobStatus(bool firstPass)
{
    const stPrinterInfo& info = stPrinter.stInfo;
    // What the previous iteration wrote back. An entry of another queue (or none) at this
    // position says nothing about this printer, so it counts as "no status known".
    int sharedStatus = PRINTER_STATUS_UNKNOWN;
    SharedPrinterList::OwnStatus(pPrinterList, iIndex, info, sharedStatus);
    const bool offline =
        OfflineCancelRule::Fires(info.iConnectType, stPrinter.stState.iStatus, sharedStatus);

    JobWatchRule::stPass pass;
    if (!JobPass(firstPass, offline, pass)) {
        return 0;
    }
    const QByteArray name = info.strName.toLocal8Bit();
    for (const JobWatchRule::stAction& action : pass.listActions) {
        if (action.eAction == JobWatchRule::ACTION_OFFLINE_CANCEL) {
            ORVO_LOG(QStringLiteral("offline cancel cups job:%s"), name.constData());
            CancelCUPSJob(info.strName);
        } else {
            ORVO_LOG(QStringLiteral("Cancel printer job:%s"), name.constData());
            CancelPrinterJob(info.strPort);
        }
    }
    for (int i = 0; i < pass.listJobs.size(); ++i) {
        ORVO_LOG(QStringLiteral("job[%d] status: %d"), i, pass.listJobs.at(i).iStatus);
    }
    return 0;
}

void TrdGetPrinterStatus::CancelCUPSJob(QString queue)
{
    CupsTool::Run(QueueNameCheck::CANCEL_FORMAT, {queue}, "CancelCUPSJob");
}
