// quillary-cli verify DISC SOURCE and quillary-cli fingerprint DISC SOURCE: a catalogued disc read
// again from where it lies, its files compared with their rows, or their fingerprints stored.
#include "cli/Commands.h"

#include "cli/DiscSource.h"
#include "cli/Progress.h"
#include "cli/RowWriter.h"
#include "db/CatalogueSave.h"

#include <cstring>
#include <unordered_map>

namespace Cli {

QString UnreadableText(const clsFileColl &files, const DiscFile &file, int error)
{
    return files.Item(qint32(file.key + 1)).FilePath() + QStringLiteral(": cannot be read: ") +
           QString::fromLocal8Bit(std::strerror(error));
}

namespace {

// A disc named on the command line, its stored files, and its files listed from the source.
struct DiscRead
{
    std::unique_ptr<CatalogueStore> db;
    QString path; // the catalogue's, for messages
    CatalogueStore::Disc disc;
    std::vector<CatalogueStore::StoredFile> stored;
    std::unique_ptr<DiscSource> source;
    clsFileColl files;
    std::vector<DiscFile> where;
    std::unordered_map<std::string, std::size_t> listed; // stored path of each file listed: its key
};

// Opens the catalogue (for writing where write says), finds the disc, reads its rows and lists the
// source under its label. False, having said why, on trouble.
bool readDisc(const Options &options, bool write, Progress &progress, DiscRead *read)
{
    read->db = OpenCatalogue(options, write, &read->path);
    if (!read->db)
        return false;
    CatalogueStore &db = *read->db;
    const QString &path = read->path;
    QString problem;
    const CatalogueStore::ReadTransaction snapshot(db);
    if (!snapshot.isOpen() || !db.FindDisc(options.arguments.at(0), &read->disc, &problem) ||
        !db.ReadDiscFiles(read->disc, &read->stored)) {
        if (problem.isEmpty())
            CatalogueError(QStringLiteral("The catalogue could not be read."), db.LastError(), path,
                           CatalogueTask::Reading);
        else
            Error(problem);
        return false;
    }
    const QString &sourcePath = options.arguments.at(1);
    QString why;
    read->source = DiscSource::Open(sourcePath, &why);
    if (!read->source) {
        Error(why);
        return false;
    }
    // Listed under the disc's label, the files have the paths their rows store.
    const QString label = QString::fromStdString(read->disc.label);
    progress.startDisc(label);
    if (!read->source->List(read->files, progress, label, &read->where)) {
        progress.clear();
        Error(read->source->ErrorText());
        return false;
    }
    if (const QString leftOut = read->source->LeftOutText(); !leftOut.isEmpty()) {
        progress.clear();
        Error(leftOut);
    }
    std::string scratch;
    for (qint32 i = 1; i <= read->files.Count(); ++i)
        read->listed.emplace(CatalogueSave::StoredText(read->files.Item(i).FilePathUtf8(scratch)),
                             std::size_t(i - 1));
    return true;
}

bool sameFacts(const CatalogueStore::StoredFile &stored, const clsFile &file, bool *sizeDiffers)
{
    *sizeDiffers = stored.size != CatalogueSave::StoredText(file.FileSizeUtf8());
    return !*sizeDiffers && stored.modified == CatalogueSave::StoredText(file.LastUpdateDateUtf8()) &&
           stored.created == CatalogueSave::StoredText(file.CreateDateUtf8());
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

int RunVerify(const Options &options)
{
    Progress progress;
    DiscRead read;
    if (!readDisc(options, false, progress, &read))
        return kTrouble;

    // Each stored file's outcome, in row order, then the files new on the disc.
    enum class Status { Ok, Changed, Missing, Unreadable, New };
    struct Outcome
    {
        std::string path;
        Status status = Status::Ok;
        QString detail; // what changed, or why the file cannot be read
        bool contentChecked = false;
    };
    std::vector<Outcome> outcomes;
    outcomes.reserve(read.stored.size());
    std::vector<bool> matched(read.where.size());
    std::vector<DiscFile> toRead;
    std::unordered_map<qint64, std::size_t> outcomeOfKey;
    bool anyFingerprint = false;
    for (const CatalogueStore::StoredFile &stored : read.stored) {
        Outcome outcome{stored.path, Status::Ok, {}, false};
        anyFingerprint = anyFingerprint || stored.fingerprint.has_value();
        const auto at = read.listed.find(stored.path);
        if (at == read.listed.end()) {
            outcome.status = Status::Missing;
        } else {
            const std::size_t key = at->second;
            matched[key] = true;
            bool sizeDiffers = false;
            if (!sameFacts(stored, read.files.Item(qint32(key + 1)), &sizeDiffers)) {
                outcome.status = Status::Changed;
                outcome.detail = sizeDiffers ? QStringLiteral("size") : QStringLiteral("time");
            } else if (stored.fingerprint) {
                outcomeOfKey.emplace(qint64(key), outcomes.size());
                toRead.push_back(read.where[key]); // the walk's files are in key order
            }
        }
        outcomes.push_back(std::move(outcome));
    }
    for (std::size_t key = 0; key < matched.size(); ++key) {
        if (!matched[key]) {
            std::string scratch;
            outcomes.push_back(
                {CatalogueSave::StoredText(read.files.Item(qint32(key + 1)).FilePathUtf8(scratch)),
                 Status::New,
                 {},
                 false});
        }
    }

    progress.startReading(ContentBytes(toRead));
    const bool whole = ReadContent(read.source->Tree(), toRead, progress,
                                   [&](const DiscFile &file, const ContentResult &result) {
                                       // The first outcomes are the stored files', in the same order.
                                       const std::size_t index = outcomeOfKey.at(file.key);
                                       Outcome &outcome = outcomes[index];
                                       outcome.contentChecked = true;
                                       if (result.error != 0) {
                                           outcome.status = Status::Unreadable;
                                           outcome.detail = systemError(result.error);
                                       } else if (read.stored[index].fingerprint != result.fingerprint) {
                                           outcome.status = Status::Changed;
                                           outcome.detail = QStringLiteral("content");
                                       }
                                   });
    progress.clear();
    if (!whole) {
        Error(options.arguments.at(1) + QStringLiteral(": the disc could no longer be read while its files "
                                                       "were read"));
        return kTrouble;
    }

    OutputStream out;
    const Format format = options.format.value_or(Format::Text);
    RowWriter writer(out, format);
    static const char *const kStatus[] = {"ok", "changed", "missing", "unreadable", "new"};
    qint64 counts[5] = {};
    qint64 contentChecked = 0;
    for (const Outcome &outcome : outcomes) {
        const auto status = static_cast<std::size_t>(outcome.status);
        ++counts[status];
        contentChecked += outcome.contentChecked ? 1 : 0;
        if (format == Format::Json) {
            out.Append(std::string_view("{\"path\":"));
            writer.jsonString(outcome.path);
            out.Append(
                QStringLiteral(",\"status\":\"%1\",\"detail\":").arg(QLatin1StringView(kStatus[status])));
            if (outcome.detail.isEmpty())
                out.Append(std::string_view("null"));
            else
                writer.jsonString(outcome.detail.toStdString());
            out.Append(QStringLiteral(",\"content\":%1}").arg(outcome.contentChecked ? "true" : "false"));
            out.EndLine();
        } else if (outcome.status != Status::Ok) {
            out.Append(QLatin1StringView(kStatus[status]));
            if (!outcome.detail.isEmpty())
                out.Append(QStringLiteral(" (%1)").arg(outcome.detail));
            out.Append('\t');
            out.Append(outcome.path);
            out.EndLine();
        }
    }
    if (format == Format::Text) {
        out.Append(QStringLiteral("%1: %2 files: %3 ok, %4 changed, %5 missing, %6 unreadable, %7 new; ")
                       .arg(CatalogueStore::DescribeDisc(read.disc), Grouped(qint64(outcomes.size())),
                            Grouped(counts[0]), Grouped(counts[1]), Grouped(counts[2]), Grouped(counts[3]),
                            Grouped(counts[4])) +
                   (anyFingerprint
                        ? QStringLiteral("content compared for %1 files").arg(Grouped(contentChecked))
                        : QStringLiteral("content was not checked (the disc has no fingerprints)")));
        out.EndLine();
    }
    if (!out.Finish())
        return kTrouble;
    if (!read.source->LeftOutText().isEmpty())
        return kTrouble;
    return counts[0] == qint64(outcomes.size()) ? kSuccess : kNothingFound;
}

int RunFingerprint(const Options &options)
{
    Progress progress;
    DiscRead read;
    if (!readDisc(options, true, progress, &read))
        return kTrouble;
    int status = kSuccess;
    const auto report = [&](const QString &message) {
        progress.clear();
        Error(message);
        status = kTrouble;
    };
    // A file is fingerprinted where its stored path and size match a file of the source.
    std::vector<DiscFile> toRead;
    std::unordered_map<qint64, qint64> rowOfKey;
    for (const CatalogueStore::StoredFile &stored : read.stored) {
        const auto at = read.listed.find(stored.path);
        const QString name = QString::fromStdString(stored.path);
        if (at == read.listed.end()) {
            report(name + QStringLiteral(": not found on ") + options.arguments.at(1));
        } else if (stored.size !=
                   CatalogueSave::StoredText(read.files.Item(qint32(at->second + 1)).FileSizeUtf8())) {
            report(name + QStringLiteral(": its size differs from the catalogue's; not fingerprinted"));
        } else {
            rowOfKey.emplace(qint64(at->second), stored.row);
            toRead.push_back(read.where[at->second]);
        }
    }
    std::vector<std::pair<qint64, Fingerprint>> fingerprints;
    progress.startReading(ContentBytes(toRead));
    const bool whole = ReadContent(
        read.source->Tree(), toRead, progress, [&](const DiscFile &file, const ContentResult &result) {
            if (result.error == 0)
                fingerprints.emplace_back(rowOfKey.at(file.key), result.fingerprint);
            else
                report(UnreadableText(read.files, file, result.error));
        });
    if (!whole) {
        report(options.arguments.at(1) +
               QStringLiteral(
                   ": the disc could no longer be read while its files were read; nothing was stored"));
        return kTrouble;
    }
    if (!read.db->StoreFingerprints(fingerprints)) {
        progress.clear();
        CatalogueError(QStringLiteral("No fingerprint was stored."), read.db->LastError(), read.path,
                       CatalogueTask::Saving);
        return kTrouble;
    }
    progress.clear();
    OutputStream out;
    out.Append(QStringLiteral("%1: %2 of %3 files fingerprinted")
                   .arg(CatalogueStore::DescribeDisc(read.disc), Grouped(qint64(fingerprints.size())),
                        Grouped(qint64(read.stored.size()))));
    out.EndLine();
    return out.Finish() ? status : kTrouble;
}

} // namespace Cli
