#include "status/StatusEvaluator.h"

#include "protocol/StatusCodeTables.h"
#include "protocol/UtilPrinterStatus.h"
#include "service/FixedPaths.h"
#include "service/PublishedFiles.h"
#include "service/SafeWrite.h"

#include <memory>

QString StatusEvaluator::StatusFilePath(const QString& queueName)
{
    const QString file = PublishedFiles::StatusFileName(queueName);
    return file.isEmpty() ? QString() : FixedPaths::CfgDir() + file;
}

bool StatusEvaluator::WriteStatusFile(const QString& path, const unsigned char* buf,
                                      unsigned long len)
{
    return SafeWrite::ReplaceFile(
        path, QByteArray(reinterpret_cast<const char*>(buf), static_cast<int>(len)));
}

namespace {
QList<enErrorStatus> MapErrorCodes(const std::vector<std::uint64_t>& codes)
{
    QList<enErrorStatus> list;
    list.reserve(static_cast<int>(codes.size()));
    for (std::uint64_t code : codes) {
        list.append(GetErrorStatusEnum(static_cast<unsigned long>(code)));
    }
    return list;
}
} // namespace

bool StatusEvaluator::Decode(const unsigned char* buf, unsigned long len, stPrinterState& state)
{
    // The decoder keeps its texts in fixed buffers of a few kilobytes; keep them off the stack
    // of a worker thread.
    const auto reply = std::make_unique<UtilPrinterStatus>();
    if (!reply->parseRecvBuf(buf, len)) {
        return false;
    }

    // Built whole and assigned at once, so no field of an earlier reply survives.
    stPrinterState decoded;
    decoded.strInfo3 = QString::fromUtf8(reply->info3());
    decoded.iStatus = GetPrinterStatusEnum(static_cast<unsigned long>(reply->statusCode()));
    decoded.strStatusText = QString::fromUtf8(reply->statusText());
    decoded.strInfo1 = QString::fromUtf8(reply->info1());
    decoded.strInfo2 = QString::fromUtf8(reply->info2());
    decoded.listError1 = MapErrorCodes(reply->errorCodes1());
    decoded.listError2 = MapErrorCodes(reply->errorCodes2());
    decoded.iErrorCount1 = decoded.listError1.size();
    decoded.iErrorCount2 = decoded.listError2.size();
    decoded.strSuppliesText = QString::fromUtf8(reply->suppliesText());
    decoded.iTonerType = GetTonerTypeEnum(static_cast<unsigned long>(reply->tonerType()));
    decoded.ulSupply1000 = reply->supply1000();
    decoded.ulSupply1001 = reply->supply1001();
    decoded.ulSupply1002 = reply->supply1002();
    decoded.ulSupply1003 = reply->supply1003();
    decoded.ulSupply1004 = reply->supply1004();
    decoded.ulSupply1100 = reply->supply1100();
    decoded.ulSupply1101 = reply->supply1101();
    decoded.ulSupply1102 = reply->supply1102();
    decoded.iFailCount = 0;
    state = decoded;
    return true;
}
