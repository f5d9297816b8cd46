#include "search/CatalogueSearch.h"

#include "search/CatalogueIndex.h"

#include <algorithm>
#include <set>

namespace {

// The columns read from each matching row, in the order of the list's columns.
constexpr std::string_view kColumns = "FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate";

std::string sql(std::string_view head, std::string_view tail = {})
{
    std::string text(head);
    text.append(kColumns);
    text.append(tail);
    return text;
}

// The trigram index's query for the literal runs of a phrase: every row that contains a run
// contains each of its trigrams. Trigrams that do not overlap (and the last one) are enough to
// make the candidates few; each is a quoted string, its own quotes doubled.
std::string trigramQuery(const std::vector<std::string> &runs)
{
    std::set<std::string> trigrams;
    for (const std::string &run : runs) {
        std::vector<size_t> starts; // byte offset of each character
        for (size_t i = 0; i < run.size(); ++i) {
            if ((static_cast<unsigned char>(run[i]) & 0xC0) != 0x80)
                starts.push_back(i);
        }
        starts.push_back(run.size());
        const size_t characters = starts.size() - 1;
        auto take = [&](size_t first) {
            trigrams.insert(run.substr(starts[first], starts[first + 3] - starts[first]));
        };
        for (size_t first = 0; first + 3 <= characters; first += 3)
            take(first);
        take(characters - 3);
    }
    std::string query;
    for (const std::string &trigram : trigrams) {
        if (!query.empty())
            query.append(" AND ");
        query.push_back('"');
        for (char c : trigram) {
            if (c == '"')
                query.push_back('"');
            query.push_back(c);
        }
        query.push_back('"');
    }
    return query;
}

} // namespace

namespace {
constexpr const char *kWantedFunction = "quillary_search_wanted";
} // namespace

CatalogueSearch::CatalogueSearch(sqlite3 *db) : m_db(db) {}

CatalogueSearch::~CatalogueSearch()
{
    close();
}

void CatalogueSearch::close()
{
    m_reader = SqliteStatement();
    if (m_wantedRegistered) {
        sqlite3_create_function_v2(m_db, kWantedFunction, 1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
        m_wantedRegistered = false;
    }
    if (m_inTransaction) {
        SqliteExec(m_db, "COMMIT");
        m_inTransaction = false;
    }
}

bool CatalogueSearch::fail(const QString &context)
{
    m_error = context.isEmpty() ? (m_db ? SqliteMessage(m_db) : QString()) : context;
    if (m_error.isEmpty())
        m_error = QStringLiteral("unknown error");
    return false;
}

bool CatalogueSearch::find(const QString &phrase)
{
    m_matcher = std::make_unique<PhraseMatcher>(phrase);
    m_ids.clear();
    m_count = 0;
    m_read = 0;
    if (!m_db)
        return fail(QStringLiteral("the catalogue could not be opened"));
    if (!SqliteExec(m_db, "BEGIN"))
        return fail();
    m_inTransaction = true;
    // The table and every column the list shows must be there.
    if (!SqliteStatement().prepare(m_db, sql("SELECT ", " FROM Quillary")))
        return fail();

    const CatalogueIndex::Status index = CatalogueIndex::Inspect(m_db);
    const bool useIndex = index.usable && index.changed <= kMaxChangedRows;

    if (m_matcher->matchesEverything()) {
        m_method = Method::Everything;
        if (!(useIndex && countAllWithIndex(index.watermark))) {
            SqliteStatement count(m_db, "SELECT count(*) FROM Quillary WHERE FileName IS NOT NULL");
            if (!count.isValid() || count.step() != SQLITE_ROW)
                return fail();
            m_count = count.int64(0);
        }
        return prepareReader();
    }

    bool indexUsed = false;
    if (useIndex) {
        if (!collectWithIndex(index.watermark, &indexUsed))
            return false;
    }
    if (indexUsed) {
        m_method = Method::Index;
    } else {
        m_ids.clear();
        m_tableRows = 0;
        SqliteStatement scan(m_db, "SELECT rowid, FileName FROM Quillary");
        if (scan.isValid()) {
            m_method = Method::Scan;
            if (!collectByScan(scan, 0, 1, false, nullptr))
                return false;
        } else {
            // A table without row IDs: count now, compare again while reading.
            m_method = Method::TwoPass;
            SqliteStatement names(m_db, "SELECT FileName FROM Quillary");
            if (!names.isValid())
                return fail();
            int rc;
            while ((rc = names.step()) == SQLITE_ROW) {
                if (!names.isNull(0) && m_matcher->matches(names.text(0)))
                    ++m_count;
            }
            if (rc != SQLITE_DONE)
                return fail();
            return prepareReader();
        }
    }
    std::sort(m_ids.begin(), m_ids.end());
    m_ids.erase(std::unique(m_ids.begin(), m_ids.end()), m_ids.end());
    m_count = static_cast<qint64>(m_ids.size());
    return prepareReader();
}

bool CatalogueSearch::countAllWithIndex(qint64 watermark)
{
    // The folded copy holds one row per indexed name (counted without reading a record); rows
    // noted as changed are counted from the table instead, and so are rows above the watermark.
    SqliteStatement count(m_db, "SELECT (SELECT count(*) FROM QuillarySearchFold) - (SELECT count(*) FROM "
                                "QuillarySearchDirty AS d JOIN QuillarySearchFold AS f ON f.ID = d.ID) + "
                                "(SELECT count(*) FROM QuillarySearchDirty AS d JOIN Quillary AS q ON "
                                "q.rowid = d.ID WHERE q.FileName IS NOT NULL) + (SELECT count(*) FROM "
                                "Quillary WHERE rowid > ?1 AND FileName IS NOT NULL)");
    if (!count.isValid())
        return false;
    count.bindInt64(1, watermark);
    if (count.step() != SQLITE_ROW)
        return false;
    m_count = count.int64(0);
    return true;
}

bool CatalogueSearch::collectWithIndex(qint64 watermark, bool *indexUsed)
{
    *indexUsed = false;
    // Indexed rows noted as changed are not taken from the index but read from the table.
    std::vector<qint64> changed;
    {
        SqliteStatement list(m_db, "SELECT ID FROM QuillarySearchDirty ORDER BY ID");
        if (!list.isValid())
            return true;
        int rc;
        while ((rc = list.step()) == SQLITE_ROW)
            changed.push_back(list.int64(0));
        if (rc != SQLITE_DONE)
            return true;
    }
    const std::vector<qint64> *skip = changed.empty() ? nullptr : &changed;

    const std::vector<std::string> runs = m_matcher->literalRuns(3);
    SqliteStatement candidates;
    if (runs.empty()) {
        // Nothing to look up: compare every folded name (a small table, and no folding to do).
        candidates.prepare(m_db, "SELECT ID, Name FROM QuillarySearchFold");
    } else {
        candidates.prepare(m_db, "SELECT f.ID, f.Name FROM QuillarySearchTrigram AS t JOIN "
                                 "QuillarySearchFold AS f ON f.ID = t.rowid WHERE "
                                 "QuillarySearchTrigram MATCH ?");
        candidates.bindText(1, trigramQuery(runs));
    }
    // An index that cannot be read (a build of SQLite without FTS5, a damaged index) is not
    // used: the caller compares every name instead.
    if (!candidates.isValid() || !collectByScan(candidates, 0, 1, true, skip)) {
        m_error.clear();
        return true;
    }
    m_tableRows = std::max<qint64>(watermark, 1);

    if (!changed.empty()) {
        SqliteStatement rows(m_db, "SELECT q.rowid, q.FileName FROM QuillarySearchDirty AS d JOIN "
                                   "Quillary AS q ON q.rowid = d.ID");
        if (!rows.isValid() || !collectByScan(rows, 0, 1, false, nullptr))
            return false;
    }
    // Rows above the watermark are not indexed yet.
    SqliteStatement tail(m_db, "SELECT rowid, FileName FROM Quillary WHERE rowid > ?");
    if (!tail.isValid())
        return fail();
    tail.bindInt64(1, watermark);
    if (!collectByScan(tail, 0, 1, false, nullptr))
        return false;
    *indexUsed = true;
    return true;
}

bool CatalogueSearch::collectByScan(SqliteStatement &statement, int idColumn, int nameColumn, bool folded,
                                    const std::vector<qint64> *skip)
{
    const PhraseMatcher &matcher = *m_matcher;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        ++m_tableRows;
        if (statement.isNull(nameColumn))
            continue;
        const qint64 id = statement.int64(idColumn);
        if (skip && std::binary_search(skip->begin(), skip->end(), id))
            continue;
        const std::string_view name = statement.text(nameColumn);
        if (folded ? matcher.matchesFolded(name) : matcher.matches(name))
            m_ids.push_back(id);
    }
    return rc == SQLITE_DONE || fail();
}

bool CatalogueSearch::prepareReader()
{
    m_nextId = 0;
    m_pointLookups = false;
    switch (m_method) {
    case Method::Everything:
        if (m_reader.prepare(m_db,
                             sql("SELECT ", " FROM Quillary WHERE FileName IS NOT NULL ORDER BY rowid")))
            return true;
        return m_reader.prepare(m_db, sql("SELECT ", " FROM Quillary WHERE FileName IS NOT NULL")) || fail();
    case Method::TwoPass:
        return m_reader.prepare(m_db, sql("SELECT ", " FROM Quillary")) || fail();
    case Method::Index:
    case Method::Scan:
        if (m_ids.empty())
            return true;
        // A few rows are looked up one by one; many are picked out of one pass over the table,
        // where a function of ours tells SQLite which rows to read before it reads their values.
        m_pointLookups = static_cast<qint64>(m_ids.size()) * 8 < m_tableRows;
        if (m_pointLookups)
            return m_reader.prepare(m_db, sql("SELECT ", " FROM Quillary WHERE rowid = ?")) || fail();
        if (sqlite3_create_function_v2(m_db, kWantedFunction, 1, SQLITE_UTF8, this, &CatalogueSearch::wanted,
                                       nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail();
        m_wantedRegistered = true;
        return m_reader.prepare(
                   m_db,
                   sql("SELECT ", " FROM Quillary WHERE quillary_search_wanted(rowid) ORDER BY rowid")) ||
               fail();
    case Method::None:
        break;
    }
    return fail(QStringLiteral("no search was made"));
}

void CatalogueSearch::loadFields(int firstColumn)
{
    for (int c = 0; c < ListColumns::kCount; ++c)
        m_fields[static_cast<size_t>(c)] = m_reader.text(firstColumn + c);
}

bool CatalogueSearch::next()
{
    if (m_read >= m_count || !m_reader.isValid())
        return false;
    const QString vanished = QStringLiteral("a row changed while the catalogue was read");
    switch (m_method) {
    case Method::Everything: {
        const int rc = m_reader.step();
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? fail(vanished) : fail();
        loadFields(0);
        break;
    }
    case Method::TwoPass: {
        int rc;
        while ((rc = m_reader.step()) == SQLITE_ROW) {
            if (!m_reader.isNull(0) && m_matcher->matches(m_reader.text(0)))
                break;
        }
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? fail(vanished) : fail();
        loadFields(0);
        break;
    }
    case Method::Index:
    case Method::Scan:
        if (m_pointLookups) {
            m_reader.reset();
            m_reader.bindInt64(1, m_ids[m_nextId]);
            const int rc = m_reader.step();
            if (rc != SQLITE_ROW)
                return rc == SQLITE_DONE ? fail(vanished) : fail();
            loadFields(0);
        } else {
            const int rc = m_reader.step();
            if (rc != SQLITE_ROW)
                return rc == SQLITE_DONE ? fail(vanished) : fail();
            loadFields(0);
        }
        ++m_nextId;
        break;
    case Method::None:
        return false;
    }
    ++m_read;
    return true;
}

void CatalogueSearch::wanted(sqlite3_context *context, int, sqlite3_value **arguments)
{
    const auto *self = static_cast<const CatalogueSearch *>(sqlite3_user_data(context));
    const qint64 id = sqlite3_value_int64(arguments[0]);
    sqlite3_result_int(context, std::binary_search(self->m_ids.begin(), self->m_ids.end(), id) ? 1 : 0);
}
