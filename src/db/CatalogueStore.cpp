#include "db/CatalogueStore.h"

#include "catalogue/ListColumns.h"
#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "db/Catalogue.h"
#include "db/CatalogueSave.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <unordered_map>

bool CatalogueStore::FindDisc(const QString &name, Disc *disc, QString *problem)
{
    problem->clear();
    std::vector<Disc> discs;
    if (!ListDiscsNamed(name, &discs))
        return false;
    // A number names the recorded disc with that number.
    bool isNumber = false;
    const qint64 number = name.toLongLong(&isNumber);
    if (isNumber && number > 0) {
        for (Disc &candidate : discs) {
            if (candidate.number == number) {
                *disc = std::move(candidate);
                return true;
            }
        }
    }
    const std::string label = name.toStdString();
    std::vector<Disc *> named;
    for (Disc &candidate : discs) {
        if (candidate.label == label)
            named.push_back(&candidate);
    }
    if (named.size() == 1 && !named.front()->ranges.empty()) {
        *disc = std::move(*named.front());
        return true;
    }
    if (named.empty()) {
        *problem =
            QStringLiteral("no disc '%1' in the catalogue (name a disc by its number or its label: see "
                           "the discs command)")
                .arg(name);
    } else if (named.size() == 1) {
        *problem = QStringLiteral("the discs of a table without row IDs cannot be told apart");
    } else {
        QStringList candidates;
        for (const Disc *candidate : named)
            candidates << DescribeDisc(*candidate);
        *problem = QStringLiteral("'%1' names %2 discs: %3; name one by its number")
                       .arg(name)
                       .arg(named.size())
                       .arg(candidates.join(QStringLiteral(", ")));
    }
    return false;
}

QString CatalogueStore::DescribeDisc(const Disc &disc)
{
    const QString label = QString::fromStdString(disc.label);
    if (disc.recorded()) {
        QString text = QStringLiteral("disc %1 '%2'").arg(disc.number).arg(label);
        if (!disc.sourcePath.isEmpty())
            text += QStringLiteral(" (%1 %2, added %3)").arg(disc.sourceKind, disc.sourcePath, disc.added);
        return text;
    }
    const qint64 first = disc.ranges.empty() ? 0 : disc.ranges.front().first;
    const qint64 last = disc.ranges.empty() ? 0 : disc.ranges.back().second;
    return QStringLiteral("the unrecorded disc '%1' (rows %2-%3)").arg(label).arg(first).arg(last);
}

namespace {

// The stored path and size of every file, "path\0size", sorted.
std::vector<std::string> fileKeys(const clsFileColl &files)
{
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(files.Count()));
    std::string scratch;
    for (qint32 i = 1; i <= files.Count(); ++i) {
        const clsFile &file = files.Item(i);
        keys.push_back(CatalogueSave::StoredText(file.FilePathUtf8(scratch)) + '\0' +
                       CatalogueSave::StoredText(file.FileSizeUtf8()));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

bool CatalogueStore::FindCatalogued(const QString &identity, const QString &label, const clsFileColl &files,
                                    Disc *found)
{
    QString problem;
    if (!identity.isNull()) {
        const qint64 number = DiscWithIdentity(identity);
        return number > 0 && FindDisc(QString::number(number), found, &problem);
    }
    std::vector<Disc> discs;
    if (!ListDiscsNamed(label, &discs))
        return false;
    const std::string wanted = label.toStdString();
    std::vector<std::string> keys;
    for (Disc &disc : discs) {
        if (disc.label != wanted || disc.files != files.Count() || disc.ranges.empty())
            continue;
        // Mostly the rows hold the files in the order the listing gives them.
        std::unique_ptr<CatalogueRows> rows = OpenRows(&disc);
        std::string scratch;
        qint32 same = 0;
        while (same < files.Count() && rows->next()) {
            const clsFile &file = files.Item(same + 1);
            if (!CatalogueSave::StoredAs(rows->field(ListColumns::Path), file.FilePathUtf8(scratch)) ||
                !CatalogueSave::StoredAs(rows->field(ListColumns::FileSize), file.FileSizeUtf8()))
                break;
            ++same;
        }
        if (rows->error().isSet())
            return false;
        if (same == files.Count()) {
            *found = std::move(disc);
            return true;
        }
        if (keys.empty())
            keys = fileKeys(files);
        std::vector<std::string> stored;
        rows = OpenRows(&disc);
        while (rows->next()) {
            stored.push_back(std::string(rows->field(ListColumns::Path)) + '\0' +
                             std::string(rows->field(ListColumns::FileSize)));
        }
        if (rows->error().isSet())
            return false;
        std::sort(stored.begin(), stored.end());
        if (stored == keys) {
            *found = std::move(disc);
            return true;
        }
    }
    return false;
}

bool CatalogueStore::CompareDisc(const Disc &disc, const clsFileColl &files, Changes *changes)
{
    *changes = {};
    const std::unique_ptr<CatalogueRows> rows = OpenRows(&disc);
    const auto changed = [](std::string_view path, QStringList &list) { list << QString::fromUtf8(path); };
    // Rows and files side by side while they hold the same paths (mostly all of them); then the stored
    // path's size and times, old and new, by path.
    std::string scratch;
    qint32 next = 1;
    bool more = false;
    while ((more = rows->next()) && next <= files.Count()) {
        const clsFile &file = files.Item(next);
        const std::string_view path = file.FilePathUtf8(scratch);
        if (!CatalogueSave::StoredAs(rows->field(ListColumns::Path), path))
            break;
        if (!CatalogueSave::StoredAs(rows->field(ListColumns::FileSize), file.FileSizeUtf8()) ||
            !CatalogueSave::StoredAs(rows->field(ListColumns::LastUpdated), file.LastUpdateDateUtf8()) ||
            !CatalogueSave::StoredAs(rows->field(ListColumns::Created), file.CreateDateUtf8()))
            changed(rows->field(ListColumns::Path), changes->changed);
        ++next;
    }
    const auto facts = [](std::string_view size, std::string_view updated, std::string_view created) {
        return std::string(size) + '\0' + std::string(updated) + '\0' + std::string(created);
    };
    std::unordered_map<std::string, std::string> old;
    for (; more; more = rows->next()) {
        old.emplace(std::string(rows->field(ListColumns::Path)),
                    facts(rows->field(ListColumns::FileSize), rows->field(ListColumns::LastUpdated),
                          rows->field(ListColumns::Created)));
    }
    if (rows->error().isSet())
        return false;
    for (; next <= files.Count(); ++next) {
        const clsFile &file = files.Item(next);
        const std::string path = CatalogueSave::StoredText(file.FilePathUtf8(scratch));
        const auto at = old.find(path);
        if (at == old.end()) {
            changed(path, changes->added);
            continue;
        }
        if (at->second != facts(CatalogueSave::StoredText(file.FileSizeUtf8()),
                                CatalogueSave::StoredText(file.LastUpdateDateUtf8()),
                                CatalogueSave::StoredText(file.CreateDateUtf8())))
            changed(path, changes->changed);
        old.erase(at);
    }
    for (const auto &[path, unused] : old)
        changed(path, changes->removed);
    changes->added.sort();
    changes->removed.sort();
    changes->changed.sort();
    return true;
}

namespace {

// A cursor that only reports why there are no rows.
class FailedRows : public CatalogueRows
{
public:
    explicit FailedRows(CDatabaseError error) : m_error(std::move(error)) {}
    bool next() override { return false; }
    std::string_view field(int) const override { return {}; }
    const CDatabaseError &error() const override { return m_error; }

private:
    CDatabaseError m_error;
};

} // namespace

std::unique_ptr<CatalogueRows> CatalogueStore::NoRows(const CDatabaseError &error)
{
    return std::make_unique<FailedRows>(error.isSet() ? error
                                                      : CDatabaseError{QStringLiteral("unknown error"), 1});
}

bool CatalogueStore::NamesServer(const QString &name)
{
    // A URI, or "keyword=value ..." as libpq reads it; an existing file of such a name stays a file.
    static const QRegularExpression keywords(QStringLiteral("^\\s*[a-z_]+\\s*="));
    if (name.startsWith(QLatin1StringView("postgresql://")) ||
        name.startsWith(QLatin1StringView("postgres://")))
        return true;
    return keywords.match(name).hasMatch() && !QFileInfo::exists(name);
}

bool CopyCatalogue(CatalogueStore &from, CatalogueStore &to, const std::function<void(qint64)> &progress,
                   qint64 *discs, qint64 *rows, QString *problem)
{
    *discs = *rows = 0;
    const auto failed = [&](CatalogueStore &store, const CDatabaseError &error, CatalogueTask task) {
        *problem = DescribeCatalogueError(error, store.Name(), task);
        return false;
    };
    bool empty = false;
    if (!to.IsEmpty(&empty))
        return failed(to, to.LastError(), CatalogueTask::Reading);
    if (!empty) {
        *problem = QStringLiteral("the catalogue '%1' is not empty: a catalogue is copied only into an empty "
                                  "one; nothing was copied")
                       .arg(to.Name());
        return false;
    }
    const CatalogueStore::ReadTransaction read(from);
    std::vector<CatalogueStore::Disc> list;
    if (!read.isOpen() || !from.ListDiscs(&list))
        return failed(from, from.LastError(), CatalogueTask::Reading);
    if (!to.BeginCopy())
        return failed(to, to.LastError(), CatalogueTask::Saving);
    qint64 expectedRows = 0;
    for (const CatalogueStore::Disc &disc : list) {
        const std::unique_ptr<CatalogueRows> source = from.OpenRows(&disc);
        qint64 copied = 0;
        const bool stored = to.CopyDisc(disc, *source, &copied);
        if (source->error().isSet() || !stored) {
            const CDatabaseError error = to.LastError();
            to.EndCopy(false);
            *rows = 0;
            return source->error().isSet() ? failed(from, source->error(), CatalogueTask::Reading)
                                           : failed(to, error, CatalogueTask::Saving);
        }
        if (copied != disc.files) {
            to.EndCopy(false);
            *problem = QStringLiteral("%1 gave %2 of its %3 files; nothing was copied")
                           .arg(CatalogueStore::DescribeDisc(disc))
                           .arg(copied)
                           .arg(disc.files);
            return false;
        }
        *rows += copied;
        expectedRows += disc.files;
        if (progress)
            progress(*rows);
    }
    if (!to.EndCopy(true))
        return failed(to, to.LastError(), CatalogueTask::Saving);
    // The copy read back: as many discs, each with as many files.
    std::vector<CatalogueStore::Disc> copy;
    {
        const CatalogueStore::ReadTransaction check(to);
        if (!check.isOpen() || !to.ListDiscs(&copy))
            return failed(to, to.LastError(), CatalogueTask::Reading);
    }
    qint64 copiedRows = 0;
    bool same = copy.size() == list.size();
    for (size_t i = 0; i < copy.size(); ++i) {
        copiedRows += copy[i].files;
        same = same && copy[i].files == list[i].files && copy[i].label == list[i].label;
    }
    if (!same || copiedRows != expectedRows) {
        *problem = QStringLiteral("the copy in '%1' holds %2 discs and %3 files, not %4 and %5")
                       .arg(to.Name())
                       .arg(copy.size())
                       .arg(copiedRows)
                       .arg(list.size())
                       .arg(expectedRows);
        return false;
    }
    *discs = qint64(list.size());
    return true;
}
