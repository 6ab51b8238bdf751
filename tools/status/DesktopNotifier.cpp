#include "tools/status/DesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const char* const PATH = "/org/freedesktop/Notifications";
const char* const INTERFACE = "org.freedesktop.Notifications";
// A server started on demand may need a moment; a hung one must not hang us for long.
const int CALL_TIMEOUT_MS = 10000;

QDBusMessage Call(const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(DesktopNotifier::SERVER_NAME),
                                          QLatin1String(PATH), QLatin1String(INTERFACE),
                                          QLatin1String(method));
}

QString ErrorText(const QDBusMessage& reply)
{
    return QStringLiteral("%1 (%2)").arg(reply.errorMessage(), reply.errorName());
}

} // namespace

const char* const DesktopNotifier::APP_NAME = "orvo-status";
const char* const DesktopNotifier::SERVER_NAME = "org.freedesktop.Notifications";
const char* const DesktopNotifier::INSTANCE_NAME = "org.orvo.StatusNotify";

bool DesktopNotifier::ConnectBus(QString* error)
{
    m_bus = QDBusConnection::sessionBus();
    if (!m_bus.isConnected()) {
        const QString reason = m_bus.lastError().message();
        *error = QStringLiteral("no session bus: %1")
                     .arg(reason.isEmpty() ? QStringLiteral("DBUS_SESSION_BUS_ADDRESS is not set")
                                           : reason);
        return false;
    }
    return true;
}

DesktopNotifier::Claim DesktopNotifier::ClaimInstanceName(QString* error)
{
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(QLatin1String(INSTANCE_NAME),
                                           QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        *error = QStringLiteral("cannot own %1 on the session bus: %2")
                     .arg(QLatin1String(INSTANCE_NAME), reply.error().message());
        return Claim::Failed;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("%1 is already owned on the session bus")
                     .arg(QLatin1String(INSTANCE_NAME));
        return Claim::AlreadyTaken;
    }
    return Claim::Claimed;
}

bool DesktopNotifier::ConnectServer(QString* error)
{
    const QDBusMessage info =
        m_bus.call(Call("GetServerInformation"), QDBus::Block, CALL_TIMEOUT_MS);
    if (info.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("no desktop notification service on the session bus: %1")
                     .arg(ErrorText(info));
        return false;
    }
    const QVariantList fields = info.arguments();
    m_strServerName = fields.isEmpty() ? QString() : fields.first().toString();
    const QDBusMessage caps = m_bus.call(Call("GetCapabilities"), QDBus::Block, CALL_TIMEOUT_MS);
    m_bBodyMarkup = caps.type() == QDBusMessage::ReplyMessage && !caps.arguments().isEmpty() &&
                    caps.arguments().first().toStringList().contains(QStringLiteral("body-markup"));
    return true;
}

quint32 DesktopNotifier::Show(quint32 replacesId, const stNotifyMessage& message, QString* error)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(message.enUrgency)));
    if (!message.strCategory.isEmpty()) {
        hints.insert(QStringLiteral("category"), message.strCategory);
    }
    // Queue names may hold "<" or "&": a server that reads markup would take them for tags.
    const QString body = m_bBodyMarkup ? message.strBody.toHtmlEscaped() : message.strBody;
    QDBusMessage call = Call("Notify");
    call << QLatin1String(APP_NAME) << replacesId << message.strIcon << message.strSummary << body
         << QStringList() << hints << qint32(-1);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, CALL_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = QStringLiteral("notification not shown: %1").arg(ErrorText(reply));
        return 0;
    }
    return reply.arguments().first().toUInt();
}

bool DesktopNotifier::Close(quint32 id, QString* error)
{
    QDBusMessage call = Call("CloseNotification");
    call << id;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, CALL_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("notification not closed: %1").arg(ErrorText(reply));
        return false;
    }
    return true;
}
