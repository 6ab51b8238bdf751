#pragma once

// Emulated Orvo USB printers for the unmodified libusb code path.
//
// umockdev's preload library redirects /sys and /dev/bus/usb into a testbed directory; this class
// fills that testbed with printers and answers their usbfs ioctls (URBs, driver, claim) from a
// handler that runs on umockdev's own worker thread.  Every setter may be called from any thread
// at any time.
//
// Two rules come with umockdev:
//  - the process that opens the devices must have had libumockdev-preload.so.0 in LD_PRELOAD from
//    its start (see UmockdevPreload), or be spawned with it and with UMOCKDEV_DIR = rootDir();
//  - the constructor sets UMOCKDEV_DIR for the whole process, so construct the emulator before any
//    other thread exists.
//
// No Qt in here: glib's and Qt's keyword macros collide.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class UsbPrinterEmulator
{
public:
    static constexpr std::uint16_t kOrvoVendorId = 0x3A5C;

    // How the printer handles its class requests (status 0x33 and cancel 0x34).
    enum class TransferMode
    {
        Normal,    // answer the current reply bytes
        ZeroBytes, // complete the transfer with no data
        Timeout,   // never answer; libusb discards the URB when its time-out expires
        Stall,     // the endpoint stalls (-EPIPE)
    };

    UsbPrinterEmulator();
    ~UsbPrinterEmulator();
    UsbPrinterEmulator(const UsbPrinterEmulator&) = delete;
    UsbPrinterEmulator& operator=(const UsbPrinterEmulator&) = delete;

    // Adds and plugs a printer; returns its index for the other calls.
    int addPrinter(std::uint16_t productId, const std::string& serial,
                   const std::string& productName = "Orvo printer",
                   std::uint16_t vendorId = kOrvoVendorId);
    int printerCount() const;
    // Index of the printer with this serial number, or -1.
    int findBySerial(const std::string& serial) const;

    std::string rootDir() const;
    std::string devNode(int index) const; // e.g. /dev/bus/usb/001/002 (as seen under preload)
    std::string serial(int index) const;

    void setStatusReply(int index, const std::vector<std::uint8_t>& reply);
    void setCancelReply(int index, const std::vector<std::uint8_t>& reply);
    void setMode(int index, TransferMode mode);
    // A kernel driver ("usblp") holds interface 0 until it is detached.
    void setKernelDriver(int index, bool bound);
    bool kernelDriverBound(int index) const;
    void setClaimFailure(int index, bool fail);
    // The device node disappears while sysfs still lists the device: libusb_open fails.
    void setOpenFailure(int index, bool fail);
    void unplug(int index);
    void plug(int index);
    bool isPlugged(int index) const;

    int statusRequests(int index) const;
    int cancelRequests(int index) const;
    int detachRequests(int index) const;
    void resetCounters(int index);

    static bool parseMode(const std::string& text, TransferMode& mode);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
