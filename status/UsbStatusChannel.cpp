#include "status/UsbStatusChannel.h"

#include "service/ModelTable.h"

#include <libusb.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<UsbStatusChannel::StepHook> s_pStepHook{nullptr};

void ReachStep(const char* step)
{
    if (const UsbStatusChannel::StepHook hook = s_pStepHook.load(std::memory_order_acquire)) {
        hook(step);
    }
}

// Gives back whatever an exchange still holds, on every way out of it.
class UsbExchangeGuard
{
public:
    UsbExchangeGuard() = default;
    UsbExchangeGuard(const UsbExchangeGuard&) = delete;
    UsbExchangeGuard& operator=(const UsbExchangeGuard&) = delete;
    ~UsbExchangeGuard()
    {
        CloseHandle();
        FreeList();
        if (pContext) {
            libusb_exit(pContext);
        }
    }

    void CloseHandle()
    {
        if (pHandle) {
            libusb_close(pHandle);
        }
        pHandle = nullptr;
    }
    void FreeList()
    {
        if (pList) {
            libusb_free_device_list(pList, 1);
        }
        pList = nullptr;
    }

    libusb_context* pContext = nullptr;
    libusb_device** pList = nullptr;
    libusb_device_handle* pHandle = nullptr;
};

// How the device's serial number matches the port's; a device it does not match is closed again.
UsbStatusChannel::SerialMatch OpenAndMatch(UsbExchangeGuard& guard, libusb_device* device,
                                           const libusb_device_descriptor& descriptor,
                                           const QString& portSerial)
{
    using SerialMatch = UsbStatusChannel::SerialMatch;
    if (libusb_open(device, &guard.pHandle) != 0 || !guard.pHandle) {
        guard.pHandle = nullptr;
        return SerialMatch::None;
    }
    unsigned char serial[64];
    std::memset(serial, 0, sizeof serial);
    const int n = libusb_get_string_descriptor_ascii(guard.pHandle, descriptor.iSerialNumber,
                                                     serial, sizeof serial);
    if (n < 0) {
        guard.CloseHandle();
        return SerialMatch::None;
    }
    serial[sizeof serial - 1] = 0;
    const SerialMatch match = UsbStatusChannel::MatchSerial(
        portSerial, UsbStatusChannel::DeviceSerial(reinterpret_cast<char*>(serial)));
    if (match == SerialMatch::None) {
        guard.CloseHandle();
    }
    return match;
}

void RunExchange(UsbExchangeGuard& guard, const stModelInfo& model, const QString& port,
                 unsigned char request, unsigned char* buffer, UsbStatusChannel::stExchange& out)
{
    if (libusb_init(&guard.pContext) < 0) {
        guard.pContext = nullptr;
        out.iResult = UsbStatusChannel::RESULT_INIT_FAILED;
        return;
    }
    ReachStep("context");
    if (libusb_get_device_list(guard.pContext, &guard.pList) < 0) {
        guard.pList = nullptr;
        out.iResult = UsbStatusChannel::RESULT_NO_DEVICE_LIST;
        return;
    }
    ReachStep("list");

    const QString portSerial = UsbStatusChannel::PortSerial(port);
    // A device whose whole serial is the port's wins over those it only begins; a shortened serial
    // that begins two devices names neither, since asking (or cancelling on) the wrong printer is
    // worse than asking none.
    libusb_device* prefixDevice = nullptr;
    int prefixMatches = 0;
    for (int i = 0; guard.pList[i]; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(guard.pList[i], &descriptor) < 0) {
            out.iResult = UsbStatusChannel::RESULT_NO_DESCRIPTOR;
            out.iDescriptorIndex = i;
            return;
        }
        if (descriptor.idProduct != model.iPid || descriptor.idVendor != model.iVid) {
            continue;
        }
        const UsbStatusChannel::SerialMatch match =
            OpenAndMatch(guard, guard.pList[i], descriptor, portSerial);
        if (match == UsbStatusChannel::SerialMatch::Whole) {
            break;
        }
        if (match == UsbStatusChannel::SerialMatch::Prefix) {
            guard.CloseHandle();
            prefixDevice = guard.pList[i];
            ++prefixMatches;
        }
    }
    if (!guard.pHandle && prefixMatches == 1 &&
        (libusb_open(prefixDevice, &guard.pHandle) != 0 || !guard.pHandle)) {
        guard.pHandle = nullptr;
    }
    if (!guard.pHandle) {
        out.iResult = UsbStatusChannel::RESULT_NO_DEVICE;
        out.bSerialAmbiguous = prefixMatches > 1;
        return;
    }
    ReachStep("opened");
    guard.FreeList();

    if (libusb_kernel_driver_active(guard.pHandle, 0) == 1) {
        out.bDriverActive = true;
        // A failed detach shows in the claim that follows.
        out.bDriverDetached = libusb_detach_kernel_driver(guard.pHandle, 0) == 0;
    }
    const int claim = libusb_claim_interface(guard.pHandle, 0);
    if (claim < 0) {
        out.iResult = UsbStatusChannel::RESULT_NO_INTERFACE;
        out.iClaimError = claim;
        return;
    }
    ReachStep("claimed");

    // The interface stays claimed: closing the handle gives it back.
    out.iTransfer = libusb_control_transfer(
        guard.pHandle, LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE,
        request, 0, 0, buffer + UsbStatusChannel::DATA_OFFSET, UsbStatusChannel::DATA_LENGTH,
        UsbStatusChannel::TIMEOUT_MS);
    out.iResult = UsbStatusChannel::RESULT_TRANSFERRED;
    ReachStep("transferred");
}
} // namespace

UsbStatusChannel::stExchange UsbStatusChannel::Exchange(const QString& port, unsigned char request,
                                                        unsigned char* buffer)
{
    stExchange out;
    std::memset(buffer, 0, BUFFER_SIZE);
    const stModelInfo* model = ModelTable::FindByPortText(port);
    if (!model) {
        out.iResult = RESULT_UNKNOWN_MODEL;
        return out;
    }
    try {
        UsbExchangeGuard guard;
        RunExchange(guard, *model, port, request, buffer, out);
    } catch (...) {
        out.iResult = RESULT_EXCEPTION;
    }
    return out;
}

unsigned long UsbStatusChannel::ReplyLength(int transfer)
{
    if (transfer < LIBUSB_ERROR_TIMEOUT) {
        return 0;
    }
    if (transfer > DATA_LENGTH) {
        transfer = DATA_LENGTH;
    }
    return static_cast<unsigned long>(transfer + DATA_OFFSET);
}

QString UsbStatusChannel::PortSerial(const QString& port)
{
    static const QString key = QStringLiteral("serial=");
    const int pos = port.indexOf(key, 0, Qt::CaseInsensitive);
    if (pos < 0) {
        return port.mid(pos + key.size(), SERIAL_CHARS);
    }
    const int start = pos + key.size();
    const int end = port.indexOf(QLatin1Char('&'), start);
    return port.mid(start, end < 0 ? -1 : end - start);
}

QString UsbStatusChannel::DeviceSerial(const char* ascii)
{
    return QString::fromLatin1(ascii);
}

UsbStatusChannel::SerialMatch UsbStatusChannel::MatchSerial(const QString& portSerial,
                                                            const QString& deviceSerial)
{
    if (portSerial.compare(deviceSerial, Qt::CaseInsensitive) == 0) {
        return SerialMatch::Whole;
    }
    // Serials of one production batch share their first characters, so a longer port serial
    // must match whole. A shorter one is kept as a prefix: queues made when serials were
    // compared by their first ten characters, and URIs whose serial CUPS took from an IEEE 1284
    // device ID that the maker's firmware cuts short, still find their printer.
    if (!portSerial.isEmpty() && portSerial.size() < deviceSerial.size() &&
        deviceSerial.startsWith(portSerial, Qt::CaseInsensitive)) {
        return SerialMatch::Prefix;
    }
    return SerialMatch::None;
}

void UsbStatusChannel::SetStepHookForTesting(StepHook hook)
{
    s_pStepHook.store(hook, std::memory_order_release);
}
