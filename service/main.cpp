#include "InstanceGuard.h"
#include "PrinterRecords.h"
#include "TrdDeviceManage.h"
#include "UtilLog.h"

#include <QCoreApplication>
#include <QList>

int main(int argc, char* argv[])
{
    auto* app = new QCoreApplication(argc, argv);
    if (CheckIsRunning()) {
        delete app;
        return 0;
    }

#ifdef ORVO_LOG_AT_START
    UtilLog::SetLogEnable(true);
#endif
    ORVO_LOG("Start service, enable log");

    auto* printers = new QList<stPrinterManager>();
    auto* manager = new TrdDeviceManage(nullptr);
    manager->Init(printers);
    manager->SlotTaskStart();

    const int rc = app->exec();
    delete manager;
    delete printers;
    delete app;
    return rc;
}
