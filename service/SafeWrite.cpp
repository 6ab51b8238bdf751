#include "service/SafeWrite.h"

#include "service/UtilLog.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QMutex s_mutexRefused;
QSet<QString> s_setRefused; // paths whose refusal is in the log

const QString c_strTemporaryMark = QStringLiteral(".new-");

void TellRefused(const char* function, const QString& path, const QString& reason)
{
    {
        const QMutexLocker lock(&s_mutexRefused);
        if (s_setRefused.contains(path)) {
            return;
        }
        s_setRefused.insert(path);
    }
    WriteStringLog(__FILE__, __LINE__, function, QStringLiteral("not writing %s: %s"),
                   QFile::encodeName(path).constData(), reason.toUtf8().constData());
}

void Written(const QString& path)
{
    const QMutexLocker lock(&s_mutexRefused);
    s_setRefused.remove(path);
}

// Why nothing may be written at the path that `st` describes (lstat), or empty.
QString Refusal(const struct stat& st)
{
    if (S_ISLNK(st.st_mode)) {
        return QStringLiteral("it is a symbolic link");
    }
    if (!S_ISREG(st.st_mode)) {
        return QStringLiteral("it is not a regular file");
    }
    return QString();
}

// The directory of `path`, opened without following a link in its last component.
int OpenDirectory(const char* function, const QString& path, QByteArray* name)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    *name = QFile::encodeName(path.mid(slash + 1));
    const QByteArray dir = slash > 0 ? QFile::encodeName(path.left(slash)) : QByteArray("/");
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        TellRefused(function, path, QStringLiteral("its directory is a symbolic link"));
    }
    return fd;
}

bool WriteAll(int fd, const QByteArray& data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}
} // namespace

bool SafeWrite::ReplaceFile(const QString& path, const QByteArray& data)
{
    QByteArray name;
    const int dir = OpenDirectory(__func__, path, &name);
    if (dir < 0) {
        return false;
    }
    struct stat st = {};
    if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        const QString refusal = Refusal(st);
        if (!refusal.isEmpty()) {
            TellRefused(__func__, path, refusal);
            ::close(dir);
            return false;
        }
    }
    // A fresh name that nothing can stand at yet: O_EXCL fails on anything there, a link too.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temporary = '.' + name + QFile::encodeName(c_strTemporaryMark) +
                    QByteArray::number(QRandomGenerator::global()->bounded(0x1000000), 16)
                        .rightJustified(6, '0');
        fd = ::openat(dir, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        ::close(dir);
        return false;
    }
    bool ok = WriteAll(fd, data);
    ok = ::close(fd) == 0 && ok;
    // rename replaces whatever was planted at the name meanwhile instead of writing through it.
    ok = ok && ::renameat(dir, temporary.constData(), dir, name.constData()) == 0;
    if (!ok) {
        ::unlinkat(dir, temporary.constData(), 0);
    }
    ::close(dir);
    if (ok) {
        Written(path);
    }
    return ok;
}

int SafeWrite::OpenOutput(const QString& path)
{
    QByteArray name;
    const int dir = OpenDirectory(__func__, path, &name);
    if (dir < 0) {
        return -1;
    }
    // Not cut on opening: a file found to be linked from elsewhere stays as it is.
    const int fd =
        ::openat(dir, name.constData(),
                 O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    const int openError = errno;
    ::close(dir);
    if (fd < 0) {
        if (openError == ELOOP) {
            TellRefused(__func__, path, QStringLiteral("it is a symbolic link"));
        }
        return -1;
    }
    struct stat st = {};
    QString refusal = ::fstat(fd, &st) == 0 ? Refusal(st) : QStringLiteral("cannot examine it");
    if (refusal.isEmpty() && st.st_nlink > 1) {
        refusal = QStringLiteral("it has another name elsewhere (a hard link)");
    }
    if (!refusal.isEmpty() || ::ftruncate(fd, 0) != 0) {
        if (!refusal.isEmpty()) {
            TellRefused(__func__, path, refusal);
        }
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    Written(path);
    return fd;
}

bool SafeWrite::RewriteFile(const QString& path, const QByteArray& data)
{
    const int fd = OpenOutput(path);
    if (fd < 0) {
        return false;
    }
    const bool ok = WriteAll(fd, data);
    return ::close(fd) == 0 && ok;
}

bool SafeWrite::IsTemporaryName(const QString& fileName)
{
    static const QRegularExpression temporary(QStringLiteral("^\\..+\\.new-[0-9a-f]{6}$"));
    return temporary.match(fileName).hasMatch();
}
