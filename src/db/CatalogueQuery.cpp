#include "db/CatalogueQuery.h"

#include "db/CatalogueIndex.h"

#include <algorithm>
#include <set>
#include <utility>

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
// Functions of ours that the statements call: whether a name matches the phrase (folding it
// first unless the second argument says it is folded already), and whether a row is one of the
// matching rows.
constexpr const char *kMatchFunction = "quillary_search_match";
constexpr const char *kWantedFunction = "quillary_search_wanted";
} // namespace

CatalogueQuery::CatalogueQuery(sqlite3 *db) : m_db(db) {}

CatalogueQuery::~CatalogueQuery()
{
    close();
}

void CatalogueQuery::close()
{
    m_reader = SqliteStatement();
    if (m_functionsRegistered) {
        for (const char *name : {kMatchFunction, kWantedFunction}) {
            const int arguments = name == kMatchFunction ? 2 : 1;
            sqlite3_create_function_v2(m_db, name, arguments, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                                       nullptr);
        }
        m_functionsRegistered = false;
    }
    if (m_inTransaction) {
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_inTransaction = false;
    }
}

bool CatalogueQuery::fail(const QString &context)
{
    if (context.isEmpty())
        m_error = SqliteError(m_db);
    else
        m_error = CDatabaseError{context, SQLITE_ERROR};
    return false;
}

bool CatalogueQuery::find(std::unique_ptr<NameMatcher> matcher, Counting counting)
{
    m_matcher = std::move(matcher);
    m_ids.clear();
    m_count = 0;
    m_read = 0;
    if (!m_db) {
        m_error = CDatabaseError{QStringLiteral("the catalogue could not be opened"), SQLITE_CANTOPEN};
        return false;
    }
    if (!m_functionsRegistered) {
        if (sqlite3_create_function_v2(m_db, kMatchFunction, 2, SQLITE_UTF8, this,
                                       &CatalogueQuery::matchFunction, nullptr, nullptr,
                                       nullptr) != SQLITE_OK ||
            sqlite3_create_function_v2(m_db, kWantedFunction, 1, SQLITE_UTF8, this,
                                       &CatalogueQuery::wantedFunction, nullptr, nullptr,
                                       nullptr) != SQLITE_OK)
            return fail();
        m_functionsRegistered = true;
    }
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    m_inTransaction = true;
    // The table and every column the list shows must be there.
    if (!SqliteStatement().prepare(m_db, sql("SELECT ", " FROM Quillary")))
        return fail();

    if (m_restricted) {
        // One disc's rows: each of its ranges read through the row IDs, every name compared.
        m_method = Method::Scan;
        SqliteStatement range(m_db, "SELECT rowid FROM Quillary WHERE rowid >= ?1 AND rowid <= ?2 AND "
                                    "quillary_search_match(FileName, 0)");
        if (!range.isValid())
            return fail();
        for (const auto &[first, last] : m_ranges) {
            range.reset();
            range.bind(1, first);
            range.bind(2, last);
            if (!collect(range, nullptr))
                return false;
        }
        std::sort(m_ids.begin(), m_ids.end());
        m_count = static_cast<qint64>(m_ids.size());
        return prepareReader();
    }

    const CatalogueIndex::Status index = CatalogueIndex::Examine(m_db);
    const bool useIndex = index.usable && index.sound && index.changed <= kMaxChangedRows;

    if (m_matcher->matchesEverything()) {
        m_method = Method::Everything;
        if (counting == Counting::Optional)
            m_count = -1;
        else if (!(useIndex && countAllWithIndex(index))) {
            SqliteStatement count(m_db, "SELECT count(*) FROM Quillary WHERE FileName IS NOT NULL");
            if (!count.isValid() || count.step() != SQLITE_ROW)
                return fail();
            m_count = count.int64(0);
        }
        return prepareReader();
    }

    bool indexUsed = false;
    if (useIndex && !collectWithIndex(index.watermark, &indexUsed))
        return false;
    if (indexUsed) {
        m_method = Method::Index;
    } else {
        m_ids.clear();
        SqliteStatement scan(m_db, "SELECT rowid FROM Quillary WHERE quillary_search_match(FileName, 0)");
        if (scan.isValid()) {
            m_method = Method::Scan;
            if (!collect(scan, nullptr))
                return false;
        } else {
            // A table without row IDs: count now, compare again while reading.
            m_method = Method::TwoPass;
            if (counting == Counting::Optional) {
                m_count = -1;
                return prepareReader();
            }
            SqliteStatement count(m_db,
                                  "SELECT count(*) FROM Quillary WHERE quillary_search_match(FileName, 0)");
            if (!count.isValid() || count.step() != SQLITE_ROW)
                return fail();
            m_count = count.int64(0);
            return prepareReader();
        }
    }
    std::sort(m_ids.begin(), m_ids.end());
    m_ids.erase(std::unique(m_ids.begin(), m_ids.end()), m_ids.end());
    m_count = static_cast<qint64>(m_ids.size());
    return prepareReader();
}

bool CatalogueQuery::countAllWithIndex(const CatalogueIndex::Status &index)
{
    // The index holds one name per indexed row (its guard's figure, read without counting); rows
    // noted as changed are counted from the table instead, and so are rows above the watermark.
    SqliteStatement count(m_db, "SELECT ?1 - (SELECT count(*) FROM QuillarySearchDirty AS d JOIN "
                                "QuillarySearchFold AS f ON f.ID = d.ID) + (SELECT count(*) FROM "
                                "QuillarySearchDirty AS d JOIN Quillary AS q ON q.rowid = d.ID WHERE "
                                "q.FileName IS NOT NULL) + (SELECT count(*) FROM Quillary WHERE rowid > ?2 "
                                "AND FileName IS NOT NULL)");
    if (!count.isValid())
        return false;
    count.bind(1, index.names);
    count.bind(2, index.watermark);
    if (count.step() != SQLITE_ROW)
        return false;
    m_count = count.int64(0);
    return true;
}

bool CatalogueQuery::collectWithIndex(qint64 watermark, bool *indexUsed)
{
    *indexUsed = false;
    // Indexed rows noted as changed are not taken from the index but read from the table.
    std::vector<qint64> changed;
    if (!CatalogueIndex::ChangedRows(m_db, &changed))
        return true;
    const std::vector<qint64> *skip = changed.empty() ? nullptr : &changed;

    const std::vector<std::string> runs = m_matcher->literalRuns(3);
    SqliteStatement candidates;
    if (runs.empty()) {
        // Nothing to look up: compare every folded name (a small table, and no folding to do).
        // Each folded name's row is looked up, so a name put into the folded copy by another program
        // for a row without one (or for no row) is never taken for a match.
        candidates.prepare(m_db, "SELECT f.ID FROM QuillarySearchFold AS f JOIN Quillary AS q ON q.rowid = "
                                 "f.ID WHERE quillary_search_match(f.Name, 1) AND q.FileName IS NOT NULL");
    } else {
        candidates.prepare(m_db,
                           "SELECT f.ID FROM QuillarySearchTrigram AS t JOIN QuillarySearchFold AS f ON "
                           "f.ID = t.rowid WHERE QuillarySearchTrigram MATCH ?1 AND "
                           "quillary_search_match(f.Name, 1)");
        candidates.bind(1, trigramQuery(runs));
    }
    // An index that cannot be read (a build of SQLite without FTS5, a damaged index) is not
    // used: the caller compares every name instead.
    if (!candidates.isValid() || !collect(candidates, skip)) {
        m_error = {};
        return true;
    }
    if (!changed.empty()) {
        SqliteStatement rows(m_db,
                             "SELECT q.rowid FROM QuillarySearchDirty AS d JOIN Quillary AS q ON q.rowid = "
                             "d.ID WHERE quillary_search_match(q.FileName, 0)");
        if (!rows.isValid() || !collect(rows, nullptr))
            return false;
    }
    // Rows above the watermark are not indexed yet.
    SqliteStatement tail(
        m_db, "SELECT rowid FROM Quillary WHERE rowid > ?1 AND quillary_search_match(FileName, 0)");
    if (!tail.isValid())
        return fail();
    tail.bind(1, watermark);
    if (!collect(tail, nullptr))
        return false;
    *indexUsed = true;
    return true;
}

bool CatalogueQuery::collect(SqliteStatement &statement, const std::vector<qint64> *skip)
{
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        const qint64 id = statement.int64(0);
        if (!skip || !std::binary_search(skip->begin(), skip->end(), id))
            m_ids.push_back(id);
    }
    return rc == SQLITE_DONE || fail();
}

bool CatalogueQuery::prepareReader()
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
        return m_reader.prepare(m_db,
                                sql("SELECT ", " FROM Quillary WHERE quillary_search_match(FileName, 0)")) ||
               fail();
    case Method::Index:
    case Method::Scan: {
        if (m_ids.empty())
            return true;
        // A few rows are looked up one by one; many are picked out of one pass over the table,
        // where SQLite asks which rows are wanted before it reads their values.
        SqliteStatement highest(m_db, "SELECT max(rowid) FROM Quillary");
        const qint64 tableRows = highest.isValid() && highest.step() == SQLITE_ROW ? highest.int64(0) : 0;
        m_pointLookups = static_cast<qint64>(m_ids.size()) * 8 < tableRows;
        if (m_pointLookups)
            return m_reader.prepare(m_db, sql("SELECT ", " FROM Quillary WHERE rowid = ?")) || fail();
        return m_reader.prepare(m_db,
                                sql("SELECT ", " FROM Quillary WHERE quillary_search_wanted(rowid) ORDER BY "
                                               "rowid")) ||
               fail();
    }
    case Method::None:
        break;
    }
    return fail(QStringLiteral("no search was made"));
}

void CatalogueQuery::loadFields()
{
    for (int c = 0; c < ListColumns::kCount; ++c)
        m_fields[static_cast<size_t>(c)] = m_reader.text(c);
}

bool CatalogueQuery::next()
{
    const bool counted = m_count >= 0;
    if ((counted && m_read >= m_count) || !m_reader.isValid())
        return false;
    if (m_pointLookups) {
        m_reader.reset();
        m_reader.bind(1, m_ids[m_nextId++]);
    }
    const int rc = m_reader.step();
    if (rc != SQLITE_ROW) {
        m_fields = {};
        if (rc == SQLITE_DONE && !counted)
            return false;
        // The count and the rows come from one snapshot: a row can only go missing if the
        // catalogue was changed through this very connection.
        return rc == SQLITE_DONE ? fail(QStringLiteral("a row changed while the catalogue was read"))
                                 : fail();
    }
    loadFields();
    ++m_read;
    return true;
}

void CatalogueQuery::matchFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    const auto *self = static_cast<const CatalogueQuery *>(sqlite3_user_data(context));
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(arguments[0]));
    if (!text) { // a missing name matches no phrase, as with LIKE
        sqlite3_result_int(context, 0);
        return;
    }
    const std::string_view name(text, static_cast<size_t>(sqlite3_value_bytes(arguments[0])));
    const bool folded = sqlite3_value_int(arguments[1]) != 0;
    const bool match = folded ? self->m_matcher->matchesFolded(name) : self->m_matcher->matches(name);
    sqlite3_result_int(context, match ? 1 : 0);
}

void CatalogueQuery::wantedFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    const auto *self = static_cast<const CatalogueQuery *>(sqlite3_user_data(context));
    const qint64 id = sqlite3_value_int64(arguments[0]);
    sqlite3_result_int(context, std::binary_search(self->m_ids.begin(), self->m_ids.end(), id) ? 1 : 0);
}
