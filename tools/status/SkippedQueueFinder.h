#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Finds the CUPS queues of the maker that the service leaves out of its printer list, each told
// with the likely reason, by looking at the PPD that CUPS keeps for every queue: a queue whose PPD
// names a supported model but whose name is not in the list. Names are taken as the bytes on disk,
// so a name that is not valid UTF-8 (which CUPS accepts and the service cannot carry) is found
// and shown with its odd bytes escaped.
class SkippedQueueFinder
{
    Q_DECLARE_TR_FUNCTIONS(SkippedQueueFinder)

public:
    // ppdDir ends with a slash; listed holds the queue names in the printer list.
    static QStringList Find(const QString& ppdDir, const QStringList& listed);

    // The name for people: valid UTF-8 as it is, every other byte as \xNN.
    static QString DisplayName(const QByteArray& name);
};
