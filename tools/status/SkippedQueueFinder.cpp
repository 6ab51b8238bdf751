#include "tools/status/SkippedQueueFinder.h"

#include "service/PpdModelReader.h"
#include "service/QueueNameCheck.h"
#include "tools/status/StatusFormatter.h"

#include <QFile>
#include <QTextCodec>

#include <cerrno>
#include <cstring>
#include <dirent.h>

QStringList SkippedQueueFinder::Find(const QString& ppdDir, const QStringList& listed)
{
    QStringList skipped;
    const QByteArray dirPath = QFile::encodeName(ppdDir);
    DIR* dir = ::opendir(dirPath.constData());
    if (dir == nullptr) {
        if (errno != ENOENT) {
            skipped << tr("cannot look at the CUPS queues in %1: %2")
                           .arg(ppdDir, QString::fromLocal8Bit(std::strerror(errno)));
        }
        return skipped;
    }
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    bool unreadable = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray file(entry->d_name);
        if (!file.endsWith(".ppd") || file.size() <= 4) {
            continue;
        }
        const QByteArray name = file.left(file.size() - 4);
        if (QueueNameCheck::IsUtf8(name) && listed.contains(QString::fromUtf8(name))) {
            continue;
        }
        QString model;
        bool denied = false;
        if (!PpdModelReader::FindModelOfQueue(ppdDir, name, codec, model, &denied)) {
            unreadable = unreadable || denied;
            continue;
        }
        QString reason = QueueNameCheck::Problem(name);
        if (reason.isEmpty()) {
            reason = tr("not in the printer list (not a USB or network queue, or "
                        "made since the service last looked)");
        }
        skipped << QStringLiteral("%1 (%2): %3").arg(DisplayName(name), model, reason);
    }
    ::closedir(dir);
    if (unreadable) {
        skipped << tr("cannot read every PPD in %1: run as root to see all queues the "
                      "service skips")
                       .arg(ppdDir);
    }
    skipped.sort();
    return skipped;
}

QString SkippedQueueFinder::DisplayName(const QByteArray& name)
{
    QString out;
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    int i = 0;
    while (i < name.size()) {
        // Longest valid UTF-8 sequence starting here (at most four bytes).
        int length = 0;
        for (int n = 1; n <= 4 && i + n <= name.size(); ++n) {
            if (QueueNameCheck::IsUtf8(name.mid(i, n))) {
                length = n;
                break;
            }
        }
        if (length == 0) {
            out += QStringLiteral("\\x%1").arg(uchar(name.at(i)), 2, 16, QLatin1Char('0'));
            ++i;
        } else {
            out += StatusFormatter::Printable(codec->toUnicode(name.mid(i, length)));
            i += length;
        }
    }
    return out;
}
