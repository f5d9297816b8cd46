#include "db/CatalogueError.h"

#include "settings/modConstant.h"

#include <sqlite3.h>

QString DescribeCatalogueError(const CDatabaseError &error, const QString &path, CatalogueTask task)
{
    const QString file = path.isEmpty() ? modConstant::kDatabaseFileName : path;
    QString reason;
    switch (error.primaryCode()) {
    case SQLITE_CANTOPEN:
        reason = QStringLiteral("The catalogue file '%1' could not be opened.").arg(file);
        break;
    case SQLITE_NOTADB:
        reason = QStringLiteral("The file '%1' is not a catalogue database.").arg(file);
        break;
    case SQLITE_CORRUPT:
        reason = QStringLiteral("The catalogue file '%1' is damaged.").arg(file);
        break;
    case SQLITE_FULL:
        reason = QStringLiteral("The disk that holds the catalogue is full.");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = QStringLiteral("The catalogue is locked by another program.");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        reason = QStringLiteral("The catalogue file '%1' cannot be written to.").arg(file);
        break;
    case SQLITE_IOERR:
        reason = QStringLiteral("The catalogue file '%1' could not be read or written.").arg(file);
        break;
    case SQLITE_NOMEM:
        reason = QStringLiteral("There is not enough memory.");
        break;
    default:
        if (error.text.contains(QStringLiteral("no such table"), Qt::CaseInsensitive))
            reason = QStringLiteral("The catalogue '%1' has no table 'Quillary'.").arg(file);
        else if (error.text.contains(QStringLiteral("no column named"), Qt::CaseInsensitive) ||
                 error.text.contains(QStringLiteral("no such column"), Qt::CaseInsensitive))
            reason = QStringLiteral("The table 'Quillary' of the catalogue '%1' lacks a column for the file "
                                    "information.")
                         .arg(file);
        else if (task == CatalogueTask::Saving)
            reason = QStringLiteral("The catalogue '%1' refused the file list.").arg(file);
        else
            reason = QStringLiteral("The catalogue '%1' could not be read.").arg(file);
        break;
    }
    if (!error.text.isEmpty())
        reason += QStringLiteral(" (") + error.text + QStringLiteral(")");
    return reason;
}
