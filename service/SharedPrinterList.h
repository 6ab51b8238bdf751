#pragma once

#include "service/PrinterRecords.h"

#include <QList>

// The printer list the device manager shares with the status workers: its lock and the only
// operations on it. The process entry owns the list and hands its address to both sides; every
// access goes through here, so the lock is held for one copy at a time, never around I/O, and
// never by a caller.
//
// Ownership: the device manager replaces the whole list whenever discovery finds a changed
// one, so an entry a worker copied may be gone or stand for another printer by the time the
// worker is done. An entry belongs to a worker's copy only while it names the same queue and
// URI (exact, case-sensitive); nothing is written to or read from an entry that does not.
class SharedPrinterList
{
public:
    // Worker side. The position is tested against the list's size on every call.
    static bool HasEntry(const QList<stPrinterManager>* list, int index);
    // Copies the whole entry at `index`; false when there is none.
    static bool CopyEntry(const QList<stPrinterManager>* list, int index, stPrinterManager& entry);
    // The entry's record and printer status without its job list; false when there is none.
    static bool CopyInfo(const QList<stPrinterManager>* list, int index, stPrinterInfo& info,
                         int& status);
    // The printer status of the entry at `index` while it is still `own`'s.
    static bool OwnStatus(const QList<stPrinterManager>* list, int index, const stPrinterInfo& own,
                          int& status);
    // Assigns `entry` to the entry at `index` when that one is still `entry`'s.
    static bool WriteBack(QList<stPrinterManager>* list, int index, const stPrinterManager& entry);
    // Runs `action` while the entry at `index` is still `own`'s and keeps the list from being
    // replaced meanwhile; false (and `action` not run) when it is not. For small local writes
    // only: the lock is held throughout.
    template <typename Action>
    static bool WhileOwn(const QList<stPrinterManager>* list, int index, const stPrinterInfo& own,
                         Action&& action)
    {
        Guard lock;
        if (!Owns(list, index, own)) {
            return false;
        }
        action();
        return true;
    }

    // Device manager side. True when `found` names the same queues, ports and URIs, position by
    // position.
    static bool Equals(const QList<stPrinterManager>* list, const QList<stPrinterInfo>& found);
    // Replaces the whole list; the old entries are released after the lock is given back.
    static void Replace(QList<stPrinterManager>* list, QList<stPrinterManager> entries);
    // A copy of the whole list.
    static QList<stPrinterManager> Copy(const QList<stPrinterManager>* list);

private:
    // Holds the lock for its lifetime. Qt's QMutex is implemented inside libQt5Core, which
    // ThreadSanitizer does not instrument, so a TSan build would see no ordering through it and
    // report every access it guards; in such builds the guard announces the acquire and the
    // release to TSan itself.
    class Guard
    {
    public:
        Guard();
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
    };

    // Under the lock.
    static const stPrinterManager* EntryAt(const QList<stPrinterManager>* list, int index);
    static bool Owns(const QList<stPrinterManager>* list, int index, const stPrinterInfo& own);
};
