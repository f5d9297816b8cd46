// quillary-cli check: the catalogue's integrity and its search index.
#include "cli/Commands.h"

#include "cli/Output.h"

namespace Cli {

int RunCheck(const Options &options)
{
    QString path;
    const std::unique_ptr<Catalogue> db = OpenCatalogue(options, true, &path);
    if (!db)
        return kTrouble;

    // A file that SQLite opens is not yet a catalogue: an empty file is an empty database to it.
    CDatabaseError error;
    QStringList problems;
    if (!db->IsCatalogue(&error) || !db->Integrity(&problems, &error)) {
        CatalogueError(QStringLiteral("The catalogue could not be checked."), error, path,
                       CatalogueTask::Reading);
        return kTrouble;
    }
    OutputStream out;
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

    QString line;
    QString finding;
    switch (db->CompleteIndex(&error, &finding)) {
    case CatalogueCheck::Index::None:
        // An older catalogue: searches read every name, which finds the same files.
        line = QStringLiteral("search index: none (every search reads all names)");
        break;
    case CatalogueCheck::Index::NotUsed:
        line = QStringLiteral("search index: not used, the table Quillary has no ID column of its own "
                              "(every search reads all names)");
        break;
    case CatalogueCheck::Index::UpToDate:
        line = QStringLiteral("search index: up to date");
        break;
    case CatalogueCheck::Index::BroughtUpToDate:
        line = QStringLiteral("search index: brought up to date");
        break;
    case CatalogueCheck::Index::Rebuilt:
        line = QStringLiteral("search index: rebuilt (%1)").arg(finding);
        break;
    case CatalogueCheck::Index::Failed:
        out.Finish();
        CatalogueError(QStringLiteral("The search index could not be brought up to date."), error, path,
                       CatalogueTask::Indexing);
        return kTrouble;
    }
    out.Append(line);
    out.EndLine();

    qint64 corrected = 0;
    if (!db->RecountDiscs(&corrected)) {
        out.Finish();
        CatalogueError(QStringLiteral("The discs' counts of files could not be checked."), db->LastError(),
                       path, CatalogueTask::Saving);
        return kTrouble;
    }
    if (corrected > 0) {
        out.Append(QStringLiteral("discs: the files of %1 ranges of rows counted again").arg(corrected));
        out.EndLine();
    }
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
