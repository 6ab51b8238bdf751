#include "service/ModelTable.h"

namespace {
constexpr int ORVO_VENDOR_ID = 0x3A5C;

stModelInfo Row(const char* key, int pid)
{
    const QString strKey = QString::fromLatin1(key);
    return stModelInfo{strKey, QStringLiteral("Orvo ") + strKey,
                       QStringLiteral("Orvo_") + strKey + QStringLiteral(".ppd"), ORVO_VENDOR_ID,
                       pid};
}
} // namespace

const stModelInfo c_stModelInfoList[MODEL_COUNT] = {
    // series 1
    Row("Q7020", 0x0701),
    Row("Q7020D", 0x0702),
    Row("Q7020DN", 0x0703),
    Row("Q7020DW", 0x0704),
    Row("Q7025DW", 0x0705),
    // series 2
    Row("Q7030DN", 0x0711),
    Row("Q7030DW", 0x0712),
    Row("Q7032DN", 0x0713),
    Row("Q7032DW", 0x0714),
    Row("Q7035DN", 0x0715),
    Row("Q7035DW", 0x0716),
    // series 3
    Row("Q7040DN", 0x0721),
    Row("Q7040DW", 0x0722),
    Row("Q7045DN", 0x0723),
    Row("Q7045DW", 0x0724),
    // series 4
    Row("QM7060DN", 0x0731),
    Row("QM7060DW", 0x0732),
    Row("QM7065DN", 0x0733),
    Row("QM7065DW", 0x0734),
    Row("QM7065FDW", 0x0735),
    Row("QM7068FDW", 0x0736),
};

const stModelInfo* ModelTable::FindByModelName(const QString& modelName)
{
    for (const stModelInfo& row : c_stModelInfoList) {
        if (modelName.compare(row.strModelName, Qt::CaseInsensitive) == 0) {
            return &row;
        }
    }
    return nullptr;
}

const stModelInfo* ModelTable::FindByPortText(const QString& port)
{
    for (const stModelInfo& row : c_stModelInfoList) {
        if (port.contains(row.strModelKey + QLatin1Char('?'), Qt::CaseSensitive)) {
            return &row;
        }
    }
    return nullptr;
}

const stModelInfo* ModelTable::FindByModelKey(const QString& key)
{
    for (const stModelInfo& row : c_stModelInfoList) {
        if (key.compare(row.strModelKey, Qt::CaseInsensitive) == 0) {
            return &row;
        }
    }
    return nullptr;
}
