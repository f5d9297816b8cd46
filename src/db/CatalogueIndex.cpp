#include "db/CatalogueIndex.h"

#include "db/NameFolding.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 singleInt64(sqlite3 *db, const char *sql, bool *ok)
{
    SqliteStatement statement(db, sql);
    if (statement.isValid() && statement.step() == SQLITE_ROW && !statement.isNull(0)) {
        *ok = true;
        return statement.int64(0);
    }
    *ok = false;
    return 0;
}

// The highest row ID of the table Quillary (0 when it is empty).
qint64 highestRow(sqlite3 *db, bool *ok)
{
    return singleInt64(db, "SELECT ifnull(max(rowid), 0) FROM Quillary", ok);
}

// Every object of the index: the schema's tables and triggers, and the tables in which the trigram
// index keeps its data.
struct IndexObject
{
    std::string_view type, name;
};
constexpr IndexObject kIndexObjects[] = {
    {"table", "QuillarySearchFold"},           {"table", "QuillarySearchTrigram"},
    {"table", "QuillarySearchState"},          {"table", "QuillarySearchDirty"},
    {"trigger", "QuillarySearchOnInsert"},     {"trigger", "QuillarySearchOnUpdate"},
    {"trigger", "QuillarySearchOnDelete"},     {"table", "QuillarySearchTrigram_data"},
    {"table", "QuillarySearchTrigram_idx"},    {"table", "QuillarySearchTrigram_config"},
    {"table", "QuillarySearchTrigram_docsize"}};

// Which objects of the index are missing, into status (absent, missing); false when the schema cannot
// be read.
bool findMissingObjects(sqlite3 *db, CatalogueIndex::Status *status)
{
    SqliteStatement objects(db, "SELECT type, name FROM sqlite_master WHERE name LIKE 'QuillarySearch%' AND "
                                "(type = 'table' OR (type = 'trigger' AND tbl_name = 'Quillary'))");
    if (!objects.isValid())
        return false;
    std::vector<bool> present(std::size(kIndexObjects));
    int rc;
    while ((rc = objects.step()) == SQLITE_ROW) {
        for (size_t i = 0; i < present.size(); ++i)
            if (objects.text(0) == kIndexObjects[i].type && objects.text(1) == kIndexObjects[i].name)
                present[i] = true;
    }
    if (rc != SQLITE_DONE)
        return false;
    status->absent = std::none_of(present.begin(), present.end(), [](bool p) { return p; });
    const auto missing = std::find(present.begin(), present.end(), false);
    if (!status->absent && missing != present.end()) {
        const IndexObject &object = kIndexObjects[missing - present.begin()];
        status->missing = QStringLiteral("no such %1: %2")
                              .arg(QLatin1StringView(object.type.data(), qsizetype(object.type.size())),
                                   QLatin1StringView(object.name.data(), qsizetype(object.name.size())));
    }
    return true;
}

// Every object of the index, and a table Quillary whose row IDs are its own column (an
// INTEGER PRIMARY KEY), so that rebuilding the file never renumbers the rows under the index.
bool indexObjectsPresent(sqlite3 *db, CatalogueIndex::Status *status)
{
    if (!findMissingObjects(db, status) || status->absent || !status->missing.isEmpty())
        return false;
    bool ok = false;
    const qint64 keys = singleInt64(db,
                                    "SELECT count(*) FROM pragma_table_info('Quillary') WHERE pk > 0 "
                                    "AND upper(type) = 'INTEGER' AND (SELECT count(*) FROM "
                                    "pragma_table_info('Quillary') WHERE pk > 0) = 1",
                                    &ok);
    return ok && keys == 1;
}

// What guards the index against changes made behind the program's back: the number of names the
// trigram index holds (as the upkeep left it), and a mark that triggers set when anything else
// changes a folded name or deletes one (see catalogue.sql). A catalogue made before the guard
// gets it when its index is built afresh; until then its index is not trusted.
constexpr const char *kGuardSchema =
    "CREATE TABLE IF NOT EXISTS QuillarySearchGuard (Names INTEGER NOT NULL, Altered INTEGER NOT NULL);"
    "INSERT INTO QuillarySearchGuard (Names, Altered) SELECT 0, 1 WHERE NOT EXISTS "
    "(SELECT 1 FROM QuillarySearchGuard);"
    "CREATE TRIGGER IF NOT EXISTS QuillarySearchGuardOnUpdate AFTER UPDATE ON QuillarySearchFold "
    "BEGIN UPDATE QuillarySearchGuard SET Altered = 1; END;"
    "CREATE TRIGGER IF NOT EXISTS QuillarySearchGuardOnDelete AFTER DELETE ON QuillarySearchFold "
    "BEGIN UPDATE QuillarySearchGuard SET Altered = 1; END;";

bool guardPresent(sqlite3 *db)
{
    bool ok = false;
    const qint64 objects = singleInt64(db,
                                       "SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name = "
                                       "'QuillarySearchGuard') OR (type = 'trigger' AND tbl_name = "
                                       "'QuillarySearchFold' AND name IN ('QuillarySearchGuardOnUpdate', "
                                       "'QuillarySearchGuardOnDelete'))",
                                       &ok);
    return ok && objects == 3;
}

// The number of rows the trigram index holds, as of the last commit. FTS5 keeps it at the head of its
// averages record (row 1 of its data table, a varint in SQLite's format), so it costs one lookup where a
// count would read the whole index; no record (the index emptied) counts as none.
bool trigramRows(sqlite3 *db, qint64 *rows)
{
    SqliteStatement record(db, "SELECT block FROM QuillarySearchTrigram_data WHERE id = 1");
    if (!record.isValid())
        return false;
    const int rc = record.step();
    *rows = 0;
    if (rc == SQLITE_DONE)
        return true;
    if (rc != SQLITE_ROW || record.type(0) != SQLITE_BLOB)
        return false;
    const std::string_view bytes = record.blob(0);
    quint64 value = 0;
    for (size_t i = 0; i < bytes.size() && i < 9; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i == 8) { // the ninth byte carries eight bits
            value = (value << 8) | byte;
            break;
        }
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80))
            break;
    }
    *rows = static_cast<qint64>(value);
    return true;
}

// Adds rows to the folded copy and its trigram index.
class IndexWriter
{
public:
    explicit IndexWriter(sqlite3 *db) : m_db(db)
    {
        prepare(m_insertFold, "INSERT OR REPLACE INTO QuillarySearchFold (ID, Name) VALUES (?, ?)");
        prepare(m_insertTrigram, "INSERT INTO QuillarySearchTrigram (rowid, Name) VALUES (?, ?)");
    }
    bool isValid() const { return !m_error.isSet(); }
    // The first failure (a later statement that succeeds clears it from the connection).
    const CDatabaseError &error() const { return m_error; }

    bool add(qint64 id, std::string_view fileName)
    {
        m_folded.clear();
        SearchText::AppendFolded(fileName, m_folded);
        return run(m_insertFold, id, m_folded) && run(m_insertTrigram, id, m_folded);
    }

private:
    void prepare(SqliteStatement &statement, std::string_view sql)
    {
        if (!statement.prepare(m_db, sql))
            fail();
    }
    bool fail()
    {
        if (!m_error.isSet())
            m_error = SqliteError(m_db);
        return false;
    }
    bool run(SqliteStatement &statement, qint64 id, std::string_view text)
    {
        statement.bind(1, id);
        statement.bind(2, text);
        const bool ok = statement.step() == SQLITE_DONE || fail();
        statement.reset();
        return ok;
    }

    sqlite3 *m_db;
    CDatabaseError m_error;

    SqliteStatement m_insertFold;
    SqliteStatement m_insertTrigram;
    std::string m_folded;
};

// Whether the folded copy agrees with the table: nothing above the watermark, and at sample points
// spread over both, the row of the table and its folded name agree (rows noted as changed are read
// from the table by the search, so they are not compared).
bool foldedCopyAgrees(sqlite3 *db, qint64 watermark)
{
    bool ok = false;
    const qint64 highestFolded = singleInt64(db, "SELECT ifnull(max(ID), 0) FROM QuillarySearchFold", &ok);
    if (!ok || highestFolded > watermark)
        return false;
    if (watermark == 0)
        return highestFolded == 0 && singleInt64(db, "SELECT count(*) FROM QuillarySearchFold", &ok) == 0 &&
               ok;
    SqliteStatement tableRow(db, "SELECT q.rowid, q.FileName, f.Name, f.ID IS NOT NULL FROM Quillary AS q "
                                 "LEFT JOIN QuillarySearchFold AS f ON f.ID = q.rowid WHERE q.rowid >= ?1 "
                                 "AND q.rowid <= ?2 AND NOT EXISTS (SELECT 1 FROM QuillarySearchDirty "
                                 "WHERE ID = q.rowid) ORDER BY q.rowid LIMIT 1");
    SqliteStatement foldedRow(db,
                              "SELECT EXISTS (SELECT 1 FROM Quillary WHERE rowid = f.ID) OR EXISTS "
                              "(SELECT 1 FROM QuillarySearchDirty WHERE ID = f.ID) FROM QuillarySearchFold "
                              "AS f WHERE f.ID >= ?1 ORDER BY f.ID LIMIT 1");
    if (!tableRow.isValid() || !foldedRow.isValid())
        return false;
    constexpr qint64 kSamples = 16;
    std::string folded;
    for (qint64 k = 0; k < kSamples; ++k) {
        const qint64 from = k == kSamples - 1 ? watermark : 1 + (watermark - 1) / (kSamples - 1) * k;
        tableRow.bind(1, from);
        tableRow.bind(2, watermark);
        int rc = tableRow.step();
        if (rc == SQLITE_ROW) {
            const bool hasName = !tableRow.isNull(1);
            const bool hasFolded = tableRow.int64(3) != 0;
            if (hasName != hasFolded)
                return false;
            if (hasName) {
                folded.clear();
                SearchText::AppendFolded(tableRow.text(1), folded);
                if (folded != tableRow.text(2))
                    return false;
            }
        } else if (rc != SQLITE_DONE) {
            return false;
        }
        tableRow.reset();
        // A folded name whose row is gone without a note: searched for, it would list nothing.
        foldedRow.bind(1, from);
        rc = foldedRow.step();
        const bool orphan = rc == SQLITE_ROW && foldedRow.int64(0) == 0;
        foldedRow.reset();
        if (orphan || (rc != SQLITE_ROW && rc != SQLITE_DONE))
            return false;
    }
    return true;
}

// Why a catalogue has no usable index.
CDatabaseError missingIndexError(const CatalogueIndex::Status &status)
{
    if (status.absent)
        return {QStringLiteral("the catalogue has no search index"), SQLITE_ERROR};
    if (!status.missing.isEmpty())
        return {status.missing, SQLITE_ERROR};
    return {QStringLiteral("the table Quillary has no ID column of its own"), SQLITE_ERROR};
}

enum class Caught { Failed, Done, More };

// Indexes what the index lacks, in the open transaction, until the deadline has passed. status is what
// the index covered before (examined at the start of the transaction) and is what it covers after. A
// failure says why in *error (when given).
Caught catchUp(sqlite3 *db, CatalogueIndex::Status &status, const std::function<void()> &yield,
               const QDeadlineTimer &deadline, CDatabaseError *error = nullptr)
{
    // Called at once after the call that failed: a later statement that succeeds clears the failure
    // from the connection.
    const auto failed = [&](const CDatabaseError &why) {
        if (error)
            *error = why;
        return Caught::Failed;
    };
    int sinceYield = 0;
    auto maybeYield = [&] {
        if (yield && ++sinceYield == 2000) {
            sinceYield = 0;
            yield();
        }
    };

    // An index that disagrees with the table is built afresh; so is one that is mostly out of date
    // (another program rewrote the table), where starting again is quicker than mending it row by row.
    CatalogueIndex::Status from = status;
    if (!status.sound || (status.changed > 1000 && status.changed > status.watermark / 4)) {
        if (!exec(db, kGuardSchema) || !exec(db, "DELETE FROM QuillarySearchFold") ||
            !exec(db, "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram) VALUES ('delete-all')") ||
            !exec(db, "DELETE FROM QuillarySearchDirty") || !exec(db, "DELETE FROM QuillarySearchState") ||
            !exec(db, "INSERT INTO QuillarySearchState (Watermark) VALUES (0)"))
            return failed(SqliteError(db));
        from = CatalogueIndex::Status{true, true, 0, 0, 0, false, QString()};
    }
    qint64 names = from.names;
    // Its statements run the guard's triggers, so they are made once the guard is there.
    IndexWriter writer(db);
    if (!writer.isValid())
        return failed(writer.error());

    // Rows noted by the triggers: take the old name out, put the current one in. The old names leave the
    // trigram index in one statement, with FTS5's merging of its segments put off to its next writes
    // (merging what a large deletion writes, at once, takes longer than the deletion).
    if (from.changed > 0) {
        if (!exec(
                db,
                "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rank) VALUES ('automerge', 0)") ||
            !exec(db,
                  "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rowid, Name) SELECT 'delete', "
                  "f.ID, f.Name FROM QuillarySearchDirty AS d JOIN QuillarySearchFold AS f ON f.ID = d.ID") ||
            !exec(
                db,
                "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rank) VALUES ('automerge', 4)") ||
            !exec(db, "DELETE FROM QuillarySearchFold WHERE ID IN (SELECT ID FROM QuillarySearchDirty)"))
            return failed(SqliteError(db));
        names -= sqlite3_changes(db);
        SqliteStatement current(db,
                                "SELECT d.ID, q.FileName FROM QuillarySearchDirty AS d JOIN Quillary AS q "
                                "ON q.rowid = d.ID WHERE q.FileName IS NOT NULL");
        if (!current.isValid())
            return failed(SqliteError(db));
        int rc;
        while ((rc = current.step()) == SQLITE_ROW) {
            if (!writer.add(current.int64(0), current.text(1)))
                return failed(writer.error());
            ++names;
            maybeYield();
        }
        if (rc != SQLITE_DONE || !exec(db, "DELETE FROM QuillarySearchDirty"))
            return failed(SqliteError(db));
    }

    // Rows added above the watermark.
    SqliteStatement tail(db, "SELECT rowid, FileName FROM Quillary WHERE rowid > ? ORDER BY rowid");
    if (!tail.isValid())
        return failed(SqliteError(db));
    tail.bind(1, from.watermark);
    qint64 watermark = from.watermark;
    int rc;
    int sinceClock = 0;
    bool more = false;
    while ((rc = tail.step()) == SQLITE_ROW) {
        const qint64 id = tail.int64(0);
        if (!tail.isNull(1)) {
            if (!writer.add(id, tail.text(1)))
                return failed(writer.error());
            ++names;
        }
        watermark = id;
        maybeYield();
        if (++sinceClock == 256) {
            sinceClock = 0;
            if (deadline.hasExpired()) {
                more = true;
                break;
            }
        }
    }
    if (!more && rc != SQLITE_DONE)
        return failed(SqliteError(db));
    if (watermark != from.watermark) {
        SqliteStatement update(db, "UPDATE QuillarySearchState SET Watermark = ?");
        if (!update.isValid())
            return failed(SqliteError(db));
        update.bind(1, watermark);
        if (update.step() != SQLITE_DONE)
            return failed(SqliteError(db));
    }
    // The guard's figure is the upkeep's own count, and its own writes are not alterations.
    SqliteStatement guard(db, "UPDATE QuillarySearchGuard SET Names = ?, Altered = 0");
    if (!guard.isValid())
        return failed(SqliteError(db));
    guard.bind(1, names);
    if (guard.step() != SQLITE_DONE)
        return failed(SqliteError(db));
    status = CatalogueIndex::Status{true, true, watermark, 0, names, false, QString()};
    return more ? Caught::More : Caught::Done;
}

} // namespace

CatalogueIndex::Status CatalogueIndex::Examine(sqlite3 *db)
{
    Status status;
    if (!db || !indexObjectsPresent(db, &status))
        return status;
    status.usable = true;
    // One watermark, a whole number of at least 0.
    SqliteStatement state(db, "SELECT count(*), sum(typeof(Watermark) = 'integer' AND Watermark >= 0), "
                              "max(Watermark) FROM QuillarySearchState");
    if (!state.isValid() || state.step() != SQLITE_ROW || state.int64(0) != 1 || state.int64(1) != 1)
        return status;
    status.watermark = state.int64(2);
    // Noted rows are row IDs: whole numbers.
    SqliteStatement noted(db, "SELECT count(*), count(*) FILTER (WHERE typeof(ID) <> 'integer') "
                              "FROM QuillarySearchDirty");
    if (!noted.isValid() || noted.step() != SQLITE_ROW || noted.int64(1) != 0)
        return status;
    status.changed = noted.int64(0);
    // The guard: nothing else wrote the folded copy, and the trigram index holds as many names as the
    // upkeep left in it.
    if (!guardPresent(db))
        return status;
    SqliteStatement guard(db, "SELECT count(*), max(Names), max(Altered) FROM QuillarySearchGuard");
    qint64 trigramNames = -1;
    if (!guard.isValid() || guard.step() != SQLITE_ROW || guard.int64(0) != 1 || guard.isNull(1) ||
        guard.int64(2) != 0 || !trigramRows(db, &trigramNames) || trigramNames != guard.int64(1))
        return status;
    status.names = trigramNames;
    status.sound = foldedCopyAgrees(db, status.watermark);
    return status;
}

namespace {

bool refresh(sqlite3 *db, const std::function<void()> &yield, bool afresh, CDatabaseError *error)
{
    CDatabaseError why;
    const auto failed = [&] {
        if (error)
            *error = why;
        return false;
    };
    if (!db) {
        why = SqliteError(db);
        return failed();
    }
    // Inside the caller's transaction a savepoint; otherwise a write transaction of our own,
    // taken at once so that no other writer can slip in between reading and writing.
    const bool own = sqlite3_get_autocommit(db) != 0;
    if (!exec(db, own ? "BEGIN IMMEDIATE" : "SAVEPOINT quillary_index")) {
        why = SqliteError(db);
        return failed();
    }
    CatalogueIndex::Status status = CatalogueIndex::Examine(db);
    status.sound = status.sound && !afresh;
    bool done = false;
    if (!status.usable)
        why = missingIndexError(status);
    else
        done = catchUp(db, status, yield, QDeadlineTimer::Forever, &why) == Caught::Done;
    if (done) {
        if (exec(db, own ? "COMMIT" : "RELEASE quillary_index"))
            return true;
        why = SqliteError(db);
    }
    if (own) {
        exec(db, "ROLLBACK");
    } else {
        exec(db, "ROLLBACK TO quillary_index");
        exec(db, "RELEASE quillary_index");
    }
    return failed();
}

} // namespace

bool CatalogueIndex::Refresh(sqlite3 *db, const std::function<void()> &yield, CDatabaseError *error)
{
    return refresh(db, yield, false, error);
}

bool CatalogueIndex::Rebuild(sqlite3 *db, const std::function<void()> &yield, CDatabaseError *error)
{
    return refresh(db, yield, true, error);
}

CatalogueIndex::Verdict CatalogueIndex::Verify(sqlite3 *db, QString *finding)
{
    const Status status = Examine(db);
    if (!status.usable)
        return Verdict::Failed;
    if (!status.sound) {
        *finding = QStringLiteral("it was changed by another program");
        return Verdict::Disagrees;
    }
    // Every row the index covers, against its folded name: present exactly for the rows with a name,
    // and equal to the name folded.
    SqliteStatement rows(db, "SELECT q.FileName, f.Name, f.ID IS NOT NULL FROM Quillary AS q LEFT JOIN "
                             "QuillarySearchFold AS f ON f.ID = q.rowid WHERE q.rowid <= ?1 AND NOT EXISTS "
                             "(SELECT 1 FROM QuillarySearchDirty WHERE ID = q.rowid) ORDER BY q.rowid");
    if (!rows.isValid())
        return Verdict::Failed;
    rows.bind(1, status.watermark);
    qint64 differing = 0;
    std::string folded;
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        const bool hasName = !rows.isNull(0);
        bool agrees = hasName == (rows.int64(2) != 0);
        if (agrees && hasName) {
            folded.clear();
            SearchText::AppendFolded(rows.text(0), folded);
            agrees = folded == rows.text(1);
        }
        differing += agrees ? 0 : 1;
    }
    if (rc != SQLITE_DONE)
        return Verdict::Failed;
    // Folded names whose row is gone without a note, and the guard's count against the folded copy.
    bool ok = false;
    SqliteStatement orphans(db,
                            "SELECT count(*) FROM QuillarySearchFold AS f WHERE NOT EXISTS (SELECT 1 FROM "
                            "Quillary WHERE rowid = f.ID) AND NOT EXISTS (SELECT 1 FROM "
                            "QuillarySearchDirty WHERE ID = f.ID)");
    if (!orphans.isValid() || orphans.step() != SQLITE_ROW)
        return Verdict::Failed;
    differing += orphans.int64(0);
    const qint64 folds = singleInt64(db, "SELECT count(*) FROM QuillarySearchFold", &ok);
    if (!ok)
        return Verdict::Failed;
    if (differing > 0) {
        *finding = QStringLiteral("%1 names differed from the table").arg(differing);
        return Verdict::Disagrees;
    }
    if (folds != status.names) {
        *finding = QStringLiteral("it holds %1 names where %2 were indexed").arg(folds).arg(status.names);
        return Verdict::Disagrees;
    }
    // The trigram index against the folded copy, by FTS5's own check (a rank of 1 asks it to compare the
    // index with the content table, not only with itself).
    if (!exec(db,
              "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rank) VALUES ('integrity-check', "
              "1)")) {
        const int code = sqlite3_errcode(db) & 0xFF;
        if (code != SQLITE_CORRUPT)
            return Verdict::Failed;
        *finding = QStringLiteral("its trigram index did not match the names");
        return Verdict::Disagrees;
    }
    return Verdict::Agrees;
}

namespace {
constexpr int kMaxUpkeepCacheBytes = 64 << 20;
constexpr int kMaxUpkeepHoldMs = 1000;
} // namespace

CatalogueIndex::Upkeep::Upkeep(const QString &path) : m_path(path) {}

CatalogueIndex::Upkeep::~Upkeep()
{
    pause();
}

bool CatalogueIndex::Upkeep::pause()
{
    bool kept = true;
    if (m_connection.inTransaction() && !m_connection.exec("COMMIT")) {
        // A reader holds the file. Waiting for it with the commit pending would keep every new reader
        // out, so the work is let go and done again once the reader is gone.
        m_connection.exec("ROLLBACK");
        kept = false;
    }
    m_connection = SqliteConnection();
    return kept;
}

CatalogueIndex::Step CatalogueIndex::Upkeep::step(int budgetMs)
{
    const QDeadlineTimer deadline(budgetMs);
    if (!m_connection.inTransaction()) {
        m_connection = SqliteConnection(m_path);
        if (!m_connection.isOpen())
            return Step::Failed;
        // Never waits for a lock: a step that meets one is tried again later.
        m_connection.setLockAllowance(0);
        // Work is begun only when it could be committed now: the exclusive lock a commit needs is
        // refused while another program reads the catalogue, and taking it for a moment tells.
        if (!m_connection.exec("BEGIN EXCLUSIVE") || !m_connection.exec("ROLLBACK")) {
            const int code = sqlite3_errcode(m_connection.handle()) & 0xFF;
            m_connection = SqliteConnection();
            // A catalogue that cannot be written at all is not waited for.
            return code == SQLITE_BUSY || code == SQLITE_LOCKED ? Step::Busy : Step::Failed;
        }
        // The transaction's pages stay in memory until it commits: a page written to the file before
        // that would take the catalogue from its readers until the work is done.
        m_connection.exec("PRAGMA cache_spill = OFF");
        if (!m_connection.exec("BEGIN IMMEDIATE")) {
            m_connection = SqliteConnection();
            return Step::Busy;
        }
        m_held.start();
        // Examined once per transaction: the trigram index's own count is written at the commit.
        m_status = Examine(m_connection.handle());
    }
    sqlite3 *db = m_connection.handle();
    bool ok = false;
    const qint64 highest = highestRow(db, &ok);
    Caught outcome = Caught::Failed;
    if (m_status.usable && ok) {
        outcome = m_status.sound && m_status.changed == 0 && highest <= m_status.watermark
                      ? Caught::Done
                      : catchUp(db, m_status, {}, deadline);
    }
    if (outcome == Caught::More) {
        // What is done so far is committed once it holds much memory, or once other programs have
        // been kept from writing for a while; the next step goes on.
        int used = 0;
        int peak = 0;
        if ((sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_USED, &used, &peak, 0) == SQLITE_OK &&
             used > kMaxUpkeepCacheBytes) ||
            m_held.hasExpired(kMaxUpkeepHoldMs)) {
            if (!pause())
                return Step::Busy;
        }
        return Step::More;
    }
    // Finished: the whole catch-up is committed at once (an FTS5 index grows much faster in one
    // transaction than in many small ones).
    if (outcome == Caught::Done && m_connection.exec("COMMIT")) {
        m_connection = SqliteConnection();
        return Step::UpToDate;
    }
    const int code = sqlite3_errcode(db) & 0xFF;
    m_connection.exec("ROLLBACK");
    m_connection = SqliteConnection();
    return outcome == Caught::Done && (code == SQLITE_BUSY || code == SQLITE_LOCKED) ? Step::Busy
                                                                                     : Step::Failed;
}

qint64 CatalogueIndex::Backlog(sqlite3 *db)
{
    const Status status = Examine(db);
    bool ok = false;
    const qint64 highest = highestRow(db, &ok);
    if (!status.usable || !ok)
        return -1;
    if (!status.sound) // built afresh by the next refresh
        return highest;
    return std::max<qint64>(0, highest - status.watermark) + status.changed;
}

bool CatalogueIndex::ChangedRows(sqlite3 *db, std::vector<qint64> *ids)
{
    SqliteStatement list(db, "SELECT ID FROM QuillarySearchDirty ORDER BY ID");
    if (!list.isValid())
        return false;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        ids->push_back(list.int64(0));
    return rc == SQLITE_DONE;
}
