#pragma once

#include "tools/status/StatusSnapshot.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Reads the files the service publishes in its cfg directory (printer list, heartbeat and one
// status file per printer) into a StatusSnapshot, decoding the status files through the service's
// own decode (stStatusReply). Only reads: the service may rewrite any file at any moment, so a file
// caught mid-write is read once more before it is reported as broken. Its problems and labels are
// worded for people: in the user's language once a translator is installed (never for --json).
class StatusReader
{
    Q_DECLARE_TR_FUNCTIONS(StatusReader)

public:
    // A heartbeat younger than this counts as a live service; it beats every 1 to 3 seconds.
    static constexpr qint64 ALIVE_LIMIT_MS = 10000;
    // The largest reply a status channel can publish (one UDP datagram).
    static constexpr int MAX_REPLY_SIZE = 2048;
    // Far more than the longest list the service writes (about 150 bytes per printer).
    static constexpr qint64 MAX_LIST_SIZE = 1024 * 1024;
    static constexpr qint64 MAX_HEARTBEAT_SIZE = 256;

    explicit StatusReader(const QString& dir);

    StatusSnapshot Read() const;

    // Also look for queues of the maker that the service leaves out (costs a look at every PPD).
    void SetFindSkippedQueues(bool find) { m_bFindSkipped = find; }

    // Only these printers, by queue name; all when empty. A name the printer list does not hold
    // is reported in the snapshot's listUnknownQueues.
    void SetQueues(const QStringList& queues) { m_listQueues = queues; }

    // Decodes the bytes of one status file into report (file state, status and fields). data may
    // hold only the start of a file of fileSize bytes that is too large to be a reply.
    static void DecodeStatusFile(const QByteArray& data, qint64 fileSize, stPrinterReport* report);

    // Label of a printer status value, given the status code it came from.
    static QString StatusLabel(int status, quint64 code);

    // The heartbeat report for the file content, measured against now; mtimeMs, the file's
    // modification time, tells which reading of a repeated hour the stamp means.
    static stHeartbeatReport ParseHeartbeat(const QByteArray& content, qint64 nowMs,
                                            qint64 mtimeMs);

    // The heartbeat stamp's wall-clock time as ms since the epoch, the reading nearest hintMs
    // where the local zone gives it two. False when text is no stamp.
    static bool StampToEpochMs(const QString& text, qint64 hintMs, qint64* epochMs);

private:
    void ReadPrinterList(StatusSnapshot* snapshot) const;
    void ReadStatusFile(stPrinterReport* report) const;
    stHeartbeatReport ReadHeartbeat() const;

    QString m_strDir; // ends with a slash
    bool m_bFindSkipped = false;
    QStringList m_listQueues;
};
