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
    if (statement.type(0) == SQLITE_INTEGER)
        return statement.int64(0);
    return QString::fromUtf8(statement.text(0)); // a null text for NULL
}

// Runs statements without values on the catalogue at path.
inline bool exec(const QString &path, const QString &sql)
{
    return SqliteConnection(path).exec(sql.toUtf8().constData());
}

} // namespace CatalogueFiles
