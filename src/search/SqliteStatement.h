#pragma once
// A prepared SQLite statement that finalizes itself; the search reads rows through SQLite's own
// interface because a million rows through QSqlQuery (one QVariant per value) cost seconds.

#include <QString>

#include <sqlite3.h>

#include <string_view>

class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, std::string_view sql) { prepare(db, sql); }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    SqliteStatement(SqliteStatement &&other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
    SqliteStatement &operator=(SqliteStatement &&other) noexcept
    {
        if (this != &other) {
            sqlite3_finalize(m_stmt);
            m_stmt = other.m_stmt;
            other.m_stmt = nullptr;
        }
        return *this;
    }

    bool prepare(sqlite3 *db, std::string_view sql)
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr) ==
               SQLITE_OK;
    }
    bool isValid() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }

    void bindInt64(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }
    void bindText(int index, std::string_view text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // The column as UTF-8 text, valid until the next step; empty for NULL.
    std::string_view text(int column) const
    {
        // One call that takes the connection's lock instead of two (text, then bytes): this is
        // the inner loop of listing a million rows. The value is used on this thread only.
        sqlite3_value *value = sqlite3_column_value(m_stmt, column);
        const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(value));
        if (!data)
            return {};
        return std::string_view(data, static_cast<size_t>(sqlite3_value_bytes(value)));
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// Runs one statement that returns no rows; true on success.
inline bool SqliteExec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// SQLite's message for the connection's last failure.
inline QString SqliteMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}
