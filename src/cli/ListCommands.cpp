// quillary-cli export [--disc LABEL] and quillary-cli discs: the catalogue read in one transaction.
#include "cli/Commands.h"

#include "db/Sqlite.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

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

// Says why the catalogue at path could not be read; the command's exit status.
int unreadable(sqlite3 *db, const QString &path)
{
    CatalogueError(QStringLiteral("The catalogue could not be read."), SqliteError(db), path,
                   CatalogueTask::Reading);
    return kTrouble;
}

// Prepares select over Quillary with its rows in the order they were added (a table without row IDs
// in its own order).
bool prepareInTableOrder(sqlite3 *db, const std::string &select, SqliteStatement &rows)
{
    return rows.prepare(db, select + " ORDER BY rowid") || rows.prepare(db, select);
}

} // namespace

int RunExport(const Options &options)
{
    QString path;
    const std::unique_ptr<CDatabase> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    // The columns in the order of the list's columns.
    const std::string columns =
        "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate FROM Quillary";
    const std::string where = options.disc ? " WHERE CDLabel = ?1" : "";
    ReadTransaction transaction(db->Handle());
    SqliteStatement rows;
    if (!transaction.open || !prepareInTableOrder(db->Handle(), columns + where, rows))
        return unreadable(db->Handle(), path);
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
        return unreadable(db->Handle(), path);
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
    QString path;
    const std::unique_ptr<CDatabase> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    ReadTransaction transaction(db->Handle());
    // One pass over the table in its order, adding up per label: the discs come in the order they
    // were first catalogued, and a catalogue of millions of rows is not sorted to group them. Sizes are
    // the stored decimal texts as integers (a blank one counts 0).
    const std::string columns = "SELECT CDLabel, CAST(FileSize AS INTEGER) FROM Quillary";
    SqliteStatement rows;
    if (!transaction.open || !prepareInTableOrder(db->Handle(), columns, rows))
        return unreadable(db->Handle(), path);
    struct Disc
    {
        std::string label;
        qint64 files = 0;
        qint64 bytes = 0;
    };
    std::vector<Disc> discs;
    std::unordered_map<std::string, size_t> position;
    Disc *current = nullptr; // the rows of a disc mostly follow one another
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        const std::string_view label = rows.text(0);
        if (!current || current->label != label) {
            const auto [at, added] = position.try_emplace(std::string(label), discs.size());
            if (added)
                discs.push_back({std::string(label)});
            current = &discs[at->second];
        }
        ++current->files;
        current->bytes += rows.int64(1);
    }
    if (rc != SQLITE_DONE)
        return unreadable(db->Handle(), path);
    OutputStream out;
    char numbers[64];
    for (const Disc &disc : discs) {
        out.Append(disc.label);
        const int length =
            std::snprintf(numbers, sizeof numbers, "\t%lld\t%lld", static_cast<long long>(disc.files),
                          static_cast<long long>(disc.bytes));
        out.Append(std::string_view(numbers, static_cast<size_t>(length)));
        out.EndLine();
    }
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
