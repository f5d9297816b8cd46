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

// What is wrong with the catalogue's record of its discs, empty when nothing is: every recorded disc
// owns rows, every range of rows of a disc holds rows, no row is claimed by two ranges, and (when
// claimed is given) *claimed is set to the number of rows the discs claim. A catalogue without the
// table of discs has no disc and claims nothing.
inline QString discProblems(const QString &path, qint64 *claimed = nullptr)
{
    if (claimed)
        *claimed = 0;
    if (value(path, "SELECT count(*) FROM sqlite_master WHERE name = 'QuillaryDiscRows'").toInt() == 0)
        return {};
    const std::pair<const char *, const char *> checks[] = {
        {"a disc without rows",
         "SELECT count(*) FROM QuillaryDisc AS d WHERE NOT EXISTS (SELECT 1 FROM QuillaryDiscRows AS r JOIN "
         "Quillary AS q ON q.rowid BETWEEN r.FirstRow AND r.LastRow WHERE r.Disc = d.Number)"},
        {"a range without rows", "SELECT count(*) FROM QuillaryDiscRows AS r WHERE NOT EXISTS (SELECT 1 FROM "
                                 "Quillary WHERE rowid BETWEEN r.FirstRow AND r.LastRow)"},
        {"a range of no disc", "SELECT count(*) FROM QuillaryDiscRows WHERE Disc NOT IN (SELECT Number FROM "
                               "QuillaryDisc)"},
        {"rows claimed twice", "SELECT count(*) FROM QuillaryDiscRows AS a JOIN QuillaryDiscRows AS b ON "
                               "a.FirstRow < b.FirstRow AND b.FirstRow <= a.LastRow"},
    };
    for (const auto &[problem, sql] : checks) {
        const QVariant count = value(path, QString::fromUtf8(sql));
        if (count != QVariant(qint64(0)))
            return QString::fromUtf8(problem) + QStringLiteral(": ") + count.toString();
    }
    // The files and bytes each range counted (a table of an older build has no counts).
    if (value(path, "SELECT count(*) FROM pragma_table_info('QuillaryDiscRows') WHERE name = 'Files'")
            .toInt() > 0) {
        const QVariant wrong = value(
            path, "SELECT count(*) FROM QuillaryDiscRows AS r WHERE (r.Files, r.Bytes) IS NOT (SELECT "
                  "count(*), coalesce(sum(CAST(FileSize AS INTEGER)), 0) FROM Quillary WHERE rowid BETWEEN "
                  "r.FirstRow AND r.LastRow)");
        if (wrong != QVariant(qint64(0)))
            return QStringLiteral("ranges counted wrong: ") + wrong.toString();
    }
    if (claimed)
        *claimed = value(path, "SELECT count(*) FROM Quillary AS q JOIN QuillaryDiscRows AS r ON q.rowid "
                               "BETWEEN r.FirstRow AND r.LastRow")
                       .toLongLong();
    return {};
}

} // namespace CatalogueFiles
