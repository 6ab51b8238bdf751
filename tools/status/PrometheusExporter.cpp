#include "tools/status/PrometheusExporter.h"

#include "service/PrinterRecords.h"
#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusReader.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every state a printer can be in, each a series of its state set.
const PrinterState c_listStates[] = {
    PrinterState::Ready,    PrinterState::Printing,    PrinterState::Warning, PrinterState::Error,
    PrinterState::NoStatus, PrinterState::Unreachable, PrinterState::Unknown,
};

QString ConnectionLabel(const stPrinterReport& printer)
{
    switch (printer.iConnectType) {
    case CONNECT_TYPE_USB:
        return QStringLiteral("usb");
    case CONNECT_TYPE_NET:
        return QStringLiteral("network");
    default:
        return QStringLiteral("unknown");
    }
}

QString Seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

QString SystemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

int PrometheusExporter::Run(const StatusSnapshot& snapshot, const QString& outputPath)
{
    const QByteArray text = Export(snapshot);
    if (outputPath.isEmpty()) {
        const bool written =
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size());
        return std::fflush(stdout) == 0 && written ? 0 : EXIT_NOT_WRITTEN;
    }
    QString error;
    if (!WriteAtomically(outputPath, text, &error)) {
        const QByteArray message = QStringLiteral("orvo-status: %1\n").arg(error).toUtf8();
        std::fwrite(message.constData(), 1, size_t(message.size()), stderr);
        return EXIT_NOT_WRITTEN;
    }
    return 0;
}

QByteArray PrometheusExporter::Export(const StatusSnapshot& snapshot)
{
    // Names and units as Prometheus' conventions want them: times as seconds since the epoch (so
    // an age is computed when Prometheus asks, not frozen when the file was written), fractions
    // as ratios, a state as a state set that a dashboard can count per state.
    stFamily up{QStringLiteral("orvo_service_up"),
                QStringLiteral("Whether the Orvo printer status service ran when this file was "
                               "written: 1 while its heartbeat was younger than %1 s.")
                    .arg(StatusReader::ALIVE_LIMIT_MS / 1000),
                QStringLiteral("gauge"),
                {}};
    stFamily heartbeat{QStringLiteral("orvo_service_heartbeat_timestamp_seconds"),
                       QStringLiteral("When the service last wrote its heartbeat, in seconds since "
                                      "the epoch; time() minus this is its age."),
                       QStringLiteral("gauge"),
                       {}};
    stFamily info{QStringLiteral("orvo_printer_info"),
                  QStringLiteral("One series per printer the service lists; always 1."),
                  QStringLiteral("gauge"),
                  {}};
    stFamily code{QStringLiteral("orvo_printer_status_code"),
                  QStringLiteral("Status code of the printer's last reply, where one was read."),
                  QStringLiteral("gauge"),
                  {}};
    stFamily state{QStringLiteral("orvo_printer_state"),
                   QStringLiteral("The printer's state as a state set: one series per state, 1 "
                                  "on the state it is in and 0 on the others; unknown while the "
                                  "service does not run."),
                   QStringLiteral("gauge"),
                   {}};
    stFamily condition{QStringLiteral("orvo_printer_condition"),
                       QStringLiteral("One series per active condition of a printer, always 1: its "
                                      "IPP printer-state-reasons keyword, and whether it stops "
                                      "printing or is a warning."),
                       QStringLiteral("gauge"),
                       {}};
    stFamily supply{QStringLiteral("orvo_printer_supply_level_ratio"),
                    QStringLiteral("Supply levels from 0 to 1, where the printer's reply carries "
                                   "them."),
                    QStringLiteral("gauge"),
                    {}};

    const stHeartbeatReport& hb = snapshot.stHeartbeat;
    AddSample(&up, {},
              hb.enState == ServiceState::Alive ? QStringLiteral("1") : QStringLiteral("0"));
    if (!hb.strStamp.isEmpty()) {
        AddSample(&heartbeat, {}, Seconds(hb.iStampMs));
    }
    const qint64 listAgeMs = snapshot.stList.iAgeMs;
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        const QPair<QString, QString> queue(QStringLiteral("queue"), printer.strName);
        AddSample(&info,
                  {queue,
                   {QStringLiteral("model"), printer.strModel},
                   {QStringLiteral("connection"), ConnectionLabel(printer)}},
                  QStringLiteral("1"));
        const PrinterCondition classified =
            PrinterCondition::Classify(printer, hb.enState, listAgeMs);
        if (classified.State() != PrinterState::Unknown &&
            printer.enFileState == StatusFileState::Decoded && printer.bHasStatusCode) {
            AddSample(&code, {queue}, QString::number(printer.ulStatusCode));
        }
        for (const PrinterState each : c_listStates) {
            AddSample(&state, {queue, {QStringLiteral("state"), PrinterCondition::StateKey(each)}},
                      each == classified.State() ? QStringLiteral("1") : QStringLiteral("0"));
        }
        QStringList told; // several bare codes share one keyword and severity: one series
        for (const stCondition& active : classified.Conditions()) {
            const Labels labels = {
                queue,
                {QStringLiteral("condition"), ReasonKeyword(active.strIppReason)},
                {QStringLiteral("severity"), PrinterCondition::SeverityKey(active.enSeverity)}};
            const QString series = labels.at(1).second + QLatin1Char(' ') + labels.at(2).second;
            if (!told.contains(series)) {
                told << series;
                AddSample(&condition, labels, QStringLiteral("1"));
            }
        }
        for (const stSupplyLevel& level : classified.Supplies()) {
            if (level.iPercent >= 0) {
                AddSample(&supply, {queue, {QStringLiteral("supply"), level.strName}},
                          QString::number(level.iPercent / 100.0));
            }
        }
    }

    QString out;
    for (const stFamily* family : {&up, &heartbeat, &info, &code, &state, &condition, &supply}) {
        if (family->listSamples.isEmpty()) {
            continue;
        }
        // Help texts are ours and hold neither backslashes nor line feeds.
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                   .arg(family->strName, family->strHelp, family->strType);
        for (const QString& sample : family->listSamples) {
            out += sample;
        }
    }
    return out.toUtf8();
}

QString PrometheusExporter::ReasonKeyword(const QString& ippReason)
{
    // A printer-state-reasons value is its keyword with the severity appended; the severity has
    // a label of its own here, as CUPS exporters label by the keyword.
    for (const char* suffix : {"-error", "-warning", "-report"}) {
        if (ippReason.endsWith(QLatin1String(suffix))) {
            return ippReason.chopped(int(std::strlen(suffix)));
        }
    }
    return ippReason;
}

void PrometheusExporter::AddSample(stFamily* family, const Labels& labels, const QString& value)
{
    QString line = family->strName;
    if (!labels.isEmpty()) {
        QStringList pairs;
        for (const auto& label : labels) {
            pairs << QStringLiteral("%1=\"%2\"").arg(label.first, EscapeLabelValue(label.second));
        }
        line += QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    family->listSamples << line + QLatin1Char(' ') + value + QLatin1Char('\n');
}

QString PrometheusExporter::EscapeLabelValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool PrometheusExporter::WriteAtomically(const QString& path, const QByteArray& data,
                                         QString* error)
{
    // Names are built before the calls they report on, so errno still holds their error.
    const QFileInfo target(path);
    const QString dir = target.absolutePath();
    const QString finalName = target.absoluteFilePath();
    // A hidden name without the .prom ending: the collector never picks the temporary file up.
    QByteArray temp = QFile::encodeName(dir + QStringLiteral("/.orvo-status-XXXXXX.tmp"));
    const int fd = mkstemps(temp.data(), 4);
    if (fd < 0) {
        *error = SystemError(QStringLiteral("cannot create a file in"), dir);
        return false;
    }
    const QString tempName = QFile::decodeName(temp);
    bool ok = fchmod(fd, 0644) == 0;
    if (!ok) {
        *error = SystemError(QStringLiteral("cannot make readable"), tempName);
    }
    qint64 done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = SystemError(QStringLiteral("cannot write"), tempName);
            ok = false;
        } else {
            done += n;
        }
    }
    if (ok && fsync(fd) != 0) {
        *error = SystemError(QStringLiteral("cannot write"), tempName);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        *error = SystemError(QStringLiteral("cannot write"), tempName);
        ok = false;
    }
    if (ok && rename(temp.constData(), QFile::encodeName(finalName).constData()) != 0) {
        *error = SystemError(QStringLiteral("cannot replace"), finalName);
        ok = false;
    }
    if (!ok) {
        unlink(temp.constData());
    }
    return ok;
}
