#pragma once

#include <QString>

struct stModelInfo
{
    QString strModelKey;  // e.g. "Q7020DN", as written in a USB device URI
    QString strModelName; // "Orvo " + key, the PPD's "*ModelName"
    QString strPPDName;   // "Orvo_" + key + ".ppd"
    int iVid;
    int iPid;
};

constexpr int MODEL_COUNT = 21;

// The supported printer range, in four series of 5, 6, 4 and 6 models.
extern const stModelInfo c_stModelInfoList[MODEL_COUNT];

// The three ways the table is searched. Each returns the matching row or nullptr.
class ModelTable
{
public:
    // A PPD "*ModelName" value, compared whole and ignoring letter case.
    static const stModelInfo* FindByModelName(const QString& modelName);
    // A USB port text ("Orvo/KEY?serial=..."): the first row whose key followed by "?" occurs
    // in it, case-sensitively. The "?" keeps Q7020 from matching Q7020DN.
    static const stModelInfo* FindByPortText(const QString& port);
    // A model key, compared whole and ignoring letter case.
    static const stModelInfo* FindByModelKey(const QString& key);
};
