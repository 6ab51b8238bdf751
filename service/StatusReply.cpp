#include "service/StatusReply.h"

#include "protocol/UtilPrinterStatus.h"

#include <memory>

namespace {
QList<stErrorEntry> MapErrors(const std::vector<std::uint64_t>& codes)
{
    QList<stErrorEntry> list;
    list.reserve(static_cast<int>(codes.size()));
    for (std::uint64_t code : codes) {
        stErrorEntry entry;
        entry.ulCode = code;
        entry.iValue = GetErrorStatusEnum(static_cast<unsigned long>(code));
        list.append(entry);
    }
    return list;
}

std::vector<std::uint64_t> Codes(const QList<stErrorEntry>& errors)
{
    std::vector<std::uint64_t> codes;
    codes.reserve(static_cast<std::size_t>(errors.size()));
    for (const stErrorEntry& error : errors) {
        codes.push_back(error.ulCode);
    }
    return codes;
}
} // namespace

bool stStatusReply::Decode(const unsigned char* buf, unsigned long len)
{
    // The parser keeps its texts in fixed buffers of a few kilobytes; keep them off the stack
    // of a worker thread.
    const auto reply = std::make_unique<UtilPrinterStatus>();
    if (!reply->parseRecvBuf(buf, len)) {
        return false;
    }

    // Built whole and assigned at once, so no field of an earlier reply survives.
    stStatusReply decoded;
    decoded.ulStatusCode = reply->statusCode();
    decoded.iStatus = GetPrinterStatusEnum(static_cast<unsigned long>(reply->statusCode()));
    decoded.strStatusText = QString::fromUtf8(reply->statusText());
    decoded.strInfo1 = QString::fromUtf8(reply->info1());
    decoded.strInfo2 = QString::fromUtf8(reply->info2());
    decoded.strInfo3 = QString::fromUtf8(reply->info3());
    decoded.listErrors1 = MapErrors(reply->errorCodes1());
    decoded.listErrors2 = MapErrors(reply->errorCodes2());
    decoded.strSuppliesText = QString::fromUtf8(reply->suppliesText());
    decoded.iTonerType = GetTonerTypeEnum(static_cast<unsigned long>(reply->tonerType()));
    decoded.listSupplies.reserve(SUPPLIES_VALUE_TYPE_COUNT);
    for (const enSuppliesType type : c_enSuppliesValueTypeList) {
        stSupplyEntry entry;
        entry.usType = quint16(type);
        entry.ulValue = reply->suppliesValue(type);
        entry.bCarried = reply->hasSupply(type);
        decoded.listSupplies.append(entry);
    }
    *this = decoded;
    return true;
}

quint64 stStatusReply::SupplyValue(enSuppliesType type) const
{
    for (const stSupplyEntry& entry : listSupplies) {
        if (entry.usType == type) {
            return entry.ulValue;
        }
    }
    return 0;
}

const stSupplyEntry* stStatusReply::CarriedSupply(enSuppliesType type) const
{
    for (const stSupplyEntry& entry : listSupplies) {
        if (entry.usType == type && entry.bCarried) {
            return &entry;
        }
    }
    return nullptr;
}

ReplyCondition stStatusReply::Classify() const
{
    return ReplyCondition::Classify(ulStatusCode, Codes(listErrors1), Codes(listErrors2));
}
