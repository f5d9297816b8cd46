#include "db/CDatabase.h"

CDatabase::CDatabase(const QString &path, SqliteConnection::Access access) : m_connection(path, access)
{
    if (!m_connection.isOpen())
        m_error = m_connection.error();
}

bool CDatabase::Fail()
{
    m_error = m_connection.error();
    return false;
}

bool CDatabase::Execute(const char *sql)
{
    if (!IsOpen())
        return false; // m_error still says why the open failed
    return m_connection.exec(sql) || Fail();
}

SqliteStatement CDatabase::Prepare(std::string_view sql)
{
    SqliteStatement statement;
    if (IsOpen() && !statement.prepare(Handle(), sql))
        Fail();
    return statement;
}

bool CDatabase::QueryInteger(std::string_view sql, qint64 *value)
{
    if (!IsOpen())
        return false;
    return SqliteInteger(Handle(), sql, value) || Fail();
}

bool CDatabase::BeginTrans()
{
    return Execute("BEGIN IMMEDIATE");
}

bool CDatabase::CommitTrans()
{
    return Execute("COMMIT");
}

bool CDatabase::RollbackTrans()
{
    return Execute("ROLLBACK");
}
