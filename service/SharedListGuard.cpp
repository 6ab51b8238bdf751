#include "service/SharedListGuard.h"

#include "service/PrinterListLock.h"

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

SharedListGuard::SharedListGuard() : m_mutex(PrinterListLock::Mutex())
{
    m_mutex.lock();
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&m_mutex);
#endif
}

SharedListGuard::~SharedListGuard()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&m_mutex);
#endif
    m_mutex.unlock();
}
