#pragma once
// SQLite's C API in two owning handles: a connection and a prepared statement. Every statement of the
// program reaches SQLite through these; values are always bound, never spliced into the text.

#include "db/CatalogueError.h"

#include <QString>

#include <sqlite3.h>

#include <string_view>

class SqliteConnection
{
public:
    // CreateNew is for the tool that makes the empty catalogue and for tests: the program itself only
    // opens a catalogue that exists.
    enum class Access { ReadWrite, ReadOnly, CreateNew };

    SqliteConnection() = default;
    // Opens the database file at path. The file is never created: a missing catalogue fails to open
    // instead of leaving an empty new file behind. The schema is read at once, so a file that is not a
    // database fails here too. error() says why the open failed.
    explicit SqliteConnection(const QString &path, Access access = Access::ReadWrite);
    ~SqliteConnection();
    SqliteConnection(SqliteConnection &&other) noexcept;
    SqliteConnection &operator=(SqliteConnection &&other) noexcept;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }
    // Why the open failed, or the connection's last failure.
    CDatabaseError error() const;

    // Runs statements without values (BEGIN, PRAGMA ..., a schema script), each stepped to its end.
    bool exec(const char *sql);
    bool inTransaction() const { return m_db != nullptr && sqlite3_get_autocommit(m_db) == 0; }

    // How long the connection waits, in all, for locks that other programs hold: every wait of the
    // connection draws on one allowance (SQLite may wait many times within one transaction, for
    // instance whenever it spills its cache). Once it is spent every lock fails at once, so a command
    // gives up after the time-out whatever the number of waits. The window keeps repainting meanwhile.
    void setLockAllowance(int milliseconds);
    int lockWaitSpentMs() const { return m_spentMs; }

    static constexpr int kDefaultLockAllowanceMs = 5000;

private:
    static int waitForLock(void *self, int attempt);
    void close();

    sqlite3 *m_db = nullptr;
    CDatabaseError m_openError;
    int m_allowanceMs = kDefaultLockAllowanceMs;
    int m_spentMs = 0;
};

class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, std::string_view sql) { prepare(db, sql); }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(SqliteStatement &&other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool prepare(sqlite3 *db, std::string_view sql);
    bool isValid() const { return m_stmt != nullptr; }

    void bind(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }
    void bind(int index, std::string_view utf8)
    {
        sqlite3_bind_text(m_stmt, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, const QString &text);
    void bindBlob(int index, std::string_view bytes)
    {
        sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    // Binds text that stays valid and unchanged until the statement is reset (not copied).
    void bindUnowned(int index, std::string_view utf8)
    {
        sqlite3_bind_text(m_stmt, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }
    // Steps a statement that returns no rows to its end and makes it ready to run again.
    bool run();
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    // Makes the statement ready to run again with its values left bound: for a statement that binds
    // every value before each run, where clearing them first is work for nothing.
    void rewind() { sqlite3_reset(m_stmt); }

    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    int type(int column) const { return sqlite3_column_type(m_stmt, column); }
    bool isNull(int column) const { return type(column) == SQLITE_NULL; }
    // The column as UTF-8 text, valid until the next step; empty for NULL.
    std::string_view text(int column) const
    {
        // One call that takes the connection's lock instead of two (text, then bytes): this is
        // the inner loop of listing a million rows.
        sqlite3_value *value = sqlite3_column_value(m_stmt, column);
        const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(value));
        if (!data)
            return {};
        return std::string_view(data, static_cast<size_t>(sqlite3_value_bytes(value)));
    }

    // The column's bytes, valid until the next step; empty for NULL.
    std::string_view blob(int column) const
    {
        const void *data = sqlite3_column_blob(m_stmt, column);
        if (!data)
            return {};
        return std::string_view(static_cast<const char *>(data),
                                static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)));
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// The connection's last failure as the catalogue layer's error.
CDatabaseError SqliteError(sqlite3 *db);
// The first column of the first row of a statement without values; false when it fails or gives no
// row, or when the value is not an integer.
bool SqliteInteger(sqlite3 *db, std::string_view sql, qint64 *value);

// For a process that saves disc after disc (the window, quillary-cli add), before its first connection:
// the pages of every connection's cache come from one region of address space (32 MB), kept for the life
// of the process, that becomes memory only as pages are first put in it, 2 MB at a time where the kernel
// allows. A save fills a 32 MB cache with new pages; taking fresh memory for them from the heap, 4 KB and
// one page fault at a time, cost it a third of its database time. A page freed goes back to the region
// for the next; pages beyond the region, and every other allocation, use SQLite's own allocator. False
// when SQLite is in use already or the address space cannot be had: the caches then take their pages
// from the heap, as in every other process.
bool SqliteReservePageCache();
