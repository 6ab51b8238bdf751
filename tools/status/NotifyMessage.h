#pragma once

#include <QString>
#include <QtGlobal>

// One desktop notification as orvo-status --notify decides it and DesktopNotifier shows it.

// Values of the freedesktop "urgency" hint.
enum class NotifyUrgency : quint8
{
    Low = 0,
    Normal = 1,
    Critical = 2,
};

struct stNotifyMessage
{
    QString strSummary;    // one line, plain text
    QString strLogSummary; // the same in English, for the journal
    QString strBody;       // plain text
    QString strIcon;       // a themed icon name
    QString strCategory;
    NotifyUrgency enUrgency = NotifyUrgency::Normal;
};
