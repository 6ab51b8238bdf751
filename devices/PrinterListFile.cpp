#include "devices/PrinterListFile.h"

#include "service/PublishedFiles.h"
#include "service/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Far beyond any list the service writes; a larger file is not merged.
constexpr qint64 MAX_MERGED_SIZE = 16 * 1024 * 1024;

// The current list's content when a regular file stands at `path` (not through a link).
QByteArray ReadCurrent(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return QByteArray();
    }
    QByteArray content;
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MAX_MERGED_SIZE) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly)) {
            content = file.read(MAX_MERGED_SIZE);
        }
    }
    ::close(fd);
    return content;
}
} // namespace

bool PrinterListFile::Write(const QString& path, const QList<stPrinterInfo>& list, bool force)
{
    // Whatever stands at the path, a link included, an unforced write keeps off it.
    const QFileInfo existing(path);
    if (!force && (existing.exists() || existing.isSymLink())) {
        return true;
    }

    // QSettings writes through a symbolic link at its path (and reads the file behind it to
    // merge), so it works on a private copy, which SafeWrite then puts in place.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        return false;
    }
    const QString copy = scratch.filePath(PublishedFiles::PRINTER_LIST_NAME);
    {
        QFile file(copy);
        if (!file.open(QIODevice::WriteOnly) || file.write(ReadCurrent(path)) < 0) {
            return false;
        }
    }
    {
        QSettings settings(copy, QSettings::IniFormat);
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
        if (settings.status() != QSettings::NoError) {
            return false;
        }
    }
    QFile written(copy);
    if (!written.open(QIODevice::ReadOnly)) {
        return false;
    }
    return SafeWrite::ReplaceFile(path, written.readAll());
}
