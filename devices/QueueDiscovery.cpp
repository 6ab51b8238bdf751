#include "devices/QueueDiscovery.h"

#include "devices/DeviceUri.h"
#include "service/CupsEventWatcher.h"
#include "service/FixedPaths.h"
#include "service/PpdModelReader.h"
#include "service/QueueNameCheck.h"
#include "service/UtilLog.h"

#include <QFile>
#include <QTextCodec>

QueueDiscovery::QueueDiscovery() : m_pCodec(QTextCodec::codecForName("utf-8")) {}

QList<stPrinterInfo> QueueDiscovery::GetPrinterInfo(bool driverCheck)
{
    // The last list holds until an event tells of a queue added, deleted or changed (its
    // device URI or PPD); the PPDs are read every time all the same, as before.
    const std::uint64_t stamp = CupsEventWatcher::Instance().ListStamp();
    if (!stamp || !m_bQueuesHeld || stamp != m_uQueuesStamp) {
        m_bDiscoveryAnswered = m_cups.GetQueues(m_listQueues);
        m_bQueuesHeld = m_bDiscoveryAnswered;
        m_uQueuesStamp = stamp;
    } else {
        m_bDiscoveryAnswered = true;
    }
    return SelectQueues(m_listQueues, driverCheck);
}

QList<stPrinterInfo> QueueDiscovery::SelectQueues(const QList<CupsClient::stQueue>& queues,
                                                  bool driverCheck)
{
    QList<stPrinterInfo> result;
    QSet<QByteArray> skipped;
    for (const CupsClient::stQueue& queue : queues) {
        stPrinterInfo info;
        if (!FromDeviceUri(queue.strName, queue.strDeviceUri, info)) {
            continue;
        }
        // Only the list of watched printers leaves these out; the other callers want every queue.
        const QByteArray name = queue.baName.isEmpty() ? queue.strName.toUtf8() : queue.baName;
        const QString problem = driverCheck ? QueueNameCheck::Problem(name) : QString();
        if (!problem.isEmpty()) {
            // Told only for a queue of ours: the others are none of the service's business.
            QString model;
            if (FindModelByBytes(name, model)) {
                skipped.insert(name);
                if (!m_setSkippedTold.contains(name)) {
                    ORVO_LOG(QStringLiteral("queue %s (%s) skipped: %s"),
                             QueueNameCheck::Escaped(name).constData(), model.toUtf8().constData(),
                             problem.toUtf8().constData());
                }
            }
            continue;
        }
        if (driverCheck && !CheckDriverMatch(info.strName, info.strModel)) {
            continue;
        }
        result.append(info);
    }
    // Only the queues still there stay told: one that went away is told again when it is back.
    // A CUPS that did not answer says nothing about them.
    if (driverCheck && m_bDiscoveryAnswered) {
        m_setSkippedTold = skipped;
    }
    return result;
}

bool QueueDiscovery::FindModelByBytes(const QByteArray& name, QString& model)
{
    return PpdModelReader::FindModelOfQueue(FixedPaths::CupsPpdDir(), name, m_pCodec, model);
}

bool QueueDiscovery::FromDeviceUri(const QString& name, const QString& uri, stPrinterInfo& info)
{
    // "usb://" is six characters; the port text of a USB queue is what follows it.
    constexpr int USB_SCHEME_LENGTH = 6;
    if (name.isEmpty()) {
        return false;
    }
    if (uri.startsWith(QLatin1String("usb"), Qt::CaseInsensitive)) {
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_USB;
        info.strPort = uri.mid(USB_SCHEME_LENGTH);
        info.strURI = uri;
        return true;
    }
    if (uri.startsWith(QLatin1String("socket"), Qt::CaseInsensitive) ||
        uri.startsWith(QLatin1String("orvosocket"), Qt::CaseInsensitive)) {
        bool found = false;
        const QString host = DeviceUri::HostOf(uri, 0, &found);
        if (!found) {
            return false;
        }
        info.strName = name;
        info.iConnectType = CONNECT_TYPE_NET;
        info.strPort = host;
        info.strURI = uri;
        return true;
    }
    return false; // ipp, lpd, dnssd, file, a class without a device: nothing to ask
}

bool QueueDiscovery::CheckDriverMatch(QString name, QString& model)
{
    // A file name as Qt would encode it for the path.
    return FindModelByBytes(QFile::encodeName(name), model);
}
