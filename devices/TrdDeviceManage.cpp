#include "TrdDeviceManage.h"

#include "TrdGetPrinterStatus.h"

#include <QTextCodec>
#include <QThread>

// Placeholder while the device manager is being written.
TrdDeviceManage::TrdDeviceManage(QObject* parent) : UtilThreadBase(parent)
{
    m_pCodec = QTextCodec::codecForName("utf-8");
}
TrdDeviceManage::~TrdDeviceManage() = default;
void TrdDeviceManage::Init(QList<stPrinterManager>* printerList)
{
    pPrinterList = printerList;
}
void TrdDeviceManage::SlotTaskStart()
{
    if (!BeginTask())
        return;
    while (!WaitForSleep(3000)) {
    }
}
void TrdDeviceManage::SlotThreadQuit()
{
    RequestQuit();
}
