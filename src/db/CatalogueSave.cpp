#include "db/CatalogueSave.h"

#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueLog.h"

#include <QDateTime>

#include <limits>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::string_view kInsert =
    "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, "
    "LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)";

// The table of discs, for a catalogue made before it (the same statements as in catalogue.sql).
constexpr const char *kCreateDiscTables =
    "CREATE TABLE IF NOT EXISTS QuillaryDisc (\n"
    "    Number INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "    Label TEXT NOT NULL,\n"
    "    Added TEXT NOT NULL,\n"
    "    SourceKind TEXT NOT NULL,\n"
    "    SourcePath TEXT NOT NULL,\n"
    "    Identity TEXT\n"
    ");\n"
    "CREATE TABLE IF NOT EXISTS QuillaryDiscRows (\n"
    "    FirstRow INTEGER PRIMARY KEY,\n"
    "    LastRow INTEGER NOT NULL,\n"
    "    Disc INTEGER NOT NULL REFERENCES QuillaryDisc (Number)\n"
    ");\n"
    "CREATE INDEX IF NOT EXISTS QuillaryDiscRowsOfDisc ON QuillaryDiscRows (Disc);";

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
    // no measurable time and cost that much memory more.
    db.Execute("PRAGMA cache_size = -4096");
    SqliteStatement insert = db.Prepare(kInsert);
    if (!insert.isValid())
        return fail(db.LastError());
    m_db = &db;
    m_insert = &insert;
    SqliteStatement fingerprintInsert;
    m_fingerprintInsert = &fingerprintInsert;
    m_discNumber = 0;
    if (m_replacing || m_fingerprints)
        m_settings.commitIntervalMs = std::numeric_limits<int>::max(); // one transaction
    if (m_replacing)
        m_discNumber = m_replaced;
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
    // Also after a failure that left the transaction sound: the rows stored before it are kept.
    if (db.InTransaction())
        commitGroup();
    else
        abandonGroup(); // SQLite already rolled the group back
    m_insert = nullptr;
    insert = SqliteStatement();
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
    if (m_recording && !m_db->Execute(kCreateDiscTables)) {
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
    // The rows replaced go in the same transaction (again when a ROLLBACK rule threw it away).
    if (m_replacing && !removeReplacedRows())
        return fail(m_db->LastError());
    return true;
}

bool CatalogueSave::removeReplacedRows()
{
    SqliteStatement rows = m_db->Prepare("DELETE FROM Quillary WHERE rowid >= ?1 AND rowid <= ?2");
    if (!rows.isValid())
        return false;
    for (const auto &[first, last] : m_replacedRanges) {
        rows.bind(1, first);
        rows.bind(2, last);
        if (!rows.run())
            return m_db->Fail();
    }
    if (m_replaced == 0)
        return true;
    SqliteStatement ranges = m_db->Prepare("DELETE FROM QuillaryDiscRows WHERE Disc = ?1");
    if (!ranges.isValid())
        return false;
    ranges.bind(1, m_replaced);
    return ranges.run() || m_db->Fail();
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
    if (m_replacing && m_replaced != 0 && m_groupFirstRow == 0) {
        // Nothing stored in place of the disc's rows: no record of it stays without rows.
        SqliteStatement disc = m_db->Prepare("DELETE FROM QuillaryDisc WHERE Number = ?1");
        disc.bind(1, m_replaced);
        if (disc.isValid())
            disc.run();
        return;
    }
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
    if (recorded && m_replacing && m_discNumber == m_replaced) {
        SqliteStatement disc(db,
                             "UPDATE QuillaryDisc SET Label = ?2, Added = ?3, SourceKind = ?4, SourcePath = "
                             "?5, Identity = ?6 WHERE Number = ?1");
        disc.bind(1, m_replaced);
        bindDisc(disc, 2);
        recorded = disc.isValid() && disc.run();
    }
    if (recorded) {
        // A group that follows the disc's last range without a row between extends it.
        SqliteStatement extend(
            db, "UPDATE QuillaryDiscRows SET LastRow = ?2 WHERE Disc = ?3 AND LastRow = ?1 - 1");
        extend.bind(1, m_groupFirstRow);
        extend.bind(2, m_groupLastRow);
        extend.bind(3, m_discNumber);
        recorded = extend.isValid() && extend.run();
        if (recorded && sqlite3_changes(db) == 0) {
            SqliteStatement range(
                db, "INSERT INTO QuillaryDiscRows (FirstRow, LastRow, Disc) VALUES (?1, ?2, ?3)");
            range.bind(1, m_groupFirstRow);
            range.bind(2, m_groupLastRow);
            range.bind(3, m_discNumber);
            recorded = range.isValid() && range.run();
        }
    }
    if (recorded) {
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

bool CatalogueSave::commitGroup()
{
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
    // An empty text is stored as a single blank: no column ever receives an empty text. The record's
    // own UTF-8 is bound where it lies (it stays put until the row is stored); a piece that is not
    // valid UTF-8 is stored as its text form, as the record shows it.
    const std::string_view values[] = {record.CDLabelNameUtf8(),        record.FileNameUtf8(),
                                       record.FilePathUtf8(m_filePath), record.FileSizeUtf8(),
                                       record.CreateDateUtf8(),         record.LastUpdateDateUtf8()};
    for (int column = 0; column < 6; ++column) {
        const std::string_view value = values[column];
        if (value.empty())
            m_insert->bindUnowned(column + 1, " ");
        else if (TextForms::isUtf8(value))
            m_insert->bindUnowned(column + 1, value);
        else
            m_insert->bind(column + 1, TextForms::fromUtf8(value));
    }
    // A failed INSERT is undone by SQLite on its own (statement rollback), leaving the rows of the
    // transaction before it in place.
    const int rc = m_insert->step();
    const CDatabaseError error = rc == SQLITE_DONE ? CDatabaseError{} : SqliteError(m_db->Handle());
    m_insert->rewind();      // every value is bound again before the next row
    if (rc == SQLITE_DONE) { // no row added: an IGNORE rule refused it
        if (sqlite3_changes(m_db->Handle()) == 0)
            return Outcome::Refused;
        m_groupLastRow = sqlite3_last_insert_rowid(m_db->Handle());
        if (m_groupFirstRow == 0)
            m_groupFirstRow = m_groupLastRow;
        if (!storeFingerprint(m_groupLastRow)) {
            const CDatabaseError failure = m_db->LastError();
            abandonGroup();
            fail(failure);
            return Outcome::Failed;
        }
        return Outcome::Stored;
    }
    if (!isRefusal(error)) {
        // After an I/O error, a full disk or a lock SQLite may have undone more than the statement:
        // the open group is rolled back as a whole and the save ends.
        abandonGroup();
        fail(error);
        return Outcome::Failed;
    }
    if (!m_db->InTransaction()) {
        // A ROLLBACK conflict rule threw the whole open group away with the refused record.
        if (m_storingAgain || !storeGroupAgain()) {
            fail(error);
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

bool CatalogueSave::storeFingerprint(qint64 row)
{
    const auto at = static_cast<std::size_t>(m_position - 1);
    if (!m_fingerprints || at >= m_fingerprints->size() || !(*m_fingerprints)[at])
        return true;
    m_fingerprintInsert->bind(1, row);
    m_fingerprintInsert->bindBlob(2, (*m_fingerprints)[at]->blob());
    return m_fingerprintInsert->run() || m_db->Fail();
}
