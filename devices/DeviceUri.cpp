#include "devices/DeviceUri.h"

QString DeviceUri::HostOf(const QString& uri, int schemeAt, bool* found)
{
    const int sep = uri.indexOf(QLatin1String("://"), schemeAt);
    if (found) {
        *found = sep >= 0;
    }
    if (sep < 0) {
        return QString();
    }
    const int start = sep + 3;
    if (start < uri.size() && uri.at(start) == QLatin1Char('[')) {
        // An IPv6 literal holds colons itself; cutting at the first one would leave "[".
        const int close = uri.indexOf(QLatin1Char(']'), start + 1);
        return close < 0 ? uri.mid(start + 1) : uri.mid(start + 1, close - start - 1);
    }
    // The host ends where a port, a path or a query begins: "socket://10.0.0.5?waiteof=false"
    // names the host 10.0.0.5.
    int end = start;
    while (end < uri.size() && !QStringLiteral(":/?").contains(uri.at(end))) {
        ++end;
    }
    return uri.mid(start, end - start);
}
