#include "AddPrinterTool.h"
#include "TrdDeviceManage.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    TrdDeviceManage manager;
    AddPrinterTool tool(
        [&manager](bool driverCheck) { return manager.GetPrinterInfo(driverCheck); }, out, err);
    return tool.Run(app.arguments().mid(1));
}
