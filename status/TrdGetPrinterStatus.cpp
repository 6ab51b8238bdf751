#include "TrdGetPrinterStatus.h"

#include "FixedPaths.h"
#include "ModelTable.h"
#include "StatusEvaluator.h"
#include "UdpStatusChannel.h"
#include "UsbStatusChannel.h"
#include "UtilLog.h"

#include <QFileInfo>

#include <cstring>

// Placeholder while the status worker is being written: constructs, takes its position and
// stops on request. Replaced by the worker's cycle.
TrdGetPrinterStatus::TrdGetPrinterStatus(QObject* parent) : UtilThreadBase(parent) {}
TrdGetPrinterStatus::~TrdGetPrinterStatus() = default;

void TrdGetPrinterStatus::Init(int index, QList<stPrinterManager>* printerList)
{
    iIndex = index;
    pPrinterList = printerList;
}

void TrdGetPrinterStatus::SlotTaskStart()
{
    if (!BeginTask())
        return;
    while (!WaitForSleep(1000)) {
    }
}

void TrdGetPrinterStatus::SlotThreadQuit()
{
    RequestQuit();
}

namespace {
// The log lines of one USB exchange, in the order the exchange met their events.
void LogUsbExchange(const char* function, const UsbStatusChannel::stExchange& exchange,
                    bool withClaimCode)
{
    if (exchange.bDriverActive)
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Kernel Driver Active"));
    if (exchange.bDriverDetached)
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Kernel Driver Detached!"));
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
        WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Cannot open device"));
        break;
    case UsbStatusChannel::RESULT_NO_INTERFACE:
        if (withClaimCode)
            WriteStringLog(__FILE__, __LINE__, function,
                           QStringLiteral("Cannot Claim Interface,ret = %d"), exchange.iClaimError);
        else
            WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("Cannot Claim Interface"));
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
    if (!model)
        return false;
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
    if (exchange.iResult == UsbStatusChannel::RESULT_EXCEPTION)
        transfer = UsbStatusChannel::RESULT_EXCEPTION;
    else if (exchange.iResult != UsbStatusChannel::RESULT_TRANSFERRED)
        return exchange.iResult;

    // A failed transfer still reaches the evaluation, so the status file shows it.
    return CheckPrinterStatus(buffer, UsbStatusChannel::ReplyLength(transfer));
}

int TrdGetPrinterStatus::CancelPrinterJob(QString port)
{
    unsigned char buffer[UsbStatusChannel::BUFFER_SIZE];
    const UsbStatusChannel::stExchange exchange =
        UsbStatusChannel::Exchange(port, UsbStatusChannel::REQUEST_CANCEL, buffer);
    LogUsbExchange("CancelPrinterJob", exchange, false);
    if (exchange.iResult != UsbStatusChannel::RESULT_TRANSFERRED)
        return exchange.iResult;
    return exchange.iTransfer;
}

int TrdGetPrinterStatus::GetPrinterStatusUDP(QString host)
{
    unsigned char buffer[UdpStatusChannel::BUFFER_SIZE];
    const int received = UdpStatusChannel::Poll(host, buffer);
    if (received < 0)
        return received;
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
    const bool changed = CheckRecvBufChange(buf, len);
    const QFileInfo file(path);
    if (changed || !file.exists() || file.size() != static_cast<qint64>(len))
        StatusEvaluator::WriteStatusFile(path, buf, len);

    if (!StatusEvaluator::Decode(buf, len, stPrinter.stState))
        return -1;
    return 0;
}

bool TrdGetPrinterStatus::CheckRecvBufChange(unsigned char* buf, unsigned long len)
{
    const unsigned long remembered = static_cast<unsigned long>(iLastRecvLen);
    if (len == remembered && (len == 0 || std::memcmp(buf, ucLastRecvBuf, len) == 0))
        return false;
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
