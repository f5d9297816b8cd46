#include "db/Sqlite.h"

#include "db/ReadAhead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <mutex>
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

// The page-cache region: blocks of one size (a page with SQLite's headers) handed out from a mapping that
// is only address space until a block is first used, so the process's memory grows with the caches it
// fills, never ahead of them. Freed blocks are kept for the next page; every other allocation, and pages
// once the region is used up, go to SQLite's own allocator.
class PageRegion
{
public:
    static constexpr std::size_t kPageSize = 4096; // the catalogue's; pages of a larger size use the heap
    static constexpr std::size_t kBlocks = 8192;   // a save's cache

    bool reserve(std::size_t block)
    {
        const std::size_t size = block * kBlocks;
        void *region =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (region == MAP_FAILED)
            return false;
        ::madvise(region, size, MADV_HUGEPAGE); // a hint only: without it the region fills in 4 KB pages
        m_start = static_cast<char *>(region);
        m_end = m_start + size;
        m_next = m_start;
        m_block = block;
        return true;
    }
    void release()
    {
        ::munmap(m_start, std::size_t(m_end - m_start));
        m_start = m_end = m_next = nullptr;
        m_block = 0;
    }

    bool holds(const void *p) const
    {
        const auto *byte = static_cast<const char *>(p);
        return byte >= m_start && byte < m_end;
    }
    // Requests of a page and its headers, or of a bare page (SQLite's scratch page).
    bool fits(int bytes) const { return std::size_t(bytes) >= kPageSize && std::size_t(bytes) <= m_block; }
    int blockSize() const { return int(m_block); }

    void *take()
    {
        std::lock_guard lock(m_mutex);
        if (m_free) {
            FreeBlock *block = m_free;
            m_free = block->next;
            return block;
        }
        if (m_next == m_end)
            return nullptr;
        void *block = m_next;
        m_next += m_block;
        return block;
    }
    void give(void *p)
    {
        std::lock_guard lock(m_mutex);
        auto *block = static_cast<FreeBlock *>(p);
        block->next = m_free;
        m_free = block;
    }

private:
    struct FreeBlock
    {
        FreeBlock *next;
    };
    std::mutex m_mutex; // SQLite allocates without a lock of its own (no allocation statistics)
    char *m_start = nullptr;
    char *m_end = nullptr;
    char *m_next = nullptr; // the first block never handed out
    FreeBlock *m_free = nullptr;
    std::size_t m_block = 0;
};

PageRegion g_pages;
sqlite3_mem_methods g_heap{}; // SQLite's own allocator

void *regionMalloc(int bytes)
{
    if (g_pages.fits(bytes)) {
        if (void *block = g_pages.take())
            return block;
    }
    return g_heap.xMalloc(bytes);
}

void regionFree(void *p)
{
    if (g_pages.holds(p))
        g_pages.give(p);
    else
        g_heap.xFree(p);
}

int regionSize(void *p)
{
    return g_pages.holds(p) ? g_pages.blockSize() : g_heap.xSize(p);
}

void *regionRealloc(void *p, int bytes)
{
    if (!g_pages.holds(p))
        return g_heap.xRealloc(p, bytes);
    if (g_pages.fits(bytes))
        return p;
    void *moved = g_heap.xMalloc(bytes);
    if (moved) {
        std::memcpy(moved, p, std::size_t(std::min(bytes, g_pages.blockSize())));
        g_pages.give(p);
    }
    return moved;
}

int regionRoundup(int bytes)
{
    return g_heap.xRoundup(bytes);
}

int regionInit(void *data)
{
    return g_heap.xInit(data);
}

void regionShutdown(void *data)
{
    g_heap.xShutdown(data);
}

} // namespace

bool SqliteReservePageCache()
{
    int header = 0;
    if (sqlite3_config(SQLITE_CONFIG_PCACHE_HDRSZ, &header) != SQLITE_OK ||
        sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_heap) != SQLITE_OK || !g_heap.xMalloc)
        return false;
    const std::size_t block = (PageRegion::kPageSize + std::size_t(header) + 7) / 8 * 8;
    if (!g_pages.reserve(block))
        return false;
    sqlite3_mem_methods methods{regionMalloc,  regionFree, regionRealloc,  regionSize,
                                regionRoundup, regionInit, regionShutdown, g_heap.pAppData};
    if (sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) != SQLITE_OK) {
        g_pages.release();
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
