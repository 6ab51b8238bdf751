#pragma once

#include "service/PrinterRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Creates CUPS queues for newly attached Orvo USB printers and changes the device URI of a
// queue, through lpinfo and lpadmin. The device manager delegates its queue operations here;
// orvo-add-printer uses it directly. Runs on the thread that runs discovery, never beside it:
// it calls discovery itself.
class QueueCreator
{
public:
    // `discover` is the service's discovery (QueueDiscovery::GetPrinterInfo): true = only the
    // queues whose PPD names an Orvo model, false = every USB or socket queue.
    explicit QueueCreator(std::function<QList<stPrinterInfo>(bool)> discover);

    // Creates a queue for every Orvo USB device CUPS sees whose URI is not one of `known`.
    void CheckNewPNP(const QList<stPrinterInfo>& known);
    // Creates a queue with the model's PPD for an Orvo USB device URI.
    void AddPrinterViaURI(const QString& uri);
    // "wanted", or "wanted-2", "wanted-3", ...: the first name no CUPS queue or class carries,
    // ignoring letter case as CUPS does. Empty when the queues cannot be listed at all (CUPS
    // does not answer), since then no name is known to be free.
    QString GetNewName(const QString& wanted);
    // Sets a new device URI on an existing queue; the shell's wait status of lpadmin, or -1
    // when nothing ran (no such queue, or a value that cannot be put into a command).
    int ChangeNetPrinterURI(const QString& name, const QString& uri);

    // Every CUPS destination (printers and classes) with its device URI. Empty when CUPS has
    // no queue or does not answer; ListAllQueues tells the two apart.
    static QList<stPrinterInfo> GetAllQueues();
    static bool ListAllQueues(QList<stPrinterInfo>& queues);
    // Whether one of `queues` is named `name`, in any letter case (CUPS ignores it too).
    static bool ContainsName(const QList<stPrinterInfo>& queues, const QString& name);

    // What went wrong since the last call, for a caller that wants to tell someone: the same
    // events are in the service log, which is usually off.
    enum enProblemKind
    {
        PROBLEM_DEVICE_LIST,   // lpinfo failed: CUPS not answering, or not allowed
        PROBLEM_UNKNOWN_MODEL, // an Orvo USB URI whose model key is not in the model table
        PROBLEM_REFUSED,       // a value that cannot be put into a shell command safely
        PROBLEM_NO_QUEUE,      // URI change for a queue that does not exist
        PROBLEM_LPADMIN,       // lpadmin ran and failed
    };
    struct stProblem
    {
        enProblemKind enKind;
        QString strSubject; // the URI or queue concerned
        QString strText;    // one readable line
        int iStatus;        // the tool's wait status, -1 when nothing ran
    };
    QList<stProblem> TakeProblems();

    // The maker's USB URIs begin with this: "usb://" + "Orvo" + "/".
    static const QString USB_MAKER_PREFIX;
    // Name of the device report in the cfg directory while CheckNewPNP runs.
    static const QString DEVICE_REPORT_NAME;

private:
    void AddProblem(enProblemKind kind, const QString& subject, const QString& text, int status);

    std::function<QList<stPrinterInfo>(bool)> m_discover;
    QList<stProblem> m_listProblems;
};
