#include "service/PublishedFiles.h"

#include "service/QueueNameCheck.h"

#include <QLocale>
#include <QRegularExpression>

const QString PublishedFiles::PRINTER_LIST_NAME = QStringLiteral("printerlist.ini");
const QString PublishedFiles::HEARTBEAT_NAME = QStringLiteral("service.hb");
const QString PublishedFiles::STATUS_FILE_SUFFIX = QStringLiteral(".dat");

const QString PublishedFiles::LIST_GROUP_MAIN = QStringLiteral("Main");
const QString PublishedFiles::LIST_KEY_COUNT = QStringLiteral("Count");
const QString PublishedFiles::LIST_KEY_NAME = QStringLiteral("Name");
const QString PublishedFiles::LIST_KEY_MODEL = QStringLiteral("Model");
const QString PublishedFiles::LIST_KEY_CONNECT_TYPE = QStringLiteral("ConnectType");
const QString PublishedFiles::LIST_KEY_PORT = QStringLiteral("Port");
const QString PublishedFiles::LIST_KEY_URI = QStringLiteral("URI");

namespace {
const QString c_strPrinterGroupPrefix = QStringLiteral("printer_");
const QString c_strHeartbeatFormat = QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz]");
} // namespace

QString PublishedFiles::PrinterGroup(int index)
{
    return c_strPrinterGroupPrefix + QString::number(index);
}

int PublishedFiles::PrinterGroupIndex(const QString& group)
{
    // Nine digits at most, so that every index fits an int.
    static const QRegularExpression pattern(QStringLiteral("^") + c_strPrinterGroupPrefix +
                                            QStringLiteral("(0|[1-9][0-9]{0,8})$"));
    const QRegularExpressionMatch match = pattern.match(group);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QByteArray PublishedFiles::HeartbeatStamp(const QDateTime& localTime)
{
    return QLocale::c().toString(localTime, c_strHeartbeatFormat).toLatin1();
}

QDateTime PublishedFiles::ParseHeartbeatStamp(const QString& text)
{
    return QDateTime::fromString(text, c_strHeartbeatFormat);
}

QString PublishedFiles::StatusFileName(const QString& queueName)
{
    if (!QueueNameCheck::UsableAsFileName(queueName)) {
        return QString();
    }
    return queueName + STATUS_FILE_SUFFIX;
}
