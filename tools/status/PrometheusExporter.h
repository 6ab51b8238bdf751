#pragma once

#include "tools/status/StatusSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The snapshot in the Prometheus text exposition format (version 0.0.4), for node_exporter's
// textfile collector. Every series of a family follows its HELP and TYPE lines in one group, as
// the format requires. Queue names and other texts from the files only ever appear as label
// values, escaped, so no name can end a line or a label early.
class PrometheusExporter
{
public:
    // Exit status when the export cannot be written.
    static constexpr int EXIT_NOT_WRITTEN = 6;

    // orvo-status --prometheus: the export on standard output, or replacing outputPath when it is
    // not empty. The service's state is in the export, so only a failed write fails.
    static int Run(const StatusSnapshot& snapshot, const QString& outputPath);

    static QByteArray Export(const StatusSnapshot& snapshot);

    // The condition label: a printer-state-reasons value without its severity suffix,
    // "media-jam-error" -> "media-jam".
    static QString ReasonKeyword(const QString& ippReason);

    // A label value between its double quotes: backslash, double quote and line feed escaped,
    // everything else (UTF-8 included) as it is.
    static QString EscapeLabelValue(const QString& value);

    // Replaces path in one step: the text goes into a new file in the same directory, which is
    // then renamed over path, so a reader finds the old file or the new one, never a part. The
    // file is readable by all (the collector runs as its own user). false with the reason.
    static bool WriteAtomically(const QString& path, const QByteArray& data, QString* error);

private:
    using Labels = QList<QPair<QString, QString>>;

    struct stFamily
    {
        QString strName;
        QString strHelp;
        QString strType;
        QStringList listSamples;
    };

    static void AddSample(stFamily* family, const Labels& labels, const QString& value);
};
