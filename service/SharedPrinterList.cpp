#include "service/SharedPrinterList.h"

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {
QMutex& ListMutex()
{
    static QMutex s_mutexList;
    return s_mutexList;
}
} // namespace

SharedPrinterList::Guard::Guard()
{
    ListMutex().lock();
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&ListMutex());
#endif
}

SharedPrinterList::Guard::~Guard()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&ListMutex());
#endif
    ListMutex().unlock();
}

const stPrinterManager* SharedPrinterList::EntryAt(const QList<stPrinterManager>* list, int index)
{
    if (!list || index < 0 || index >= list->size()) {
        return nullptr;
    }
    return &list->at(index);
}

bool SharedPrinterList::Owns(const QList<stPrinterManager>* list, int index,
                             const stPrinterInfo& own)
{
    const stPrinterManager* entry = EntryAt(list, index);
    return entry && entry->stInfo.strName == own.strName && entry->stInfo.strURI == own.strURI;
}

bool SharedPrinterList::HasEntry(const QList<stPrinterManager>* list, int index)
{
    Guard lock;
    return EntryAt(list, index) != nullptr;
}

bool SharedPrinterList::CopyEntry(const QList<stPrinterManager>* list, int index,
                                  stPrinterManager& entry)
{
    Guard lock;
    const stPrinterManager* shared = EntryAt(list, index);
    if (!shared) {
        return false;
    }
    entry = *shared;
    return true;
}

bool SharedPrinterList::CopyInfo(const QList<stPrinterManager>* list, int index,
                                 stPrinterInfo& info, int& status)
{
    Guard lock;
    const stPrinterManager* shared = EntryAt(list, index);
    if (!shared) {
        return false;
    }
    info = shared->stInfo;
    status = shared->stState.iStatus;
    return true;
}

bool SharedPrinterList::OwnStatus(const QList<stPrinterManager>* list, int index,
                                  const stPrinterInfo& own, int& status)
{
    Guard lock;
    if (!Owns(list, index, own)) {
        return false;
    }
    status = list->at(index).stState.iStatus;
    return true;
}

bool SharedPrinterList::WriteBack(QList<stPrinterManager>* list, int index,
                                  const stPrinterManager& entry)
{
    Guard lock;
    if (!Owns(list, index, entry.stInfo)) {
        return false;
    }
    (*list)[index] = entry;
    return true;
}

bool SharedPrinterList::Equals(const QList<stPrinterManager>* list,
                               const QList<stPrinterInfo>& found)
{
    Guard lock;
    if (list->size() != found.size()) {
        return false;
    }
    for (int i = 0; i < found.size(); ++i) {
        const stPrinterInfo& shared = list->at(i).stInfo;
        const stPrinterInfo& info = found.at(i);
        if (shared.strName != info.strName || shared.strPort != info.strPort ||
            shared.strURI != info.strURI) {
            return false;
        }
    }
    return true;
}

void SharedPrinterList::Replace(QList<stPrinterManager>* list, QList<stPrinterManager> entries)
{
    // Entries of its own: a list sharing them with the caller's copy would be copied (or
    // released) by whichever thread touches it first, outside the lock.
    entries.detach();
    {
        Guard lock;
        list->swap(entries);
    }
    // `entries` now holds the old entries; they are released here, outside the lock.
}

QList<stPrinterManager> SharedPrinterList::Copy(const QList<stPrinterManager>* list)
{
    Guard lock;
    // Copied entry by entry here, under the lock: a copy sharing the list's entries would be
    // detached later, outside it, while a worker writes one of them back.
    QList<stPrinterManager> copy = *list;
    copy.detach();
    return copy;
}
