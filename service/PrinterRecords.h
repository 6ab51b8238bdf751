#pragma once

#include "protocol/ErrorStatus.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// Plain value records passed between the device manager and the status workers. They are
// copied freely between threads; every field has its documented default.

// Connection types of a queue.
enum
{
    CONNECT_TYPE_UNKNOWN = 0,
    CONNECT_TYPE_USB = 1,
    CONNECT_TYPE_NET = 2,
};

// Printer status values (stPrinterState::iStatus) that the rules compare with. The code tables
// give 0 and 3 to 11 from the printer's status code; 2 is the service's own.
// A status code without a value of its own.
constexpr int PRINTER_STATUS_OTHER = 0;
// Given by no code table of this build; the offline rule of a network printer still counts it
// among the states after which jobs are left to CUPS, as it does 12.
constexpr int PRINTER_STATUS_1 = 1;
constexpr int PRINTER_STATUS_12 = 12;
// "Nothing known": no reply yet, or the printer was given up.
constexpr int PRINTER_STATUS_UNKNOWN = 2;
// Status code 0: the printer is ready and has nothing to do. A network printer in this state
// is polled only while its CUPS queue prints.
constexpr int PRINTER_STATUS_IDLE = 3;

struct stPrinterInfo
{
    QString strName;      // CUPS queue name, also the base name of the status file
    QString strModel;     // "*ModelName" of the queue's PPD
    int iConnectType = 0; // CONNECT_TYPE_*
    QString strPort;      // USB: URI after "usb://"; network: host part of the URI
    QString strURI;       // the queue's full device URI
};

struct stPrinterState
{
    QString strInfo3;
    int iStatus = PRINTER_STATUS_UNKNOWN;
    QString strStatusText;
    QString strInfo1;
    QString strInfo2;
    int iErrorCount1 = 0;
    int iErrorCount2 = 0;
    QList<enErrorStatus> listError1;
    QList<enErrorStatus> listError2;
    QString strSuppliesText;
    int iTonerType = 0;
    quint64 ulSupply1000 = 0;
    quint64 ulSupply1001 = 0;
    quint64 ulSupply1002 = 0;
    quint64 ulSupply1003 = 0;
    quint64 ulSupply1004 = 0;
    quint64 ulSupply1100 = 0;
    quint64 ulSupply1101 = 0;
    quint64 ulSupply1102 = 0;
    int iFailCount = 0; // consecutive failed polls of a network printer
};

struct stJobState
{
    QString strJobID;
    int iStatus = 0;
    int iReserved = -1;
};

// One printer's entry in the list the device manager shares with the status workers.
struct stPrinterManager
{
    stPrinterInfo stInfo;
    stPrinterState stState;
    QList<stJobState> listJobState;
};
