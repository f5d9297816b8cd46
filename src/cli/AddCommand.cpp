// quillary-cli add SOURCE...: each SOURCE listed and saved as one disc, as the window's "List Files"
// and "Add to Database" would store it.
#include "cli/Commands.h"

#include "cli/DiscSource.h"
#include "cli/Progress.h"
#include "db/CatalogueSave.h"
#include "db/Sqlite.h"

#include <exception>

#include <unistd.h>

namespace Cli {

namespace {

// A failure that says the file is damaged: nothing more is written to it.
bool isDamage(const CDatabaseError &error)
{
    return error.primaryCode() == SQLITE_CORRUPT || error.primaryCode() == SQLITE_NOTADB;
}

} // namespace

int RunAdd(const Options &options)
{
    SqliteReservePageCache(); // a save for each SOURCE, one after another
    const QString path = CataloguePath(options);
    if (path.isEmpty())
        return kTrouble;
    // The catalogue must open before any disc is read: a list that cannot be stored is not made. Nor
    // is one stored into a damaged file, where a disc may be written and never be found again, nor
    // read for a role that may not add.
    const std::unique_ptr<CatalogueStore> catalogue = OpenCatalogue(path, true);
    if (!catalogue)
        return kTrouble;
    const QString name = catalogue->Name();
    {
        CDatabaseError error;
        if (!catalogue->ReadyToAdd(&error)) {
            Error(DescribeCatalogueError(error, name, CatalogueTask::Saving) +
                  QStringLiteral(" Nothing was added."));
            return kTrouble;
        }
    }
    Progress progress;
    OutputStream out;
    int status = kSuccess;
    bool refused = false;
    bool anySaved = false;
    bool damaged = false;
    for (const QString &sourcePath : options.arguments) {
        // message names the source; why does not and gets its name in front.
        auto report = [&](const QString &message) {
            progress.clear();
            Error(message);
            status = kTrouble;
        };
        auto failed = [&](const QString &why) { report(sourcePath + QStringLiteral(": ") + why); };
        auto alreadyThere = [&](const CatalogueStore::Disc &there) {
            progress.clear();
            Error(sourcePath +
                  QStringLiteral(": already in the catalogue as %1; nothing was added (--again "
                                 "adds it as another disc, --replace brings that disc up to date)")
                      .arg(CatalogueStore::DescribeDisc(there)));
            refused = true;
        };
        QString why;
        const std::unique_ptr<DiscSource> source = DiscSource::Open(sourcePath, &why);
        if (!source) {
            report(why);
            continue;
        }
        QString label = options.label ? *options.label : source->DefaultLabel();
        // As for a disc: a blank label is "(no label)".
        if (label.trimmed().isEmpty())
            label = QStringLiteral("(no label)");

        // Each disc gets a list of its own: the window's program-wide list is not touched.
        clsFileColl files;
        std::vector<DiscFile> where;
        progress.startDisc(label);
        if (!source->List(files, progress, label, options.content ? &where : nullptr)) {
            report(source->ErrorText());
            continue;
        }
        // With --content every file's bytes are read, and its fingerprint stored with its row. A file
        // that cannot be read is reported and stored without one.
        std::vector<std::optional<Fingerprint>> fingerprints;
        if (options.content) {
            fingerprints.resize(static_cast<std::size_t>(files.Count()));
            progress.startReading(ContentBytes(where));
            const bool read = ReadContent(source->Tree(), where, progress,
                                          [&](const DiscFile &file, const ContentResult &result) {
                                              if (result.error == 0)
                                                  fingerprints[std::size_t(file.key)] = result.fingerprint;
                                              else
                                                  report(UnreadableText(files, file, result.error));
                                          });
            if (!read) {
                failed(QStringLiteral("the disc could no longer be read while its files were read; nothing "
                                      "was added"));
                continue;
            }
        }
        // What could be listed is stored; what could not is said, and the status tells of it.
        if (const QString leftOut = source->LeftOutText(); !leftOut.isEmpty())
            report(leftOut);
        if (files.Count() == 0) {
            failed(QStringLiteral("no files found; nothing was added"));
            continue;
        }

        const Drives::MediumSource medium = source->Medium();
        const DiscRecord record{label, medium.kind, medium.path, medium.identity};
        // A medium catalogued already is stored again only when asked to.
        CatalogueStore::Disc there;
        CatalogueStore::Changes changes;
        bool catalogued = !options.again && catalogue->FindCatalogued(medium.identity, label, files, &there);
        if (!catalogued && options.replace) {
            // A disc rewritten since (a new identity, other files) is the one disc with its label.
            QString problem;
            catalogued = catalogue->FindDisc(label, &there, &problem);
            if (!catalogued && problem.contains(QStringLiteral(" discs: "))) {
                progress.clear();
                Error(sourcePath + QStringLiteral(": ") + problem + QStringLiteral("; nothing was added"));
                refused = true;
                continue;
            }
        }
        if (catalogued && !options.replace) {
            alreadyThere(there);
            continue;
        }
        if (catalogued && !catalogue->CompareDisc(there, files, &changes)) {
            failed(DescribeCatalogueError(catalogue->LastError(), name, CatalogueTask::Reading));
            continue;
        }
        progress.startSaving(files.Count());
        CatalogueStore::Stored stored;
        QString failure;
        try {
            // Another machine may store the same medium meanwhile: a catalogue shared by several
            // machines looks again as it stores the disc.
            if (!catalogue->StoreDisc(record, files, options.content ? &fingerprints : nullptr,
                                      catalogued ? &there : nullptr, !options.again, progress, &stored))
                failure = stored.failureText;
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        if (stored.refused) {
            alreadyThere(stored.there);
            continue;
        }
        anySaved = anySaved || stored.saved > 0;
        if (!failure.isEmpty()) {
            failed(QStringLiteral("The file list could not be saved to the database.\n") + failure +
                   QStringLiteral("\n%1 of %2 files were saved.").arg(stored.saved).arg(files.Count()));
            if (isDamage(stored.failure) || stored.failure.sqlState.startsWith(QLatin1StringView("08"))) {
                damaged = true; // nothing more is tried on a damaged file or a lost connection
                break;
            }
            continue;
        }
        if (stored.saved != files.Count()) {
            failed(QStringLiteral("the catalogue refused some files: %1 of %2 files were saved.")
                       .arg(stored.saved)
                       .arg(files.Count()));
            continue;
        }
        progress.done(QStringLiteral("%1 files added").arg(Grouped(stored.saved)));
        if (catalogued) {
            out.Append(QStringLiteral("%1: replaced %2: %3 added, %4 removed, %5 changed")
                           .arg(sourcePath, CatalogueStore::DescribeDisc(there),
                                Grouped(changes.added.size()), Grouped(changes.removed.size()),
                                Grouped(changes.changed.size())));
            out.EndLine();
            for (const auto &[mark, list] :
                 {std::pair{"+ ", &changes.added}, std::pair{"- ", &changes.removed},
                  std::pair{"~ ", &changes.changed}}) {
                for (const QString &file : *list) {
                    out.Append(QLatin1StringView(mark) + file);
                    out.EndLine();
                }
            }
        }
    }
    if (anySaved && !damaged) {
        // Silent, as after the window's save: a catalogue whose index lags, or that cannot be
        // compacted, is still complete and searched exactly.
        catalogue->Tidy([&] { progress.Working(); });
        progress.clear();
    }
    if (!out.Finish())
        return kTrouble;
    return status == kSuccess && refused ? kNothingFound : status;
}

} // namespace Cli
