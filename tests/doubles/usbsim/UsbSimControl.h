#pragma once

// Text commands that steer a UsbPrinterEmulator at run time; one command per line, one reply
// line back.  DEV is a printer's index (0, 1, ...) or its serial number.
//
//   set-reply DEV HEX|FILE     status reply bytes (FILE holds hex digits; blanks and #-comments
//                              are ignored)
//   set-cancel-reply DEV HEX|FILE
//   mode DEV normal|zero|timeout|stall
//   driver DEV on|off          a kernel driver holds interface 0
//   claim-fail DEV on|off      claiming interface 0 fails with EBUSY
//   open-fail DEV on|off       the device node vanishes, libusb_open fails
//   unplug DEV | plug DEV
//   count DEV                  -> "status N cancel M detach K"
//   reset-count DEV
//   list                       -> "INDEX SERIAL DEVNODE plugged|unplugged" separated by "; "
//
// Replies: "ok", a result line, or "error: ..." .

#include <cstdint>
#include <string>
#include <vector>

class UsbPrinterEmulator;

class UsbSimControl
{
public:
    explicit UsbSimControl(UsbPrinterEmulator& emulator) : m_emulator(emulator) {}

    std::string execute(const std::string& line);

    static bool parseHex(const std::string& text, std::vector<std::uint8_t>& out);
    // HEX text, or the name of a file holding it.
    static bool loadBytes(const std::string& arg, std::vector<std::uint8_t>& out,
                          std::string& error);

private:
    int device(const std::string& name) const;

    UsbPrinterEmulator& m_emulator;
};
