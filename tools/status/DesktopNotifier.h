#pragma once

#include "tools/status/NotifyMessage.h"

#include <QDBusConnection>
#include <QString>
#include <QtGlobal>

// Shows desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications), the one interface every desktop (GNOME, KDE, Xfce, ...) and
// every stand-alone notification daemon offers.
class DesktopNotifier
{
public:
    enum class Claim
    {
        Claimed,      // this process now owns the name
        AlreadyTaken, // another copy runs in this session
        Failed,       // the bus refused for another reason
    };

    static const char* const APP_NAME;
    // The bus name of the desktop's notification service.
    static const char* const SERVER_NAME;
    // Owned while --notify runs: a second copy in the same session finds it taken.
    static const char* const INSTANCE_NAME;

    // Connects to the session bus. false with the reason when there is none.
    bool ConnectBus(QString* error);
    Claim ClaimInstanceName(QString* error);
    // Asks the notification service who it is, which also starts one that the bus activates on
    // demand, and whether it reads markup in bodies. false with the reason when none answers.
    bool ConnectServer(QString* error);

    // Shows a message, replacing notification replacesId (0: a new one). The notification's id,
    // or 0 with the reason.
    quint32 Show(quint32 replacesId, const stNotifyMessage& message, QString* error);
    bool Close(quint32 id, QString* error);

    QString ServerName() const { return m_strServerName; }

private:
    QDBusConnection m_bus{QString()};
    bool m_bBodyMarkup = false;
    QString m_strServerName;
};
