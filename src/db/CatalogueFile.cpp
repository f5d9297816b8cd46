#include "db/CatalogueFile.h"

#include <QFile>

#include <sqlite3.h>

namespace {

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool CatalogueFile::CreateFromScript(const QString &databasePath, const QString &script, QString *error)
{
    // The new file is built under a temporary name and renamed into place at the end, so a
    // failed run never leaves a half-made catalogue under the real name.
    const QString building = databasePath + QStringLiteral(".new");
    QFile::remove(building);
    sqlite3 *db = nullptr;
    const QByteArray name = QFile::encodeName(building);
    int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    QString failure;
    if (rc != SQLITE_OK) {
        failure = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    } else {
        // sqlite3_exec runs the statements in order and stops at the first that fails.
        char *message = nullptr;
        const QByteArray sql = script.toUtf8();
        rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK)
            failure = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
    }
    if (sqlite3_close(db) != SQLITE_OK && failure.isEmpty())
        failure = QStringLiteral("the new database could not be closed");
    if (failure.isEmpty()) {
        QFile::remove(databasePath);
        if (!QFile::rename(building, databasePath))
            failure = QStringLiteral("could not rename %1 to %2").arg(building, databasePath);
    }
    if (!failure.isEmpty()) {
        QFile::remove(building);
        return setError(error, failure);
    }
    return true;
}

bool CatalogueFile::CreateFromSchemaFile(const QString &databasePath, const QString &schemaPath,
                                         QString *error)
{
    QFile file(schemaPath);
    if (!file.open(QIODevice::ReadOnly))
        return setError(error, QStringLiteral("cannot read %1: %2").arg(schemaPath, file.errorString()));
    return CreateFromScript(databasePath, QString::fromUtf8(file.readAll()), error);
}
