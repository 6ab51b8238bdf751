#include "tests/devices/LpstatDeviceParser.h"

#include "devices/DeviceUri.h"

#include <QStringList>

namespace {
constexpr QLatin1String c_strStandardLead("device for");
constexpr QLatin1String c_strUsb("usb");
constexpr QLatin1String c_strUsbScheme("usb://");
constexpr QLatin1String c_strSocket("socket");
constexpr QLatin1String c_strOrvoSocket("orvosocket");
constexpr QLatin1String c_strSocketScheme("socket://");
constexpr QLatin1String c_strOrvoSocketScheme("orvosocket://");

// "usb://" is six characters; the port text of a USB queue is what follows it.
constexpr int USB_SCHEME_LENGTH = 6;

bool StartsWithNoCase(const QString& text, QLatin1String prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}
} // namespace

bool LpstatDeviceParser::ParseLine(const QString& line, stPrinterInfo& info)
{
    // Only spaces separate: a tab inside a word stays part of it, and runs of spaces count once.
    const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    stPrinterInfo parsed = info;
    const bool ok = StartsWithNoCase(line, c_strStandardLead) ? ParseStandard(pieces, parsed)
                                                              : ParsePositional(pieces, parsed);
    // A queue always has a name; an empty one could only come from a garbled line and would
    // name a hidden status file.
    if (!ok || parsed.strName.isEmpty()) {
        return false;
    }
    info = parsed;
    return true;
}

bool LpstatDeviceParser::ParseStandard(const QStringList& pieces, stPrinterInfo& info)
{
    if (pieces.size() < 4) {
        return false;
    }
    QString name = pieces.at(2).trimmed();
    name.chop(1); // the colon after the queue name
    const QString candidate = pieces.at(3).trimmed();

    if (StartsWithNoCase(candidate, c_strUsb)) {
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_USB;
        info.strPort = candidate.mid(USB_SCHEME_LENGTH);
        info.strURI = candidate;
        return true;
    }
    if (StartsWithNoCase(candidate, c_strSocket) || StartsWithNoCase(candidate, c_strOrvoSocket)) {
        bool found = false;
        const QString host = DeviceUri::HostOf(candidate, 0, &found);
        if (!found) {
            return false;
        }
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_NET;
        info.strPort = host;
        info.strURI = candidate;
        return true;
    }
    return false; // ipp, lpd, dnssd, file, ...: not a printer this service can ask
}

bool LpstatDeviceParser::ParsePositional(const QStringList& pieces, stPrinterInfo& info)
{
    if (pieces.size() < 3) {
        return false;
    }
    const QString name = pieces.at(1).trimmed();
    // The URI may be glued to translated text, as behind the full-width colon of zh_CN.
    const QString text = pieces.at(2).trimmed();

    int at = text.indexOf(c_strUsbScheme, 0, Qt::CaseInsensitive);
    if (at >= 0) {
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_USB;
        info.strPort = text.mid(at + USB_SCHEME_LENGTH);
        info.strURI = text.mid(at);
        return true;
    }
    at = text.indexOf(c_strOrvoSocketScheme, 0, Qt::CaseInsensitive);
    if (at < 0) {
        at = text.indexOf(c_strSocketScheme, 0, Qt::CaseInsensitive);
    }
    if (at < 0) {
        return false;
    }
    info.strName = name;
    info.iConnectType = CONNECT_TYPE_NET;
    info.strPort = DeviceUri::HostOf(text, at, nullptr);
    info.strURI = text.mid(at);
    return true;
}
