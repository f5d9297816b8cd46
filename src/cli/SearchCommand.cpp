// quillary-cli search PHRASE: the window's search, printed.
#include "cli/Commands.h"

#include "search/PhraseMatcher.h"
#include "search/SearchPhrase.h"

namespace Cli {

int RunSearch(const Options &options)
{
    QString path;
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    const QString what = QStringLiteral("The catalogue could not be searched.");
    // One read transaction from the first row to the last: a save running meanwhile is seen whole
    // or not at all. The rows are printed as they come, so they need not be counted first.
    CatalogueStore::Disc disc;
    if (options.disc) {
        QString problem;
        if (!db->FindDisc(*options.disc, &disc, &problem)) {
            if (problem.isEmpty())
                CatalogueError(what, db->LastError(), path, CatalogueTask::Reading);
            else
                Error(problem);
            return kTrouble;
        }
    }
    const std::unique_ptr<CatalogueRows> found =
        db->Find(std::make_unique<PhraseMatcher>(SearchPhrase::TrimBlanks(options.arguments.constFirst())),
                 options.disc ? &disc : nullptr);
    CatalogueRows &search = *found;
    OutputStream out;
    RowWriter writer(out, options.format.value_or(Format::Text));
    writer.Header();
    // A stored size is read as SQLite reads it as a number: its leading digits (none: 0).
    const auto sizeOf = [](std::string_view text) {
        size_t at = text.find_first_not_of(' ');
        qint64 size = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && size < (qint64(1) << 58); ++at)
            size = size * 10 + (text[at] - '0');
        return size;
    };
    const bool bySize = options.minSize || options.maxSize;
    qint64 listed = 0;
    while (search.next()) {
        if (bySize) {
            const qint64 size = sizeOf(search.field(ListColumns::FileSize));
            if ((options.minSize && size < *options.minSize) || (options.maxSize && size > *options.maxSize))
                continue;
        }
        writer.Row({search.field(0), search.field(1), search.field(2), search.field(3), search.field(4),
                    search.field(5)});
        ++listed;
    }
    if (search.error().isSet()) {
        out.Flush();
        CatalogueError(what, search.error(), path, CatalogueTask::Reading);
        return kTrouble;
    }
    if (!out.Finish())
        return kTrouble;
    return listed > 0 ? kSuccess : kNothingFound;
}

} // namespace Cli
