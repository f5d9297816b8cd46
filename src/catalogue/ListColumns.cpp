#include "catalogue/ListColumns.h"

#include <array>

namespace {
struct ColumnText
{
    const char *header;
    const char *key;
};
constexpr std::array<ColumnText, ListColumns::kCount> kColumns{{
    {"File Name", "FILENAME"},
    {"CD-Label", "CDLabel"},
    {"Path", "FILEPATH"},
    {"FileSize", "FILESIZE"},
    {"Last Updated", "DATELASTUPDATED"},
    {"Created", "DATECREATED"},
}};
} // namespace

QString ListColumns::header(int column)
{
    return (column >= 0 && column < kCount) ? QString::fromLatin1(kColumns[column].header) : QString();
}

int BatchedTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ListColumns::kCount;
}

QVariant BatchedTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return ListColumns::header(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QModelIndex BatchedTableModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= ListColumns::kCount)
        return {};
    return createIndex(row, column);
}

bool BatchedTableModel::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() && rowCount() > 0;
}

Qt::ItemFlags BatchedTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
