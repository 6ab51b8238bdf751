#pragma once

// Types of the supplies entries a status reply carries. Every other type is skipped.
enum enSuppliesType : unsigned long
{
    SUPPLIES_TEXT = 0x0000,       // a text of up to 64 bytes
    SUPPLIES_TONER_TYPE = 0x0001, // mapped by GetTonerTypeEnum
    SUPPLIES_VALUE_1000 = 0x1000,
    SUPPLIES_VALUE_1001 = 0x1001,
    SUPPLIES_VALUE_1002 = 0x1002,
    SUPPLIES_VALUE_1003 = 0x1003,
    SUPPLIES_VALUE_1004 = 0x1004,
    SUPPLIES_VALUE_1100 = 0x1100,
    SUPPLIES_VALUE_1101 = 0x1101,
    SUPPLIES_VALUE_1102 = 0x1102,
    // The toner level in percent; a value above 100 is no percentage.
    SUPPLIES_TONER_LEVEL = SUPPLIES_VALUE_1000,
};

constexpr int SUPPLIES_VALUE_TYPE_COUNT = 9;

// The types whose entry is a number, in type order.
constexpr enSuppliesType c_enSuppliesValueTypeList[SUPPLIES_VALUE_TYPE_COUNT] = {
    SUPPLIES_TONER_TYPE, SUPPLIES_VALUE_1000, SUPPLIES_VALUE_1001,
    SUPPLIES_VALUE_1002, SUPPLIES_VALUE_1003, SUPPLIES_VALUE_1004,
    SUPPLIES_VALUE_1100, SUPPLIES_VALUE_1101, SUPPLIES_VALUE_1102,
};
