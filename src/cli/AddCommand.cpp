// quillary-cli add SOURCE...: each SOURCE listed and saved as one disc, as the window's "List Files"
// and "Add to Database" would store it.
#include "cli/Commands.h"

#include "cli/DiscSource.h"
#include "db/Catalogue.h"
#include "db/CatalogueSave.h"
#include "db/Sqlite.h"

#include <QElapsedTimer>

#include <exception>

#include <unistd.h>

namespace Cli {

namespace {

// The search index is brought up to date once this many rows wait for it: until then a search reads
// them from the table (a few tens of milliseconds), and the index grows faster in large steps.
constexpr qint64 kIndexBacklogRows = 250000;
// The integrity check before the first disc is stored takes about 0.1 s for a million rows whose file
// is in memory; on a larger catalogue it is given up, and damage is then caught by the save's own
// statements.
constexpr int kIntegrityCheckMs = 3000;

// A failure that says the file is damaged: nothing more is written to it.
bool isDamage(const CDatabaseError &error)
{
    return error.primaryCode() == SQLITE_CORRUPT || error.primaryCode() == SQLITE_NOTADB;
}

// Progress on standard error, on one line rewritten in place, only when it is a terminal:
// "DISC01: 12,345 files (8,900 files/s)" while listing, "DISC01: saving 5,000 of 12,345 files" while
// saving. At most ten updates a second.
class Progress : public ScanObserver, public SaveObserver
{
public:
    Progress() : m_shown(isatty(STDERR_FILENO) == 1) {}

    void startDisc(const QString &label)
    {
        m_label = label;
        m_listed = 0;
        m_total = 0;
        m_clock.start();
        m_lastShown = -1000;
    }
    void startSaving(qint64 total)
    {
        m_total = total;
        m_lastShown = -1000;
    }
    // Clears the line before a message or at the end.
    void clear()
    {
        if (m_shown && m_lineShown) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            m_lineShown = false;
        }
    }
    void done(qint64 saved)
    {
        show(QStringLiteral("%1 files added").arg(Grouped(saved)), true);
        if (m_shown) {
            std::fputc('\n', stderr);
            m_lineShown = false;
        }
    }

    // The walk.
    void directoryListed(const QString &) override {}
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &, qint64 key) override
    {
        m_listed = key + 1;
        if ((m_listed & 255) == 0)
            showListing(false);
    }
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override {}
    void yield() override { showListing(false); }

    // The save.
    void RecordStarting(qint32, const clsFile &) override {}
    void RecordDone(qint32 savedCount) override
    {
        if ((savedCount & 255) == 0)
            show(QStringLiteral("saving %1 of %2 files").arg(Grouped(savedCount), Grouped(m_total)), false);
    }
    void Working() override { show(QStringLiteral("updating the search index"), false); }

private:
    void showListing(bool always)
    {
        const double seconds = qMax<qint64>(1, m_clock.elapsed()) / 1000.0;
        show(QStringLiteral("%1 files (%2 files/s)")
                 .arg(Grouped(m_listed), Grouped(static_cast<qint64>(m_listed / seconds))),
             always);
    }
    void show(const QString &text, bool always)
    {
        if (!m_shown)
            return;
        const qint64 now = m_clock.elapsed();
        if (!always && now - m_lastShown < 100)
            return;
        m_lastShown = now;
        const QByteArray line = "\r\033[K" + (m_label + QStringLiteral(": ") + text).toUtf8();
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
        m_lineShown = true;
    }

    const bool m_shown;
    bool m_lineShown = false;
    QString m_label;
    qint64 m_listed = 0;
    qint64 m_total = 0;
    QElapsedTimer m_clock;
    qint64 m_lastShown = 0;
};

} // namespace

int RunAdd(const Options &options)
{
    SqliteReservePageCache(); // a save for each SOURCE, one after another
    const QString path = CataloguePath(options);
    if (path.isEmpty())
        return kTrouble;
    // The catalogue must open before any disc is read: a list that cannot be stored is not made. Nor
    // is one stored into a damaged file, where a disc may be written and never be found again.
    {
        const std::unique_ptr<Catalogue> db = OpenCatalogue(path, true);
        if (!db)
            return kTrouble;
        // A check that cannot finish in time (a very large catalogue) leaves damage to the save's own
        // statements.
        QStringList problems;
        CDatabaseError error;
        if (db->Integrity(&problems, &error, kIntegrityCheckMs) && !problems.isEmpty()) {
            const QString problem =
                problems.first().remove(QStringLiteral("*** in database main ***")).simplified();
            Error(
                DescribeCatalogueError(CDatabaseError{problem, SQLITE_CORRUPT}, path, CatalogueTask::Saving) +
                QStringLiteral(" Nothing was added."));
            return kTrouble;
        }
    }

    Catalogue catalogue(path);
    if (!catalogue.Open()) {
        CatalogueError(QString(), catalogue.LastError(), path, CatalogueTask::Saving);
        return kTrouble;
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
        progress.startDisc(label);
        if (!source->List(files, progress, label)) {
            report(source->ErrorText());
            continue;
        }
        // What could be listed is stored; what could not is said, and the status tells of it.
        if (const QString leftOut = source->LeftOutText(); !leftOut.isEmpty())
            report(leftOut);
        if (files.Count() == 0) {
            failed(QStringLiteral("no files found; nothing was added"));
            continue;
        }

        SaveSettings settings;
        settings.updateIndex = false; // once for all the sources, below
        CatalogueSave save(progress, settings);
        const Drives::MediumSource medium = source->Medium();
        save.RecordDisc({label, medium.kind, medium.path, medium.identity});
        // A medium catalogued already is stored again only when asked to.
        Catalogue::Disc there;
        Catalogue::Changes changes;
        bool catalogued = !options.again && catalogue.FindCatalogued(medium.identity, label, files, &there);
        if (!catalogued && options.replace) {
            // A disc rewritten since (a new identity, other files) is the one disc with its label.
            QString problem;
            catalogued = catalogue.FindDisc(label, &there, &problem);
            if (!catalogued && problem.contains(QStringLiteral(" discs: "))) {
                progress.clear();
                Error(sourcePath + QStringLiteral(": ") + problem + QStringLiteral("; nothing was added"));
                refused = true;
                continue;
            }
        }
        if (catalogued && !options.replace) {
            progress.clear();
            Error(sourcePath +
                  QStringLiteral(": already in the catalogue as %1; nothing was added (--again "
                                 "adds it as another disc, --replace brings that disc up to date)")
                      .arg(Catalogue::DescribeDisc(there)));
            refused = true;
            continue;
        }
        if (catalogued) {
            if (!catalogue.CompareDisc(there, files, &changes)) {
                failed(DescribeCatalogueError(catalogue.LastError(), path, CatalogueTask::Reading));
                continue;
            }
            save.ReplaceDisc(there.number, there.ranges);
        }
        progress.startSaving(files.Count());
        QString failure;
        try {
            if (!catalogue.Save(save, files))
                failure = save.FailureText();
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        anySaved = anySaved || save.SavedCount() > 0;
        if (!failure.isEmpty()) {
            failed(QStringLiteral("The file list could not be saved to the database.\n") + failure +
                   QStringLiteral("\n%1 of %2 files were saved.").arg(save.SavedCount()).arg(files.Count()));
            if (isDamage(save.Failure())) {
                damaged = true;
                break;
            }
            continue;
        }
        if (save.SavedCount() != files.Count()) {
            failed(QStringLiteral("the catalogue refused some files: %1 of %2 files were saved.")
                       .arg(save.SavedCount())
                       .arg(files.Count()));
            continue;
        }
        progress.done(save.SavedCount());
        if (catalogued) {
            out.Append(QStringLiteral("%1: replaced %2: %3 added, %4 removed, %5 changed")
                           .arg(sourcePath, Catalogue::DescribeDisc(there), Grouped(changes.added.size()),
                                Grouped(changes.removed.size()), Grouped(changes.changed.size())));
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
        {
            Catalogue db(path);
            if (db.Open() && db.IndexBacklog() > kIndexBacklogRows)
                db.RefreshIndex([&] { progress.Working(); });
            progress.clear();
        }
        catalogue.Compact();
    }
    if (!out.Finish())
        return kTrouble;
    return status == kSuccess && refused ? kNothingFound : status;
}

} // namespace Cli
