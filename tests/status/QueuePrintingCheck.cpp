#include "tests/status/QueuePrintingCheck.h"

bool QueuePrintingCheck::ShowsPrinting(const QString& firstLine, const QString& queueName)
{
    QString line = firstLine;
    if (!queueName.isEmpty()) {
        const int at = line.indexOf(queueName);
        if (at >= 0) {
            line.remove(at, queueName.size());
        }
    }
    return line.contains(QLatin1String("printing"), Qt::CaseInsensitive) ||
           line.contains(QString::fromUtf8("正在打印"), Qt::CaseInsensitive);
}
