#pragma once

#include "protocol/ReplyCondition.h"
#include "protocol/StatusCodeTables.h"
#include "protocol/SuppliesType.h"

#include <QList>
#include <QString>
#include <QtGlobal>

struct stErrorEntry
{
    quint64 ulCode = 0; // printer error code from the reply
    int iValue = 0;     // error value the code tables map it to
};

struct stSupplyEntry
{
    quint16 usType = 0;
    quint64 ulValue = 0;
    bool bCarried = false; // the reply held an entry of this type; otherwise the value is 0
};

// One status reply read through the parser and the code tables. The service builds a printer's
// state from it and orvo-status reports a status file with it, so both read every byte of a reply
// the same way.
struct stStatusReply
{
    int iStatus = PRINTER_STATUS_UNKNOWN; // GetPrinterStatusEnum of the status code
    quint64 ulStatusCode = 0;
    QString strStatusText;
    QString strInfo1;
    QString strInfo2;
    QString strInfo3;
    QList<stErrorEntry> listErrors1; // in reply order
    QList<stErrorEntry> listErrors2;
    QString strSuppliesText;
    int iTonerType = 0;
    QList<stSupplyEntry> listSupplies; // the nine typed values, in type order

    // Replaces every field with those of the reply in buf. False when the reply does not
    // decode; the fields are then left untouched.
    bool Decode(const unsigned char* buf, unsigned long len);

    // The value of a typed supplies entry; 0 for a type the reply did not carry.
    quint64 SupplyValue(enSuppliesType type) const;
    // The entry of a type the reply carried; nullptr when it did not.
    const stSupplyEntry* CarriedSupply(enSuppliesType type) const;

    // The conditions the status code and the error codes report.
    ReplyCondition Classify() const;
};
