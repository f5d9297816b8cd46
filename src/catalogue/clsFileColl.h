#pragma once
// The ordered list of the current scan's records, positions from 1.

#include "catalogue/clsFile.h"

#include <QtGlobal>

class clsFileColl
{
public:
    void Clear();
    clsFile &Add(const QString &strCDLabelName, const QString &strFileName, const QString &strFilePath,
                 const QString &strFileSize, const QString &strCreateDate,
                 const QString &strLastUpdateDate);
    // Throws std::out_of_range outside 1..Count().
    const clsFile &Item(qint32 vntIndexKey) const;
    qint32 Count() const;
    // Throws std::out_of_range outside 1..Count().
    void Remove(qint32 vntIndexKey);
    // begin()/end() iterate in list order.
};

// The one program-wide list.
clsFileColl &objScannedFiles();
