#pragma once
// The search result shown in lvwFileSearch: one row per matching file, six texts each.
//
// A million rows held as six QStrings each would take about 640 MB; here each row's texts are
// packed as UTF-8 into large shared blocks (about 150 bytes a row for typical names) and turned
// into QStrings only for the rows the view paints.

#include "catalogue/ListColumns.h"

#include <array>
#include <memory>
#include <string_view>
#include <vector>

class SearchResultModel : public BatchedTableModel
{
    Q_OBJECT
public:
    using BatchedTableModel::BatchedTableModel;
    ~SearchResultModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    void publishRows() override;

    // Rows held, whether or not the views know of them yet.
    qint64 heldRows() const { return static_cast<qint64>(m_rowStart.size()); }
    // While a long list fills, announcing rows to a QTreeView costs a pass over all its rows each
    // time; growing, the model announces new rows only once they are half as many again as the
    // rows already shown, so the passes add up to a few times the final count. Turned off, the
    // next publishRows() announces every held row.
    void setGrowing(bool growing) { m_growing = growing; }

    // Empties the list at once.
    void clear();
    // Makes room for this many more rows.
    void reserve(qint64 rows);
    // Appends a row (texts in ListColumns order, UTF-8).
    void appendRow(const std::array<std::string_view, ListColumns::kCount> &texts);

    // A cell's whole text (data() gives what the view shows of it), for held rows.
    QString text(qint64 row, int column) const;

private:
    std::string_view field(qint64 row, int column) const;
    char *allocate(size_t bytes);

    static constexpr size_t kBlockSize = 1 << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = kBlockSize; // bytes used in the last block
    std::vector<const char *> m_rowStart;
    int m_published = 0;
    bool m_growing = false;
};
