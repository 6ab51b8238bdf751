#include "service/PpdModelReader.h"

#include "service/ModelTable.h"
#include "service/QueueNameCheck.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextCodec>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr char c_szModelNameKey[] = "*ModelName";
constexpr int MODEL_NAME_KEY_LENGTH = sizeof(c_szModelNameKey) - 1;

bool IsAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F) {
            return false;
        }
    }
    return true;
}
} // namespace

bool PpdModelReader::MatchLine(const QByteArray& rawLine, QTextCodec* codec, QString& model)
{
    QByteArray line = rawLine;
    const int nul = line.indexOf('\0');
    if (nul >= 0) {
        line.truncate(nul);
    }
    if (line.size() < MODEL_NAME_KEY_LENGTH ||
        qstrnicmp(line.constData(), c_szModelNameKey, MODEL_NAME_KEY_LENGTH) != 0) {
        return false;
    }

    // Bytes that are not UTF-8 make the line something else than a model name: never guess.
    QTextCodec::ConverterState state;
    const QString text = codec->toUnicode(line.constData(), line.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0) {
        return false;
    }

    const QStringList pieces = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (pieces.size() < 2) {
        return false;
    }
    QString value = pieces.at(1).trimmed();
    if (value.startsWith(QLatin1Char('"'))) {
        value.remove(0, 1);
    }
    if (value.endsWith(QLatin1Char('"'))) {
        value.chop(1);
    }
    // Every display name is ASCII; this also keeps Unicode case folding from making a foreign
    // letter equal to one of ours.
    if (value.isEmpty() || !IsAscii(value) || !ModelTable::FindByModelName(value)) {
        return false;
    }
    model = value;
    return true;
}

bool PpdModelReader::FindModel(const QString& path, QTextCodec* codec, QString& model)
{
    // A regular file only: a FIFO or device node put there would block or never end.
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }

    char buffer[MAX_LINE_BYTES + 1];
    qint64 total = 0;
    bool overlong = false; // inside the rest of a line longer than MAX_LINE_BYTES
    while (total < MAX_TOTAL_BYTES) {
        const qint64 n = file.readLine(buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        total += n;
        const bool complete = buffer[n - 1] == '\n' || file.atEnd();
        if (overlong || !complete) {
            overlong = !complete;
            continue;
        }
        if (MatchLine(QByteArray(buffer, static_cast<int>(n)), codec, model)) {
            return true;
        }
    }
    return false;
}

bool PpdModelReader::FindModelOfQueue(const QString& ppdDir, const QByteArray& name,
                                      QTextCodec* codec, QString& model, bool* denied)
{
    if (denied) {
        *denied = false;
    }
    // The name becomes part of a path: nothing may lead out of the PPD directory.
    if (!QueueNameCheck::UsableAsFileName(name)) {
        return false;
    }
    QByteArray path = QFile::encodeName(ppdDir);
    if (!path.endsWith('/')) {
        path += '/';
    }
    path += name + ".ppd";
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (denied) {
            *denied = errno == EACCES;
        }
        return false;
    }
    const bool found = FindModel(QStringLiteral("/proc/self/fd/%1").arg(fd), codec, model);
    ::close(fd);
    return found;
}
