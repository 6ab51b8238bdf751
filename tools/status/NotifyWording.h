#pragma once

#include "tools/status/NotifyPolicy.h"
#include "tools/status/PrinterCondition.h"

#include <QCoreApplication>
#include <QString>

// What a notification says of a printer's conditions: a few words each for the summary ("paper
// jam", "toner low, 4 % left") and a line for the body with the code and what a person can do
// about it. The words are for people: in the user's language once a translator is installed.
class NotifyWording
{
    Q_DECLARE_TR_FUNCTIONS(NotifyWording)

public:
    static stNotifyPrinter Printer(const QString& queue, const PrinterCondition& condition);
    static stNotifyCondition Condition(const stCondition& condition, int tonerPercent);
};
