#pragma once
// One connection to the catalogue database.
//
// A CDatabase opens its own connection when it is created and closes it when it is destroyed. A
// failed open is not reported at creation: the object stays closed, every later operation fails to
// its caller, and LastError() says why. Statements with values are prepared (Prepare) and their
// values bound; Execute runs fixed statements.

#include "db/CatalogueError.h"
#include "db/Sqlite.h"

#include <QString>

#include <string_view>

class CDatabase
{
public:
    // Opens the catalogue at path (for reading only when access says so).
    explicit CDatabase(const QString &path,
                       SqliteConnection::Access access = SqliteConnection::Access::ReadWrite);
    CDatabase(const CDatabase &) = delete;
    CDatabase &operator=(const CDatabase &) = delete;

    bool IsOpen() const { return m_connection.isOpen(); }
    // Why the open or the last failed operation failed.
    const CDatabaseError &LastError() const { return m_error; }

    // Runs one statement without values, stepped to its end (BEGIN, PRAGMA incremental_vacuum, ...).
    bool Execute(const char *sql);
    // Prepares a statement whose values are bound before each run. On failure the statement is not
    // valid and LastError() says why.
    SqliteStatement Prepare(std::string_view sql);
    // The first column of the first row as an integer.
    bool QueryInteger(std::string_view sql, qint64 *value);
    // Records the connection's last failure as LastError() and returns false.
    bool Fail();

    // Starts a write transaction: the write lock is taken at once (waiting for another writer
    // within the lock allowance), so a later statement of the transaction never meets a lock.
    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    bool InTransaction() const { return m_connection.inTransaction(); }

    SqliteConnection &Connection() { return m_connection; }
    sqlite3 *Handle() const { return m_connection.handle(); }

private:
    SqliteConnection m_connection;
    CDatabaseError m_error;
};
