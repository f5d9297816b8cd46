#pragma once
// A connection to a PostgreSQL server through libpq: results freed when they go out of scope, values
// always sent apart from the statement's text, failures as the catalogue's one error type.

#include "db/CatalogueError.h"

#include <libpq-fe.h>

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PgResultFree
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// A value sent with a statement: its text, or NULL.
using PgValue = std::optional<std::string>;

class PgConnection
{
public:
    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Connects as libpq reads the name (a URI or "keyword=value ..."; passwords come from ~/.pgpass,
    // PGPASSWORD or a service file), talking UTF-8.
    bool open(const QString &name);
    bool isOpen() const { return m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK; }
    PGconn *handle() const { return m_conn; }
    const CDatabaseError &error() const { return m_error; }
    void setError(CDatabaseError error) { m_error = std::move(error); }

    // Runs a statement; the result when it succeeded, else null with error() saying why.
    PgResult exec(std::string_view sql, const std::vector<PgValue> &values = {});
    bool run(std::string_view sql, const std::vector<PgValue> &values = {})
    {
        return exec(sql, values) != nullptr;
    }
    // The first value of the first row as an integer; false on failure or when there is no row.
    bool integer(std::string_view sql, const std::vector<PgValue> &values, qint64 *value);
    // Sends a statement whose rows are then taken one by one (nextRow); false with error() on failure.
    bool sendRowByRow(std::string_view sql, const std::vector<PgValue> &values = {});
    // The next row of the statement sent: a result of one row, or null after the last (*failed set, and
    // error() saying why, when the statement failed). After null the connection takes statements again.
    PgResult nextRow(bool *failed);
    // Gives up the rows not taken yet.
    void abandonRows();
    bool streaming() const { return m_streaming; }

    // COPY ... FROM STDIN: starts it, sends data, ends it (false with error() on failure).
    bool copyStart(std::string_view sql);
    bool copySend(const std::string &data);
    bool copyEnd();

    // Records the failure of a result (or of the connection when result is null) as error().
    bool fail(const PGresult *result);

private:
    PGconn *m_conn = nullptr;
    CDatabaseError m_error;
    bool m_streaming = false;
};

// The connection text as messages show it: a password in it replaced by "***".
QString PgDisplayName(const QString &name);
