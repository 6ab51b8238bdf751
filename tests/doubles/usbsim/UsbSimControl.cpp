#include "tests/doubles/usbsim/UsbSimControl.h"

#include "tests/doubles/usbsim/UsbPrinterEmulator.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace {

bool onOff(const std::string& word, bool& value)
{
    if (word == "on") {
        value = true;
    } else if (word == "off") {
        value = false;
    } else {
        return false;
    }
    return true;
}

} // namespace

bool UsbSimControl::parseHex(const std::string& text, std::vector<std::uint8_t>& out)
{
    out.clear();
    int high = -1;
    bool comment = false;
    for (char c : text) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == '#') {
            comment = true;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':' || c == ',') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        const int nibble = std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = nibble;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    return high < 0;
}

bool UsbSimControl::loadBytes(const std::string& arg, std::vector<std::uint8_t>& out,
                              std::string& error)
{
    std::ifstream file(arg);
    std::string text = arg;
    if (file) {
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str();
    } else if (arg.find('/') != std::string::npos) {
        error = "cannot read " + arg;
        return false;
    }
    if (text == "-") {
        text.clear(); // an explicitly empty reply
    }
    if (!parseHex(text, out)) {
        error = "not hex bytes: " + arg;
        return false;
    }
    return true;
}

int UsbSimControl::device(const std::string& name) const
{
    const int bySerial = m_emulator.findBySerial(name);
    if (bySerial >= 0) {
        return bySerial;
    }
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const int index = std::stoi(name);
    return index < m_emulator.printerCount() ? index : -1;
}

std::string UsbSimControl::execute(const std::string& line)
{
    std::istringstream in(line);
    std::string cmd, dev;
    in >> cmd >> dev;
    std::string arg;
    std::getline(in, arg);
    arg.erase(0, arg.find_first_not_of(" \t"));
    arg.erase(arg.find_last_not_of(" \t\r") + 1);
    if (cmd.empty()) {
        return "error: empty command";
    }
    if (cmd == "list") {
        std::string out;
        for (int i = 0; i < m_emulator.printerCount(); ++i) {
            if (!out.empty()) {
                out += "; ";
            }
            out += std::to_string(i) + " " + m_emulator.serial(i) + " " + m_emulator.devNode(i) +
                   (m_emulator.isPlugged(i) ? " plugged" : " unplugged");
        }
        return out;
    }
    static const char* const kCommands[] = {"set-reply",  "set-cancel-reply", "mode",   "driver",
                                            "claim-fail", "open-fail",        "unplug", "plug",
                                            "count",      "reset-count"};
    bool known = false;
    for (const char* c : kCommands) {
        known = known || cmd == c;
    }
    if (!known) {
        return "error: unknown command " + cmd;
    }
    const int index = device(dev);
    if (index < 0) {
        return "error: no such device: " + dev;
    }

    // Hex replies may be written with blanks; every other argument is one word.
    const bool takesBytes = cmd == "set-reply" || cmd == "set-cancel-reply";
    if (!takesBytes && arg.find_first_of(" \t") != std::string::npos) {
        return "error: too many arguments";
    }
    const bool noArg = cmd == "unplug" || cmd == "plug" || cmd == "count" || cmd == "reset-count";
    if (noArg != arg.empty()) {
        return noArg ? "error: " + cmd + " takes no argument"
                     : "error: " + cmd + " needs an argument";
    }

    try {
        bool flag = false;
        if (cmd == "set-reply" || cmd == "set-cancel-reply") {
            std::vector<std::uint8_t> bytes;
            std::string error;
            if (!loadBytes(arg, bytes, error)) {
                return "error: " + error;
            }
            if (cmd == "set-reply") {
                m_emulator.setStatusReply(index, bytes);
            } else {
                m_emulator.setCancelReply(index, bytes);
            }
        } else if (cmd == "mode") {
            UsbPrinterEmulator::TransferMode mode;
            if (!UsbPrinterEmulator::parseMode(arg, mode)) {
                return "error: mode is normal, zero, timeout or stall";
            }
            m_emulator.setMode(index, mode);
        } else if (cmd == "driver" || cmd == "claim-fail" || cmd == "open-fail") {
            if (!onOff(arg, flag)) {
                return "error: " + cmd + " takes on or off";
            }
            if (cmd == "driver") {
                m_emulator.setKernelDriver(index, flag);
            } else if (cmd == "claim-fail") {
                m_emulator.setClaimFailure(index, flag);
            } else {
                m_emulator.setOpenFailure(index, flag);
            }
        } else if (cmd == "unplug") {
            m_emulator.unplug(index);
        } else if (cmd == "plug") {
            m_emulator.plug(index);
        } else if (cmd == "count") {
            return "status " + std::to_string(m_emulator.statusRequests(index)) + " cancel " +
                   std::to_string(m_emulator.cancelRequests(index)) + " detach " +
                   std::to_string(m_emulator.detachRequests(index));
        } else if (cmd == "reset-count") {
            m_emulator.resetCounters(index);
        }
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
    return "ok";
}
