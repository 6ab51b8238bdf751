#include "tools/status/StatusFormatter.h"

#include "service/PrinterRecords.h"
#include "tools/status/PrinterCondition.h"
#include "tools/status/StatusReader.h"

#include <QDateTime>
#include <QStringList>

namespace {

const int LABEL_WIDTH = 15;

void Line(QString* out, const QString& label, const QString& value)
{
    QString line =
        QStringLiteral("    ") + (label + QLatin1Char(':')).leftJustified(LABEL_WIDTH) + value;
    while (line.endsWith(QLatin1Char(' '))) {
        line.chop(1);
    }
    *out += line + QLatin1Char('\n');
}

// Beyond this a heartbeat's age says more about the clock than about the service.
const qint64 CLOCK_FAR_OFF_MS = 365LL * 24 * 3600 * 1000;

} // namespace

QString StatusFormatter::Format(const StatusSnapshot& snapshot, bool verbose)
{
    QString out;
    if (verbose) {
        out += tr("Directory: %1").arg(Printable(snapshot.strDir)) + QLatin1Char('\n');
    }
    out += tr("Service:   %1").arg(ServiceLine(snapshot.stHeartbeat)) + QLatin1Char('\n');

    const stPrinterListReport& list = snapshot.stList;
    if (!list.bRead) {
        out += tr("Printers:  unknown (%1)").arg(Printable(list.strProblem)) + QLatin1Char('\n');
    } else if (verbose || list.iCount == 0) {
        out += (list.iCount == 0 ? tr("Printers:  none listed")
                                 : tr("Printers:  %1").arg(list.iCount)) +
               QLatin1Char('\n');
    }
    for (const QString& warning : list.listWarnings) {
        out += tr("Warning:   %1").arg(Printable(warning)) + QLatin1Char('\n');
    }
    for (const QString& skipped : snapshot.listSkippedQueues) {
        if (verbose) {
            // Already printable: the finder escapes the bytes of a name itself.
            out += tr("Skipped:   %1").arg(skipped) + QLatin1Char('\n');
        }
    }
    for (const stPrinterReport& printer : snapshot.listPrinters) {
        const PrinterCondition condition = PrinterCondition::Classify(
            printer, snapshot.stHeartbeat.enState, snapshot.stList.iAgeMs);
        if (verbose) {
            out += QLatin1Char('\n');
        }
        out += QStringLiteral("%1: %2\n")
                   .arg(Printable(printer.strName), Printable(condition.Summary()));
        if (verbose) {
            FormatRawFields(printer, &out);
        }
    }
    return out;
}

QString StatusFormatter::ServiceLine(const stHeartbeatReport& hb)
{
    const QString state = ServiceStateWord(hb.enState);
    if (hb.strStamp.isEmpty()) {
        return tr("%1 - %2").arg(state, Printable(hb.strProblem));
    }
    if (hb.enState == ServiceState::Alive) {
        return tr("%1 - heartbeat %2").arg(state, Age(hb.iAgeMs));
    }
    if (hb.iAgeMs < 0) {
        return tr("%1 - last heartbeat %2, ahead of this machine's clock; the service is not "
                  "running")
            .arg(state, Age(hb.iAgeMs));
    }
    if (hb.iAgeMs > CLOCK_FAR_OFF_MS) {
        return tr("%1 - last heartbeat %2 (%3): the clock is far off, or the service has not run "
                  "for a long time")
            .arg(state, Age(hb.iAgeMs), Printable(hb.strStamp));
    }
    return tr("%1 - last heartbeat %2; the service is not running").arg(state, Age(hb.iAgeMs));
}

QString StatusFormatter::Age(qint64 ms)
{
    // Rounded down, as people read a clock; the unit grows with the span. Whole phrases, because
    // a language may inflect the unit by the direction ("vor 2 Tagen", "in 2 Tagen").
    const qint64 span = qAbs(ms) / 1000;
    const bool ahead = ms < 0;
    if (span < 120) {
        return (ahead ? tr("in %1 s") : tr("%1 s ago")).arg(span);
    }
    if (span < 120 * 60) {
        return (ahead ? tr("in %1 min") : tr("%1 min ago")).arg(span / 60);
    }
    if (span < 48 * 3600) {
        return (ahead ? tr("in %1 h") : tr("%1 h ago")).arg(span / 3600);
    }
    if (span < 2LL * 365 * 86400) {
        return (ahead ? tr("in %1 days") : tr("%1 days ago")).arg(span / 86400);
    }
    return (ahead ? tr("in %1 years") : tr("%1 years ago")).arg(span / (365 * 86400));
}

void StatusFormatter::FormatRawFields(const stPrinterReport& printer, QString* out)
{
    Line(out, tr("Queue"), Printable(printer.strName));
    Line(out, tr("Model"), Printable(printer.strModel));
    const QString connection = ConnectionName(printer);
    Line(out, tr("Connection"),
         connection == QLatin1String("network") ? tr("network") : connection);
    Line(out, tr("Port"), Printable(printer.strPort));
    Line(out, tr("URI"), Printable(printer.strURI));

    QString file;
    if (printer.strFileName.isEmpty()) {
        file = Printable(printer.strFileProblem);
    } else if (printer.enFileState == StatusFileState::Decoded) {
        file = tr("%1, %2 bytes")
                   .arg(Printable(printer.strFileName), QString::number(printer.iFileSize));
    } else {
        file = QStringLiteral("%1: %2").arg(Printable(printer.strFileName),
                                            Printable(printer.strFileProblem));
    }
    Line(out, tr("Status file"), file);

    if (printer.bHasStatus) {
        Line(out, tr("Status"),
             QStringLiteral("%1 = %2").arg(printer.iStatus).arg(printer.strStatusLabel));
    } else {
        Line(out, tr("Status"), printer.strStatusLabel);
    }
    if (printer.enFileState != StatusFileState::Decoded) {
        return;
    }
    Line(out, tr("Status text"), Printable(printer.strStatusText));
    Line(out, tr("Info 1"), Printable(printer.strInfo1));
    Line(out, tr("Info 2"), Printable(printer.strInfo2));
    Line(out, tr("Info 3"), Printable(printer.strInfo3));
    Line(out, tr("Errors 1"), ErrorList(printer.listErrors1));
    Line(out, tr("Errors 2"), ErrorList(printer.listErrors2));
    Line(out, tr("Supplies text"), Printable(printer.strSuppliesText));
    Line(out, tr("Toner type"), QString::number(printer.iTonerType));
    QStringList values;
    for (const stSupplyEntry& supply : printer.listSupplies) {
        if (supply.bCarried) {
            values << QStringLiteral("%1=%2").arg(Hex(supply.usType, 4)).arg(supply.ulValue);
        }
    }
    Line(out, tr("Supplies"), values.join(QLatin1Char(' ')));
}

QString StatusFormatter::ErrorList(const QList<stErrorEntry>& errors)
{
    if (errors.isEmpty()) {
        return tr("none");
    }
    QStringList items;
    for (const stErrorEntry& error : errors) {
        items << QStringLiteral("%1 -> %2").arg(Hex(error.ulCode, 4)).arg(error.iValue);
    }
    return QStringLiteral("%1: %2").arg(errors.size()).arg(items.join(QStringLiteral(", ")));
}

QString StatusFormatter::ServiceStateName(ServiceState state)
{
    switch (state) {
    case ServiceState::Alive:
        return QStringLiteral("alive");
    case ServiceState::Stale:
        return QStringLiteral("stale");
    case ServiceState::NotRunning:
        return QStringLiteral("not running");
    case ServiceState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString StatusFormatter::ServiceStateWord(ServiceState state)
{
    switch (state) {
    case ServiceState::Alive:
        return tr("alive");
    case ServiceState::Stale:
        return tr("stale");
    case ServiceState::NotRunning:
        return tr("not running");
    case ServiceState::Unknown:
        break;
    }
    return tr("unknown");
}

QString StatusFormatter::ConnectionName(const stPrinterReport& printer)
{
    const QString trimmed = printer.strConnectType.trimmed();
    if (trimmed == QString::number(CONNECT_TYPE_USB)) {
        return QStringLiteral("USB");
    }
    if (trimmed == QString::number(CONNECT_TYPE_NET)) {
        return QStringLiteral("network");
    }
    return QStringLiteral("unknown (\"%1\")").arg(Printable(printer.strConnectType));
}

QString StatusFormatter::Hex(quint64 value, int digits)
{
    return QStringLiteral("0x") +
           QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QString StatusFormatter::Printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const ushort code = ch.unicode();
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0)) {
            out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        } else if (ch == QLatin1Char('\\')) {
            out += QStringLiteral("\\\\");
        } else {
            out += ch;
        }
    }
    return out;
}
