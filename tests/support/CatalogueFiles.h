#pragma once
// Reading and writing test catalogues directly, through the program's own access layer.

#include "db/Sqlite.h"

#include <QVariant>

namespace CatalogueFiles {

// The first value of the statement's first row on the catalogue at path (an integer, a text or
// null); an invalid QVariant when the catalogue cannot be opened or the statement fails.
inline QVariant value(const QString &path, const QString &sql)
{
    SqliteConnection db(path);
    SqliteStatement statement(db.handle(), sql.toStdString());
    if (!statement.isValid() || statement.step() != SQLITE_ROW)
        return {};
    switch (statement.type(0)) {
    case SQLITE_INTEGER:
        return statement.int64(0);
    case SQLITE_NULL:
        return QVariant(QString());
    default:
        return QString::fromUtf8(statement.text(0));
    }
}

// Runs statements without values on the catalogue at path.
inline bool exec(const QString &path, const QString &sql)
{
    SqliteConnection db(path);
    return db.exec(sql.toUtf8().constData());
}

} // namespace CatalogueFiles
