#pragma once
// Finds the catalogue rows whose FileName a matcher accepts, and reads them back in the order of the
// table.
//
// find() first works out which rows match and how many, then next() reads them one by one: the
// count is known before the first row is read. Both happen in one read transaction, held until
// the object is closed or destroyed, so the rows read are exactly the rows counted.
//
// Where the catalogue carries a sound search index (db/CatalogueIndex.h), the candidates come from it
// and only they are compared; without it, or for a phrase without three literal characters in a
// row, every name is compared. Either way the rows are those whose name contains the phrase
// the matcher accepts.

#include "catalogue/ListColumns.h"
#include "db/CatalogueError.h"
#include "db/CatalogueIndex.h"
#include "db/NameMatcher.h"
#include "db/Sqlite.h"

#include <QString>

#include <array>
#include <memory>
#include <string_view>
#include <vector>

class CatalogueQuery
{
public:
    // How the matching rows were found (tests and the benchmark look at it).
    enum class Method {
        None,
        Everything, // the phrase matches every name: nothing to compare
        Index,      // candidates from the search index, then compared
        Scan,       // every name of the table compared
        TwoPass,    // a table without row IDs: every name compared while counting and again while reading
    };

    explicit CatalogueQuery(sqlite3 *db);
    ~CatalogueQuery();
    CatalogueQuery(const CatalogueQuery &) = delete;
    CatalogueQuery &operator=(const CatalogueQuery &) = delete;

    // Whether find() counts the matching rows before the first is read. A front end that prints the
    // rows as they come needs no count: where counting would cost a pass of its own (a phrase that
    // matches every name, a table without row IDs), the first row is then read at once.
    enum class Counting { Required, Optional };

    // Limits the next find() to the rows with IDs in these ranges (first to last): one disc's rows.
    void restrictTo(std::vector<std::pair<qint64, qint64>> ranges)
    {
        m_ranges = std::move(ranges);
        m_restricted = true;
    }

    // Finds the rows the matcher accepts. False on failure, with error() saying why.
    bool find(std::unique_ptr<NameMatcher> matcher, Counting counting = Counting::Required);
    // The number of matching rows; -1 when counting was optional and the rows were not counted.
    qint64 count() const { return m_count; }
    Method method() const { return m_method; }

    // Moves to the next matching row; false after the last one or on a failure (error()).
    bool next();
    // A column of the current row (ListColumns order) as UTF-8, valid until the next call of
    // next(); a missing value (NULL) reads as empty text.
    std::string_view field(int column) const { return m_fields[static_cast<size_t>(column)]; }

    // Ends the read transaction. The object can then only be destroyed.
    void close();

    const CDatabaseError &error() const { return m_error; }

    // Beyond this many noted changes the index is not worth consulting.
    static constexpr qint64 kMaxChangedRows = 50000;

private:
    bool fail(const QString &context = QString());
    bool countAllWithIndex(const CatalogueIndex::Status &index);
    bool collectWithIndex(qint64 watermark, bool *indexUsed);
    // Adds the row IDs the statement gives (its first column) to the matching rows.
    bool collect(SqliteStatement &statement, const std::vector<qint64> *skip);
    bool prepareReader();
    void loadFields();
    static void matchFunction(sqlite3_context *context, int count, sqlite3_value **arguments);
    static void wantedFunction(sqlite3_context *context, int count, sqlite3_value **arguments);

    sqlite3 *m_db;
    std::unique_ptr<NameMatcher> m_matcher;
    bool m_functionsRegistered = false;
    bool m_inTransaction = false;
    Method m_method = Method::None;
    qint64 m_count = 0;
    qint64 m_read = 0;
    std::vector<qint64> m_ids; // the matching row IDs, ascending (Index and Scan)
    std::vector<std::pair<qint64, qint64>> m_ranges;
    bool m_restricted = false;
    size_t m_nextId = 0;
    bool m_pointLookups = false;
    SqliteStatement m_reader;
    std::array<std::string_view, ListColumns::kCount> m_fields{};
    CDatabaseError m_error;
};
