#include "status/OfflineCancelRule.h"

#include "service/PrinterRecords.h"

bool OfflineCancelRule::Fires(int connectType, int workerStatus, int sharedStatus)
{
    if (workerStatus != PRINTER_STATUS_UNKNOWN) {
        return false;
    }
    if (connectType == CONNECT_TYPE_USB) {
        return sharedStatus != PRINTER_STATUS_UNKNOWN;
    }
    // A network printer may drop off the network for a while; after these earlier states its
    // jobs are left to CUPS.
    switch (sharedStatus) {
    case PRINTER_STATUS_OTHER:
    case PRINTER_STATUS_1:
    case PRINTER_STATUS_UNKNOWN:
    case PRINTER_STATUS_IDLE:
    case PRINTER_STATUS_12:
        return false;
    default:
        return true;
    }
}
