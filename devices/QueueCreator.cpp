#include "devices/QueueCreator.h"

#include "service/CupsClient.h"
#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/ModelTable.h"
#include "service/PpdModelReader.h"
#include "service/UtilLog.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTextCodec>

#include <sys/wait.h>
#include <utility>

const QString QueueCreator::USB_MAKER_PREFIX =
    QStringLiteral("usb://") + QStringLiteral("Orvo") + QStringLiteral("/");
const QString QueueCreator::DEVICE_REPORT_NAME = QStringLiteral("USBdevicelist.tmp");

namespace {
const char* const LPINFO_FORMAT = "lpinfo --include-schemes \"usb\" -v > %s";
const char* const LPADMIN_CREATE_FORMAT = "lpadmin -p \"%s\" -E -v \"%s\" -m \"%s/%s\"";
const char* const LPADMIN_URI_FORMAT = "lpadmin -p \"%s\" -E -v \"%s\"";

// Directory of the maker's PPDs below the CUPS model directory.
const QString PPD_DIRECTORY = QStringLiteral("Orvo");

QString DescribeStatus(int status)
{
    if (status == -1) {
        return QStringLiteral("could not be run");
    }
    if (WIFEXITED(status)) {
        return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
    }
    return QStringLiteral("wait status %1").arg(status);
}

QByteArray Local(const QString& text)
{
    return text.toLocal8Bit();
}

} // namespace

bool QueueCreator::ContainsName(const QList<stPrinterInfo>& queues, const QString& name)
{
    for (const stPrinterInfo& queue : queues) {
        if (queue.strName.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

QueueCreator::QueueCreator(std::function<QList<stPrinterInfo>(bool)> discover)
    : m_discover(std::move(discover))
{
}

void QueueCreator::CheckNewPNP(const QList<stPrinterInfo>& known)
{
    // `known` is what discovery found. A discovery that failed looks like "no printers", and a
    // queue created on that ground would be a second, permanent queue for the device; so the
    // queues are listed here again, and a listing that fails creates nothing.
    QList<stPrinterInfo> queues;
    if (!ListAllQueues(queues)) {
        ORVO_LOG(QStringLiteral("cannot list the CUPS queues, no queue created"));
        AddProblem(PROBLEM_DEVICE_LIST, QStringLiteral("CUPS"),
                   QStringLiteral("cannot list the CUPS queues: no queue created"), -1);
        return;
    }
    QList<stPrinterInfo> withModel = known;
    for (const stPrinterInfo& queue : queues) {
        QString model;
        if (PpdModelReader::FindModelOfQueue(FixedPaths::CupsPpdDir(),
                                             QFile::encodeName(queue.strName),
                                             QTextCodec::codecForName("utf-8"), model)) {
            withModel.append(queue);
        }
    }

    QDir().mkpath(FixedPaths::CfgDir());
    const QString report = FixedPaths::CfgDir() + DEVICE_REPORT_NAME;
    int status = -1;
    const bool ran = CupsTool::Run(LPINFO_FORMAT, {report}, __func__, &status);
    if (!ran || status != 0) {
        ORVO_LOG(QStringLiteral("lpinfo failed: %s"), Local(DescribeStatus(status)).constData());
        AddProblem(PROBLEM_DEVICE_LIST, QString(),
                   QStringLiteral("listing the USB devices failed (lpinfo %1)")
                       .arg(DescribeStatus(status)),
                   status);
    }
    // URIs handled in this call count as known too, so that a device reported twice gets one
    // queue only.
    QStringList handled;
    for (const QString& line : CupsTool::ReadAndRemove(report)) {
        const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (pieces.size() < 2) {
            continue;
        }
        const QString uri = pieces.at(1).trimmed();
        if (!uri.startsWith(USB_MAKER_PREFIX, Qt::CaseInsensitive)) {
            continue;
        }
        bool isKnown = false;
        for (const stPrinterInfo& printer : withModel) {
            isKnown = isKnown || uri.compare(printer.strURI, Qt::CaseInsensitive) == 0;
        }
        for (const QString& done : handled) {
            isKnown = isKnown || uri.compare(done, Qt::CaseInsensitive) == 0;
        }
        if (isKnown) {
            continue;
        }
        handled.append(uri);
        AddPrinterViaURI(uri);
    }
}

void QueueCreator::AddPrinterViaURI(const QString& uri)
{
    const int prefixLength = USB_MAKER_PREFIX.size();
    const int serial = uri.indexOf(QStringLiteral("?serial"), 0, Qt::CaseInsensitive);
    QString key;
    if (serial < 0) {
        key = uri.mid(prefixLength);
    } else if (serial > prefixLength) {
        key = uri.mid(prefixLength, serial - prefixLength);
    }

    const stModelInfo* model = ModelTable::FindByModelKey(key);
    if (!model) {
        ORVO_LOG(QStringLiteral("not found model : %s"), Local(key).constData());
        AddProblem(PROBLEM_UNKNOWN_MODEL, uri,
                   QStringLiteral("unknown model \"%1\" of device %2").arg(key, uri), -1);
        return;
    }

    const QString name = GetNewName(QStringLiteral("Orvo-") + key);
    if (name.isEmpty()) {
        ORVO_LOG(QStringLiteral("cannot list the CUPS queues, no queue for %s"),
                 Local(uri).constData());
        AddProblem(
            PROBLEM_DEVICE_LIST, uri,
            QStringLiteral("cannot list the CUPS queues to choose a free name for %1").arg(uri),
            -1);
        return;
    }

    int status = -1;
    if (!CupsTool::Run(LPADMIN_CREATE_FORMAT, {name, uri, PPD_DIRECTORY, model->strPPDName},
                       __func__, &status)) {
        AddProblem(PROBLEM_REFUSED, uri,
                   QStringLiteral("device URI %1 cannot be passed to lpadmin safely").arg(uri), -1);
        return;
    }
    if (status != 0) {
        ORVO_LOG(QStringLiteral("lpadmin failed for %s (%s)"), Local(name).constData(),
                 Local(DescribeStatus(status)).constData());
        AddProblem(PROBLEM_LPADMIN, uri,
                   QStringLiteral("creating queue %1 for %2 failed (lpadmin %3)")
                       .arg(name, uri, DescribeStatus(status)),
                   status);
    }
}

QString QueueCreator::GetNewName(const QString& wanted)
{
    // Discovery lists only the USB and socket queues; lpadmin would silently reconfigure a
    // queue of any other kind (or a class) that carries the chosen name, so every destination
    // CUPS has must be consulted. Without that list no name can be called free.
    QList<stPrinterInfo> taken;
    if (!ListAllQueues(taken)) {
        return QString();
    }
    taken += m_discover(false);

    QString candidate = wanted;
    for (int i = 2; ContainsName(taken, candidate); ++i) {
        candidate = wanted + QLatin1Char('-') + QString::number(i);
    }
    return candidate;
}

int QueueCreator::ChangeNetPrinterURI(const QString& name, const QString& uri)
{
    // lpadmin -p with an unknown name creates a new queue instead of changing one.
    QList<stPrinterInfo> queues;
    if (!ListAllQueues(queues)) {
        AddProblem(PROBLEM_DEVICE_LIST, name, QStringLiteral("cannot list the CUPS queues"), -1);
        return -1;
    }
    if (!ContainsName(queues, name)) {
        ORVO_LOG(QStringLiteral("no queue named %s"), Local(name).constData());
        AddProblem(PROBLEM_NO_QUEUE, name, QStringLiteral("no CUPS queue named %1").arg(name), -1);
        return -1;
    }

    int status = -1;
    if (!CupsTool::Run(LPADMIN_URI_FORMAT, {name, uri}, __func__, &status)) {
        AddProblem(PROBLEM_REFUSED, name,
                   QStringLiteral("queue name %1 or URI %2 cannot be passed to lpadmin safely")
                       .arg(name, uri),
                   -1);
        return -1;
    }
    if (status != 0) {
        ORVO_LOG(QStringLiteral("lpadmin failed for %s (%s)"), Local(name).constData(),
                 Local(DescribeStatus(status)).constData());
        AddProblem(PROBLEM_LPADMIN, name,
                   QStringLiteral("changing the URI of queue %1 failed (lpadmin %2)")
                       .arg(name, DescribeStatus(status)),
                   status);
    }
    return status;
}

QList<stPrinterInfo> QueueCreator::GetAllQueues()
{
    QList<stPrinterInfo> queues;
    ListAllQueues(queues);
    return queues;
}

bool QueueCreator::ListAllQueues(QList<stPrinterInfo>& queues)
{
    queues.clear();
    CupsClient cups;
    QList<CupsClient::stQueue> answer;
    if (!cups.GetQueues(answer)) {
        return false;
    }
    for (const CupsClient::stQueue& destination : answer) {
        stPrinterInfo queue;
        queue.strName = destination.strName;
        queue.strURI = destination.strDeviceUri;
        queues.append(queue);
    }
    return true;
}

QList<QueueCreator::stProblem> QueueCreator::TakeProblems()
{
    return std::exchange(m_listProblems, {});
}

void QueueCreator::AddProblem(enProblemKind kind, const QString& subject, const QString& text,
                              int status)
{
    m_listProblems.append(stProblem{kind, subject, text, status});
}
