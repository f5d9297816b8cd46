// quillary-cli export [--disc LABEL] and quillary-cli discs: the catalogue read in one transaction.
#include "cli/Commands.h"

#include <cstdio>
#include <string>
#include <vector>

namespace Cli {

namespace {

// Says why the catalogue at path could not be read; the command's exit status.
int unreadable(const CDatabaseError &error, const QString &path)
{
    CatalogueError(QStringLiteral("The catalogue could not be read."), error, path, CatalogueTask::Reading);
    return kTrouble;
}

} // namespace

int RunExport(const Options &options)
{
    QString path;
    const std::unique_ptr<Catalogue> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    const Catalogue::Snapshot snapshot(*db);
    Catalogue::Rows rows;
    if (!snapshot.isOpen() || !db->ReadRows(&rows, options.disc))
        return unreadable(db->LastError(), path);

    OutputStream out;
    RowWriter writer(out, options.format.value_or(Format::Text));
    writer.Header();
    qint64 listed = 0;
    while (rows.next()) {
        writer.Row(
            {rows.field(0), rows.field(1), rows.field(2), rows.field(3), rows.field(4), rows.field(5)});
        ++listed;
    }
    if (rows.error().isSet()) {
        out.Flush();
        return unreadable(rows.error(), path);
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
    const std::unique_ptr<Catalogue> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    std::vector<Catalogue::LabelTotals> discs;
    {
        const Catalogue::Snapshot snapshot(*db);
        if (!snapshot.isOpen() || !db->ListLabels(&discs))
            return unreadable(db->LastError(), path);
    }
    OutputStream out;
    char numbers[64];
    for (const Catalogue::LabelTotals &disc : discs) {
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
