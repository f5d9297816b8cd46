#include "db/CDatabase.h"

#include "settings/modFunction.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <sqlite3.h>

#include <atomic>

namespace {

std::atomic<int> g_busyTimeoutMs{5000};
std::atomic<quint64> g_connectionCounter{0};

const QString kRecordsetSavepoint = QStringLiteral("quillary_recordset");

// While another program holds the catalogue's lock, wait for it in short steps up to the busy
// time-out, and let the window repaint meanwhile (input waits, so nothing can reach this
// connection while it is in the middle of a statement).
int waitForLock(void *, int attempt)
{
    constexpr int kStepMs = 10;
    if (attempt * kStepMs >= g_busyTimeoutMs)
        return 0;
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sqlite3_sleep(kStepMs);
    return 1;
}

sqlite3 *handleOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || db.driver() == nullptr)
        return nullptr;
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(v.constData());
}

// The error of a failed Qt SQL call, with SQLite's own code read from the connection right after it.
CDatabaseError errorOf(sqlite3 *handle, const QSqlError &sqlError)
{
    CDatabaseError error;
    error.code = handle ? sqlite3_extended_errcode(handle) : 0;
    if (error.code == SQLITE_OK) {
        bool numeric = false;
        const int native = sqlError.nativeErrorCode().toInt(&numeric);
        error.code = numeric ? native : SQLITE_ERROR;
    }
    error.text = sqlError.databaseText().isEmpty() ? sqlError.text() : sqlError.databaseText();
    return error;
}

bool bindAndRun(QSqlQuery &query, const QVariantList &values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    return query.exec();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CRecordset

CRecordset::CRecordset() = default;
CRecordset::CRecordset(CRecordset &&other) noexcept = default;

CRecordset &CRecordset::operator=(CRecordset &&other) noexcept
{
    if (this != &other) {
        Close();
        m_query = std::move(other.m_query);
        m_db = std::move(other.m_db);
        m_count = other.m_count;
        m_error = std::move(other.m_error);
    }
    return *this;
}

CRecordset::~CRecordset()
{
    Close();
}

bool CRecordset::Next()
{
    if (!m_query)
        return false;
    if (m_query->next())
        return true;
    if (m_query->lastError().isValid())
        m_error = errorOf(nullptr, m_query->lastError());
    return false;
}

int CRecordset::FieldIndex(const QString &name) const
{
    return m_query ? m_query->record().indexOf(name) : -1;
}

QVariant CRecordset::Value(int field) const
{
    if (!m_query || field < 0)
        return {};
    return m_query->value(field);
}

void CRecordset::Close()
{
    if (!m_query)
        return;
    m_query->finish();
    m_query.reset();
    QSqlQuery release(m_db);
    release.exec(QStringLiteral("RELEASE ") + kRecordsetSavepoint);
    m_db = QSqlDatabase();
}

// ---------------------------------------------------------------------------------------------
// CStatement

CStatement::CStatement() = default;
CStatement::~CStatement() = default;
CStatement::CStatement(CStatement &&other) noexcept = default;
CStatement &CStatement::operator=(CStatement &&other) noexcept = default;

bool CStatement::Execute(const QVariantList &values)
{
    if (!m_query) {
        if (!m_error.isSet())
            m_error = {QStringLiteral("The statement is not prepared."), SQLITE_MISUSE};
        return false;
    }
    if (bindAndRun(*m_query, values)) {
        m_error = {};
        return true;
    }
    m_error = errorOf(m_handle, m_query->lastError());
    return false;
}

int CStatement::RowsAffected() const
{
    return m_query ? m_query->numRowsAffected() : 0;
}

// ---------------------------------------------------------------------------------------------
// CDatabase

void CDatabase::SetBusyTimeout(int milliseconds)
{
    g_busyTimeoutMs = milliseconds;
}
int CDatabase::BusyTimeout()
{
    return g_busyTimeoutMs;
}

QString CDatabase::OpenUri(const QString &path)
{
    // The URI form is what lets "mode=rw" forbid creating the file; the path is percent-encoded
    // so that "?", "#" and "%" in a directory name stay part of the name.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw");
}

CDatabase::CDatabase()
{
    open(modFunction::DefaultDatabasePath());
}

CDatabase::CDatabase(const QString &path)
{
    open(path);
}

void CDatabase::open(const QString &path)
{
    if (path.isEmpty()) {
        // An empty name would make SQLite open a private temporary database.
        m_error = {QStringLiteral("The catalogue file could not be found."), SQLITE_CANTOPEN};
        return;
    }
    m_connectionName = QStringLiteral("quillary-catalogue-%1").arg(++g_connectionCounter);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    m_db.setDatabaseName(OpenUri(path));
    if (!m_db.open()) {
        m_error = errorOf(nullptr, m_db.lastError());
        if (m_error.code == SQLITE_OK || m_error.code == SQLITE_ERROR)
            m_error.code = SQLITE_CANTOPEN;
        m_db.close();
        return;
    }
    m_handle = handleOf(m_db);
    sqlite3_busy_handler(m_handle, waitForLock, nullptr);
    m_open = true;
    // SQLite reads the file only when a statement needs it: read the schema now, so that a file
    // that is not a database, or cannot be read, leaves the object closed from the start.
    // Every commit is on the disk when it returns (also where a build lowers the default).
    if (!ExecuteQuery(QStringLiteral("SELECT count(*) FROM sqlite_schema")) ||
        !ExecuteQuery(QStringLiteral("PRAGMA synchronous = FULL"))) {
        const CDatabaseError error = m_error;
        m_db.close();
        m_handle = nullptr;
        m_open = false;
        m_error = error;
    }
}

CDatabase::~CDatabase()
{
    if (m_connectionName.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool CDatabase::fail(const CDatabaseError &error)
{
    m_error = error;
    return false;
}

bool CDatabase::ExecuteQuery(const QString &strSQL, const QVariantList &values)
{
    if (!m_open)
        return false; // m_error still says why the open failed
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(strSQL))
        return fail(errorOf(m_handle, query.lastError()));
    if (!bindAndRun(query, values))
        return fail(errorOf(m_handle, query.lastError()));
    while (query.next()) {
    }
    if (query.lastError().isValid())
        return fail(errorOf(m_handle, query.lastError()));
    return true;
}

bool CDatabase::ExecuteScript(const QString &sql)
{
    if (!m_open)
        return false;
    char *message = nullptr;
    const int rc = sqlite3_exec(m_handle, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return true;
    CDatabaseError error;
    error.code = sqlite3_extended_errcode(m_handle);
    if (error.code == SQLITE_OK)
        error.code = rc;
    error.text = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return fail(error);
}

bool CDatabase::QueryValue(const QString &strSQL, QVariant *value, const QVariantList &values)
{
    *value = QVariant();
    if (!m_open)
        return false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(strSQL) || !bindAndRun(query, values))
        return fail(errorOf(m_handle, query.lastError()));
    if (query.next())
        *value = query.value(0);
    else if (query.lastError().isValid())
        return fail(errorOf(m_handle, query.lastError()));
    query.finish();
    return true;
}

CStatement CDatabase::Prepare(const QString &strSQL)
{
    CStatement statement;
    if (!m_open) {
        statement.m_error = m_error;
        return statement;
    }
    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (!query->prepare(strSQL)) {
        statement.m_error = errorOf(m_handle, query->lastError());
        m_error = statement.m_error;
        return statement;
    }
    statement.m_query = std::move(query);
    statement.m_handle = m_handle;
    return statement;
}

CRecordset CDatabase::GetRecordset(const QString &strSQL, const QVariantList &values)
{
    CRecordset recordset;
    if (!m_open) {
        recordset.m_error = m_error;
        return recordset;
    }
    // A savepoint opens a read transaction (or nests in the caller's), so that the count and the
    // rows see the same rows even when another program writes to the catalogue meanwhile.
    if (!ExecuteQuery(QStringLiteral("SAVEPOINT ") + kRecordsetSavepoint)) {
        recordset.m_error = m_error;
        return recordset;
    }
    auto giveUp = [&](const QSqlQuery &query) {
        recordset.m_error = errorOf(m_handle, query.lastError());
        m_error = recordset.m_error;
        ExecuteQuery(QStringLiteral("RELEASE ") + kRecordsetSavepoint);
        return std::move(recordset);
    };
    // Counting through a subquery also refuses anything that is not a query.
    QSqlQuery count(m_db);
    count.setForwardOnly(true);
    QString inner = strSQL.trimmed();
    while (inner.endsWith(u';'))
        inner.chop(1);
    if (!count.prepare(QStringLiteral("SELECT count(*) FROM (") + inner + QStringLiteral("\n)")) ||
        !bindAndRun(count, values) || !count.next())
        return giveUp(count);
    const qint64 rows = count.value(0).toLongLong();
    count.finish();

    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (!query->prepare(strSQL) || !bindAndRun(*query, values))
        return giveUp(*query);
    recordset.m_query = std::move(query);
    recordset.m_db = m_db;
    recordset.m_count = rows;
    return recordset;
}

bool CDatabase::BeginTrans()
{
    return ExecuteQuery(QStringLiteral("BEGIN IMMEDIATE"));
}
bool CDatabase::CommitTrans()
{
    return ExecuteQuery(QStringLiteral("COMMIT"));
}
bool CDatabase::RollbackTrans()
{
    return ExecuteQuery(QStringLiteral("ROLLBACK"));
}

bool CDatabase::InTransaction() const
{
    return m_handle != nullptr && sqlite3_get_autocommit(m_handle) == 0;
}
