// quillary-cli export [--disc LABEL] and quillary-cli discs: the catalogue read in one transaction.
#include "cli/Commands.h"

#include "db/Sqlite.h"

namespace Cli {

namespace {

// Ends the read transaction however the command ends.
struct ReadTransaction
{
    explicit ReadTransaction(sqlite3 *db)
        : db(db), open(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
    {}
    ~ReadTransaction()
    {
        if (open)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3 *db;
    bool open;
};

} // namespace

int RunExport(const Options &options)
{
    const QString path = CataloguePath(options);
    if (path.isEmpty())
        return kTrouble;
    const std::unique_ptr<CDatabase> db = OpenCatalogue(path, false);
    if (!db)
        return kTrouble;
    const QString what = QStringLiteral("The catalogue could not be read.");
    ReadTransaction transaction(db->Handle());
    if (!transaction.open) {
        CatalogueError(what, SqliteError(db->Handle()), path, CatalogueTask::Reading);
        return kTrouble;
    }
    // The columns in the order of the list's columns; rows in the order they were added (a table
    // without row IDs in its own order).
    const std::string columns =
        "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate FROM Quillary";
    const std::string where = options.disc ? " WHERE CDLabel = ?1" : "";
    SqliteStatement rows;
    if (!rows.prepare(db->Handle(), columns + where + " ORDER BY rowid") &&
        !rows.prepare(db->Handle(), columns + where)) {
        CatalogueError(what, SqliteError(db->Handle()), path, CatalogueTask::Reading);
        return kTrouble;
    }
    if (options.disc)
        rows.bind(1, *options.disc);

    OutputStream out;
    RowWriter writer(out, options.format.value_or(Format::Text));
    writer.Header();
    qint64 listed = 0;
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        writer.Row({rows.text(0), rows.text(1), rows.text(2), rows.text(3), rows.text(4), rows.text(5)});
        ++listed;
    }
    if (rc != SQLITE_DONE) {
        out.Flush();
        CatalogueError(what, SqliteError(db->Handle()), path, CatalogueTask::Reading);
        return kTrouble;
    }
    if (!out.Finish())
        return kTrouble;
    if (options.disc && listed == 0) {
        Error(QStringLiteral("no disc labelled '%1' in the catalogue '%2'").arg(*options.disc, path));
        return kTrouble;
    }
    return kSuccess;
}

int RunDiscs(const Options &options)
{
    const QString path = CataloguePath(options);
    if (path.isEmpty())
        return kTrouble;
    const std::unique_ptr<CDatabase> db = OpenCatalogue(path, false);
    if (!db)
        return kTrouble;
    const QString what = QStringLiteral("The catalogue could not be read.");
    ReadTransaction transaction(db->Handle());
    // Labels in the order their discs were first catalogued; sizes are the stored decimal texts
    // (a blank one counts 0).
    SqliteStatement discs;
    if (!transaction.open ||
        (!discs.prepare(db->Handle(),
                        "SELECT CDLabel, count(*), sum(CAST(FileSize AS INTEGER)) FROM Quillary "
                        "GROUP BY CDLabel ORDER BY min(rowid)") &&
         !discs.prepare(db->Handle(),
                        "SELECT CDLabel, count(*), sum(CAST(FileSize AS INTEGER)) FROM Quillary "
                        "GROUP BY CDLabel"))) {
        CatalogueError(what, SqliteError(db->Handle()), path, CatalogueTask::Reading);
        return kTrouble;
    }
    OutputStream out;
    int rc;
    char numbers[64];
    while ((rc = discs.step()) == SQLITE_ROW) {
        out.Append(discs.text(0));
        const int length =
            std::snprintf(numbers, sizeof numbers, "\t%lld\t%lld", static_cast<long long>(discs.int64(1)),
                          static_cast<long long>(discs.int64(2)));
        out.Append(std::string_view(numbers, static_cast<size_t>(length)));
        out.EndLine();
    }
    if (rc != SQLITE_DONE) {
        out.Flush();
        CatalogueError(what, SqliteError(db->Handle()), path, CatalogueTask::Reading);
        return kTrouble;
    }
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
