#include "service/PrinterListLock.h"

QMutex& PrinterListLock::Mutex()
{
    static QMutex s_mutexList;
    return s_mutexList;
}
