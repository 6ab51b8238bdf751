#include "tools/status/JsonFormatter.h"

#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusFormatter.h"

#include <QDateTime>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

QJsonArray ErrorArray(const QList<stErrorEntry>& errors)
{
    QJsonArray array;
    for (const stErrorEntry& error : errors) {
        QJsonObject entry;
        entry.insert(QStringLiteral("code"), double(error.ulCode));
        entry.insert(QStringLiteral("hex"), StatusFormatter::Hex(error.ulCode, 4));
        entry.insert(QStringLiteral("error"), error.iValue);
        array.append(entry);
    }
    return array;
}

QJsonValue TextOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

QByteArray JsonFormatter::Format(const StatusSnapshot& snapshot, bool compact)
{
    return QJsonDocument(ToObject(snapshot, true))
        .toJson(compact ? QJsonDocument::Compact : QJsonDocument::Indented);
}

QJsonObject JsonFormatter::ToObject(const StatusSnapshot& snapshot, bool withAge)
{
    QJsonObject root;
    root.insert(QStringLiteral("schemaVersion"), SCHEMA_VERSION);
    root.insert(QStringLiteral("directory"), snapshot.strDir);
    root.insert(QStringLiteral("directoryExists"), snapshot.bDirExists);

    const stHeartbeatReport& hb = snapshot.stHeartbeat;
    QJsonObject service;
    service.insert(QStringLiteral("state"), StatusFormatter::ServiceStateName(hb.enState));
    service.insert(QStringLiteral("alive"), hb.enState == ServiceState::Alive);
    if (withAge) {
        const bool stamped = !hb.strStamp.isEmpty();
        service.insert(QStringLiteral("heartbeat"),
                       stamped ? QJsonValue(IsoTime(hb.iStampMs)) : QJsonValue(QJsonValue::Null));
        service.insert(QStringLiteral("ageSeconds"), stamped
                                                         ? QJsonValue(double(hb.iAgeMs) / 1000.0)
                                                         : QJsonValue(QJsonValue::Null));
        service.insert(QStringLiteral("heartbeatRaw"), TextOrNull(hb.strStamp));
    }
    service.insert(QStringLiteral("problem"), TextOrNull(hb.strProblem));
    root.insert(QStringLiteral("service"), service);

    const stPrinterListReport& list = snapshot.stList;
    QJsonObject printerList;
    printerList.insert(QStringLiteral("read"), list.bRead);
    printerList.insert(QStringLiteral("count"),
                       list.bRead ? QJsonValue(list.iCount) : QJsonValue(QJsonValue::Null));
    printerList.insert(QStringLiteral("problem"), TextOrNull(list.strProblem));
    printerList.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(list.listWarnings));
    printerList.insert(QStringLiteral("skippedQueues"),
                       QJsonArray::fromStringList(snapshot.listSkippedQueues));
    root.insert(QStringLiteral("printerList"), printerList);

    QJsonArray printers;
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        printers.append(PrinterObject(printer, snapshot));
    }
    root.insert(QStringLiteral("printers"), printers);
    return root;
}

QJsonObject JsonFormatter::PrinterObject(const stPrinterReport& printer,
                                         const StatusSnapshot& snapshot)
{
    QJsonObject out;
    out.insert(QStringLiteral("index"), printer.iIndex);
    out.insert(QStringLiteral("queue"), printer.strName);
    out.insert(QStringLiteral("model"), printer.strModel);
    out.insert(QStringLiteral("connectType"), printer.iConnectType);
    out.insert(QStringLiteral("connection"), StatusFormatter::ConnectionName(printer));
    out.insert(QStringLiteral("port"), printer.strPort);
    out.insert(QStringLiteral("uri"), printer.strURI);

    const PrinterCondition condition =
        PrinterCondition::Classify(printer, snapshot.stHeartbeat.enState, snapshot.stList.iAgeMs);
    out.insert(QStringLiteral("state"), PrinterCondition::StateKey(condition.State()));
    out.insert(QStringLiteral("summary"), condition.Summary());
    out.insert(QStringLiteral("needsAttention"), condition.NeedsAttention());
    out.insert(QStringLiteral("reason"), TextOrNull(condition.Reason()));
    QJsonArray conditions;
    for (const stCondition& entry : condition.Conditions()) {
        QJsonObject item;
        item.insert(QStringLiteral("key"), entry.strKey);
        item.insert(QStringLiteral("text"), entry.strText);
        item.insert(QStringLiteral("severity"), PrinterCondition::SeverityKey(entry.enSeverity));
        item.insert(QStringLiteral("code"), entry.bHasCode
                                                ? QJsonValue(StatusFormatter::Hex(entry.ulCode, 4))
                                                : QJsonValue(QJsonValue::Null));
        conditions.append(item);
    }
    out.insert(QStringLiteral("conditions"), conditions);
    QJsonObject supplies;
    for (const stSupplyLevel& supply : condition.Supplies()) {
        QJsonObject level;
        level.insert(QStringLiteral("percent"), supply.iPercent >= 0
                                                    ? QJsonValue(supply.iPercent)
                                                    : QJsonValue(QJsonValue::Null));
        supplies.insert(supply.strName, level);
    }
    out.insert(QStringLiteral("supplies"), supplies);
    out.insert(QStringLiteral("raw"), RawObject(printer));
    return out;
}

QJsonObject JsonFormatter::RawObject(const stPrinterReport& printer)
{
    QJsonObject out;
    QJsonObject file;
    file.insert(QStringLiteral("name"), TextOrNull(printer.strFileName));
    file.insert(QStringLiteral("state"), FileStateName(printer.enFileState));
    file.insert(QStringLiteral("size"), printer.iFileSize < 0
                                            ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue(double(printer.iFileSize)));
    file.insert(QStringLiteral("problem"), TextOrNull(printer.strFileProblem));
    out.insert(QStringLiteral("statusFile"), file);

    out.insert(QStringLiteral("status"),
               printer.bHasStatus ? QJsonValue(printer.iStatus) : QJsonValue(QJsonValue::Null));
    out.insert(QStringLiteral("statusCode"), printer.bHasStatusCode
                                                 ? QJsonValue(double(printer.ulStatusCode))
                                                 : QJsonValue(QJsonValue::Null));
    out.insert(QStringLiteral("statusLabel"), printer.strStatusLabel);

    const bool decoded = printer.enFileState == StatusFileState::Decoded;
    out.insert(QStringLiteral("decoded"), decoded);
    if (!decoded) {
        return out;
    }
    out.insert(QStringLiteral("statusText"), printer.strStatusText);
    out.insert(QStringLiteral("info1"), printer.strInfo1);
    out.insert(QStringLiteral("info2"), printer.strInfo2);
    out.insert(QStringLiteral("info3"), printer.strInfo3);
    out.insert(QStringLiteral("errors1"), ErrorArray(printer.listErrors1));
    out.insert(QStringLiteral("errors2"), ErrorArray(printer.listErrors2));

    QJsonObject supplies;
    supplies.insert(QStringLiteral("text"), printer.strSuppliesText);
    supplies.insert(QStringLiteral("tonerType"), printer.iTonerType);
    QJsonObject values;
    for (const stSupplyEntry& supply : printer.listSupplies) {
        if (supply.bCarried) {
            values.insert(StatusFormatter::Hex(supply.usType, 4), double(supply.ulValue));
        }
    }
    supplies.insert(QStringLiteral("values"), values);
    out.insert(QStringLiteral("supplies"), supplies);
    return out;
}

QString JsonFormatter::FileStateName(StatusFileState state)
{
    switch (state) {
    case StatusFileState::Decoded:
        return QStringLiteral("decoded");
    case StatusFileState::Missing:
        return QStringLiteral("missing");
    case StatusFileState::Empty:
        return QStringLiteral("empty");
    case StatusFileState::NoReply:
        return QStringLiteral("no reply");
    case StatusFileState::Truncated:
        return QStringLiteral("truncated");
    case StatusFileState::Foreign:
        return QStringLiteral("foreign");
    case StatusFileState::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

QString JsonFormatter::IsoTime(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
        .toOffsetFromUtc(QDateTime::fromMSecsSinceEpoch(msSinceEpoch).offsetFromUtc())
        .toString(Qt::ISODateWithMs);
}
