#include "tests/doubles/usbsim/UsbPrinterEmulator.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBusNumber = 1;
constexpr std::uint8_t kStatusRequest = 0x33;
constexpr std::uint8_t kCancelRequest = 0x34;
constexpr std::uint8_t kClassInterfaceIn = 0xA1;
constexpr std::uint8_t kStandardDeviceIn = 0x80;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::size_t kSetupSize = 8;
constexpr char kDriverName[] = "usblp";

struct PendingUrb
{
    UMockdevIoctlData* urb = nullptr; // our reference; unreffed when reaped or dropped
    bool done = false;
    int status = 0;
    int actualLength = 0;
};

std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string out;
    char buf[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

void putLe16(std::vector<std::uint8_t>& v, std::uint16_t x)
{
    v.push_back(static_cast<std::uint8_t>(x & 0xff));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

std::vector<std::uint8_t> stringDescriptor(const std::string& text)
{
    std::vector<std::uint8_t> d{0, 3};
    for (unsigned char c : text) {
        if (d.size() + 2 > 255) {
            break;
        }
        putLe16(d, c);
    }
    d[0] = static_cast<std::uint8_t>(d.size());
    return d;
}

} // namespace

struct EmulatedUsbPrinter
{
    UsbPrinterEmulator::Impl* owner = nullptr;
    int index = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
    std::string product;
    int devnum = 0;
    std::string devpath; // /devices/... (sysfs path without /sys)
    std::string devnode; // /dev/bus/usb/BBB/DDD
    UMockdevIoctlBase* handler = nullptr;

    // Guarded by Impl::mutex.
    std::vector<std::uint8_t> statusReply;
    std::vector<std::uint8_t> cancelReply{0x00};
    UsbPrinterEmulator::TransferMode mode = UsbPrinterEmulator::TransferMode::Normal;
    bool driverBound = false;
    bool claimFailure = false;
    bool openFailure = false;
    bool plugged = false;
    int statusCount = 0;
    int cancelCount = 0;
    int detachCount = 0;
    std::map<UMockdevIoctlClient*, std::vector<PendingUrb>> pending;

    std::vector<std::uint8_t> deviceDescriptor() const
    {
        std::vector<std::uint8_t> d{18, 1};
        putLe16(d, 0x0200);                        // bcdUSB
        d.insert(d.end(), {0x00, 0x00, 0x00, 64}); // class per interface, ep0 packet size
        putLe16(d, vendorId);
        putLe16(d, productId);
        putLe16(d, 0x0100);              // bcdDevice
        d.insert(d.end(), {1, 2, 3, 1}); // manufacturer, product, serial, 1 configuration
        return d;
    }

    static std::vector<std::uint8_t> configDescriptor()
    {
        return {// configuration: 32 bytes in total, 1 interface, self powered
                0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32,
                // interface 0: class 7 (printer), subclass 1, protocol 2 (bidirectional)
                0x09, 0x04, 0x00, 0x00, 0x02, 0x07, 0x01, 0x02, 0x00,
                // bulk OUT 0x01 and bulk IN 0x81, 512 bytes
                0x07, 0x05, 0x01, 0x02, 0x00, 0x02, 0x00, 0x07, 0x05, 0x81, 0x02, 0x00, 0x02, 0x00};
    }

    std::string description() const
    {
        char node[32];
        std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", kBusNumber, devnum);
        char product_prop[32];
        std::snprintf(product_prop, sizeof product_prop, "%x/%x/100", vendorId, productId);
        std::vector<std::uint8_t> descriptors = deviceDescriptor();
        std::vector<std::uint8_t> config = configDescriptor();
        descriptors.insert(descriptors.end(), config.begin(), config.end());
        const int minor = (kBusNumber - 1) * 128 + devnum - 1;

        std::string s;
        s += "P: " + devpath + "\n";
        s += std::string("N: ") + node + "\n";
        s += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
        s += std::string("E: DEVNAME=/dev/") + node + "\n";
        s += "E: BUSNUM=" + std::string(node + 8, 3) + "\n";
        s += "E: DEVNUM=" + std::string(node + 12, 3) + "\n";
        s += "E: MAJOR=189\nE: MINOR=" + std::to_string(minor) + "\n";
        s += std::string("E: PRODUCT=") + product_prop + "\n";
        s += "A: busnum=" + std::to_string(kBusNumber) + "\\n\n";
        s += "A: devnum=" + std::to_string(devnum) + "\\n\n";
        s += "A: speed=480\\n\n";
        s += "A: dev=189:" + std::to_string(minor) + "\\n\n";
        s += "A: bConfigurationValue=1\\n\n";
        s += "A: bNumConfigurations=1\\n\n";
        s += "A: serial=" + serial + "\\n\n";
        s += "A: product=" + product + "\\n\n";
        s += "H: descriptors=" + hexBytes(descriptors) + "\n";
        return s;
    }
};

struct UsbPrinterEmulator::Impl
{
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<EmulatedUsbPrinter>> printers;

    EmulatedUsbPrinter& at(int index) const
    {
        if (index < 0 || index >= static_cast<int>(printers.size())) {
            throw std::out_of_range("no emulated printer with index " + std::to_string(index));
        }
        return *printers[static_cast<std::size_t>(index)];
    }

    std::string nodeFile(const EmulatedUsbPrinter& p) const { return root + p.devnode; }
    std::string hiddenNodeFile(const EmulatedUsbPrinter& p) const
    {
        return root + p.devnode + ".unreachable";
    }

    void attach(EmulatedUsbPrinter& p);
    void detach(EmulatedUsbPrinter& p);
};

namespace {

// Answer for a control transfer, decided while the URB is submitted.
struct ControlAnswer
{
    bool pendingForever = false;
    int status = 0;
    std::vector<std::uint8_t> data;
};

ControlAnswer answerControl(EmulatedUsbPrinter& p, const std::uint8_t* setup)
{
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    ControlAnswer a;

    if (requestType == kClassInterfaceIn &&
        (request == kStatusRequest || request == kCancelRequest)) {
        const bool status = request == kStatusRequest;
        (status ? p.statusCount : p.cancelCount)++;
        switch (p.mode) {
        case UsbPrinterEmulator::TransferMode::Normal:
            a.data = status ? p.statusReply : p.cancelReply;
            break;
        case UsbPrinterEmulator::TransferMode::ZeroBytes:
            break;
        case UsbPrinterEmulator::TransferMode::Timeout:
            a.pendingForever = true;
            break;
        case UsbPrinterEmulator::TransferMode::Stall:
            a.status = -EPIPE;
            break;
        }
        return a;
    }
    if (requestType == kStandardDeviceIn && request == kGetDescriptor) {
        const int type = value >> 8;
        const int index = value & 0xff;
        if (type == 1) {
            a.data = p.deviceDescriptor();
        } else if (type == 2) {
            a.data = EmulatedUsbPrinter::configDescriptor();
        } else if (type == 3 && index == 0) {
            a.data = {4, 3, 0x09, 0x04}; // English (US) only
        } else if (type == 3 && index == 1) {
            a.data = stringDescriptor("Orvo");
        } else if (type == 3 && index == 2) {
            a.data = stringDescriptor(p.product);
        } else if (type == 3 && index == 3) {
            a.data = stringDescriptor(p.serial);
        } else {
            a.status = -EPIPE;
        }
        return a;
    }
    a.status = -EPIPE; // anything else: the device stalls like a real one would
    return a;
}

void fillUrb(UMockdevIoctlData* urbData, const PendingUrb& u)
{
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    urb->status = u.status;
    urb->actual_length = u.actualLength;
}

void handleSubmit(EmulatedUsbPrinter& p, UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!urbData) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL ||
        urb->buffer_length < static_cast<int>(kSetupSize)) {
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1,
                                       EINVAL); // a printer of ours has no other pipe in use
        return;
    }
    UMockdevIoctlData* bufData = umockdev_ioctl_data_resolve(
        urbData, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), &error);
    if (!bufData) {
        g_clear_error(&error);
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }

    PendingUrb pending;
    pending.urb = urbData;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        ControlAnswer a = answerControl(p, bufData->data);
        const std::size_t wLength = bufData->data[6] | (bufData->data[7] << 8);
        const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - kSetupSize;
        std::size_t n = a.data.size();
        if (n > wLength) {
            n = wLength;
        }
        if (n > room) {
            n = room;
        }
        if (n > 0) {
            std::memcpy(bufData->data + kSetupSize, a.data.data(), n);
        }
        pending.done = !a.pendingForever;
        pending.status = a.status;
        pending.actualLength = a.status == 0 ? static_cast<int>(n) : 0;
        fillUrb(urbData, pending);
        p.pending[client].push_back(pending);
    }
    g_object_unref(bufData);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void handleReap(EmulatedUsbPrinter& p, UMockdevIoctlClient* client)
{
    PendingUrb done;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        auto it = p.pending.find(client);
        if (it != p.pending.end()) {
            auto& list = it->second;
            for (auto u = list.begin(); u != list.end(); ++u) {
                if (u->done) {
                    done = *u;
                    list.erase(u);
                    break;
                }
            }
        }
    }
    if (!done.urb) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return;
    }
    // The argument points at the client's "void *" that receives the reaped URB's address.
    GError* error = nullptr;
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(void*), &error);
    if (!slot) {
        g_clear_error(&error);
        g_object_unref(done.urb);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    fillUrb(done.urb, done);
    umockdev_ioctl_data_set_ptr(slot, 0, done.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    g_object_unref(done.urb);
}

void handleDiscard(EmulatedUsbPrinter& p, UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        auto it = p.pending.find(client);
        if (it != p.pending.end()) {
            for (auto& u : it->second) {
                if (!u.done && u.urb->client_addr == address) {
                    u.done = true;
                    u.status = -ENOENT;
                    u.actualLength = 0;
                    found = true;
                    break;
                }
            }
        }
    }
    if (found) {
        umockdev_ioctl_client_complete(client, 0, 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }
}

void handleGetDriver(EmulatedUsbPrinter& p, UMockdevIoctlClient* client)
{
    bool bound;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        bound = p.driverBound;
    }
    if (!bound) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return;
    }
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(usbdevfs_getdriver), &error);
    if (!data) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    auto* gd = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    std::memset(gd->driver, 0, sizeof gd->driver);
    std::memcpy(gd->driver, kDriverName, sizeof kDriverName);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(data);
}

void handleUsbIoctl(EmulatedUsbPrinter& p, UMockdevIoctlClient* client)
{
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(usbdevfs_ioctl), &error);
    if (!data) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    const int code = reinterpret_cast<usbdevfs_ioctl*>(data->data)->ioctl_code;
    g_object_unref(data);
    long res = 0;
    int err = 0;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            p.detachCount++;
            if (p.driverBound) {
                p.driverBound = false;
            } else {
                res = -1, err = ENODATA;
            }
        } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
            p.driverBound = true;
        } else {
            res = -1, err = ENOTTY;
        }
    }
    umockdev_ioctl_client_complete(client, res, err);
}

gboolean onHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    EmulatedUsbPrinter& p = *static_cast<EmulatedUsbPrinter*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    bool plugged;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        plugged = p.plugged;
    }
    // Being unplugged: only the completions of transfers already in flight remain to collect.
    if (!plugged && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_DISCARDURB) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    switch (request) {
    case USBDEVFS_SUBMITURB:
        handleSubmit(p, client);
        break;
    case USBDEVFS_REAPURBNDELAY:
        handleReap(p, client);
        break;
    case USBDEVFS_DISCARDURB:
        handleDiscard(p, client);
        break;
    case USBDEVFS_GETDRIVER:
        handleGetDriver(p, client);
        break;
    case USBDEVFS_IOCTL:
        handleUsbIoctl(p, client);
        break;
    case USBDEVFS_CLAIMINTERFACE: {
        bool fail;
        {
            std::lock_guard<std::mutex> lock(p.owner->mutex);
            fail = p.claimFailure || p.driverBound;
        }
        if (fail) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        } else {
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        break;
    }
    case USBDEVFS_RELEASEINTERFACE:
        umockdev_ioctl_client_complete(client, 0, 0);
        break;
    case USBDEVFS_GET_CAPABILITIES: {
        GError* error = nullptr;
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, 4, &error);
        if (!data) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            break;
        }
        std::memset(data->data, 0, 4);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
        break;
    }
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        break;
    }
    return TRUE;
}

// URBs belong to the open file: a closed fd must not leave them for another client to reap.
void onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    EmulatedUsbPrinter& p = *static_cast<EmulatedUsbPrinter*>(user);
    std::vector<PendingUrb> dropped;
    {
        std::lock_guard<std::mutex> lock(p.owner->mutex);
        auto it = p.pending.find(client);
        if (it == p.pending.end()) {
            return;
        }
        dropped.swap(it->second);
        p.pending.erase(it);
    }
    for (auto& u : dropped) {
        g_object_unref(u.urb);
    }
}

} // namespace

void UsbPrinterEmulator::Impl::attach(EmulatedUsbPrinter& p)
{
    GError* error = nullptr;
    const std::string description = p.description();
    if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
        std::string msg = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot add emulated USB device: " + msg);
    }
    p.handler = umockdev_ioctl_base_new();
    g_signal_connect(p.handler, "handle-ioctl", G_CALLBACK(onHandleIoctl), &p);
    g_signal_connect(p.handler, "client-vanished", G_CALLBACK(onClientVanished), &p);
    if (!umockdev_testbed_attach_ioctl(testbed, p.devnode.c_str(), p.handler, &error)) {
        std::string msg = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot attach the USB handler to " + p.devnode + ": " + msg);
    }
}

void UsbPrinterEmulator::Impl::detach(EmulatedUsbPrinter& p)
{
    if (!p.handler) {
        return;
    }
    umockdev_testbed_detach_ioctl(testbed, p.devnode.c_str(), nullptr);
    g_object_unref(p.handler);
    p.handler = nullptr;
    // Clients of the removed handler are gone with it; their URBs must not leak.
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& entry : p.pending) {
        for (auto& u : entry.second) {
            g_object_unref(u.urb);
        }
    }
    p.pending.clear();
}

UsbPrinterEmulator::UsbPrinterEmulator() : d(new Impl)
{
    d->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(d->testbed);
    d->root = root;
    g_free(root);
}

UsbPrinterEmulator::~UsbPrinterEmulator()
{
    for (auto& p : d->printers) {
        if (p->plugged) {
            d->detach(*p);
        }
    }
    g_object_unref(d->testbed);
}

int UsbPrinterEmulator::addPrinter(std::uint16_t productId, const std::string& serial,
                                   const std::string& productName, std::uint16_t vendorId)
{
    auto p = std::make_unique<EmulatedUsbPrinter>();
    p->owner = d.get();
    p->index = static_cast<int>(d->printers.size());
    p->vendorId = vendorId;
    p->productId = productId;
    p->serial = serial;
    p->product = productName;
    p->devnum = p->index + 2; // 1 is the root hub's address on a real bus
    p->devpath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(p->index + 1);
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBusNumber, p->devnum);
    p->devnode = node;
    d->attach(*p);
    p->plugged = true;
    d->printers.push_back(std::move(p));
    return static_cast<int>(d->printers.size()) - 1;
}

int UsbPrinterEmulator::printerCount() const
{
    return static_cast<int>(d->printers.size());
}

int UsbPrinterEmulator::findBySerial(const std::string& serial) const
{
    for (const auto& p : d->printers) {
        if (p->serial == serial) {
            return p->index;
        }
    }
    return -1;
}

std::string UsbPrinterEmulator::rootDir() const
{
    return d->root;
}

std::string UsbPrinterEmulator::devNode(int index) const
{
    return d->at(index).devnode;
}

std::string UsbPrinterEmulator::serial(int index) const
{
    return d->at(index).serial;
}

void UsbPrinterEmulator::setStatusReply(int index, const std::vector<std::uint8_t>& reply)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.statusReply = reply;
}

void UsbPrinterEmulator::setCancelReply(int index, const std::vector<std::uint8_t>& reply)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.cancelReply = reply;
}

void UsbPrinterEmulator::setMode(int index, TransferMode mode)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.mode = mode;
}

void UsbPrinterEmulator::setKernelDriver(int index, bool bound)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.driverBound = bound;
}

bool UsbPrinterEmulator::kernelDriverBound(int index) const
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    return p.driverBound;
}

void UsbPrinterEmulator::setClaimFailure(int index, bool fail)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.claimFailure = fail;
}

void UsbPrinterEmulator::setOpenFailure(int index, bool fail)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    if (p.openFailure == fail) {
        return;
    }
    p.openFailure = fail;
    if (!p.plugged) {
        return;
    }
    // Root opens any mode, so only a missing node makes open() fail (libusb: NO_DEVICE).
    const std::string from = fail ? d->nodeFile(p) : d->hiddenNodeFile(p);
    const std::string to = fail ? d->hiddenNodeFile(p) : d->nodeFile(p);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        throw std::runtime_error("cannot rename " + from + ": " + std::strerror(errno));
    }
}

void UsbPrinterEmulator::unplug(int index)
{
    EmulatedUsbPrinter& p = d->at(index);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!p.plugged) {
            return;
        }
        p.plugged = false;
        if (p.openFailure) {
            std::rename(d->hiddenNodeFile(p).c_str(), d->nodeFile(p).c_str());
        }
        // As the kernel does on a disconnect: every transfer in flight ends with ENODEV.
        // A client left waiting on the removed handler would wait forever.
        for (auto& entry : p.pending) {
            for (PendingUrb& u : entry.second) {
                u.done = true;
                u.status = -ENODEV;
                u.actualLength = 0;
            }
        }
    }
    // Give the clients a moment to reap them (libusb polls for completions all the time).
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            bool anyLeft = false;
            for (const auto& entry : p.pending) {
                anyLeft = anyLeft || !entry.second.empty();
            }
            if (!anyLeft) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    d->detach(p);
    umockdev_testbed_remove_device(d->testbed, ("/sys" + p.devpath).c_str());
}

void UsbPrinterEmulator::plug(int index)
{
    EmulatedUsbPrinter& p = d->at(index);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (p.plugged) {
            return;
        }
    }
    d->attach(p);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.plugged = true;
    if (p.openFailure) {
        std::rename(d->nodeFile(p).c_str(), d->hiddenNodeFile(p).c_str());
    }
}

bool UsbPrinterEmulator::isPlugged(int index) const
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    return p.plugged;
}

int UsbPrinterEmulator::statusRequests(int index) const
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    return p.statusCount;
}

int UsbPrinterEmulator::cancelRequests(int index) const
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    return p.cancelCount;
}

int UsbPrinterEmulator::detachRequests(int index) const
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    return p.detachCount;
}

void UsbPrinterEmulator::resetCounters(int index)
{
    EmulatedUsbPrinter& p = d->at(index);
    std::lock_guard<std::mutex> lock(d->mutex);
    p.statusCount = p.cancelCount = p.detachCount = 0;
}

bool UsbPrinterEmulator::parseMode(const std::string& text, TransferMode& mode)
{
    if (text == "normal") {
        mode = TransferMode::Normal;
    } else if (text == "zero") {
        mode = TransferMode::ZeroBytes;
    } else if (text == "timeout") {
        mode = TransferMode::Timeout;
    } else if (text == "stall") {
        mode = TransferMode::Stall;
    } else {
        return false;
    }
    return true;
}
