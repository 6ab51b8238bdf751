#include "service/FixedPaths.h"

namespace {
QString& TestRoot()
{
    static QString s_strTestRoot;
    return s_strTestRoot;
}
} // namespace

QString FixedPaths::Rooted(const QString& path)
{
    return TestRoot() + path;
}

QString FixedPaths::InstallRoot()
{
    return Rooted(QStringLiteral("/opt/") + QStringLiteral("orvo/") +
                  QStringLiteral("q70_series_printer"));
}

QString FixedPaths::TempDir()
{
    return InstallRoot() + QStringLiteral("/temp/");
}

QString FixedPaths::LogDir()
{
    return InstallRoot() + QStringLiteral("/log/");
}

QString FixedPaths::CfgDir()
{
    return InstallRoot() + QStringLiteral("/cfg/");
}

QString FixedPaths::CupsPpdDir()
{
    return Rooted(QStringLiteral("/etc/cups/ppd/"));
}

void FixedPaths::SetRootForTesting(const QString& root)
{
    TestRoot() = root;
}
