#include "db/Sqlite.h"

#include "db/ReadAhead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <utility>

#include <sys/mman.h>

CDatabaseError SqliteError(sqlite3 *db)
{
    if (!db)
        return {QStringLiteral("The catalogue is not open."), SQLITE_CANTOPEN};
    CDatabaseError error;
    error.code = sqlite3_extended_errcode(db);
    // A connection whose last call succeeded knows no reason (its message is "not an error").
    if (error.code == SQLITE_OK) {
        error.code = SQLITE_ERROR;
        return error;
    }
    error.text = QString::fromUtf8(sqlite3_errmsg(db));
    return error;
}

bool SqliteInteger(sqlite3 *db, std::string_view sql, qint64 *value)
{
    SqliteStatement statement(db, sql);
    if (!statement.isValid() || statement.step() != SQLITE_ROW || statement.type(0) != SQLITE_INTEGER)
        return false;
    *value = statement.int64(0);
    return true;
}

// ---------------------------------------------------------------------------------------------

namespace {

// Settings that SQLite takes only before its first use.
void configureSqliteOnce()
{
    // Allocation statistics are kept under a process-wide lock, taken for every allocation; nothing
    // here reads them.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    Q_UNUSED(configured);
}

} // namespace

bool SqliteReservePageCache()
{
    constexpr std::size_t kPageSize = 4096; // the catalogue's; pages of a larger size use the heap
    constexpr std::size_t kPages = 8192;    // a save's cache; pages beyond it use the heap
    int header = 0;
    if (sqlite3_config(SQLITE_CONFIG_PCACHE_HDRSZ, &header) != SQLITE_OK)
        return false;
    const std::size_t slot = (kPageSize + std::size_t(header) + 7) / 8 * 8;
    const std::size_t size = slot * kPages;
    void *region =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED)
        return false;
    ::madvise(region, size, MADV_HUGEPAGE); // a hint only: without it the region works in 4 KB pages
    if (sqlite3_config(SQLITE_CONFIG_PAGECACHE, region, int(slot), int(kPages)) != SQLITE_OK) {
        ::munmap(region, size);
        return false;
    }
    return true;
}

SqliteConnection::SqliteConnection(const QString &path, Access access)
{
    configureSqliteOnce();
    if (path.isEmpty()) {
        // An empty name would make SQLite open a private temporary database.
        m_openError = {QStringLiteral("The catalogue file could not be found."), SQLITE_CANTOPEN};
        return;
    }
    // Without SQLITE_OPEN_CREATE a missing file fails to open; the path is absolute, so it is
    // never taken for a URI.
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (access) {
    case Access::ReadOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    case Access::ReadWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Access::CreateNew:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    }
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &db, flags, ReadAhead::VfsName());
    if (rc != SQLITE_OK) {
        m_openError = db ? SqliteError(db) : CDatabaseError{QString::fromUtf8(sqlite3_errstr(rc)), rc};
        sqlite3_close(db);
        return;
    }
    sqlite3_extended_result_codes(db, 1);
    m_db = db;
    sqlite3_busy_handler(m_db, &SqliteConnection::waitForLock, this);
    // SQLite reads the file only when a statement needs it: read the schema now, so that a file that
    // is not a database, or cannot be read, fails the open. Every commit is on the disk when it
    // returns (also where a build lowers the default).
    qint64 ignored = 0;
    if (!SqliteInteger(m_db, "SELECT count(*) FROM sqlite_schema", &ignored) ||
        (access != Access::ReadOnly && !exec("PRAGMA synchronous = FULL"))) {
        m_openError = SqliteError(m_db);
        close();
    }
}

SqliteConnection::~SqliteConnection()
{
    close();
}

SqliteConnection::SqliteConnection(SqliteConnection &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_openError(std::move(other.m_openError)),
      m_allowanceMs(other.m_allowanceMs), m_spentMs(other.m_spentMs)
{
    if (m_db)
        sqlite3_busy_handler(m_db, &SqliteConnection::waitForLock, this);
}

SqliteConnection &SqliteConnection::operator=(SqliteConnection &&other) noexcept
{
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_openError = std::move(other.m_openError);
        m_allowanceMs = other.m_allowanceMs;
        m_spentMs = other.m_spentMs;
        if (m_db)
            sqlite3_busy_handler(m_db, &SqliteConnection::waitForLock, this);
    }
    return *this;
}

void SqliteConnection::close()
{
    if (m_db) {
        // Statements are owned by their SqliteStatement objects, which are gone by now;
        // sqlite3_close_v2 still closes cleanly if one is left.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

CDatabaseError SqliteConnection::error() const
{
    return m_db ? SqliteError(m_db) : m_openError;
}

bool SqliteConnection::exec(const char *sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SqliteConnection::setLockAllowance(int milliseconds)
{
    m_allowanceMs = milliseconds;
    m_spentMs = 0;
}

int SqliteConnection::waitForLock(void *self, int /*attempt*/)
{
    auto *connection = static_cast<SqliteConnection *>(self);
    if (connection->m_spentMs >= connection->m_allowanceMs)
        return 0;
    QElapsedTimer waited;
    waited.start();
    // Input waits, so nothing can reach this connection while it is in the middle of a statement.
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sqlite3_sleep(10);
    connection->m_spentMs += static_cast<int>(qMax<qint64>(1, waited.elapsed()));
    return 1;
}

// ---------------------------------------------------------------------------------------------

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

bool SqliteStatement::prepare(sqlite3 *db, std::string_view sql)
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    return db &&
           sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr) == SQLITE_OK &&
           m_stmt != nullptr;
}

void SqliteStatement::bind(int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

bool SqliteStatement::run()
{
    const int rc = sqlite3_step(m_stmt);
    sqlite3_reset(m_stmt);
    return rc == SQLITE_DONE;
}
