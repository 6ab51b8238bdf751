#include "protocol/StatusCodeTables.h"

#include <cstddef>

namespace {

// Index = printer status code.  4 to 15 are states the service does not tell apart.
const int c_iPrinterStatusList[] = {3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 9, 10, 11};

struct stErrorCodeRange
{
    unsigned long ulFirst;
    unsigned long ulLast; // inclusive
    enErrorStatus enStatus;
};

// Sorted by first code, no overlaps; codes between rows are unknown.
const stErrorCodeRange c_stErrorCodeRangeList[] = {
    {0x0100, 0x0101, ERROR_STATUS_4},  {0x0110, 0x0110, ERROR_STATUS_38},
    {0x0200, 0x0200, ERROR_STATUS_4},  {0x0202, 0x0202, ERROR_STATUS_4},
    {0x1106, 0x1106, ERROR_STATUS_6},  {0x1108, 0x1108, ERROR_STATUS_4},
    {0x1109, 0x110C, ERROR_STATUS_10}, {0x110D, 0x110D, ERROR_STATUS_11},
    {0x110E, 0x110E, ERROR_STATUS_12}, {0x110F, 0x110F, ERROR_STATUS_13},
    {0x1110, 0x1110, ERROR_STATUS_17}, {0x1111, 0x1111, ERROR_STATUS_19},
    {0x1112, 0x1114, ERROR_STATUS_21}, {0x1115, 0x1115, ERROR_STATUS_23},
    {0x1121, 0x1121, ERROR_STATUS_18}, {0x1122, 0x1122, ERROR_STATUS_20},
    {0x1123, 0x1123, ERROR_STATUS_12}, {0x1124, 0x1124, ERROR_STATUS_20},
    {0x1125, 0x1125, ERROR_STATUS_19}, {0x1126, 0x1126, ERROR_STATUS_22},
    {0x1127, 0x1127, ERROR_STATUS_23}, {0x1128, 0x1129, ERROR_STATUS_22},
    {0x112F, 0x112F, ERROR_STATUS_12}, {0x1130, 0x1130, ERROR_STATUS_24},
    {0x1132, 0x1132, ERROR_STATUS_29}, {0x1133, 0x1133, ERROR_STATUS_33},
    {0x1140, 0x1140, ERROR_STATUS_25}, {0x11A0, 0x11A0, ERROR_STATUS_30},
    {0x11A1, 0x11A1, ERROR_STATUS_31}, {0x11A2, 0x11A2, ERROR_STATUS_32},
    {0x11B0, 0x11B8, ERROR_STATUS_34}, {0x11C0, 0x11C6, ERROR_STATUS_35},
    {0x11D0, 0x11D6, ERROR_STATUS_36}, {0x11E0, 0x11E3, ERROR_STATUS_37},
    {0x11EA, 0x11EA, ERROR_STATUS_14}, {0x11EE, 0x11EF, ERROR_STATUS_12},
    {0x1200, 0x1200, ERROR_STATUS_1},  {0x1201, 0x1202, ERROR_STATUS_4},
    {0x1203, 0x1203, ERROR_STATUS_2},  {0x1204, 0x1207, ERROR_STATUS_4},
    {0x1209, 0x120B, ERROR_STATUS_4},  {0x1211, 0x1211, ERROR_STATUS_4},
    {0x1212, 0x1212, ERROR_STATUS_5},  {0x1213, 0x121F, ERROR_STATUS_4},
    {0x2100, 0x2100, ERROR_STATUS_26}, {0x2102, 0x2102, ERROR_STATUS_27},
    {0x2103, 0x2103, ERROR_STATUS_28}, {0x2200, 0x2200, ERROR_STATUS_3},
    {0x4100, 0x4100, ERROR_STATUS_42}, {0x4200, 0x4201, ERROR_STATUS_42},
    {0x4210, 0x4210, ERROR_STATUS_42}, {0x4211, 0x4211, ERROR_STATUS_39},
    {0x4212, 0x4212, ERROR_STATUS_42}, {0x4213, 0x4213, ERROR_STATUS_40},
    {0x4214, 0x4214, ERROR_STATUS_41}, {0x4F00, 0x4F00, ERROR_STATUS_42},
    {0xE100, 0xE100, ERROR_STATUS_43},
};

} // namespace

int GetPrinterStatusEnum(unsigned long code)
{
    const unsigned long ulCount = sizeof(c_iPrinterStatusList) / sizeof(c_iPrinterStatusList[0]);
    if (code >= ulCount) {
        return 0;
    }
    return c_iPrinterStatusList[code];
}

enErrorStatus GetErrorStatusEnum(unsigned long code)
{
    // About sixty rows, looked up a few times per reply: a linear scan is plenty.
    for (const stErrorCodeRange& stRange : c_stErrorCodeRangeList) {
        if (code < stRange.ulFirst) {
            break;
        }
        if (code <= stRange.ulLast) {
            return stRange.enStatus;
        }
    }
    return ERROR_STATUS_NONE;
}

int GetTonerTypeEnum(unsigned long code)
{
    (void)code;
    return 0;
}
