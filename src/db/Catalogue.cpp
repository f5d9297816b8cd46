#include "db/Catalogue.h"

#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueQuery.h"
#include "db/CatalogueSave.h"
#include "db/CompactCatalogue.h"
#include "db/DiscTables.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <unordered_map>

namespace {

// The columns read from each row, in the order of the list's columns.
constexpr std::string_view kRowColumns =
    "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate FROM Quillary";

// The same with each row's fingerprint after them, as 32 hexadecimal digits (NULL where it has none).
constexpr std::string_view kRowColumnsWithFingerprints =
    "SELECT q.FileName, q.CDLabel, q.FilePath, q.FileSize, q.LastUpdateDate, q.CreateDate, "
    "lower(hex(f.Hash)) FROM Quillary AS q LEFT JOIN QuillaryFingerprint AS f ON f.Row = q.rowid";

// Prepares select over Quillary with its rows in the order they were added (a table without row IDs
// in its own order).
bool prepareInTableOrder(sqlite3 *db, const std::string &select, SqliteStatement &rows)
{
    return rows.prepare(db, select + " ORDER BY rowid") || rows.prepare(db, select);
}

} // namespace

Catalogue::~Catalogue() = default;

bool Catalogue::Open(SqliteConnection::Access access)
{
    m_db = std::make_unique<CDatabase>(m_path, access);
    return m_db->IsOpen();
}

bool Catalogue::fail()
{
    if (m_db)
        m_db->Fail();
    return false;
}

bool Catalogue::Save(CatalogueSave &save, const clsFileColl &files) const
{
    return save.SaveFileList(m_path, files);
}

Catalogue::Snapshot::Snapshot(Catalogue &catalogue)
    : m_db(catalogue.Handle()),
      m_open(m_db && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
{
    if (!m_open)
        catalogue.fail();
}

Catalogue::Snapshot::~Snapshot()
{
    if (m_open)
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
}

bool Catalogue::Rows::next()
{
    for (;;) {
        const int rc = m_statement.step();
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE) {
            m_error = SqliteError(m_db);
            return false;
        }
        if (m_nextRange >= m_ranges.size())
            return false;
        m_statement.reset();
        m_statement.bind(1, m_ranges[m_nextRange].first);
        m_statement.bind(2, m_ranges[m_nextRange].second);
        ++m_nextRange;
    }
}

bool Catalogue::hasFingerprints()
{
    return SqliteStatement(Handle(), "SELECT Row, Hash FROM QuillaryFingerprint").isValid();
}

bool Catalogue::ReadRows(Rows *rows, const Disc *disc)
{
    if (!IsOpen())
        return false;
    rows->m_db = Handle();
    rows->m_error = {};
    rows->m_ranges.clear();
    rows->m_nextRange = 0;
    // Fingerprints where the catalogue has them (a table with row IDs).
    rows->m_fingerprints =
        hasFingerprints() && rows->m_statement.prepare(Handle(), std::string(kRowColumnsWithFingerprints) +
                                                                     (disc ? " WHERE q.rowid >= ?1 AND "
                                                                             "q.rowid <= ?2 ORDER BY q.rowid"
                                                                           : " ORDER BY q.rowid"));
    if (!disc)
        return rows->m_fingerprints ||
               prepareInTableOrder(Handle(), std::string(kRowColumns), rows->m_statement) || fail();
    // One range after the other, each in row order; the statement starts on an empty range.
    if (!rows->m_fingerprints &&
        !rows->m_statement.prepare(Handle(), std::string(kRowColumns) +
                                                 " WHERE rowid >= ?1 AND rowid <= ?2 ORDER BY rowid"))
        return fail();
    rows->m_ranges = disc->ranges;
    rows->m_statement.bind(1, qint64(1));
    rows->m_statement.bind(2, qint64(0));
    return true;
}

namespace {

// Adds the rows the statement gives (row ID, label, size as an integer), in table order, as runs of one
// label to discs.
bool addRuns(SqliteStatement &rows, std::vector<Catalogue::Disc> *discs, bool withRowIds)
{
    Catalogue::Disc *current = nullptr;
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        const int first = withRowIds ? 1 : 0;
        const std::string_view label = rows.text(first);
        if (!current || current->label != label) {
            discs->push_back({});
            current = &discs->back();
            current->label = label;
            current->firstRow = withRowIds ? rows.int64(0) : 0;
        }
        if (withRowIds) {
            const qint64 row = rows.int64(0);
            if (current->ranges.empty())
                current->ranges.push_back({row, row});
            current->ranges.back().second = row;
        }
        ++current->files;
        current->bytes += rows.int64(first + 1);
    }
    return rc == SQLITE_DONE;
}

} // namespace

bool Catalogue::ListDiscs(std::vector<Disc> *discs)
{
    discs->clear();
    if (!IsOpen())
        return false;
    sqlite3 *db = Handle();
    SqliteStatement rows;
    if (!rows.prepare(db, "SELECT rowid, CDLabel, CAST(FileSize AS INTEGER) FROM Quillary WHERE rowid >= ?1 "
                          "AND rowid <= ?2 ORDER BY rowid")) {
        // A table without row IDs, another program's: no disc can be recorded, every row is in a run.
        SqliteStatement all;
        if (!all.prepare(db, "SELECT CDLabel, CAST(FileSize AS INTEGER) FROM Quillary"))
            return fail();
        return addRuns(all, discs, false) || fail();
    }
    // The recorded discs' ranges in row order; a catalogue made before the table of discs has none.
    struct Range
    {
        qint64 first;
        qint64 last;
        size_t disc;
        bool uncounted;
        qint64 files;
        qint64 bytes;
    };
    std::vector<Range> ranges;
    std::vector<Disc> recorded;
    // Each range's files and bytes as the save counted them (NULL in ranges, or tables, of an older build:
    // then they are counted here).
    SqliteStatement records;
    const auto listRanges = [&](const char *counts) {
        return records.prepare(db, std::string("SELECT r.FirstRow, r.LastRow, d.Number, d.Label, d.Added, "
                                               "d.SourceKind, d.SourcePath, d.Identity, ") +
                                       counts +
                                       " FROM QuillaryDiscRows AS r JOIN QuillaryDisc AS d ON d.Number = "
                                       "r.Disc ORDER BY r.FirstRow");
    };
    if (listRanges("r.Files, r.Bytes") || listRanges("NULL, NULL")) {
        std::unordered_map<qint64, size_t> byNumber;
        int rc;
        while ((rc = records.step()) == SQLITE_ROW) {
            const qint64 number = records.int64(2);
            const auto [at, added] = byNumber.try_emplace(number, recorded.size());
            if (added) {
                Disc disc;
                disc.number = number;
                disc.label = records.text(3);
                disc.added = QString::fromUtf8(records.text(4));
                disc.sourceKind = QString::fromUtf8(records.text(5));
                disc.sourcePath = QString::fromUtf8(records.text(6));
                if (!records.isNull(7))
                    disc.identity = QString::fromUtf8(records.text(7));
                disc.firstRow = records.int64(0);
                recorded.push_back(std::move(disc));
            }
            ranges.push_back({records.int64(0), records.int64(1), at->second, records.isNull(8),
                              records.int64(8), records.int64(9)});
            recorded[at->second].ranges.push_back({records.int64(0), records.int64(1)});
        }
        if (rc != SQLITE_DONE)
            return fail();
    }
    SqliteStatement totals;
    if (std::any_of(ranges.begin(), ranges.end(), [](const Range &range) { return range.uncounted; }) &&
        !totals.prepare(db, kRangeTotals))
        return fail();
    // The rows between the ranges are no disc's: runs of one label.
    std::vector<Disc> runs;
    const auto readRuns = [&](qint64 from, qint64 to) {
        if (from > to)
            return true;
        rows.reset();
        rows.bind(1, from);
        rows.bind(2, to);
        return addRuns(rows, &runs, true);
    };
    qint64 next = std::numeric_limits<qint64>::min();
    for (const Range &range : ranges) {
        if (range.first > next && !readRuns(next, range.first - 1))
            return fail();
        if (range.uncounted) {
            totals.reset();
            totals.bind(1, range.first);
            totals.bind(2, range.last);
            if (totals.step() != SQLITE_ROW)
                return fail();
        }
        recorded[range.disc].files += range.uncounted ? totals.int64(0) : range.files;
        recorded[range.disc].bytes += range.uncounted ? totals.int64(1) : range.bytes;
        next = std::max(next, range.last == std::numeric_limits<qint64>::max() ? range.last : range.last + 1);
    }
    if (!readRuns(next, std::numeric_limits<qint64>::max()))
        return fail();
    discs->reserve(recorded.size() + runs.size());
    std::merge(std::make_move_iterator(recorded.begin()), std::make_move_iterator(recorded.end()),
               std::make_move_iterator(runs.begin()), std::make_move_iterator(runs.end()),
               std::back_inserter(*discs),
               [](const Disc &a, const Disc &b) { return a.firstRow < b.firstRow; });
    return true;
}

bool Catalogue::FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent)
{
    duplicates->clear();
    if (byContent && !hasFingerprints())
        return true;
    std::vector<Disc> discs;
    if (!ListDiscs(&discs))
        return false;
    // Which disc a row is on: the ranges of all discs, by their first row.
    struct Range
    {
        qint64 first;
        qint64 last;
        const Disc *disc;
    };
    std::vector<Range> ranges;
    for (const Disc &disc : discs) {
        for (const auto &[first, last] : disc.ranges)
            ranges.push_back({first, last, &disc});
    }
    std::sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.first < b.first; });
    const auto discOf = [&](qint64 row) -> const Disc * {
        auto at = std::upper_bound(ranges.begin(), ranges.end(), row,
                                   [](qint64 value, const Range &range) { return value < range.first; });
        if (at == ranges.begin())
            return nullptr;
        --at;
        return row <= at->last ? at->disc : nullptr;
    };
    // The rows whose name and size another row has, grouped by name and size, biggest first.
    SqliteStatement rows;
    // One sort of the table by name and size counts each group (a join on an expression would run as a
    // nested loop); the rows of groups of two or more are then sorted for the output. By content, one
    // sort of the fingerprints does it.
    const bool prepared =
        byContent
            ? rows.prepare(Handle(),
                           "SELECT f.Row, q.FileName, CAST(q.FileSize AS INTEGER) AS Size, q.FilePath, "
                           "lower(hex(f.Hash)) FROM (SELECT Row, Hash, count(*) OVER (PARTITION BY "
                           "Hash) AS Copies FROM QuillaryFingerprint) AS f JOIN Quillary AS q ON "
                           "q.rowid = f.Row WHERE f.Copies > 1 ORDER BY Size DESC, f.Hash, f.Row")
            : rows.prepare(Handle(),
                           "SELECT Row, Name, Size, Path FROM (SELECT rowid AS Row, FileName AS Name, "
                           "CAST(FileSize AS INTEGER) AS Size, FilePath AS Path, count(*) OVER (PARTITION "
                           "BY FileName, CAST(FileSize AS INTEGER)) AS Copies FROM Quillary WHERE FileName "
                           "IS NOT NULL) WHERE Copies > 1 ORDER BY Size DESC, Name, Row");
    if (!prepared)
        return fail();
    Duplicate group;
    std::vector<const Disc *> groupDiscs;
    const auto finish = [&] {
        std::sort(groupDiscs.begin(), groupDiscs.end());
        if (std::unique(groupDiscs.begin(), groupDiscs.end()) - groupDiscs.begin() > 1)
            duplicates->push_back(std::move(group));
        group = {};
        groupDiscs.clear();
    };
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        const std::string_view name = rows.text(1);
        const qint64 size = rows.int64(2);
        const std::string_view fingerprint = byContent ? rows.text(4) : std::string_view();
        if (!group.copies.empty() &&
            (byContent ? group.fingerprint != fingerprint : group.name != name || group.size != size))
            finish();
        if (group.copies.empty()) {
            group.name = name;
            group.size = size;
            group.fingerprint = fingerprint;
        }
        const Disc *disc = discOf(rows.int64(0));
        groupDiscs.push_back(disc);
        group.copies.push_back(
            {disc ? disc->number : 0, disc ? disc->label : std::string(), std::string(rows.text(3))});
    }
    if (rc != SQLITE_DONE)
        return fail();
    if (!group.copies.empty())
        finish();
    return true;
}

bool Catalogue::ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files)
{
    files->clear();
    if (!IsOpen())
        return false;
    const bool withFingerprints = hasFingerprints();
    SqliteStatement rows(
        Handle(), withFingerprints
                      ? "SELECT q.rowid, q.FilePath, q.FileSize, q.LastUpdateDate, q.CreateDate, f.Hash "
                        "FROM Quillary AS q LEFT JOIN QuillaryFingerprint AS f ON f.Row = q.rowid "
                        "WHERE q.rowid >= ?1 AND q.rowid <= ?2 ORDER BY q.rowid"
                      : "SELECT rowid, FilePath, FileSize, LastUpdateDate, CreateDate FROM Quillary "
                        "WHERE rowid >= ?1 AND rowid <= ?2 ORDER BY rowid");
    if (!rows.isValid())
        return fail();
    for (const auto &[first, last] : disc.ranges) {
        rows.reset();
        rows.bind(1, first);
        rows.bind(2, last);
        int rc;
        while ((rc = rows.step()) == SQLITE_ROW) {
            StoredFile file{rows.int64(0),
                            std::string(rows.text(1)),
                            std::string(rows.text(2)),
                            std::string(rows.text(3)),
                            std::string(rows.text(4)),
                            std::nullopt};
            const std::string_view hash = withFingerprints ? rows.blob(5) : std::string_view();
            if (hash.size() == sizeof(Fingerprint::bytes)) {
                file.fingerprint.emplace();
                std::copy(hash.begin(), hash.end(), file.fingerprint->bytes.begin());
            }
            files->push_back(std::move(file));
        }
        if (rc != SQLITE_DONE)
            return fail();
    }
    return true;
}

bool Catalogue::StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints)
{
    return inWriteTransaction([&] {
        if (!m_db->Execute(CatalogueSave::FingerprintTableSql()))
            return false;
        SqliteStatement insert(Handle(),
                               "INSERT OR REPLACE INTO QuillaryFingerprint (Row, Hash) VALUES (?1, ?2)");
        if (!insert.isValid())
            return fail();
        for (const auto &[row, fingerprint] : fingerprints) {
            insert.bind(1, row);
            insert.bindBlob(2, fingerprint.blob());
            if (!insert.run())
                return fail();
        }
        return true;
    });
}

bool Catalogue::inWriteTransaction(const std::function<bool()> &work)
{
    if (!IsOpen() || !m_db->BeginTrans())
        return false;
    if (work() && m_db->CommitTrans())
        return true;
    // A failed ROLLBACK would overwrite LastError(); a successful one leaves the failure's reason.
    if (m_db->InTransaction())
        m_db->RollbackTrans();
    return false;
}

bool Catalogue::RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem)
{
    removed->clear();
    problem->clear();
    if (IsOpen())
        m_db->Execute(kBulkDeletion);
    return inWriteTransaction([&] {
        for (const QString &name : names) {
            Disc disc;
            if (!FindDisc(name, &disc, problem))
                return false;
            // A disc named twice is removed once.
            if (std::none_of(removed->begin(), removed->end(),
                             [&](const Disc &done) { return done.firstRow == disc.firstRow; }))
                removed->push_back(std::move(disc));
        }
        SqliteStatement rows(Handle(), "DELETE FROM Quillary WHERE rowid >= ?1 AND rowid <= ?2");
        if (!rows.isValid())
            return fail();
        for (const Disc &disc : *removed) {
            for (const auto &[first, last] : disc.ranges) {
                rows.bind(1, first);
                rows.bind(2, last);
                if (!rows.run())
                    return fail();
            }
            if (disc.recorded()) {
                for (const char *sql : {"DELETE FROM QuillaryDiscRows WHERE Disc = ?1",
                                        "DELETE FROM QuillaryDisc WHERE Number = ?1"}) {
                    SqliteStatement record(Handle(), sql);
                    record.bind(1, disc.number);
                    if (!record.isValid() || !record.run())
                        return fail();
                }
            }
        }
        // The index's triggers noted the rows removed; they leave the index here, in the same
        // transaction. A catalogue without the index, or a failure there, leaves searches exact anyway.
        CatalogueIndex::Refresh(Handle());
        return true;
    });
}

bool Catalogue::RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem)
{
    problem->clear();
    return inWriteTransaction([&] {
        if (!FindDisc(name, renamed, problem))
            return false;
        // The path is stored as "LABEL: dir/file": its label part is the row's label.
        SqliteStatement rows(
            Handle(), "UPDATE Quillary SET CDLabel = ?3, FilePath = CASE WHEN substr(FilePath, 1, "
                      "length(CDLabel)) = CDLabel THEN ?3 || substr(FilePath, length(CDLabel) + 1) ELSE "
                      "FilePath END WHERE rowid >= ?1 AND rowid <= ?2");
        if (!rows.isValid())
            return fail();
        for (const auto &[first, last] : renamed->ranges) {
            rows.bind(1, first);
            rows.bind(2, last);
            rows.bind(3, label);
            if (!rows.run())
                return fail();
        }
        if (renamed->recorded()) {
            SqliteStatement record(Handle(), "UPDATE QuillaryDisc SET Label = ?2 WHERE Number = ?1");
            record.bind(1, renamed->number);
            record.bind(2, label);
            if (!record.isValid() || !record.run())
                return fail();
        }
        return true;
    });
}

bool Catalogue::RecountDiscs(qint64 *corrected)
{
    *corrected = 0;
    SqliteStatement ranges;
    if (!IsOpen() || !ranges.prepare(Handle(), "SELECT 1 FROM QuillaryDiscRows LIMIT 0"))
        return IsOpen(); // no disc recorded
    return inWriteTransaction([&] {
        SqliteStatement counts;
        if (!counts.prepare(Handle(), kDiscRowCounts) && !m_db->Execute(kAddDiscRowCounts))
            return false;
        SqliteStatement totals(Handle(), kRangeTotals);
        SqliteStatement update(Handle(),
                               "UPDATE QuillaryDiscRows SET Files = ?2, Bytes = ?3 WHERE FirstRow = "
                               "?1 AND (Files IS NOT ?2 OR Bytes IS NOT ?3)");
        if (!totals.isValid() || !update.isValid() ||
            !ranges.prepare(Handle(), "SELECT FirstRow, LastRow FROM QuillaryDiscRows"))
            return fail();
        int rc;
        while ((rc = ranges.step()) == SQLITE_ROW) {
            totals.reset();
            totals.bind(1, ranges.int64(0));
            totals.bind(2, ranges.int64(1));
            if (totals.step() != SQLITE_ROW)
                return fail();
            update.bind(1, ranges.int64(0));
            update.bind(2, totals.int64(0));
            update.bind(3, totals.int64(1));
            if (!update.run())
                return fail();
            *corrected += sqlite3_changes(Handle());
        }
        return rc == SQLITE_DONE || fail();
    });
}

bool Catalogue::IsCatalogue(CDatabaseError *error)
{
    return CatalogueCheck::IsCatalogue(*m_db, error);
}

bool Catalogue::Integrity(QStringList *problems, CDatabaseError *error, int budgetMs)
{
    return CatalogueCheck::Integrity(*m_db, problems, error, budgetMs);
}

CatalogueCheck::Index Catalogue::CompleteIndex(CDatabaseError *error, QString *finding)
{
    return CatalogueCheck::CompleteIndex(*m_db, error, finding);
}

qint64 Catalogue::IndexBacklog()
{
    return CatalogueIndex::Backlog(Handle());
}

bool Catalogue::RefreshIndex(const std::function<void()> &yield)
{
    return CatalogueIndex::Refresh(Handle(), yield);
}

bool Catalogue::Compact() const
{
    return CatalogueCompaction::CompactCatalogue(m_path);
}

// ---- The catalogue file as quillary-cli uses it ----

namespace {

// The integrity check before the first disc is stored takes about 0.1 s for a million rows whose file
// is in memory; on a larger catalogue it is given up, and damage is then caught by the save's own
// statements.
constexpr int kIntegrityCheckMs = 3000;

// The rows a search finds, read as they are found.
class FoundRows : public CatalogueRows
{
public:
    explicit FoundRows(sqlite3 *db) : m_query(db) {}
    bool next() override { return m_query.next(); }
    std::string_view field(int column) const override { return m_query.field(column); }
    const CDatabaseError &error() const override { return m_query.error(); }
    CatalogueQuery m_query;
};

} // namespace

bool Catalogue::BeginRead()
{
    m_read = std::make_unique<Snapshot>(*this);
    if (!m_read->isOpen())
        m_read.reset();
    return m_read != nullptr;
}

void Catalogue::EndRead()
{
    m_read.reset();
}

std::unique_ptr<CatalogueRows> Catalogue::OpenRows(const Disc *disc)
{
    auto rows = std::make_unique<Rows>();
    if (!ReadRows(rows.get(), disc))
        return NoRows(LastError());
    return rows;
}

std::unique_ptr<CatalogueRows> Catalogue::Find(std::unique_ptr<NameMatcher> matcher, const Disc *disc)
{
    if (!IsOpen())
        return NoRows(LastError());
    auto rows = std::make_unique<FoundRows>(Handle());
    if (disc)
        rows->m_query.restrictTo(disc->ranges);
    rows->m_query.find(std::move(matcher), CatalogueQuery::Counting::Optional);
    return rows;
}

qint64 Catalogue::DiscWithIdentity(const QString &identity)
{
    if (!IsOpen())
        return -1;
    SqliteStatement same(Handle(), "SELECT Number FROM QuillaryDisc WHERE Identity = ?1 ORDER BY Number");
    if (!same.isValid())
        return 0; // no table of discs: nothing recorded
    same.bind(1, identity);
    return same.step() == SQLITE_ROW ? same.int64(0) : 0;
}

bool Catalogue::ReadyToAdd(CDatabaseError *error)
{
    // A check that cannot finish in time (a very large catalogue) leaves damage to the save's own
    // statements.
    QStringList problems;
    CDatabaseError checkError;
    if (Integrity(&problems, &checkError, kIntegrityCheckMs) && !problems.isEmpty()) {
        *error = {problems.first().remove(QStringLiteral("*** in database main ***")).simplified(),
                  SQLITE_CORRUPT};
        return false;
    }
    return true;
}

bool Catalogue::StoreDisc(const DiscRecord &disc, const clsFileColl &files,
                          const std::vector<std::optional<Fingerprint>> *fingerprints, const Disc *replacing,
                          bool, SaveObserver &observer, Stored *stored)
{
    // Medium already catalogued: the caller's FindCatalogued on this machine's file is all there is.
    SaveSettings settings;
    settings.updateIndex = false; // Tidy, once for all the discs
    CatalogueSave save(observer, settings);
    if (fingerprints)
        save.StoreFingerprints(fingerprints);
    save.RecordDisc(disc);
    if (replacing)
        save.ReplaceDisc(replacing->number, replacing->ranges);
    const bool saved = Save(save, files);
    *stored = {};
    stored->saved = save.SavedCount();
    stored->number = save.DiscNumber();
    if (!saved) {
        stored->failure = save.Failure();
        stored->failureText = save.FailureText();
    }
    return saved;
}

void Catalogue::Tidy(const std::function<void()> &working)
{
    {
        Catalogue db(m_path);
        if (db.Open() && db.IndexBacklog() > kIndexBacklogRows)
            db.RefreshIndex(working);
    }
    Compact();
}

bool Catalogue::UpgradeSchema(QString *outcome, CDatabaseError *)
{
    // A catalogue file gets what it lacks (the table of discs) at its first save.
    *outcome = QStringLiteral("schema: a catalogue file, nothing to upgrade");
    return true;
}

bool Catalogue::IsEmpty(bool *empty)
{
    qint64 rows = 0;
    if (!IsOpen() || !m_db->QueryInteger("SELECT count(*) FROM Quillary", &rows))
        return false;
    qint64 discs = 0;
    SqliteStatement records(Handle(), "SELECT count(*) FROM QuillaryDisc");
    if (records.isValid() && records.step() == SQLITE_ROW)
        discs = records.int64(0);
    *empty = rows == 0 && discs == 0;
    return true;
}

bool Catalogue::BeginCopy()
{
    if (!IsOpen() || !m_db->BeginTrans())
        return false;
    return (m_db->Execute(kCreateDiscTables) && m_db->Execute(CatalogueSave::FingerprintTableSql())) ||
           (m_db->RollbackTrans(), false);
}

bool Catalogue::CopyDisc(const Disc &disc, CatalogueRows &rows, qint64 *copied)
{
    *copied = 0;
    SqliteStatement insert = m_db->Prepare("INSERT INTO Quillary (FileName, CDLabel, FilePath, FileSize, "
                                           "LastUpdateDate, CreateDate) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    if (!insert.isValid())
        return false;
    SqliteStatement fingerprint =
        m_db->Prepare("INSERT INTO QuillaryFingerprint (Row, Hash) VALUES (?1, ?2)");
    if (!fingerprint.isValid())
        return false;
    qint64 first = 0;
    while (rows.next()) {
        for (int column = 0; column < 6; ++column)
            insert.bind(column + 1, rows.field(column));
        if (!insert.run())
            return fail();
        const qint64 row = sqlite3_last_insert_rowid(Handle());
        if (first == 0)
            first = row;
        ++*copied;
        // The fingerprint as its 16 bytes.
        const QByteArray hash = QByteArray::fromHex(
            QByteArray::fromRawData(rows.fingerprint().data(), qsizetype(rows.fingerprint().size())));
        if (hash.size() == qsizetype(sizeof(Fingerprint::bytes))) {
            fingerprint.bind(1, row);
            fingerprint.bindBlob(2, std::string_view(hash.constData(), size_t(hash.size())));
            if (!fingerprint.run())
                return fail();
        }
    }
    if (rows.error().isSet() || !disc.recorded() || *copied == 0)
        return !rows.error().isSet();
    SqliteStatement record = m_db->Prepare("INSERT INTO QuillaryDisc (Number, Label, Added, SourceKind, "
                                           "SourcePath, Identity) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    // The range's counts where the table has them (one made by an older build counts when read).
    SqliteStatement range = m_db->Prepare(
        SqliteStatement(Handle(), kDiscRowCounts).isValid()
            ? "INSERT INTO QuillaryDiscRows (FirstRow, LastRow, Disc, Files, Bytes) SELECT ?1, ?2, ?3, "
              "count(*), "
              "coalesce(sum(CAST(FileSize AS INTEGER)), 0) FROM Quillary WHERE rowid >= ?1 AND rowid <= ?2"
            : "INSERT INTO QuillaryDiscRows (FirstRow, LastRow, Disc) VALUES (?1, ?2, ?3)");
    if (!record.isValid() || !range.isValid())
        return false;
    record.bind(1, disc.number);
    record.bind(2, std::string_view(disc.label));
    record.bind(3, disc.added);
    record.bind(4, disc.sourceKind);
    record.bind(5, disc.sourcePath);
    if (!disc.identity.isNull())
        record.bind(6, disc.identity);
    range.bind(1, first);
    range.bind(2, sqlite3_last_insert_rowid(Handle()));
    range.bind(3, disc.number);
    return (record.run() && range.run()) || fail();
}

bool Catalogue::EndCopy(bool commit)
{
    if (!commit) {
        if (m_db->InTransaction())
            m_db->RollbackTrans();
        return true;
    }
    if (!m_db->CommitTrans())
        return false;
    // The search index catches up with the rows copied (searches are exact without it).
    CatalogueIndex::Refresh(Handle());
    return true;
}
