#include "SkippedQueueFinder.h"

#include "FixedPaths.h"
#include "PpdModelReader.h"
#include "ShellCommand.h"
#include "StatusFormatter.h"

#include <QFile>
#include <QTextCodec>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

QStringList SkippedQueueFinder::Find(const QString& ppdDir, const QStringList& listed)
{
    QStringList skipped;
    const QByteArray dirPath = QFile::encodeName(ppdDir);
    DIR* dir = ::opendir(dirPath.constData());
    if (dir == nullptr) {
        if (errno != ENOENT) {
            skipped << QStringLiteral("cannot look at the CUPS queues in %1: %2")
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
        if (IsUtf8(name) && listed.contains(QString::fromUtf8(name))) {
            continue;
        }
        // Opened by its bytes and read through the descriptor, so that a name Qt cannot decode
        // still reaches the PPD reader.
        const int fd =
            ::openat(::dirfd(dir), file.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            unreadable = unreadable || errno == EACCES;
            continue;
        }
        QString model;
        const bool ours =
            PpdModelReader::FindModel(QStringLiteral("/proc/self/fd/%1").arg(fd), codec, model);
        ::close(fd);
        if (!ours) {
            continue;
        }
        QString reason = NameProblem(name, FixedPaths::CfgDir());
        if (reason.isEmpty()) {
            reason = QStringLiteral("not in the printer list (not a USB or network queue, or "
                                    "made since the service last looked)");
        }
        skipped << QStringLiteral("%1 (%2): %3").arg(DisplayName(name), model, reason);
    }
    ::closedir(dir);
    if (unreadable) {
        skipped << QStringLiteral("cannot read every PPD in %1: run as root to see all queues the "
                                  "service skips")
                       .arg(ppdDir);
    }
    skipped.sort();
    return skipped;
}

QString SkippedQueueFinder::NameProblem(const QByteArray& name, const QString& cfgDir)
{
    if (!IsUtf8(name)) {
        return QStringLiteral("the queue name is not valid UTF-8");
    }
    // The status worker asks CUPS about the queue with this command; a name that does not fit
    // its buffer cannot be asked about.
    const ShellCommand::Result command =
        ShellCommand::Build("lpstat -p \"%s\"> %s",
                            QList<QByteArray>{name, QFile::encodeName(cfgDir + "printer_0.tmp")});
    if (!command.bOk) {
        return QStringLiteral("the queue name is too long for the CUPS commands (%1 bytes)")
            .arg(name.size());
    }
    return QString();
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
            if (IsUtf8(name.mid(i, n))) {
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
