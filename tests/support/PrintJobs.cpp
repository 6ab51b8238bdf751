#include "tests/support/PrintJobs.h"

#include "tests/support/ToolRunner.h"

#include <QRegularExpression>
#include <QTemporaryFile>

QString PrintJobs::submitRaw(const QString& queue, const QByteArray& data, QString* error)
{
    const QString dir = qEnvironmentVariable("ORVO_TESTENV_DIR", QStringLiteral("/tmp"));
    QTemporaryFile file(dir + QStringLiteral("/job-XXXXXX"));
    if (!file.open() || file.write(data) != data.size() || !file.flush()) {
        if (error) {
            *error = QStringLiteral("cannot write the job file in %1").arg(dir);
        }
        return QString();
    }
    const ToolResult result =
        ToolRunner::run(QStringLiteral("lp"), {QStringLiteral("-d"), queue, QStringLiteral("-o"),
                                               QStringLiteral("raw"), file.fileName()});
    static const QRegularExpression requestId(QStringLiteral("request id is (\\S+) \\("));
    const QRegularExpressionMatch match = requestId.match(result.out());
    if (!result.ok() || !match.hasMatch()) {
        if (error) {
            *error = QStringLiteral("lp -d %1 failed: %2").arg(queue, result.describe());
        }
        return QString();
    }
    // lp prints the queue name raw; job lists percent-encode it. Ids are handed out in the
    // listed form so that they compare equal to what jobIds() returns.
    const QString id = match.captured(1);
    const int dash = id.lastIndexOf(QLatin1Char('-'));
    return encodedQueueName(id.left(dash)) + id.mid(dash);
}

ToolResult PrintJobs::cancel(const QString& jobId)
{
    // The number alone names the job; the encoded queue part would not be understood.
    return ToolRunner::run(QStringLiteral("cancel"), {jobId.section(QLatin1Char('-'), -1)});
}

ToolResult PrintJobs::cancelAll(const QString& queue)
{
    return ToolRunner::run(QStringLiteral("cancel"), {QStringLiteral("-a"), queue});
}

QStringList PrintJobs::jobIds(const QString& queue, const QString& which)
{
    // "lpstat -o Q" prints nothing for a queue name outside ASCII, so list all and filter.
    const ToolResult result = ToolRunner::run(QStringLiteral("lpstat"),
                                              {QStringLiteral("-W"), which, QStringLiteral("-o")});
    const QString prefix = encodedQueueName(queue) + QLatin1Char('-');
    QStringList ids;
    const QStringList lines = result.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QString id = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        if (id.startsWith(prefix) && !id.mid(prefix.size()).isEmpty() &&
            id.midRef(prefix.size()).toInt() > 0) {
            ids.append(id);
        }
    }
    return ids;
}

QString PrintJobs::printerLine(const QString& queue)
{
    const ToolResult result =
        ToolRunner::run(QStringLiteral("lpstat"), {QStringLiteral("-p"), queue});
    return result.out().section(QLatin1Char('\n'), 0, 0);
}

QString PrintJobs::encodedQueueName(const QString& queue)
{
    QString encoded;
    for (const char c : queue.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            encoded += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        } else {
            encoded += QLatin1Char(c);
        }
    }
    return encoded;
}
