#pragma once
// One connection to the catalogue database (SQLite through Qt SQL's QSQLITE driver).
//
// A CDatabase opens its own connection when it is created and closes it when it is destroyed.
// The file is opened without the right to create it, so a missing catalogue never leaves an empty
// new file behind. A failed open is not reported at creation: the object stays closed and every
// later operation fails to its caller, with LastError() saying why.
// Values always reach SQLite as bound parameters, never spliced into the statement text.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

class QSqlQuery;
struct sqlite3;

// Why an operation failed: SQLite's message and its extended result code (0 when there is none,
// for instance a catalogue that could not be found).
struct CDatabaseError
{
    QString text;
    int code = 0;

    int primaryCode() const { return code & 0xff; }
    bool isSet() const { return code != 0 || !text.isEmpty(); }
};

// A read-only result: its row count is known as soon as it is open, before the first row is read.
// The count and the rows come from one snapshot of the file: the recordset holds a read
// transaction (a savepoint) on its connection until it is closed or destroyed.
// Close it before its CDatabase is destroyed.
class CRecordset
{
public:
    CRecordset();
    ~CRecordset();
    CRecordset(CRecordset &&other) noexcept;
    CRecordset &operator=(CRecordset &&other) noexcept;
    CRecordset(const CRecordset &) = delete;
    CRecordset &operator=(const CRecordset &) = delete;

    bool IsOpen() const { return m_query != nullptr; }
    const CDatabaseError &LastError() const { return m_error; }

    qint64 RecordCount() const { return m_count; }
    // Moves to the next row (the first row on the first call); false after the last one or on an
    // error, which LastError() then holds.
    bool Next();
    // The column's position by name (letter case ignored), -1 when the result has no such column.
    int FieldIndex(const QString &name) const;
    QVariant Value(int field) const;
    QVariant Value(const QString &name) const { return Value(FieldIndex(name)); }

    // Ends the read transaction and drops the result.
    void Close();

private:
    friend class CDatabase;
    std::unique_ptr<QSqlQuery> m_query;
    QSqlDatabase m_db;
    qint64 m_count = 0;
    CDatabaseError m_error;
};

// A statement prepared once on a connection and run many times with bound values: what adding
// rows needs. Destroy it before its CDatabase.
class CStatement
{
public:
    CStatement();
    ~CStatement();
    CStatement(CStatement &&other) noexcept;
    CStatement &operator=(CStatement &&other) noexcept;
    CStatement(const CStatement &) = delete;
    CStatement &operator=(const CStatement &) = delete;

    bool IsPrepared() const { return m_query != nullptr; }
    const CDatabaseError &LastError() const { return m_error; }

    // Runs the statement once with values bound to its parameters in order.
    // Returns false (LastError() says why) when the statement fails.
    bool Execute(const QVariantList &values);
    // Rows the last successful run inserted, changed or deleted.
    int RowsAffected() const;

private:
    friend class CDatabase;
    std::unique_ptr<QSqlQuery> m_query;
    sqlite3 *m_handle = nullptr;
    CDatabaseError m_error;
};

class CDatabase
{
public:
    // Opens the catalogue at DefaultDatabasePath() for reading and writing.
    CDatabase();
    // Opens the database file at path (tools and tests; the program uses the default path).
    explicit CDatabase(const QString &path);
    ~CDatabase();
    CDatabase(const CDatabase &) = delete;
    CDatabase &operator=(const CDatabase &) = delete;

    bool IsOpen() const { return m_open; }
    // Why the open or the last failed operation failed.
    const CDatabaseError &LastError() const { return m_error; }

    // A read-only result for a SELECT statement with its values bound in order.
    // Anything but a query fails. On failure the recordset is closed and holds the error.
    CRecordset GetRecordset(const QString &strSQL, const QVariantList &values = {});
    // Prepares a statement to run with bound values (for adding rows: an INSERT).
    CStatement Prepare(const QString &strSQL);
    // Runs one statement with its values bound in order; any rows it returns are read and dropped.
    bool ExecuteQuery(const QString &strSQL, const QVariantList &values = {});
    // Runs statements without values, each stepped to its end by SQLite itself (sqlite3_exec):
    // for statements that do their work row by row without columns, such as
    // "PRAGMA incremental_vacuum", which Qt SQL would step only once.
    bool ExecuteScript(const QString &sql);
    // Runs one statement (a query or a PRAGMA) and puts the first column of its first row in
    // *value (an invalid QVariant when there is no row).
    bool QueryValue(const QString &strSQL, QVariant *value, const QVariantList &values = {});

    // Starts a write transaction: the write lock is taken at once (waiting for another writer
    // up to the busy time-out), so a later statement of the transaction never meets a lock.
    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    // True while a transaction (or a savepoint) is open on this connection.
    bool InTransaction() const;

    // SQLite's own handle of the connection; null when closed.
    sqlite3 *Handle() const { return m_handle; }

    // How long an operation waits for a lock held by another connection (default 5000 ms).
    static void SetBusyTimeout(int milliseconds);
    static int BusyTimeout();

    // The SQLite URI that opens path for reading and writing without creating it.
    static QString OpenUri(const QString &path);

private:
    void open(const QString &path);
    bool fail(const CDatabaseError &error);

    QSqlDatabase m_db;
    QString m_connectionName;
    sqlite3 *m_handle = nullptr;
    bool m_open = false;
    CDatabaseError m_error;
};
