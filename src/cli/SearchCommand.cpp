// quillary-cli search PHRASE: the window's search, printed.
#include "cli/Commands.h"

#include "search/CatalogueSearch.h"
#include "search/SearchPhrase.h"

namespace Cli {

int RunSearch(const Options &options)
{
    QString path;
    const std::unique_ptr<Catalogue> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    const QString what = QStringLiteral("The catalogue could not be searched.");
    // One read transaction from the first row to the last: a save running meanwhile is seen whole
    // or not at all. The rows are printed as they come, so they need not be counted first.
    CatalogueSearch search(db->Handle());
    if (options.disc) {
        Catalogue::Disc disc;
        QString problem;
        if (!db->FindDisc(*options.disc, &disc, &problem)) {
            if (problem.isEmpty())
                CatalogueError(what, db->LastError(), path, CatalogueTask::Reading);
            else
                Error(problem);
            return kTrouble;
        }
        search.restrictTo(disc.ranges);
    }
    if (!search.find(SearchPhrase::TrimBlanks(options.arguments.constFirst()),
                     CatalogueSearch::Counting::Optional)) {
        CatalogueError(what, search.error(), path, CatalogueTask::Reading);
        return kTrouble;
    }
    OutputStream out;
    RowWriter writer(out, options.format.value_or(Format::Text));
    writer.Header();
    qint64 listed = 0;
    while (search.next()) {
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
