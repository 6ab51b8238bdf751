#pragma once

#include "protocol/ErrorStatus.h"

// Translations of the printer's numeric codes into the service's own values.  Pure functions:
// every input is allowed and unknown codes give 0.

// Printer status code of a reply -> the printer status value kept in the printer state.
int GetPrinterStatusEnum(unsigned long code);

// 16-bit printer error code -> error value.
enErrorStatus GetErrorStatusEnum(unsigned long code);

// Toner type entry of a reply -> toner type value.  No toner type is told apart yet.
int GetTonerTypeEnum(unsigned long code);
