#pragma once
// The six columns that both list views show, and the base of their models.

#include <QAbstractTableModel>
#include <QString>

namespace ListColumns {
inline constexpr int kCount = 6;
enum Column { FileName = 0, CDLabel, Path, FileSize, LastUpdated, Created };
QString header(int column); // "File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"
} // namespace ListColumns

// A list view's model whose rows grow while a command runs. Views learn of new rows only when
// publishRows() is called, so a command can add thousands of rows between two repaints.
class BatchedTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // A flat list: the views ask these for every row each time rows are added, so they answer at once.
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Announces to the views every row added since the last call.
    virtual void publishRows() = 0;
};
