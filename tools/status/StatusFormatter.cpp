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
        out += QStringLiteral("Directory: %1\n").arg(Printable(snapshot.strDir));
    }
    out += QStringLiteral("Service:   %1\n").arg(ServiceLine(snapshot.stHeartbeat));

    const stPrinterListReport& list = snapshot.stList;
    if (!list.bRead) {
        out += QStringLiteral("Printers:  unknown (%1)\n").arg(Printable(list.strProblem));
    } else if (verbose || list.iCount == 0) {
        out += list.iCount == 0 ? QStringLiteral("Printers:  none listed\n")
                                : QStringLiteral("Printers:  %1\n").arg(list.iCount);
    }
    for (const QString& warning : list.listWarnings) {
        out += QStringLiteral("Warning:   %1\n").arg(Printable(warning));
    }
    for (const QString& skipped : snapshot.listSkippedQueues) {
        if (verbose) {
            // Already printable: the finder escapes the bytes of a name itself.
            out += QStringLiteral("Skipped:   %1\n").arg(skipped);
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
    const QString state = ServiceStateName(hb.enState);
    if (hb.strStamp.isEmpty()) {
        return QStringLiteral("%1 - %2").arg(state, Printable(hb.strProblem));
    }
    if (hb.enState == ServiceState::Alive) {
        return QStringLiteral("%1 - heartbeat %2").arg(state, Age(hb.iAgeMs));
    }
    if (hb.iAgeMs < 0) {
        return QStringLiteral("%1 - last heartbeat %2, ahead of this machine's clock; the service "
                              "is not running")
            .arg(state, Age(hb.iAgeMs));
    }
    if (hb.iAgeMs > CLOCK_FAR_OFF_MS) {
        return QStringLiteral("%1 - last heartbeat %2 (%3): the clock is far off, or the service "
                              "has not run for a long time")
            .arg(state, Age(hb.iAgeMs), Printable(hb.strStamp));
    }
    return QStringLiteral("%1 - last heartbeat %2; the service is not running")
        .arg(state, Age(hb.iAgeMs));
}

QString StatusFormatter::Age(qint64 ms)
{
    // Rounded down, as people read a clock; the unit grows with the span.
    const qint64 span = qAbs(ms) / 1000;
    QString text;
    if (span < 120) {
        text = QStringLiteral("%1 s").arg(span);
    } else if (span < 120 * 60) {
        text = QStringLiteral("%1 min").arg(span / 60);
    } else if (span < 48 * 3600) {
        text = QStringLiteral("%1 h").arg(span / 3600);
    } else if (span < 2LL * 365 * 86400) {
        text = QStringLiteral("%1 days").arg(span / 86400);
    } else {
        text = QStringLiteral("%1 years").arg(span / (365 * 86400));
    }
    return ms < 0 ? QStringLiteral("in ") + text : text + QStringLiteral(" ago");
}

void StatusFormatter::FormatRawFields(const stPrinterReport& printer, QString* out)
{
    Line(out, QStringLiteral("Queue"), Printable(printer.strName));
    Line(out, QStringLiteral("Model"), Printable(printer.strModel));
    Line(out, QStringLiteral("Connection"), ConnectionName(printer));
    Line(out, QStringLiteral("Port"), Printable(printer.strPort));
    Line(out, QStringLiteral("URI"), Printable(printer.strURI));

    QString file;
    if (printer.strFileName.isEmpty()) {
        file = Printable(printer.strFileProblem);
    } else if (printer.enFileState == StatusFileState::Decoded) {
        file = QStringLiteral("%1, %2 bytes")
                   .arg(Printable(printer.strFileName))
                   .arg(printer.iFileSize);
    } else {
        file = QStringLiteral("%1: %2").arg(Printable(printer.strFileName),
                                            Printable(printer.strFileProblem));
    }
    Line(out, QStringLiteral("Status file"), file);

    if (printer.bHasStatus) {
        Line(out, QStringLiteral("Status"),
             QStringLiteral("%1 = %2").arg(printer.iStatus).arg(printer.strStatusLabel));
    } else {
        Line(out, QStringLiteral("Status"), printer.strStatusLabel);
    }
    if (printer.enFileState != StatusFileState::Decoded) {
        return;
    }
    Line(out, QStringLiteral("Status text"), Printable(printer.strStatusText));
    Line(out, QStringLiteral("Info 1"), Printable(printer.strInfo1));
    Line(out, QStringLiteral("Info 2"), Printable(printer.strInfo2));
    Line(out, QStringLiteral("Info 3"), Printable(printer.strInfo3));
    Line(out, QStringLiteral("Errors 1"), ErrorList(printer.listErrors1));
    Line(out, QStringLiteral("Errors 2"), ErrorList(printer.listErrors2));
    Line(out, QStringLiteral("Supplies text"), Printable(printer.strSuppliesText));
    Line(out, QStringLiteral("Toner type"), QString::number(printer.iTonerType));
    QStringList values;
    for (const stSupplyEntry& supply : printer.listSupplies) {
        if (supply.bCarried) {
            values << QStringLiteral("%1=%2").arg(Hex(supply.usType, 4)).arg(supply.ulValue);
        }
    }
    Line(out, QStringLiteral("Supplies"), values.join(QLatin1Char(' ')));
}

QString StatusFormatter::ErrorList(const QList<stErrorEntry>& errors)
{
    if (errors.isEmpty()) {
        return QStringLiteral("none");
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
