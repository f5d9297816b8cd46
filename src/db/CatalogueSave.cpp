#include "db/CatalogueSave.h"

#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "search/CatalogueIndex.h"

#include <sqlite3.h>

#include <atomic>
#include <stdexcept>
#include <utility>

namespace {

std::atomic<int> g_commitIntervalMs{500};
SaveTimings g_lastTimings;

const QString kInsert = QStringLiteral("INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                                       "CreateDate, LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)");

// An empty text is stored as a single blank: no column ever receives an empty text.
QString stored(const QString &text)
{
    return text.isEmpty() ? QStringLiteral(" ") : text;
}

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

void CatalogueSave::SetCommitInterval(int milliseconds)
{
    g_commitIntervalMs = milliseconds;
}
int CatalogueSave::CommitInterval()
{
    return g_commitIntervalMs;
}

const SaveTimings &CatalogueSave::LastTimings()
{
    return g_lastTimings;
}

QString DescribeCatalogueError(const CDatabaseError &error, const QString &path, const QString &otherwise)
{
    const QString file = path.isEmpty() ? modConstant::kDatabaseFileName : path;
    QString reason;
    switch (error.primaryCode()) {
    case SQLITE_CANTOPEN:
        reason = QStringLiteral("The catalogue file '%1' could not be opened.").arg(file);
        break;
    case SQLITE_NOTADB:
        reason = QStringLiteral("The file '%1' is not a catalogue database.").arg(file);
        break;
    case SQLITE_CORRUPT:
        reason = QStringLiteral("The catalogue file '%1' is damaged.").arg(file);
        break;
    case SQLITE_FULL:
        reason = QStringLiteral("The disk that holds the catalogue is full.");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = QStringLiteral("The catalogue is locked by another program.");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        reason = QStringLiteral("The catalogue file '%1' cannot be written to.").arg(file);
        break;
    case SQLITE_IOERR:
        reason = QStringLiteral("The catalogue file '%1' could not be read or written.").arg(file);
        break;
    case SQLITE_NOMEM:
        reason = QStringLiteral("There is not enough memory.");
        break;
    default:
        if (error.text.contains(QStringLiteral("no such table"), Qt::CaseInsensitive))
            reason = QStringLiteral("The catalogue '%1' has no table 'Quillary'.").arg(file);
        else if (error.text.contains(QStringLiteral("no column named"), Qt::CaseInsensitive) ||
                 error.text.contains(QStringLiteral("no such column"), Qt::CaseInsensitive))
            reason = QStringLiteral("The table 'Quillary' of the catalogue '%1' lacks a column for the file "
                                    "information.")
                         .arg(file);
        else
            reason = otherwise.arg(file);
        break;
    }
    if (!error.text.isEmpty())
        reason += QStringLiteral(" (") + error.text + QStringLiteral(")");
    return reason;
}

bool CatalogueSave::fail(const QString &reason)
{
    if (m_failure.isEmpty())
        m_failure = reason;
    return false;
}

bool CatalogueSave::fail(const CDatabaseError &error)
{
    return fail(DescribeCatalogueError(error, m_path));
}

bool CatalogueSave::SaveFileList(const clsFileColl &files)
{
    m_files = &files;
    m_saved = 0;
    m_pending.clear();
    m_failure.clear();
    m_path = modFunction::DefaultDatabasePath();
    const qint32 n = files.Count();

    // One connection and one prepared statement serve the whole save.
    CDatabase db(m_path);
    if (!db.IsOpen())
        return fail(db.LastError());
    CStatement insert = db.Prepare(kInsert);
    if (!insert.IsPrepared())
        return fail(insert.LastError());
    m_db = &db;
    m_insert = &insert;
    g_lastTimings = {};
    QElapsedTimer timer;
    timer.start();

    try {
        for (qint32 i = 1; i <= n && m_failure.isEmpty(); ++i) {
            m_position = i;
            const clsFile &record = files.Item(i);
            m_observer.RecordStarting(i, record.FileName());
            if (!db.InTransaction() && !beginGroup())
                break;
            if (SaveFileRecord(record)) {
                ++m_saved;
                m_pending.append(i);
            }
            if (m_failure.isEmpty() && m_groupTimer.elapsed() >= CommitInterval())
                commitGroup();
            m_observer.RecordDone(m_saved);
        }
    } catch (const std::out_of_range &) {
        fail(QStringLiteral("The file list changed while it was being saved."));
    }
    // Also after a failure that left the transaction sound: the rows stored before it are kept.
    if (db.InTransaction())
        commitGroup();
    else
        abandonGroup(); // SQLite already rolled the group back
    m_insert = nullptr;
    insert = CStatement();
    g_lastTimings.rowsNs = timer.nsecsElapsed();
    timer.restart();
    // The new rows are searchable at once. This step is silent: a catalogue without the index,
    // or a failure in it, leaves the stored rows as they are.
    if (m_saved > 0)
        CatalogueIndex::Refresh(db.Handle(), [this] { m_observer.Working(); });
    g_lastTimings.indexNs = timer.nsecsElapsed();
    m_db = nullptr;
    m_files = nullptr;
    return m_failure.isEmpty();
}

bool CatalogueSave::beginGroup()
{
    if (!m_db->BeginTrans())
        return fail(m_db->LastError());
    m_groupTimer.start();
    return true;
}

bool CatalogueSave::commitGroup()
{
    if (m_db->CommitTrans()) {
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
    const QVariantList values{stored(record.CDLabelName()), stored(record.FileName()),
                              stored(record.FilePath()),    stored(record.FileSize()),
                              stored(record.CreateDate()),  stored(record.LastUpdateDate())};
    // A failed INSERT is undone by SQLite on its own (statement rollback), leaving the rows of the
    // transaction before it in place.
    if (m_insert->Execute(values))
        return m_insert->RowsAffected() > 0 ? Outcome::Stored : Outcome::Refused; // an IGNORE rule
    const CDatabaseError error = m_insert->LastError();
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
