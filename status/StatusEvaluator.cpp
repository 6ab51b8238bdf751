#include "status/StatusEvaluator.h"

#include "service/FixedPaths.h"
#include "service/PublishedFiles.h"
#include "service/SafeWrite.h"
#include "service/StatusReply.h"

QString StatusEvaluator::StatusFilePath(const QString& queueName)
{
    const QString file = PublishedFiles::StatusFileName(queueName);
    return file.isEmpty() ? QString() : FixedPaths::CfgDir() + file;
}

bool StatusEvaluator::WriteStatusFile(const QString& path, const unsigned char* buf,
                                      unsigned long len)
{
    return SafeWrite::RewriteFile(
        path, QByteArray(reinterpret_cast<const char*>(buf), static_cast<int>(len)));
}

namespace {
QList<enErrorStatus> ErrorValues(const QList<stErrorEntry>& errors)
{
    QList<enErrorStatus> list;
    list.reserve(errors.size());
    for (const stErrorEntry& error : errors) {
        list.append(static_cast<enErrorStatus>(error.iValue));
    }
    return list;
}
} // namespace

bool StatusEvaluator::Decode(const unsigned char* buf, unsigned long len, stPrinterState& state,
                             stStatusReply* decodedReply)
{
    stStatusReply reply;
    if (!reply.Decode(buf, len)) {
        return false;
    }
    if (decodedReply) {
        *decodedReply = reply;
    }

    // Built whole and assigned at once, so no field of an earlier reply survives.
    stPrinterState decoded;
    decoded.strInfo3 = reply.strInfo3;
    decoded.iStatus = reply.iStatus;
    decoded.strStatusText = reply.strStatusText;
    decoded.strInfo1 = reply.strInfo1;
    decoded.strInfo2 = reply.strInfo2;
    decoded.listError1 = ErrorValues(reply.listErrors1);
    decoded.listError2 = ErrorValues(reply.listErrors2);
    decoded.iErrorCount1 = decoded.listError1.size();
    decoded.iErrorCount2 = decoded.listError2.size();
    decoded.strSuppliesText = reply.strSuppliesText;
    decoded.iTonerType = reply.iTonerType;
    decoded.ulSupply1000 = reply.SupplyValue(SUPPLIES_VALUE_1000);
    decoded.ulSupply1001 = reply.SupplyValue(SUPPLIES_VALUE_1001);
    decoded.ulSupply1002 = reply.SupplyValue(SUPPLIES_VALUE_1002);
    decoded.ulSupply1003 = reply.SupplyValue(SUPPLIES_VALUE_1003);
    decoded.ulSupply1004 = reply.SupplyValue(SUPPLIES_VALUE_1004);
    decoded.ulSupply1100 = reply.SupplyValue(SUPPLIES_VALUE_1100);
    decoded.ulSupply1101 = reply.SupplyValue(SUPPLIES_VALUE_1101);
    decoded.ulSupply1102 = reply.SupplyValue(SUPPLIES_VALUE_1102);
    decoded.iFailCount = 0;
    state = decoded;
    return true;
}
