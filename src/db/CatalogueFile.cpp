#include "db/CatalogueFile.h"

#include "db/Sqlite.h"

#include <QFile>

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
    // The new file is built under a temporary name and renamed into place at the end, so a failed run
    // never leaves a half-made catalogue under the real name.
    const QString building = databasePath + QStringLiteral(".new");
    QFile::remove(building);
    QString failure;
    {
        SqliteConnection db(building, SqliteConnection::Access::CreateNew);
        // The script's statements run in order; the first that fails ends it.
        if (!db.isOpen() || !db.exec(script.toUtf8().constData()))
            failure = db.error().text;
    }
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

bool CatalogueFile::HoldsRows(const QString &databasePath)
{
    SqliteConnection db(databasePath, SqliteConnection::Access::ReadOnly);
    if (!db.isOpen())
        return QFile::exists(databasePath); // something that is not an empty catalogue: keep it
    SqliteStatement any(db.handle(), "SELECT 1 FROM Quillary LIMIT 1");
    if (!any.isValid()) // no table Quillary: not a catalogue yet
        return false;
    return any.step() != SQLITE_DONE;
}
