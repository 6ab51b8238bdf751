#pragma once

#include "tests/replies/ReplyBuilder.h"
#include "tools/status/StatusReader.h"

#include <QVector>

// What orvo-status reads from a status file holding a reply with these codes and, unless
// negative, this toner level.
inline stPrinterReport DecodedReport(int statusCode, const QVector<quint16>& errors1,
                                     const QVector<quint16>& errors2, int toner)
{
    ReplyBuilder builder;
    builder.setStatusCode(quint8(statusCode)).setErrorCodes1(errors1).setErrorCodes2(errors2);
    if (toner >= 0) {
        builder.addSupplyValue(0x1000, quint64(toner), 2);
    }
    const QByteArray reply = builder.build();
    stPrinterReport report;
    StatusReader::DecodeStatusFile(reply, reply.size(), &report);
    return report;
}
