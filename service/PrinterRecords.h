#pragma once

#include "protocol/ErrorStatus.h"
#include "protocol/StatusCodeTables.h"

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
