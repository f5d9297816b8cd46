// quillary-cli check: the catalogue's integrity and its search index.
#include "cli/Commands.h"

#include "db/CatalogueIndex.h"

namespace Cli {

int RunCheck(const Options &options)
{
    QString path;
    const std::unique_ptr<CDatabase> db = OpenCatalogue(options, true, &path);
    if (!db)
        return kTrouble;

    OutputStream out;
    // SQLite's own check: the single row "ok", or one row per problem found.
    SqliteStatement integrity(db->Handle(), "PRAGMA integrity_check");
    QStringList problems;
    int rc = SQLITE_ERROR;
    if (integrity.isValid()) {
        while ((rc = integrity.step()) == SQLITE_ROW) {
            const std::string_view line = integrity.text(0);
            if (line != "ok")
                problems.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        }
    }
    if (rc != SQLITE_DONE) {
        CatalogueError(QStringLiteral("The catalogue could not be checked."), SqliteError(db->Handle()), path,
                       CatalogueTask::Reading);
        return kTrouble;
    }
    if (!problems.isEmpty()) {
        for (const QString &problem : std::as_const(problems)) {
            out.Append(QStringLiteral("integrity: ") + problem);
            out.EndLine();
        }
        out.Finish();
        // A damaged file is not written to: the index stays as it is.
        Error(QStringLiteral("The catalogue file '%1' is damaged; its search index was left as it is.")
                  .arg(path));
        return kTrouble;
    }
    out.Append(std::string_view("integrity: ok"));
    out.EndLine();

    const CatalogueIndex::Status before = CatalogueIndex::Examine(db->Handle());
    if (!before.usable) {
        // An older catalogue: searches read every name, which finds the same files.
        out.Append(std::string_view("search index: none (every search reads all names)"));
        out.EndLine();
        return out.Finish() ? kSuccess : kTrouble;
    }
    // The whole index against the table: one that was changed behind the program's back is built
    // afresh, since searches would believe it.
    QString finding;
    const CatalogueIndex::Verdict verdict = CatalogueIndex::Verify(db->Handle(), &finding);
    const bool rebuilt = verdict == CatalogueIndex::Verdict::Disagrees;
    const bool refreshed =
        rebuilt ? CatalogueIndex::Rebuild(db->Handle()) : CatalogueIndex::Refresh(db->Handle());
    const CatalogueIndex::Status after = CatalogueIndex::Examine(db->Handle());
    qint64 highest = 0;
    SqliteInteger(db->Handle(), "SELECT coalesce(max(rowid), 0) FROM Quillary", &highest);
    if (!refreshed || !after.sound || after.changed != 0 || after.watermark < highest) {
        out.Finish();
        CatalogueError(QStringLiteral("The search index could not be brought up to date."),
                       SqliteError(db->Handle()), path, CatalogueTask::Saving);
        return kTrouble;
    }
    const bool wasCurrent = before.sound && before.changed == 0 && before.watermark >= highest;
    if (rebuilt)
        out.Append(QStringLiteral("search index: rebuilt (%1)").arg(finding));
    else
        out.Append(wasCurrent ? QStringLiteral("search index: up to date")
                              : QStringLiteral("search index: brought up to date"));
    out.EndLine();
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
