#pragma once

#include "service/PrinterRecords.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

// The command orvo-add-printer: creates the CUPS queues of newly attached Orvo USB printers
// (run by a udev-triggered unit, or by hand), or sets the device URI of a queue.
class AddPrinterTool
{
public:
    enum enExitCode
    {
        EXIT_OK = 0,
        EXIT_FAILED = 1,
        EXIT_USAGE = 2,
        EXIT_NO_CUPS = 3,
        EXIT_NOT_ALLOWED = 4,
    };

    // `discover` is the device manager's discovery (GetPrinterInfo).
    AddPrinterTool(std::function<QList<stPrinterInfo>(bool)> discover, QTextStream& out,
                   QTextStream& err);

    // `args` without the program name. Returns the process exit status.
    int Run(const QStringList& args);

    static QString Usage();

private:
    int AddNewPrinters();
    int SetUri(const QString& queue, const QString& uri);
    // Common checks before CUPS is asked to change anything; EXIT_OK when all is well.
    int CheckCanAdminister();
    // Why lpinfo failed, in its own words, once it is known to have failed.
    QString LpinfoMessage();
    void Error(const QString& text);
    // One line naming what is wrong, ending with "Try --help".
    void UsageError(const QString& text);
    // The CUPS tools' messages, each in this program's words and told once.
    void ToldOnce(const QStringList& toolLines);

    std::function<QList<stPrinterInfo>(bool)> m_discover;
    QTextStream& m_out;
    QTextStream& m_err;
    int m_iLockFd = -1;
};
