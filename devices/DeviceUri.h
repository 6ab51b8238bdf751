#pragma once

#include <QString>

// What discovery reads out of a queue's device URI.
class DeviceUri
{
public:
    // The host of a socket URI: the text after "://" up to the next ":", "/" or "?" (or the
    // end), searching from `schemeAt`. A bracketed IPv6 literal is returned without its
    // brackets, whole. Empty when "://" is missing; `found` tells the two apart from an empty
    // host.
    static QString HostOf(const QString& uri, int schemeAt, bool* found);
};
