#include "tools/status/StatusReader.h"

#include "protocol/StatusCodeTables.h"
#include "service/FixedPaths.h"
#include "service/PublishedFiles.h"
#include "tools/status/SkippedQueueFinder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Long enough for the service to finish a rewrite it had just begun.
const unsigned long REREAD_PAUSE_MS = 50;
// Missing sections named one by one in a warning; more are only counted.
const int MAX_NAMED_SECTIONS = 5;

enum class ReadResult
{
    Ok,
    Missing,
    Failed,
};

// Reads at most cap bytes of a regular file without ever blocking: a FIFO or a device put in the
// place of a published file would otherwise hang the reader, and a huge file would fill memory.
// size receives the file's full size, mtimeMs its modification time (ms since the epoch).
ReadResult ReadCapped(const QString& path, qint64 cap, QByteArray* data, qint64* size,
                      qint64* mtimeMs, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return ReadResult::Failed;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = S_ISDIR(info.st_mode) ? StatusReader::tr("it is a directory")
                                       : StatusReader::tr("not a regular file");
        ::close(fd);
        return ReadResult::Failed;
    }
    *size = qint64(info.st_size);
    if (mtimeMs != nullptr) {
        *mtimeMs = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    }
    data->resize(int(qMin(*size, cap)));
    qint64 done = 0;
    while (done < data->size()) {
        const ssize_t got = ::read(fd, data->data() + done, size_t(data->size() - done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break; // the file shrank while it was read: keep what was there
        }
        done += got;
    }
    data->resize(int(done));
    ::close(fd);
    return ReadResult::Ok;
}

// An in-memory file holding content, readable by path as /proc/self/fd/N, so that reading needs no
// writable directory; -1 with error set when it cannot be made.  QSettings keeps a parsed file by
// path and reuses it while size and modification time match: fd numbers repeat, so every copy gets
// a modification time of its own or a list of the same size could come back as an earlier one.
int MemoryCopy(const QByteArray& content, QString* path, QString* error)
{
    static std::atomic<qint64> s_copies{0};
    const int fd = ::memfd_create(QFile::encodeName(PublishedFiles::PRINTER_LIST_NAME).constData(),
                                  MFD_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const auto fail = [fd, error](const QString& why) {
        *error = why;
        ::close(fd);
        return -1;
    };
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t put = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return fail(put < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                : StatusReader::tr("nothing written"));
        }
        done += put;
    }
    const time_t stamp = time_t(++s_copies);
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    if (::futimens(fd, times) != 0) {
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    // Without /proc the path names nothing, and QSettings would read it as an empty list.
    *path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    struct stat byFd = {};
    struct stat byPath = {};
    if (::fstat(fd, &byFd) != 0 || ::stat(QFile::encodeName(*path).constData(), &byPath) != 0 ||
        byFd.st_dev != byPath.st_dev || byFd.st_ino != byPath.st_ino) {
        return fail(StatusReader::tr("%1 does not lead to it (is /proc mounted?)").arg(*path));
    }
    return fd;
}

// A value that QSettings split at commas comes back as a list; the service never writes one, but
// a hand-edited file may hold it.
QString SettingText(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (value.type() == QVariant::StringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

QString SizeText(qint64 size)
{
    return size == 1 ? StatusReader::tr("1 byte") : StatusReader::tr("%1 bytes").arg(size);
}

} // namespace

StatusReader::StatusReader(const QString& dir) : m_strDir(dir)
{
    if (!m_strDir.endsWith(QLatin1Char('/'))) {
        m_strDir += QLatin1Char('/');
    }
}

StatusSnapshot StatusReader::Read() const
{
    StatusSnapshot snapshot;
    snapshot.strDir = m_strDir;
    const QFileInfo dirInfo(m_strDir);
    snapshot.bDirExists = dirInfo.isDir();
    if (!snapshot.bDirExists) {
        snapshot.stList.strProblem =
            dirInfo.exists() ? StatusReader::tr("%1 is not a directory").arg(m_strDir)
                             : StatusReader::tr("directory %1 does not exist").arg(m_strDir);
        snapshot.stHeartbeat.strProblem = StatusReader::tr("no heartbeat file");
        return snapshot;
    }
    ReadPrinterList(&snapshot);
    QStringList listed;
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        listed << printer.strName;
    }
    if (!m_listQueues.isEmpty()) {
        for (const QString& queue : m_listQueues) {
            if (snapshot.stList.bRead && !listed.contains(queue) &&
                !snapshot.listUnknownQueues.contains(queue)) {
                snapshot.listUnknownQueues << queue;
            }
        }
        auto& printers = snapshot.listPrinters;
        printers.erase(std::remove_if(printers.begin(), printers.end(),
                                      [this](const stPrinterReport& printer) {
                                          return !m_listQueues.contains(printer.strName);
                                      }),
                       printers.end());
    }
    for (stPrinterReport& printer : snapshot.listPrinters) {
        ReadStatusFile(&printer);
    }
    snapshot.stHeartbeat = ReadHeartbeat();
    if (m_bFindSkipped && snapshot.stList.bRead) {
        snapshot.listSkippedQueues = SkippedQueueFinder::Find(FixedPaths::CupsPpdDir(), listed);
    }
    return snapshot;
}

void StatusReader::ReadPrinterList(StatusSnapshot* snapshot) const
{
    stPrinterListReport& list = snapshot->stList;
    const QString& file = PublishedFiles::PRINTER_LIST_NAME;
    const QString path = m_strDir + file;
    QByteArray content;
    qint64 size = 0;
    qint64 mtimeMs = 0;
    QString error;
    switch (ReadCapped(path, MAX_LIST_SIZE + 1, &content, &size, &mtimeMs, &error)) {
    case ReadResult::Missing:
        list.strProblem = StatusReader::tr("no printer list (%1 missing)").arg(file);
        return;
    case ReadResult::Failed:
        list.strProblem = StatusReader::tr("cannot read %1: %2").arg(file, error);
        list.bReadFailed = true;
        return;
    case ReadResult::Ok:
        break;
    }
    list.iAgeMs = QDateTime::currentMSecsSinceEpoch() - mtimeMs;
    if (size > MAX_LIST_SIZE) {
        list.strProblem =
            StatusReader::tr("%1 is too large to be a printer list (%2)").arg(file, SizeText(size));
        return;
    }
    if (content.isEmpty()) {
        list.bRead = true;
        list.listWarnings << StatusReader::tr("%1 is empty: no printers listed").arg(file);
        return;
    }
    if (content.contains('\0')) {
        list.strProblem = StatusReader::tr("%1 is not an INI file (binary content)").arg(file);
        return;
    }
    // QSettings reads only from a path: give it a private copy of what was read, so that it
    // neither meets a file swapped in meanwhile nor reads more than the cap.
    QString copyPath;
    const int copy = MemoryCopy(content, &copyPath, &error);
    if (copy < 0) {
        list.strProblem = StatusReader::tr("cannot copy %1 into memory: %2").arg(file, error);
        return;
    }
    // Declared before the settings, so the copy outlives them.
    const auto closeCopy = qScopeGuard([copy] { ::close(copy); });
    QSettings settings(copyPath, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    if (settings.status() != QSettings::NoError) {
        list.strProblem = StatusReader::tr("%1 is not an INI file").arg(file);
        return;
    }
    settings.beginGroup(PublishedFiles::LIST_GROUP_MAIN);
    const bool counted = settings.contains(PublishedFiles::LIST_KEY_COUNT);
    const QString countText = SettingText(settings, PublishedFiles::LIST_KEY_COUNT);
    settings.endGroup();
    if (!counted) {
        list.strProblem =
            StatusReader::tr("%1 is not a printer list: no %2 in [%3]")
                .arg(file, PublishedFiles::LIST_KEY_COUNT, PublishedFiles::LIST_GROUP_MAIN);
        return;
    }
    bool ok = false;
    const int count = countText.trimmed().toInt(&ok);
    if (!ok || count < 0 || count > PublishedFiles::MAX_PRINTER_COUNT) {
        list.strProblem = StatusReader::tr("%1 has an unusable %2 \"%3\"")
                              .arg(file, PublishedFiles::LIST_KEY_COUNT, countText);
        return;
    }
    list.bRead = true;
    list.iCount = count;

    // Sections at or beyond Count are left over from a longer list and are not current.
    QList<int> present;
    for (const QString& group : settings.childGroups()) {
        const int index = PublishedFiles::PrinterGroupIndex(group);
        if (index >= 0 && index < count) {
            present.append(index);
        }
    }
    std::sort(present.begin(), present.end());

    const int missing = count - present.size();
    if (missing > 0) {
        QStringList named;
        int expected = 0;
        for (int i = 0; i <= present.size() && named.size() < MAX_NAMED_SECTIONS; ++i) {
            const int next = i < present.size() ? present.at(i) : count;
            for (; expected < next && named.size() < MAX_NAMED_SECTIONS; ++expected) {
                named << PublishedFiles::PrinterGroup(expected);
            }
            expected = next + 1;
        }
        QString names = named.join(QStringLiteral(", "));
        if (missing > named.size()) {
            names = tr("%1 and %2 more").arg(names, QString::number(missing - named.size()));
        }
        list.listWarnings << (missing == 1
                                  ? tr("Count is %1 but %2 of its sections is missing: %3")
                                  : tr("Count is %1 but %2 of its sections are missing: %3"))
                                 .arg(QString::number(count), QString::number(missing), names);
    }

    for (int index : present) {
        settings.beginGroup(PublishedFiles::PrinterGroup(index));
        stPrinterReport printer;
        printer.iIndex = index;
        printer.strName = SettingText(settings, PublishedFiles::LIST_KEY_NAME);
        printer.strModel = SettingText(settings, PublishedFiles::LIST_KEY_MODEL);
        printer.strConnectType = SettingText(settings, PublishedFiles::LIST_KEY_CONNECT_TYPE);
        printer.iConnectType = printer.strConnectType.trimmed().toInt();
        printer.strPort = SettingText(settings, PublishedFiles::LIST_KEY_PORT);
        printer.strURI = SettingText(settings, PublishedFiles::LIST_KEY_URI);
        settings.endGroup();
        snapshot->listPrinters.append(printer);
    }
}

void StatusReader::ReadStatusFile(stPrinterReport* report) const
{
    report->strFileName = PublishedFiles::StatusFileName(report->strName);
    if (report->strFileName.isEmpty()) {
        report->enFileState = StatusFileState::Unreadable;
        report->strStatusLabel = StatusReader::tr("unknown");
        report->strFileProblem = report->strName.isEmpty()
                                     ? StatusReader::tr("the section has no queue name")
                                     : StatusReader::tr("the queue name cannot name a status file");
        return;
    }
    const QString path = m_strDir + report->strFileName;

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            // Earlier versions of the service rewrote a status file in place (cut, then
            // written): a reader could catch it empty or half-written.
            QThread::msleep(REREAD_PAUSE_MS);
        }
        QByteArray data;
        qint64 size = 0;
        QString error;
        switch (ReadCapped(path, MAX_REPLY_SIZE + 1, &data, &size, nullptr, &error)) {
        case ReadResult::Missing:
            report->enFileState = StatusFileState::Missing;
            report->iFileSize = -1;
            report->strFileProblem = StatusReader::tr("no status file");
            report->bHasStatus = true;
            report->iStatus = PRINTER_STATUS_UNKNOWN;
            report->bHasStatusCode = false;
            report->strStatusLabel = StatusLabel(PRINTER_STATUS_UNKNOWN, 0);
            return;
        case ReadResult::Failed:
            report->enFileState = StatusFileState::Unreadable;
            report->strFileProblem = StatusReader::tr("cannot read %1: %2").arg(path, error);
            report->strStatusLabel = StatusReader::tr("unknown");
            break;
        case ReadResult::Ok:
            DecodeStatusFile(data, qMax(size, qint64(data.size())), report);
            break;
        }
        if (report->enFileState == StatusFileState::Decoded) {
            return;
        }
    }
}

void StatusReader::DecodeStatusFile(const QByteArray& data, qint64 fileSize,
                                    stPrinterReport* report)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const qint64 size = data.size();
    report->iFileSize = fileSize;
    report->bHasStatus = false;
    report->bHasStatusCode = false;
    report->strFileProblem.clear();
    report->strStatusLabel = StatusReader::tr("unknown: the status file holds no complete reply");

    if (size == 0) {
        report->enFileState = StatusFileState::Empty;
        report->strFileProblem = StatusReader::tr("status file is empty (no reply: USB time-out)");
        return;
    }
    if (fileSize > MAX_REPLY_SIZE) {
        report->enFileState = StatusFileState::Foreign;
        report->strFileProblem =
            StatusReader::tr("not a status reply: %1, more than any reply holds")
                .arg(SizeText(fileSize));
        return;
    }

    if (!report->Decode(bytes, static_cast<unsigned long>(size))) {
        if (size < 8 && data.count('\0') == size) {
            report->enFileState = StatusFileState::NoReply;
            report->strFileProblem =
                StatusReader::tr("no reply: USB transfer failed, %1 zero bytes").arg(size);
            return;
        }
        // A cut-off reply is the start of one that fits a datagram: filled up with zeros (empty
        // texts, no codes, no entries) it decodes. Bytes whose lengths run past any reply do not.
        QByteArray padded = data;
        padded.append(QByteArray(MAX_REPLY_SIZE - size, '\0'));
        stStatusReply probe;
        if (probe.Decode(reinterpret_cast<const unsigned char*>(padded.constData()),
                         static_cast<unsigned long>(padded.size()))) {
            report->enFileState = StatusFileState::Truncated;
            report->strFileProblem = StatusReader::tr("reply truncated, %1").arg(SizeText(size));
        } else {
            report->enFileState = StatusFileState::Foreign;
            report->strFileProblem = StatusReader::tr("not a status reply (%1 whose lengths run "
                                                      "past any reply)")
                                         .arg(SizeText(size));
        }
        return;
    }

    report->enFileState = StatusFileState::Decoded;
    report->bHasStatus = true;
    report->bHasStatusCode = true;
    report->strStatusLabel = StatusLabel(report->iStatus, report->ulStatusCode);
}

QString StatusReader::StatusLabel(int status, quint64 code)
{
    if (status == PRINTER_STATUS_UNKNOWN) {
        return StatusReader::tr("no status");
    }
    if (status == PRINTER_STATUS_OTHER) {
        return StatusReader::tr("unknown printer status code %1").arg(code);
    }
    return StatusReader::tr("printer status code %1").arg(code);
}

stHeartbeatReport StatusReader::ReadHeartbeat() const
{
    const QString path = m_strDir + PublishedFiles::HEARTBEAT_NAME;
    QByteArray content;
    qint64 mtimeMs = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            // Earlier versions of the service truncated the file before writing the new stamp.
            QThread::msleep(REREAD_PAUSE_MS);
        }
        qint64 size = 0;
        QString error;
        switch (ReadCapped(path, MAX_HEARTBEAT_SIZE, &content, &size, &mtimeMs, &error)) {
        case ReadResult::Missing: {
            stHeartbeatReport report;
            report.enState = ServiceState::NotRunning;
            report.strProblem = StatusReader::tr("no heartbeat file");
            return report;
        }
        case ReadResult::Failed: {
            stHeartbeatReport report;
            report.enState = ServiceState::Unknown;
            report.strProblem =
                StatusReader::tr("cannot read %1: %2").arg(PublishedFiles::HEARTBEAT_NAME, error);
            report.bReadFailed = true;
            return report;
        }
        case ReadResult::Ok:
            break;
        }
        if (!content.isEmpty()) {
            break;
        }
    }
    return ParseHeartbeat(content, QDateTime::currentMSecsSinceEpoch(), mtimeMs);
}

stHeartbeatReport StatusReader::ParseHeartbeat(const QByteArray& content, qint64 nowMs,
                                               qint64 mtimeMs)
{
    stHeartbeatReport report;
    if (content.isEmpty()) {
        report.enState = ServiceState::Unknown;
        report.strProblem = StatusReader::tr("heartbeat file is empty");
        return report;
    }
    // Tolerate a line end added by hand; the service writes none.
    const QString text = QString::fromLatin1(content.left(64)).trimmed();
    qint64 stampMs = 0;
    if (!StampToEpochMs(text, mtimeMs, &stampMs)) {
        report.enState = ServiceState::Unknown;
        report.strProblem = StatusReader::tr("heartbeat file holds no time stamp");
        return report;
    }
    report.strStamp = text;
    report.iStampMs = stampMs;
    report.iAgeMs = nowMs - stampMs;
    // A stamp far in the future means the clock was set back since the last beat: a running
    // service would have written a current one.
    const bool fresh = report.iAgeMs < ALIVE_LIMIT_MS && report.iAgeMs > -ALIVE_LIMIT_MS;
    report.enState = fresh ? ServiceState::Alive : ServiceState::Stale;
    return report;
}

bool StatusReader::StampToEpochMs(const QString& text, qint64 hintMs, qint64* epochMs)
{
    // The service writes local time without its offset. Read it with the zone's rules; in the
    // hour that repeats when the clocks go back both readings are valid, and the one nearer the
    // file's modification time is the one the service meant.
    const QDateTime parsed = PublishedFiles::ParseHeartbeatStamp(text);
    if (!parsed.isValid()) {
        return false;
    }
    const QDate date = parsed.date();
    const QTime time = parsed.time();
    bool found = false;
    qint64 best = 0;
    for (int isDst : {-1, 0, 1}) {
        struct tm fields = {};
        fields.tm_year = date.year() - 1900;
        fields.tm_mon = date.month() - 1;
        fields.tm_mday = date.day();
        fields.tm_hour = time.hour();
        fields.tm_min = time.minute();
        fields.tm_sec = time.second();
        fields.tm_isdst = isDst;
        const time_t seconds = std::mktime(&fields);
        if (seconds == time_t(-1)) {
            continue;
        }
        // A reading is valid only when it gives back the same wall-clock time: outside the
        // repeated hour, forcing summer or winter time moves the clock by an hour.
        struct tm back = {};
        if (localtime_r(&seconds, &back) == nullptr || back.tm_hour != time.hour() ||
            back.tm_min != time.minute() || back.tm_mday != date.day()) {
            continue;
        }
        const qint64 candidate = qint64(seconds) * 1000 + time.msec();
        if (!found || qAbs(candidate - hintMs) < qAbs(best - hintMs)) {
            best = candidate;
            found = true;
        }
    }
    if (!found) {
        // A wall-clock time the zone skips (the hour lost in spring): take Qt's reading.
        best = parsed.toMSecsSinceEpoch();
    }
    *epochMs = best;
    return true;
}
