// quillary-cli export [--disc LABEL] and quillary-cli discs: the catalogue read in one transaction.
#include "cli/Commands.h"

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
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    const CatalogueStore::ReadTransaction snapshot(*db);
    if (!snapshot.isOpen())
        return unreadable(db->LastError(), path);
    CatalogueStore::Disc disc;
    if (options.disc) {
        QString problem;
        if (!db->FindDisc(*options.disc, &disc, &problem)) {
            if (problem.isEmpty())
                return unreadable(db->LastError(), path);
            Error(problem);
            return kTrouble;
        }
    }
    const std::unique_ptr<CatalogueRows> found = db->OpenRows(options.disc ? &disc : nullptr);
    CatalogueRows &rows = *found;

    OutputStream out;
    RowWriter writer(out, options.format.value_or(Format::Text), true);
    writer.Header();
    qint64 listed = 0;
    while (rows.next()) {
        writer.Row({rows.field(0), rows.field(1), rows.field(2), rows.field(3), rows.field(4), rows.field(5)},
                   rows.fingerprint());
        ++listed;
    }
    if (rows.error().isSet()) {
        out.Flush();
        return unreadable(rows.error(), path);
    }
    return out.Finish() ? kSuccess : kTrouble;
}

namespace {

// A disc's figures in the text form: tab-separated, "-" for what is not known.
void discLine(OutputStream &out, const CatalogueStore::Disc &disc)
{
    const auto text = [](const QString &value) { return value.isEmpty() ? QStringLiteral("-") : value; };
    out.Append(disc.recorded() ? QString::number(disc.number) : QStringLiteral("-"));
    out.Append('\t');
    out.Append(disc.label);
    out.Append(QStringLiteral("\t%1\t%2\t").arg(disc.files).arg(disc.bytes));
    out.Append(text(disc.added));
    out.Append('\t');
    out.Append(text(disc.identity));
    out.Append('\t');
    out.Append(disc.recorded() ? disc.sourceKind + QStringLiteral(" ") + disc.sourcePath
                               : QStringLiteral("unrecorded"));
    out.EndLine();
}

void discCsv(OutputStream &out, RowWriter &writer, const CatalogueStore::Disc &disc)
{
    const auto field = [&](const QString &value) {
        const QByteArray utf8 = value.toUtf8();
        writer.csvField(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    };
    field(disc.recorded() ? QString::number(disc.number) : QString());
    out.Append(',');
    writer.csvField(disc.label);
    out.Append(QStringLiteral(",%1,%2,").arg(disc.files).arg(disc.bytes));
    field(disc.added);
    out.Append(',');
    field(disc.identity);
    out.Append(',');
    field(disc.recorded() ? disc.sourceKind : QStringLiteral("unrecorded"));
    out.Append(',');
    field(disc.sourcePath);
    out.EndLine("\r\n");
}

void discJson(OutputStream &out, RowWriter &writer, const CatalogueStore::Disc &disc)
{
    const auto string = [&](const QString &value) {
        if (value.isNull()) {
            out.Append(std::string_view("null"));
            return;
        }
        const QByteArray utf8 = value.toUtf8();
        writer.jsonString(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    };
    out.Append(std::string_view("{\"number\":"));
    out.Append(disc.recorded() ? QString::number(disc.number) : QStringLiteral("null"));
    out.Append(std::string_view(",\"label\":"));
    writer.jsonString(disc.label);
    out.Append(QStringLiteral(",\"files\":%1,\"bytes\":%2,\"added\":").arg(disc.files).arg(disc.bytes));
    string(disc.recorded() ? disc.added : QString());
    out.Append(std::string_view(",\"identity\":"));
    string(disc.identity);
    out.Append(std::string_view(",\"source_kind\":"));
    string(disc.recorded() ? disc.sourceKind : QStringLiteral("unrecorded"));
    out.Append(std::string_view(",\"source\":"));
    string(disc.recorded() ? disc.sourcePath : QString());
    out.Append('}');
    out.EndLine();
}

} // namespace

int RunDiscs(const Options &options)
{
    QString path;
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    std::vector<CatalogueStore::Disc> discs;
    {
        const CatalogueStore::ReadTransaction snapshot(*db);
        if (!snapshot.isOpen() || !db->ListDiscs(&discs))
            return unreadable(db->LastError(), path);
    }
    OutputStream out;
    const Format format = options.format.value_or(Format::Text);
    RowWriter writer(out, format);
    if (format == Format::Csv)
        out.EndLine("Number,Label,Files,Bytes,Added,Identity,Source Kind,Source\r\n");
    for (const CatalogueStore::Disc &disc : discs) {
        switch (format) {
        case Format::Text:
            discLine(out, disc);
            break;
        case Format::Csv:
            discCsv(out, writer, disc);
            break;
        case Format::Json:
            discJson(out, writer, disc);
            break;
        }
    }
    return out.Finish() ? kSuccess : kTrouble;
}

int RunDuplicates(const Options &options)
{
    QString path;
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, false, &path);
    if (!db)
        return kTrouble;
    std::vector<CatalogueStore::Duplicate> duplicates;
    {
        const CatalogueStore::ReadTransaction snapshot(*db);
        if (!snapshot.isOpen() || !db->FindDuplicates(&duplicates, options.content))
            return unreadable(db->LastError(), path);
    }
    OutputStream out;
    const Format format = options.format.value_or(Format::Text);
    RowWriter writer(out, format);
    const auto number = [](qint64 disc) { return disc ? QString::number(disc) : QString(); };
    const bool content = options.content;
    if (format == Format::Csv)
        out.EndLine(content ? "Size,Fingerprint,File Name,Disc,Label,Path\r\n"
                            : "Size,File Name,Disc,Label,Path\r\n");
    for (const CatalogueStore::Duplicate &group : duplicates) {
        switch (format) {
        case Format::Text:
            // The name and size (by content: the size and fingerprint), then one indented line per copy:
            // the disc's number ("-" for rows no record claims) and the stored path.
            out.Append(QStringLiteral("%1\t").arg(group.size));
            out.Append(content ? group.fingerprint : group.name);
            out.EndLine();
            for (const CatalogueStore::Copy &copy : group.copies) {
                out.Append(QStringLiteral("\t%1\t").arg(copy.disc ? QString::number(copy.disc) : "-"));
                out.Append(copy.path);
                out.EndLine();
            }
            break;
        case Format::Csv:
            for (const CatalogueStore::Copy &copy : group.copies) {
                out.Append(QStringLiteral("%1,").arg(group.size));
                if (content) {
                    out.Append(group.fingerprint);
                    out.Append(',');
                }
                writer.csvField(group.name);
                out.Append(QStringLiteral(",%1,").arg(number(copy.disc)));
                writer.csvField(copy.label);
                out.Append(',');
                writer.csvField(copy.path);
                out.EndLine("\r\n");
            }
            break;
        case Format::Json:
            out.Append(QStringLiteral("{\"size\":%1,\"name\":").arg(group.size));
            writer.jsonString(group.name);
            if (content) {
                out.Append(std::string_view(",\"fingerprint\":"));
                writer.jsonString(group.fingerprint);
            }
            out.Append(std::string_view(",\"copies\":["));
            for (size_t i = 0; i < group.copies.size(); ++i) {
                const CatalogueStore::Copy &copy = group.copies[i];
                out.Append(QStringLiteral("%1{\"disc\":%2,\"label\":")
                               .arg(i ? "," : "", copy.disc ? QString::number(copy.disc) : "null"));
                writer.jsonString(copy.label);
                out.Append(std::string_view(",\"path\":"));
                writer.jsonString(copy.path);
                out.Append('}');
            }
            out.Append(std::string_view("]}"));
            out.EndLine();
            break;
        }
    }
    if (!out.Finish())
        return kTrouble;
    return duplicates.empty() ? kNothingFound : kSuccess;
}

int RunRemove(const Options &options)
{
    QString path;
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, true, &path);
    if (!db)
        return kTrouble;
    std::vector<CatalogueStore::Disc> removed;
    QString problem;
    if (!db->RemoveDiscs(options.arguments, &removed, &problem)) {
        if (!problem.isEmpty())
            Error(problem + QStringLiteral("; nothing was removed"));
        else
            CatalogueError(QStringLiteral("Nothing was removed."), db->LastError(), path,
                           CatalogueTask::Saving);
        return kTrouble;
    }
    OutputStream out;
    for (const CatalogueStore::Disc &disc : removed) {
        out.Append(QStringLiteral("removed %1: %2 files")
                       .arg(CatalogueStore::DescribeDisc(disc), Grouped(disc.files)));
        out.EndLine();
    }
    db->Tidy({}); // silent, as after a save: the catalogue is complete either way
    return out.Finish() ? kSuccess : kTrouble;
}

int RunRename(const Options &options)
{
    QString path;
    const std::unique_ptr<CatalogueStore> db = OpenCatalogue(options, true, &path);
    if (!db)
        return kTrouble;
    const QString label = options.arguments.at(1);
    if (label.trimmed().isEmpty()) {
        Error(QStringLiteral("a disc's label cannot be blank"));
        return kTrouble;
    }
    CatalogueStore::Disc disc;
    QString problem;
    if (!db->RenameDisc(options.arguments.at(0), label, &disc, &problem)) {
        if (!problem.isEmpty())
            Error(problem);
        else
            CatalogueError(QStringLiteral("The disc was not renamed."), db->LastError(), path,
                           CatalogueTask::Saving);
        return kTrouble;
    }
    OutputStream out;
    out.Append(QStringLiteral("renamed %1 to '%2': %3 files")
                   .arg(CatalogueStore::DescribeDisc(disc), label, Grouped(disc.files)));
    out.EndLine();
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
