#include "db/CatalogueSave.h"

#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueLog.h"
#include "db/DiscTables.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::string_view kInsert =
    "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, "
    "LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)";

// The table of fingerprints, for a catalogue made before it (the same statements as in catalogue.sql).
constexpr const char *kCreateFingerprintTable =
    "CREATE TABLE IF NOT EXISTS QuillaryFingerprint (\n"
    "    Row INTEGER PRIMARY KEY,\n"
    "    Hash BLOB NOT NULL\n"
    ");\n"
    "CREATE INDEX IF NOT EXISTS QuillaryFingerprintByHash ON QuillaryFingerprint (Hash);\n"
    "CREATE TRIGGER IF NOT EXISTS QuillaryFingerprintOnDelete AFTER DELETE ON Quillary\n"
    "BEGIN\n"
    "    DELETE FROM QuillaryFingerprint WHERE Row = OLD.rowid;\n"
    "END;\n"
    "CREATE TRIGGER IF NOT EXISTS QuillaryFingerprintOnUpdate AFTER UPDATE OF FileName, FileSize, "
    "CreateDate,\n"
    "    LastUpdateDate ON Quillary\n"
    "BEGIN\n"
    "    DELETE FROM QuillaryFingerprint WHERE Row = OLD.rowid;\n"
    "END;";

// A value the table does not accept: the record is refused, the save goes on.
bool isRefusal(const CDatabaseError &error)
{
    switch (error.primaryCode()) {
    case SQLITE_CONSTRAINT:
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
        return true;
    default:
        return false;
    }
}

} // namespace

// The rows of the disc a save replaces, in order, read a chunk at a time: a row may be changed once it
// has been read, before the next chunk is read.
class CatalogueSave::ReplacedRows
{
public:
    ReplacedRows(sqlite3 *db, std::vector<std::pair<qint64, qint64>> ranges)
        : m_db(db), m_ranges(std::move(ranges)),
          m_select(db, "SELECT rowid, CDLabel, FileName, FilePath, FileSize, CreateDate, LastUpdateDate FROM "
                       "Quillary WHERE rowid > ?1 AND rowid <= ?2 ORDER BY rowid LIMIT 512")
    {
        if (!m_select.isValid())
            m_error = SqliteError(db);
    }

    // Moves to the next old row; false when there is none (or it could not be read: error()).
    bool next()
    {
        ++m_at;
        while (m_at >= m_chunk.size()) {
            if (m_error.isSet() || m_range >= m_ranges.size())
                return false;
            if (!readChunk())
                ++m_range;
        }
        if (m_error.isSet())
            return false;
        m_taken = m_chunk[m_at].id;
        return true;
    }
    qint64 id() const { return m_chunk[m_at].id; }
    // In the order of the insert's values: CDLabel, FileName, FilePath, FileSize, CreateDate,
    // LastUpdateDate.
    std::string_view value(int column) const { return m_chunk[m_at].values[size_t(column)]; }
    // The last old row that next() moved to; 0 when none.
    qint64 taken() const { return m_taken; }
    const CDatabaseError &error() const { return m_error; }

private:
    struct Row
    {
        qint64 id = 0;
        std::array<std::string, 6> values;
    };

    // The next rows of the current range; false when it has none left.
    bool readChunk()
    {
        const auto [first, last] = m_ranges[m_range];
        m_select.reset();
        m_select.bind(1, std::max(first - 1, m_taken));
        m_select.bind(2, last);
        m_chunk.clear();
        m_at = 0;
        int rc;
        while ((rc = m_select.step()) == SQLITE_ROW) {
            Row &row = m_chunk.emplace_back();
            row.id = m_select.int64(0);
            for (int column = 0; column < 6; ++column)
                row.values[size_t(column)] = m_select.text(column + 1);
        }
        if (rc != SQLITE_DONE)
            m_error = SqliteError(m_db);
        m_select.reset(); // the rows read may be written now
        return !m_chunk.empty();
    }

    sqlite3 *m_db;
    std::vector<std::pair<qint64, qint64>> m_ranges;
    size_t m_range = 0;
    SqliteStatement m_select;
    std::vector<Row> m_chunk;
    size_t m_at = size_t(-1);
    qint64 m_taken = 0;
    CDatabaseError m_error;
};

CatalogueSave::CatalogueSave(SaveObserver &observer, SaveSettings settings)
    : m_observer(observer), m_settings(settings)
{}

CatalogueSave::~CatalogueSave() = default;

bool CatalogueSave::StoredAs(std::string_view stored, std::string_view piece)
{
    if (piece.empty())
        return stored == " ";
    if (TextForms::isUtf8(piece))
        return stored == piece;
    return stored == StoredText(piece);
}

std::string CatalogueSave::StoredText(std::string_view piece)
{
    if (piece.empty())
        return " ";
    if (TextForms::isUtf8(piece))
        return std::string(piece);
    return TextForms::fromUtf8(piece).toStdString();
}

QString CatalogueSave::FailureText() const
{
    return DescribeCatalogueError(m_failure, m_path, CatalogueTask::Saving);
}

const char *CatalogueSave::FingerprintTableSql()
{
    return kCreateFingerprintTable;
}

bool CatalogueSave::fail(const CDatabaseError &error)
{
    if (!failed())
        m_failure = error.isSet() ? error : CDatabaseError{QStringLiteral("unknown error"), SQLITE_ERROR};
    return false;
}

bool CatalogueSave::SaveFileList(const QString &path, const clsFileColl &files)
{
    m_files = &files;
    m_saved = 0;
    m_pending.clear();
    m_failure = {};
    m_timings = {};
    m_path = path;
    const qint32 n = files.Count();

    // One connection and one prepared statement serve the whole save.
    CDatabase db(path);
    if (!db.IsOpen())
        return fail(db.LastError());
    db.Connection().setLockAllowance(m_settings.lockAllowanceMs);
    // A page cache of 4 MB, whatever the size of the group. New rows go to the end of the table, so the
    // pages that fill the cache are, but for a few, new pages past the end of the file as it was when the
    // group began: SQLite writes them out of a full cache without journalling them, so without syncing
    // the journal (only the few old pages at the table's end that the group changed need the journal
    // synced before they are written). A cache that held the whole group (32 MB for 200,000 files) saved
    // no measurable time and cost that much memory more. A replacement deletes the disc's rows first.
    db.Execute(m_replacing ? kBulkDeletion : "PRAGMA cache_size = -4096");
    SqliteStatement insert = db.Prepare(kInsert);
    if (!insert.isValid())
        return fail(db.LastError());
    m_db = &db;
    m_insert = &insert;
    SqliteStatement fingerprintInsert;
    m_fingerprintInsert = &fingerprintInsert;
    m_discNumber = 0;
    SqliteStatement update;
    if (m_replacing || m_fingerprints)
        m_settings.commitIntervalMs = std::numeric_limits<int>::max(); // one transaction
    if (m_replacing) {
        m_discNumber = m_replaced;
        update = db.Prepare("UPDATE Quillary SET CDLabel = ?1, FileName = ?2, FilePath = ?3, FileSize = ?4, "
                            "CreateDate = ?5, LastUpdateDate = ?6 WHERE rowid = ?7");
        if (!update.isValid())
            return fail(db.LastError());
        m_update = &update;
    }
    // A disc owns ranges of row IDs, and a fingerprint its row: a table without them gets no record of
    // its discs, nor fingerprints.
    const bool rowIds = SqliteStatement(db.Handle(), "SELECT rowid FROM Quillary").isValid();
    m_recording = m_disc.has_value() && rowIds;
    if (!rowIds)
        m_fingerprints = nullptr;
    if (m_recording && m_disc->label.isEmpty() && n > 0) {
        const std::string_view label = files.Item(1).CDLabelNameUtf8();
        m_disc->label = label.empty() ? QStringLiteral(" ") : TextForms::fromUtf8(label);
    }
    QElapsedTimer timer;
    timer.start();

    try {
        for (qint32 i = 1; i <= n && !failed(); ++i) {
            const clsFile &record = files.Item(i);
            m_observer.RecordStarting(i, record);
            m_position = i;
            if (!db.InTransaction() && !beginGroup())
                break;
            if (SaveFileRecord(record)) {
                ++m_saved;
                m_pending.append(i);
            }
            if (!failed() && m_groupTimer.elapsed() >= m_settings.commitIntervalMs)
                commitGroup();
            m_observer.RecordDone(m_saved);
        }
    } catch (const std::out_of_range &) {
        fail(CDatabaseError{QStringLiteral("The file list changed while it was being saved."), SQLITE_ABORT});
    }
    // Also after a failure that left the transaction sound: the rows stored before it are kept (but for
    // a replacement, which leaves the disc as it was).
    if (db.InTransaction() && !(m_replacing && failed()))
        commitGroup();
    else
        abandonGroup(); // or SQLite already rolled the group back
    m_replacedRows.reset();
    m_insert = m_update = nullptr;
    insert = SqliteStatement();
    update = SqliteStatement();
    m_fingerprintInsert = nullptr;
    m_timings.rowsNs = timer.nsecsElapsed();
    timer.restart();
    // The new rows are searchable at once. This step is silent: a catalogue without the index, or a
    // failure in it, leaves the stored rows as they are. After a failed save nothing more is done.
    CDatabaseError indexError;
    if (m_saved > 0 && !failed() && m_settings.updateIndex &&
        !CatalogueIndex::Refresh(
            db.Handle(), [this] { m_observer.Working(); }, &indexError))
        qCInfo(lcCatalogue, "the search index of %s was not brought up to date: %s", qUtf8Printable(path),
               qUtf8Printable(indexError.text));
    m_timings.indexNs = timer.nsecsElapsed();
    m_db = nullptr;
    m_files = nullptr;
    return !failed();
}

bool CatalogueSave::beginGroup()
{
    if (!m_db->BeginTrans())
        return fail(m_db->LastError());
    m_groupTimer.start();
    m_groupFirstRow = m_groupLastRow = 0;
    m_discNewInGroup = false;
    if (m_recording && !(m_db->Execute(kCreateDiscTables) && haveRangeCounts())) {
        qCInfo(lcCatalogue, "the disc saved into %s is not recorded: %s", qUtf8Printable(m_path),
               qUtf8Printable(m_db->LastError().text));
        m_recording = false;
    }
    if (m_fingerprints) {
        *m_fingerprintInsert = SqliteStatement();
        if (!m_db->Execute(kCreateFingerprintTable))
            return fail(m_db->LastError());
        *m_fingerprintInsert =
            m_db->Prepare("INSERT OR REPLACE INTO QuillaryFingerprint (Row, Hash) VALUES (?1, ?2)");
        if (!m_fingerprintInsert->isValid())
            return fail(m_db->LastError());
    }
    if (m_replacing && !forgetFingerprints())
        return fail(m_db->LastError());
    if (m_replacing) {
        m_replacedRows = std::make_unique<ReplacedRows>(m_db->Handle(), m_replacedRanges);
        if (m_replacedRows->error().isSet())
            return fail(m_replacedRows->error());
    }
    return true;
}

bool CatalogueSave::haveRangeCounts()
{
    SqliteStatement counts;
    return counts.prepare(m_db->Handle(), kDiscRowCounts) || m_db->Execute(kAddDiscRowCounts);
}

void CatalogueSave::bindDisc(SqliteStatement &statement, int first) const
{
    // Label, Added, SourceKind, SourcePath, Identity (NULL for a plain directory), from value first on.
    statement.bind(first, m_disc->label);
    statement.bind(first + 1, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    statement.bind(first + 2, m_disc->sourceKind);
    statement.bind(first + 3, m_disc->sourcePath);
    if (!m_disc->identity.isNull())
        statement.bind(first + 4, m_disc->identity);
}

void CatalogueSave::recordGroup()
{
    if (!m_recording || m_groupFirstRow == 0)
        return;
    // The disc and its range together or neither: a disc is never recorded without its rows.
    sqlite3 *db = m_db->Handle();
    bool recorded = m_db->Execute("SAVEPOINT QuillaryDiscRecord");
    if (recorded && m_discNumber == 0) {
        SqliteStatement disc(db, "INSERT INTO QuillaryDisc (Label, Added, SourceKind, SourcePath, Identity) "
                                 "VALUES (?1, ?2, ?3, ?4, ?5)");
        bindDisc(disc, 1);
        recorded = disc.isValid() && disc.run();
        if (recorded) {
            m_discNumber = sqlite3_last_insert_rowid(db);
            m_discNewInGroup = true;
        }
    }
    if (recorded && recordRange()) {
        m_db->Execute("RELEASE QuillaryDiscRecord");
        return;
    }
    qCInfo(lcCatalogue, "the disc saved into %s is not recorded: %s", qUtf8Printable(m_path),
           qUtf8Printable(SqliteError(db).text));
    if (m_db->InTransaction()) {
        m_db->Execute("ROLLBACK TO QuillaryDiscRecord");
        m_db->Execute("RELEASE QuillaryDiscRecord");
    }
    if (m_discNewInGroup)
        m_discNumber = 0;
    m_discNewInGroup = false;
    m_recording = false;
}

bool CatalogueSave::recordRange()
{
    // The group's files and bytes, counted from the rows it stored (still in the page cache).
    sqlite3 *db = m_db->Handle();
    SqliteStatement totals(db, kRangeTotals);
    totals.bind(1, m_groupFirstRow);
    totals.bind(2, m_groupLastRow);
    if (!totals.isValid() || totals.step() != SQLITE_ROW)
        return false;
    // The range's values, the same in both statements: first, last, disc, files, bytes.
    const auto bindRange = [&](SqliteStatement &statement) {
        statement.bind(1, m_groupFirstRow);
        statement.bind(2, m_groupLastRow);
        statement.bind(3, m_discNumber);
        statement.bind(4, totals.int64(0));
        statement.bind(5, totals.int64(1));
    };
    // A group that follows the disc's last range without a row between extends it.
    SqliteStatement extend(db, "UPDATE QuillaryDiscRows SET LastRow = ?2, Files = Files + ?4, Bytes = "
                               "Bytes + ?5 WHERE Disc = ?3 AND LastRow = ?1 - 1");
    bindRange(extend);
    if (!extend.isValid() || !extend.run())
        return false;
    if (sqlite3_changes(db) > 0)
        return true;
    SqliteStatement range(db, "INSERT INTO QuillaryDiscRows (FirstRow, LastRow, Disc, Files, Bytes) VALUES "
                              "(?1, ?2, ?3, ?4, ?5)");
    bindRange(range);
    return range.isValid() && range.run();
}

bool CatalogueSave::finishReplacement()
{
    // The old rows that took no record (the list is shorter than the disc was).
    sqlite3 *db = m_db->Handle();
    const qint64 kept = m_replacedRows ? m_replacedRows->taken() : 0;
    SqliteStatement rows(db, "DELETE FROM Quillary WHERE rowid >= ?1 AND rowid <= ?2");
    if (!rows.isValid())
        return false;
    for (const auto &[first, last] : m_replacedRanges) {
        if (last <= kept)
            continue;
        rows.bind(1, std::max(first, kept + 1));
        rows.bind(2, last);
        if (!rows.run())
            return false;
    }
    if (!m_recording)
        return true;
    const auto run = [&](const char *sql, qint64 a, qint64 b = 0, qint64 c = 0) {
        SqliteStatement statement(db, sql);
        statement.bind(1, a);
        statement.bind(2, b);
        statement.bind(3, c);
        return statement.isValid() && statement.run();
    };
    if (m_saved == 0) {
        // Nothing stored in place of the disc's rows: no record of it stays without rows.
        return m_discNumber == 0 || (run("DELETE FROM QuillaryDiscRows WHERE Disc = ?1", m_discNumber) &&
                                     run("DELETE FROM QuillaryDisc WHERE Number = ?1", m_discNumber));
    }
    // The record (a disc no record claimed gets one), and its rows: the old ranges as far as rows took
    // records, then the rows added after them; then what they hold, counted.
    SqliteStatement disc(
        db, m_discNumber == 0 ? "INSERT INTO QuillaryDisc (Label, Added, SourceKind, SourcePath, Identity) "
                                "VALUES (?1, ?2, ?3, ?4, ?5)"
                              : "UPDATE QuillaryDisc SET Label = ?1, Added = ?2, SourceKind = ?3, SourcePath "
                                "= ?4, Identity = ?5 WHERE Number = ?6");
    bindDisc(disc, 1);
    if (m_discNumber != 0)
        disc.bind(6, m_discNumber);
    if (!disc.isValid() || !disc.run())
        return false;
    if (m_discNumber == 0) {
        m_discNumber = sqlite3_last_insert_rowid(db);
        m_discNewInGroup = true;
    }
    if (!run("DELETE FROM QuillaryDiscRows WHERE Disc = ?1", m_discNumber))
        return false;
    for (const auto &[first, last] : m_replacedRanges) {
        if (first <= kept &&
            !run("INSERT INTO QuillaryDiscRows (FirstRow, LastRow, Disc) VALUES (?1, ?2, ?3)", first,
                 std::min(last, kept), m_discNumber))
            return false;
    }
    return (m_groupFirstRow == 0 || recordRange()) && run(kRecountDisc, m_discNumber);
}

bool CatalogueSave::commitGroup()
{
    if (m_replacing && !finishReplacement()) {
        const CDatabaseError error = SqliteError(m_db->Handle());
        abandonGroup();
        return fail(error);
    }
    if (!m_replacing)
        recordGroup();
    if (m_db->CommitTrans()) {
        m_discNewInGroup = false;
        m_pending.clear();
        return true;
    }
    // Nothing of the group reached the file (a full disk, a lock held too long): undo it and stop.
    const CDatabaseError error = m_db->LastError();
    abandonGroup();
    return fail(error);
}

void CatalogueSave::abandonGroup()
{
    if (m_discNewInGroup)
        m_discNumber = 0;
    m_discNewInGroup = false;
    m_groupFirstRow = m_groupLastRow = 0;
    if (m_db->InTransaction())
        m_db->RollbackTrans();
    m_saved -= qint32(m_pending.size());
    m_pending.clear();
}

bool CatalogueSave::SaveFileRecord(const clsFile &record)
{
    return insert(record) == Outcome::Stored;
}

CatalogueSave::Outcome CatalogueSave::insert(const clsFile &record)
{
    const std::string_view values[] = {record.CDLabelNameUtf8(),        record.FileNameUtf8(),
                                       record.FilePathUtf8(m_filePath), record.FileSizeUtf8(),
                                       record.CreateDateUtf8(),         record.LastUpdateDateUtf8()};
    // A replacement puts the record into the disc's next old row while there is one; a row that holds
    // the record already is left as it is.
    ReplacedRows *const old = m_replacedRows.get();
    const bool intoOldRow = old && old->next();
    if (old && old->error().isSet()) {
        const CDatabaseError error = old->error();
        abandonGroup();
        fail(error);
        return Outcome::Failed;
    }
    if (intoOldRow &&
        std::all_of(std::begin(values), std::end(values), [&, column = 0](std::string_view value) mutable {
            return StoredAs(old->value(column++), value);
        }))
        return fingerprinted(old->id());

    // An empty text is stored as a single blank: no column ever receives an empty text. The record's
    // own UTF-8 is bound where it lies (it stays put until the row is stored); a piece that is not
    // valid UTF-8 is stored as its text form, as the record shows it.
    SqliteStatement &statement = intoOldRow ? *m_update : *m_insert;
    for (int column = 0; column < 6; ++column) {
        const std::string_view value = values[column];
        if (value.empty())
            statement.bindUnowned(column + 1, " ");
        else if (TextForms::isUtf8(value))
            statement.bindUnowned(column + 1, value);
        else
            statement.bind(column + 1, TextForms::fromUtf8(value));
    }
    if (intoOldRow)
        statement.bind(7, old->id());
    // A failed statement is undone by SQLite on its own (statement rollback), leaving the rows of the
    // transaction before it in place.
    const int rc = statement.step();
    const CDatabaseError error = rc == SQLITE_DONE ? CDatabaseError{} : SqliteError(m_db->Handle());
    statement.rewind(); // every value is bound again before the next row
    const bool changed = rc == SQLITE_DONE && sqlite3_changes(m_db->Handle()) > 0;
    if (changed && !intoOldRow) {
        m_groupLastRow = sqlite3_last_insert_rowid(m_db->Handle());
        if (m_groupFirstRow == 0)
            m_groupFirstRow = m_groupLastRow;
    }
    if (changed)
        return fingerprinted(intoOldRow ? old->id() : m_groupLastRow);
    if (rc != SQLITE_DONE && !isRefusal(error)) {
        // After an I/O error, a full disk or a lock SQLite may have undone more than the statement:
        // the open group is rolled back as a whole and the save ends.
        abandonGroup();
        fail(error);
        return Outcome::Failed;
    }
    // Refused (by a constraint, or by an IGNORE rule that changed nothing).
    if (!m_db->InTransaction()) {
        // A ROLLBACK conflict rule threw the whole open group away with the refused record; a
        // replacement, whose old rows have been read as far as this one, ends there.
        if (m_replacing || m_storingAgain || !storeGroupAgain()) {
            fail(error.isSet() ? error : SqliteError(m_db->Handle()));
            return Outcome::Failed;
        }
    }
    if (intoOldRow) {
        // The old row kept its file, which is no longer on the disc.
        SqliteStatement gone(m_db->Handle(), "DELETE FROM Quillary WHERE rowid = ?1");
        gone.bind(1, old->id());
        if (!gone.isValid() || !gone.run()) {
            const CDatabaseError why = SqliteError(m_db->Handle());
            abandonGroup();
            fail(why);
            return Outcome::Failed;
        }
    }
    return Outcome::Refused;
}

bool CatalogueSave::storeGroupAgain()
{
    const QList<qint32> group = std::exchange(m_pending, {});
    m_saved -= qint32(group.size());
    if (!beginGroup())
        return false;
    m_storingAgain = true;
    for (qint32 position : group) {
        m_position = position;
        const Outcome outcome = insert(m_files->Item(position));
        if (outcome == Outcome::Failed) {
            m_storingAgain = false;
            return false;
        }
        if (outcome == Outcome::Stored) {
            ++m_saved;
            m_pending.append(position);
        }
    }
    m_storingAgain = false;
    return true;
}

// A disc replaced keeps no fingerprint of its old files: its rows may now hold other bytes, read or not.
bool CatalogueSave::forgetFingerprints()
{
    if (!SqliteStatement(m_db->Handle(), "SELECT Row FROM QuillaryFingerprint").isValid())
        return true; // a catalogue without fingerprints
    SqliteStatement forget = m_db->Prepare("DELETE FROM QuillaryFingerprint WHERE Row >= ?1 AND Row <= ?2");
    if (!forget.isValid())
        return false;
    for (const auto &[first, last] : m_replacedRanges) {
        forget.bind(1, first);
        forget.bind(2, last);
        if (!forget.run())
            return m_db->Fail();
    }
    return true;
}

// The record stored as row, with its fingerprint where it has one.
CatalogueSave::Outcome CatalogueSave::fingerprinted(qint64 row)
{
    if (storeFingerprint(row))
        return Outcome::Stored;
    const CDatabaseError failure = m_db->LastError();
    abandonGroup();
    fail(failure);
    return Outcome::Failed;
}

bool CatalogueSave::storeFingerprint(qint64 row)
{
    const auto at = static_cast<std::size_t>(m_position - 1);
    if (!m_fingerprints || at >= m_fingerprints->size() || !(*m_fingerprints)[at])
        return true;
    m_fingerprintInsert->bind(1, row);
    m_fingerprintInsert->bindBlob(2, (*m_fingerprints)[at]->blob());
    return m_fingerprintInsert->run() || m_db->Fail();
}
