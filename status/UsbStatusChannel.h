#pragma once

#include <QString>

// The one place that talks libusb: finds an Orvo printer by its model's IDs and the serial
// number of its port text, takes interface 0 and sends one class request whose data stage is
// read behind seven zero bytes. Every call owns its context, device list and handle and gives
// all of them back before it returns, whichever way it ends.
class UsbStatusChannel
{
public:
    enum : unsigned char
    {
        REQUEST_STATUS = 0x33,
        REQUEST_CANCEL = 0x34,
    };

    // Failure codes of an exchange, as the callers report them.
    enum
    {
        RESULT_TRANSFERRED = 0,
        RESULT_UNKNOWN_MODEL = -1,
        RESULT_INIT_FAILED = -2,
        RESULT_NO_DEVICE_LIST = -3,
        RESULT_NO_DESCRIPTOR = -4,
        RESULT_NO_DEVICE = -5,
        RESULT_NO_INTERFACE = -6,
        RESULT_EXCEPTION = -99,
    };

    static constexpr int BUFFER_SIZE = 1024;
    // The data stage goes behind room for the reply header, which a USB reply does not carry.
    static constexpr int DATA_OFFSET = 7;
    static constexpr int DATA_LENGTH = BUFFER_SIZE - DATA_OFFSET;
    static constexpr unsigned int TIMEOUT_MS = 2000;
    // A port text without "serial=" names its serial by this many characters from position 6.
    static constexpr int SERIAL_CHARS = 10;

    // What happened during one exchange, in the order it happened, for the caller's log.
    struct stExchange
    {
        int iResult = RESULT_TRANSFERRED; // RESULT_* code
        int iTransfer = 0;                // libusb_control_transfer's result when iResult is 0
        int iClaimError = 0;              // libusb's code behind RESULT_NO_INTERFACE
        int iDescriptorIndex = -1;        // list index behind RESULT_NO_DESCRIPTOR
        bool bDriverActive = false;
        bool bDriverDetached = false;
        bool bSerialAmbiguous = false; // behind RESULT_NO_DEVICE: the serial begins two devices'
    };

    // Runs the exchange for `request` into `buffer` (BUFFER_SIZE bytes, zeroed here). An
    // exception inside ends it with RESULT_EXCEPTION after everything was given back.
    static stExchange Exchange(const QString& port, unsigned char request, unsigned char* buffer);

    // Length of the reply in the buffer after a transfer with this result: the zero bytes in
    // front of the data stage plus the bytes received. libusb's codes down to the time-out
    // (-7) leave 6 down to 0 of the zero bytes; anything lower, and RESULT_EXCEPTION, would
    // make a negative length and count as a time-out.
    static unsigned long ReplyLength(int transfer);

    // The serial number a port text names: everything behind "serial=" (any letter case) up to
    // the next query parameter. A text without "serial=" yields the SERIAL_CHARS characters from
    // position 6 on, where they would follow a match at position -1.
    static QString PortSerial(const QString& port);
    // A serial descriptor as read: ASCII up to its first zero byte.
    static QString DeviceSerial(const char* ascii);

    enum class SerialMatch
    {
        None,
        Whole,  // the same serial, ignoring letter case
        Prefix, // the port's serial is shorter and begins the device's
    };
    static SerialMatch MatchSerial(const QString& portSerial, const QString& deviceSerial);

    // Test hook: called with the name of each step reached ("context", "list", "opened",
    // "claimed", "transferred"); it may throw to exercise the clean-up of an interrupted
    // exchange. Null (the default) costs one load per step.
    using StepHook = void (*)(const char* step);
    static void SetStepHookForTesting(StepHook hook);
};
