#pragma once

#include <QString>

// The directories the service works in are fixed: the desktop application and CUPS look for
// the files there, so nothing at run time may move them. Only in-process tests relocate them,
// under a temporary directory, through SetRootForTesting.
class FixedPaths
{
public:
    // "/opt/orvo/q70_series_printer", without a trailing slash.
    static QString InstallRoot();
    // The three working directories, each ending with a slash so a file name appends directly.
    static QString TempDir();
    static QString LogDir();
    static QString CfgDir();
    // Where CUPS keeps the PPD of every queue: "/etc/cups/ppd/".
    static QString CupsPpdDir();

    // Test-only: prefix every fixed path with `root` (empty restores the real paths). Call it
    // before any worker thread starts.
    static void SetRootForTesting(const QString& root);

private:
    static QString Rooted(const QString& path);
};
