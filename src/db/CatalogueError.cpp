#include "db/CatalogueError.h"

#include "settings/modConstant.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

namespace {

// Why a table or trigger that SQLite found missing ("no such table: main.NAME") is missing, in words.
QString missingObject(const QString &file, const QString &kind, const QString &name)
{
    if (kind == QLatin1StringView("table") &&
        name.compare(QLatin1StringView("Quillary"), Qt::CaseInsensitive) == 0) {
        // SQLite takes an empty file for an empty database.
        const QFileInfo info(file);
        if (info.isFile() && info.size() == 0)
            return QStringLiteral("The file '%1' is empty: it is not a Quillary catalogue.").arg(file);
        return QStringLiteral("The file '%1' is not a Quillary catalogue: it has no table 'Quillary'.")
            .arg(file);
    }
    if (name.startsWith(QLatin1StringView("QuillarySearch"), Qt::CaseInsensitive))
        return QStringLiteral("The search index of the catalogue '%1' is incomplete: it has no %2 '%3'.")
            .arg(file, kind, name);
    return QStringLiteral("The catalogue '%1' has no %2 '%3'.").arg(file, kind, name);
}

} // namespace

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
        reason = QStringLiteral("The disk that holds the catalogue is full: '%1' cannot grow.").arg(file);
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = QStringLiteral("The catalogue '%1' is locked by another program.").arg(file);
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
        reason = QStringLiteral("There is not enough memory to work on the catalogue '%1'.").arg(file);
        break;
    default: {
        static const QRegularExpression missing(QStringLiteral("no such (table|trigger): (?:\\w+\\.)?(\\w+)"),
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = missing.match(error.text);
        if (m.hasMatch())
            reason = missingObject(file, m.captured(1).toLower(), m.captured(2));
        else if (error.text.contains(QStringLiteral("no column named"), Qt::CaseInsensitive) ||
                 error.text.contains(QStringLiteral("no such column"), Qt::CaseInsensitive))
            reason = QStringLiteral("The table 'Quillary' of the catalogue '%1' lacks a column for the file "
                                    "information.")
                         .arg(file);
        else if (task == CatalogueTask::Saving)
            reason = QStringLiteral("The catalogue '%1' refused the file list.").arg(file);
        else if (task == CatalogueTask::Indexing)
            reason = QStringLiteral("The search index of the catalogue '%1' could not be written.").arg(file);
        else
            reason = QStringLiteral("The catalogue '%1' could not be read.").arg(file);
        break;
    }
    }
    // SQLite's own words, unless it had none ("not an error" is what it says after a success).
    if (!error.text.isEmpty() && error.text != QLatin1StringView(sqlite3_errstr(SQLITE_OK)))
        reason += QStringLiteral(" (") + error.text + QStringLiteral(")");
    return reason;
}
