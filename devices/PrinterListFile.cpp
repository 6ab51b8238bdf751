#include "devices/PrinterListFile.h"

#include "service/PublishedFiles.h"

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
    settings.beginGroup(PublishedFiles::LIST_GROUP_MAIN);
    settings.setValue(PublishedFiles::LIST_KEY_COUNT, QString::number(list.size()));
    settings.endGroup();
    for (int i = 0; i < list.size(); ++i) {
        const stPrinterInfo& info = list.at(i);
        settings.beginGroup(PublishedFiles::PrinterGroup(i));
        settings.setValue(PublishedFiles::LIST_KEY_NAME, info.strName);
        settings.setValue(PublishedFiles::LIST_KEY_MODEL, info.strModel);
        settings.setValue(PublishedFiles::LIST_KEY_CONNECT_TYPE,
                          QString::number(info.iConnectType));
        settings.setValue(PublishedFiles::LIST_KEY_PORT, info.strPort);
        settings.setValue(PublishedFiles::LIST_KEY_URI, info.strURI);
        settings.endGroup();
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}
