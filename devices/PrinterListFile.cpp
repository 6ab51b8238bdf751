#include "devices/PrinterListFile.h"

#include <QFileInfo>
#include <QSettings>

bool PrinterListFile::Write(const QString& path, const QList<stPrinterInfo>& list, bool force)
{
    // exists() rather than isFile(): whatever stands at the path, an unforced write keeps off it.
    if (!force && QFileInfo::exists(path)) {
        return true;
    }

    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    // Every value goes in as text, as the desktop application reads it back.
    settings.setValue(QStringLiteral("Main/Count"), QString::number(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const stPrinterInfo& info = list.at(i);
        settings.beginGroup(QStringLiteral("printer_%1").arg(i));
        settings.setValue(QStringLiteral("Name"), info.strName);
        settings.setValue(QStringLiteral("Model"), info.strModel);
        settings.setValue(QStringLiteral("ConnectType"), QString::number(info.iConnectType));
        settings.setValue(QStringLiteral("Port"), info.strPort);
        settings.setValue(QStringLiteral("URI"), info.strURI);
        settings.endGroup();
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}
