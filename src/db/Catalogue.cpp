#include "db/Catalogue.h"

#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "db/CompactCatalogue.h"

#include <unordered_map>

namespace {

// The columns read from each row, in the order of the list's columns.
constexpr std::string_view kRowColumns =
    "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate FROM Quillary";

// Prepares select over Quillary with its rows in the order they were added (a table without row IDs
// in its own order).
bool prepareInTableOrder(sqlite3 *db, const std::string &select, SqliteStatement &rows)
{
    return rows.prepare(db, select + " ORDER BY rowid") || rows.prepare(db, select);
}

} // namespace

Catalogue::~Catalogue() = default;

bool Catalogue::Open(SqliteConnection::Access access)
{
    m_db = std::make_unique<CDatabase>(m_path, access);
    return m_db->IsOpen();
}

bool Catalogue::fail()
{
    if (m_db)
        m_db->Fail();
    return false;
}

bool Catalogue::Save(CatalogueSave &save, const clsFileColl &files) const
{
    return save.SaveFileList(m_path, files);
}

Catalogue::Snapshot::Snapshot(Catalogue &catalogue)
    : m_db(catalogue.Handle()),
      m_open(m_db && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
{
    if (!m_open)
        catalogue.fail();
}

Catalogue::Snapshot::~Snapshot()
{
    if (m_open)
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
}

bool Catalogue::Rows::next()
{
    const int rc = m_statement.step();
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_error = SqliteError(m_db);
    return false;
}

bool Catalogue::ReadRows(Rows *rows, const std::optional<QString> &label)
{
    if (!IsOpen())
        return false;
    rows->m_db = Handle();
    rows->m_error = {};
    std::string select(kRowColumns);
    if (label)
        select.append(" WHERE CDLabel = ?1");
    if (!prepareInTableOrder(Handle(), select, rows->m_statement))
        return fail();
    if (label)
        rows->m_statement.bind(1, *label);
    return true;
}

bool Catalogue::ListLabels(std::vector<LabelTotals> *labels)
{
    labels->clear();
    if (!IsOpen())
        return false;
    // One pass over the table in its order, adding up per label: a catalogue of millions of rows is not
    // sorted to group them.
    SqliteStatement rows;
    if (!prepareInTableOrder(Handle(), "SELECT CDLabel, CAST(FileSize AS INTEGER) FROM Quillary", rows))
        return fail();
    std::unordered_map<std::string, size_t> position;
    LabelTotals *current = nullptr; // the rows of a disc mostly follow one another
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        const std::string_view label = rows.text(0);
        if (!current || current->label != label) {
            const auto [at, added] = position.try_emplace(std::string(label), labels->size());
            if (added)
                labels->push_back({std::string(label)});
            current = &(*labels)[at->second];
        }
        ++current->files;
        current->bytes += rows.int64(1);
    }
    return rc == SQLITE_DONE || fail();
}

bool Catalogue::IsCatalogue(CDatabaseError *error)
{
    return CatalogueCheck::IsCatalogue(*m_db, error);
}

bool Catalogue::Integrity(QStringList *problems, CDatabaseError *error, int budgetMs)
{
    return CatalogueCheck::Integrity(*m_db, problems, error, budgetMs);
}

CatalogueCheck::Index Catalogue::CompleteIndex(CDatabaseError *error, QString *finding)
{
    return CatalogueCheck::CompleteIndex(*m_db, error, finding);
}

qint64 Catalogue::IndexBacklog()
{
    return CatalogueIndex::Backlog(Handle());
}

bool Catalogue::RefreshIndex(const std::function<void()> &yield)
{
    return CatalogueIndex::Refresh(Handle(), yield);
}

bool Catalogue::Compact() const
{
    return CatalogueCompaction::CompactCatalogue(m_path);
}
