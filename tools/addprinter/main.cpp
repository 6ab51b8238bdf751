#include "devices/QueueDiscovery.h"
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
    // The service's own discovery, so the tool sees the printers the service watches.
    QueueDiscovery discovery;
    AddPrinterTool tool(
        [&discovery](bool driverCheck) { return discovery.GetPrinterInfo(driverCheck); }, out, err);
    return tool.Run(app.arguments().mid(1));
}
