#pragma once

class QMutex;

// Holds the shared printer list's lock (PrinterListLock::Mutex()) for its lifetime. Qt's QMutex
// is implemented inside libQt5Core, which ThreadSanitizer does not instrument, so a TSan build
// would see no ordering through it and report every access it guards; in such builds the guard
// announces the acquire and the release to TSan itself.
class SharedListGuard
{
public:
    SharedListGuard();
    ~SharedListGuard();
    SharedListGuard(const SharedListGuard&) = delete;
    SharedListGuard& operator=(const SharedListGuard&) = delete;

private:
    QMutex& m_mutex;
};
