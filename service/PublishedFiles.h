#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The files the service publishes in its cfg directory for the desktop application and
// orvo-status: their names, the heartbeat's stamp and the printer list's sections and keys.
// The service writes them and orvo-status reads them with these words alone, so that one change
// here changes writer and reader together.
class PublishedFiles
{
public:
    // The Orvo printers with CUPS queues: a Qt INI file in UTF-8.
    static const QString PRINTER_LIST_NAME; // "printerlist.ini"
    // The heartbeat: one stamp of local time, no line end, rewritten every cycle.
    static const QString HEARTBEAT_NAME; // "service.hb"
    // A printer's last raw status reply: the queue name followed by this.
    static const QString STATUS_FILE_SUFFIX; // ".dat"

    // Section "Main" with "Count", the number of current printer sections; then one section
    // "printer_<i>" per printer, i from 0, with the five keys of stPrinterInfo. Sections beyond
    // Count are left over from a longer list.
    static const QString LIST_GROUP_MAIN;
    static const QString LIST_KEY_COUNT;
    static const QString LIST_KEY_NAME;
    static const QString LIST_KEY_MODEL;
    static const QString LIST_KEY_CONNECT_TYPE; // 1 USB, 2 network
    static const QString LIST_KEY_PORT;
    static const QString LIST_KEY_URI;
    static QString PrinterGroup(int index);
    // The index of a "printer_<i>" section name written without leading zeros; -1 for any other.
    static int PrinterGroupIndex(const QString& group);
    // Indexes have at most nine digits, so a larger Count names sections no list can have; it
    // also keeps every index and count a reader works out within an int.
    static constexpr int MAX_PRINTER_COUNT = 1000000000;

    // "[yyyy-MM-dd hh:mm:ss.zzz]" in ASCII digits whatever the desktop's language: 25 bytes.
    static constexpr int HEARTBEAT_SIZE = 25;
    static QByteArray HeartbeatStamp(const QDateTime& localTime);
    // The wall-clock time a stamp names, without a zone; invalid when `text` is no stamp.
    static QDateTime ParseHeartbeatStamp(const QString& text);

    // The status file of a queue, or empty when its name cannot name a file (QueueNameCheck).
    static QString StatusFileName(const QString& queueName);
};
