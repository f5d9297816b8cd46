#include "catalogue/clsFileCollModel.h"

#include "catalogue/TextForms.h"

clsFileCollModel::clsFileCollModel(const clsFileColl &files, QObject *parent)
    : BatchedTableModel(parent), m_files(files), m_rows(files.Count()), m_generation(files.generation())
{}

int clsFileCollModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant clsFileCollModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    // Rows the list no longer holds (it was emptied since the last publishRows) show nothing.
    if (m_files.generation() != m_generation || index.row() >= m_files.Count())
        return {};
    if (role != Qt::DisplayRole)
        return {};
    const clsFile &record = m_files.Item(index.row() + 1);
    switch (index.column()) {
    case ListColumns::FileName:
        return TextForms::shown(record.FileName());
    case ListColumns::CDLabel:
        return TextForms::shown(record.CDLabelName());
    case ListColumns::Path:
        return TextForms::shown(record.FilePath());
    case ListColumns::FileSize:
        return TextForms::shown(record.FileSize());
    case ListColumns::LastUpdated:
        return TextForms::shown(record.LastUpdateDate());
    case ListColumns::Created:
        return TextForms::shown(record.CreateDate());
    default:
        return {};
    }
}

void clsFileCollModel::publishRows()
{
    const int count = m_files.Count();
    if (m_files.generation() != m_generation || count < m_rows) {
        beginResetModel();
        m_rows = count;
        m_generation = m_files.generation();
        endResetModel();
        return;
    }
    if (count > m_rows) {
        beginInsertRows({}, m_rows, count - 1);
        m_rows = count;
        endInsertRows();
    }
}
