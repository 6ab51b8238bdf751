#include "service/InstanceGuard.h"

#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/UtilThreadBase.h"

#include <QCoreApplication>
#include <QStringList>

QString InstanceGuard::ProcessName(const QString& applicationName)
{
    return applicationName.left(15);
}

int InstanceGuard::CountProcessLines(const QStringList& psLines, const QString& name)
{
    int count = 0;
    for (const QString& line : psLines) {
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() < 4) {
            continue;
        }
        if (parts.at(3).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            ++count;
        }
    }
    return count;
}

bool CheckIsRunning()
{
    const QString tempDir = FixedPaths::TempDir();
    UtilThreadBase::MakePathExist(tempDir);
    const QString snapshot = tempDir + QStringLiteral("pslist.tmp");
    const QString name = InstanceGuard::ProcessName(QCoreApplication::applicationName());

    // A name the shell or grep could misread is refused by the command builder; the check then
    // finds nothing and the service starts, as when ps is missing.
    CupsTool::Run("ps -A | grep %s > %s", {name, snapshot}, "CheckIsRunning");
    const QStringList lines = CupsTool::ReadAndRemove(snapshot);
    return InstanceGuard::CountProcessLines(lines, name) > 1;
}
