#include "catalogue/clsFileColl.h"

#include <stdexcept>
#include <string>

namespace {
std::size_t checkedIndex(qint32 position, std::size_t count)
{
    if (position < 1 || static_cast<std::size_t>(position) > count)
        throw std::out_of_range("clsFileColl: no record at position " + std::to_string(position));
    return static_cast<std::size_t>(position) - 1;
}
} // namespace

void clsFileColl::Clear()
{
    std::deque<clsFile>().swap(m_records); // gives the memory back, not only the records
    ++m_generation;
}

clsFile &clsFileColl::Add(const QString &strCDLabelName, const QString &strFileName,
                          const QString &strFilePath, const QString &strFileSize,
                          const QString &strCreateDate, const QString &strLastUpdateDate)
{
    clsFile &record = m_records.emplace_back();
    record.setAll(strCDLabelName, strFileName, strFilePath, strFileSize, strCreateDate, strLastUpdateDate);
    return record;
}

clsFile &clsFileColl::Append(clsFile &&record)
{
    return m_records.emplace_back(std::move(record));
}

const clsFile &clsFileColl::Item(qint32 vntIndexKey) const
{
    return m_records[checkedIndex(vntIndexKey, m_records.size())];
}

qint32 clsFileColl::Count() const
{
    return static_cast<qint32>(m_records.size());
}

clsFileColl &objScannedFiles()
{
    static clsFileColl list;
    return list;
}
