#pragma once
// The ordered list of the current scan's records, positions from 1.

#include "catalogue/clsFile.h"

#include <QtGlobal>

#include <deque>

class clsFileColl
{
public:
    using const_iterator = std::deque<clsFile>::const_iterator;

    void Clear();
    // The returned record is the one the list holds; later Adds do not move it.
    clsFile &Add(const QString &strCDLabelName, const QString &strFileName, const QString &strFilePath,
                 const QString &strFileSize, const QString &strCreateDate, const QString &strLastUpdateDate);
    // Adds a record already filled, as Add with its six texts would (the walker's way, without
    // taking the texts apart and putting them together again).
    clsFile &Append(clsFile &&record);
    // Throws std::out_of_range outside 1..Count().
    const clsFile &Item(qint32 vntIndexKey) const;
    qint32 Count() const;
    // begin()/end() iterate in list order.
    const_iterator begin() const { return m_records.cbegin(); }
    const_iterator end() const { return m_records.cend(); }

    // Changes whenever the list is emptied, so a view over it knows that the rows it has shown are no
    // longer what they were; adding leaves it alone.
    quint64 generation() const { return m_generation; }

private:
    std::deque<clsFile> m_records;
    quint64 m_generation = 0;
};

// The one program-wide list.
clsFileColl &objScannedFiles();
