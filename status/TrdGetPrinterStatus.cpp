#include "TrdGetPrinterStatus.h"

// Placeholder while the status worker is being written: constructs, takes its position and
// stops on request. Replaced by the worker's cycle.
TrdGetPrinterStatus::TrdGetPrinterStatus(QObject* parent) : UtilThreadBase(parent) {}
TrdGetPrinterStatus::~TrdGetPrinterStatus() = default;

void TrdGetPrinterStatus::Init(int index, QList<stPrinterManager>* printerList)
{
    iIndex = index;
    pPrinterList = printerList;
}

void TrdGetPrinterStatus::SlotTaskStart()
{
    if (!BeginTask())
        return;
    while (!WaitForSleep(1000)) {
    }
}

void TrdGetPrinterStatus::SlotThreadQuit()
{
    RequestQuit();
}
