#pragma once

#include "protocol/StatusCodeTables.h"
#include "service/StatusReply.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// What orvo-status learned from one read of the cfg directory. Plain values: StatusReader fills
// them, the formatters print them, nothing else touches the files.

// How far a printer's status file could be used.
enum class StatusFileState
{
    Decoded,    // a complete reply
    Missing,    // no file: the printer is not answering or has not been polled yet
    Empty,      // zero bytes: a USB time-out, or a rewrite caught half-way
    NoReply,    // a few zero bytes: a USB transfer that failed before any data arrived
    Truncated,  // the start of a reply that ends before its last field
    Foreign,    // bytes that cannot be a status reply
    Unreadable, // the file exists but cannot be opened, or the queue name cannot name a file
};

enum class ServiceState
{
    Alive,      // heartbeat younger than the alive limit
    Stale,      // heartbeat present but old: the service stopped or hangs
    NotRunning, // no heartbeat file at all
    Unknown,    // heartbeat file present but without a time stamp
};

// A printer of the list and its status file. The reply's fields (stStatusReply) are meaningful only
// with enFileState == Decoded, iStatus as bHasStatus says.
struct stPrinterReport : stStatusReply
{
    int iIndex = 0; // position in the printer list, from 0
    QString strName;
    QString strModel;
    QString strConnectType; // as written in the file, for foreign values
    int iConnectType = 0;
    QString strPort;
    QString strURI;

    QString strFileName; // queue name + ".dat", empty when the name cannot name a file
    StatusFileState enFileState = StatusFileState::Missing;
    qint64 iFileSize = -1;
    QString strFileProblem;

    // Whether iStatus is valid: when the status file decoded, or (status 2 only) when it is
    // missing; ulStatusCode only with bHasStatusCode.
    bool bHasStatus = false;
    bool bHasStatusCode = false;
    QString strStatusLabel;
};

struct stPrinterListReport
{
    bool bRead = false;       // the file exists and is a printer list (possibly empty)
    int iCount = 0;           // "Count" of section "Main"
    QString strProblem;       // why it could not be read
    bool bReadFailed = false; // present, but could not be read as a file
    QStringList listWarnings;
    qint64 iAgeMs = -1; // since the file was last written; -1 when unknown
};

struct stHeartbeatReport
{
    ServiceState enState = ServiceState::NotRunning;
    QString strStamp;    // the time stamp as written
    qint64 iStampMs = 0; // the stamp as ms since the epoch
    qint64 iAgeMs = 0;
    QString strProblem;
    bool bReadFailed = false; // present, but could not be read as a file
};

struct StatusSnapshot
{
    QString strDir;
    bool bDirExists = false;
    stPrinterListReport stList;
    QList<stPrinterReport> listPrinters;
    stHeartbeatReport stHeartbeat;
    // CUPS queues of the maker that the service cannot watch, each with the reason; filled only
    // when asked for (they cost a look at the CUPS configuration).
    QStringList listSkippedQueues;
    // Printers asked for by name that the printer list does not hold (only when it was read).
    QStringList listUnknownQueues;

    // Something worth showing was found: a printer list or a heartbeat time stamp.
    bool AnythingRead() const { return stList.bRead || !stHeartbeat.strStamp.isEmpty(); }
};
