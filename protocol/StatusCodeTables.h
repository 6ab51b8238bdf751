#pragma once

#include "protocol/ErrorStatus.h"

// Translations of the printer's numeric codes into the service's own values.  Pure functions:
// every input is allowed and unknown codes give 0.

// Printer status codes as the printer sends them, where they mean something of their own.
enum enPrinterStatusCode : unsigned long
{
    STATUS_CODE_IDLE = 0, // ready, nothing to do
    STATUS_CODE_READY = 1,
    STATUS_CODE_WARNING = 2, // a condition it prints through
    STATUS_CODE_ERROR = 3,   // a condition that stops printing
    STATUS_CODE_BUSY_FIRST = 16,
    STATUS_CODE_BUSY_LAST = 19, // 16 to 19: busy with a job
};

// Printer status values (stPrinterState::iStatus) that the rules compare with. The table of
// GetPrinterStatusEnum gives 0 and 3 to 11 from the printer's status code; 2 is the service's
// own.
// A status code without a value of its own.
constexpr int PRINTER_STATUS_OTHER = 0;
// Given by no code table of this build; the offline rule of a network printer still counts it
// among the states after which jobs are left to CUPS, as it does 12.
constexpr int PRINTER_STATUS_1 = 1;
constexpr int PRINTER_STATUS_12 = 12;
// "Nothing known": no reply yet, or the printer was given up.
constexpr int PRINTER_STATUS_UNKNOWN = 2;
// Status code 0: the printer is ready and has nothing to do. A network printer in this state
// is polled only while its CUPS queue prints.
constexpr int PRINTER_STATUS_IDLE = 3;

// Printer status code of a reply -> the printer status value kept in the printer state.
int GetPrinterStatusEnum(unsigned long code);

// 16-bit printer error code -> error value.
enErrorStatus GetErrorStatusEnum(unsigned long code);

// Toner type entry of a reply -> toner type value.  No toner type is told apart yet.
int GetTonerTypeEnum(unsigned long code);
