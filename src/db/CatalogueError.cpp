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

// A failure of a catalogue on a server, by its SQLSTATE (and the program's own QY codes).
QString serverReason(const CDatabaseError &error, const QString &name, CatalogueTask task)
{
    const QString &state = error.sqlState;
    if (state == QLatin1StringView("42501"))
        return task == CatalogueTask::Reading
                   ? QStringLiteral("Your role on the server may not read the catalogue '%1'.").arg(name)
                   : QStringLiteral(
                         "Your role on the server may not change the catalogue '%1': it lacks that "
                         "right (the catalogue's owner grants it, see the README).")
                         .arg(name);
    if (state == QLatin1StringView("08001"))
        return QStringLiteral("The catalogue server '%1' could not be reached.").arg(name);
    if (state.startsWith(QLatin1StringView("08")) || state.startsWith(QLatin1StringView("57P")))
        return QStringLiteral("The connection to the catalogue server '%1' was lost; what was not "
                              "committed was not stored.")
            .arg(name);
    if (state.startsWith(QLatin1StringView("28")))
        return QStringLiteral("The catalogue server '%1' refused the login (the role or its password: "
                              "passwords come from ~/.pgpass, PGPASSWORD or a service file).")
            .arg(name);
    if (state == QLatin1StringView("3D000"))
        return QStringLiteral("The database of '%1' does not exist on its server.").arg(name);
    if (state == QLatin1StringView("42P01"))
        return QStringLiteral(
                   "The database '%1' holds no Quillary catalogue ('quillary-cli init' makes one).")
            .arg(name);
    if (state == QLatin1StringView("QY001"))
        return QStringLiteral("The catalogue '%1' was made by a newer Quillary; this one cannot work on it.")
            .arg(name);
    if (state == QLatin1StringView("QY002"))
        return QStringLiteral(
                   "The catalogue '%1' has an older schema: 'quillary-cli check --upgrade' brings it "
                   "up to date.")
            .arg(name);
    if (state == QLatin1StringView("QY003"))
        return QStringLiteral("The database '%1' is not in UTF-8: a catalogue needs a database made with "
                              "ENCODING 'UTF8'.")
            .arg(name);
    if (state == QLatin1StringView("QY004"))
        return QStringLiteral("The database '%1' holds a Quillary catalogue already.").arg(name);
    if (state == QLatin1StringView("53100"))
        return QStringLiteral("The disk of the catalogue server '%1' is full.").arg(name);
    if (state == QLatin1StringView("40001") || state == QLatin1StringView("40P01") ||
        state == QLatin1StringView("55P03"))
        return QStringLiteral("The catalogue '%1' is busy with another machine's work; try again.").arg(name);
    if (state == QLatin1StringView("22021"))
        return QStringLiteral("The catalogue server '%1' refused a text that is not valid UTF-8.").arg(name);
    switch (task) {
    case CatalogueTask::Saving:
        return QStringLiteral("The catalogue server '%1' refused the change.").arg(name);
    case CatalogueTask::Indexing:
        return QStringLiteral("The search index of the catalogue '%1' could not be written.").arg(name);
    case CatalogueTask::Reading:
        break;
    }
    return QStringLiteral("The catalogue '%1' could not be read.").arg(name);
}

} // namespace

QString DescribeCatalogueError(const CDatabaseError &error, const QString &path, CatalogueTask task)
{
    if (!error.sqlState.isEmpty()) {
        QString reason = serverReason(error, path, task);
        if (!error.text.isEmpty())
            reason += QStringLiteral(" (") + error.text + QStringLiteral(")");
        return reason;
    }
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
