#include "devices/TrdDeviceManage.h"
#include "service/CupsTool.h"
#include "tools/addprinter/AddPrinterTool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Whoever runs it reads why lpadmin or lpinfo refused.
    CupsTool::PassToolErrorsThrough(true);
    QTextStream out(stdout);
    QTextStream err(stderr);
    TrdDeviceManage manager;
    AddPrinterTool tool(
        [&manager](bool driverCheck) { return manager.GetPrinterInfo(driverCheck); }, out, err);
    return tool.Run(app.arguments().mid(1));
}
