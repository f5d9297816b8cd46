#pragma once
// A list view's model over a file list: one row per record, the six columns of the list views.
// The records are read where the list holds them; nothing is copied. A cell shows at most the
// first TextForms::kShownLength characters of its text.

#include "catalogue/ListColumns.h"
#include "catalogue/clsFileColl.h"

class clsFileCollModel : public BatchedTableModel
{
    Q_OBJECT
public:
    explicit clsFileCollModel(const clsFileColl &files, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    // Shows the rows added since the last call; after the list was emptied, shows it afresh.
    void publishRows() override;

private:
    const clsFileColl &m_files;
    int m_rows = 0;
    quint64 m_generation = 0;
};
