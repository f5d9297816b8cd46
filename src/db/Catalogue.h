#pragma once
// The catalogue: the one owner of its schema and of every statement on it. The front ends (the window,
// quillary-cli) store discs, search, list and check through it; the parts it is made of (CatalogueSave,
// CatalogueQuery, CatalogueIndex, CatalogueCheck, CatalogueCompaction) live beside it in db/.
//
// A Catalogue names a file; it opens a connection of its own when asked to (Open), and closes it when it
// is destroyed. Storing a file list and compaction use connections of their own, as they always have.

#include "catalogue/Fingerprint.h"
#include "catalogue/ListColumns.h"
#include "db/CDatabase.h"
#include "db/CatalogueCheck.h"
#include "db/CatalogueStore.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CatalogueSave;
class clsFileColl;

class Catalogue : public CatalogueStore
{
public:
    explicit Catalogue(QString path) : m_path(std::move(path)) {}
    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;
    ~Catalogue() override;

    const QString &Path() const { return m_path; }
    QString Name() const override { return m_path; }

    // Opens the connection (see CDatabase). False with LastError() saying why.
    bool Open(SqliteConnection::Access access = SqliteConnection::Access::ReadWrite);
    bool IsOpen() const { return m_db && m_db->IsOpen(); }
    const CDatabaseError &LastError() const override { return m_db ? m_db->LastError() : m_closed; }
    // The open connection, for the parts of the catalogue that work on one.
    CDatabase &Database() { return *m_db; }
    sqlite3 *Handle() const { return m_db ? m_db->Handle() : nullptr; }

    // ---- Storing ----
    // Stores the file list as new rows through the save's own connection (CatalogueSave::SaveFileList).
    bool Save(CatalogueSave &save, const clsFileColl &files) const;

    // ---- Reading, in one snapshot ----
    // A read transaction on the open connection, ended however the reader ends.
    class Snapshot
    {
    public:
        explicit Snapshot(Catalogue &catalogue);
        ~Snapshot();
        Snapshot(const Snapshot &) = delete;
        Snapshot &operator=(const Snapshot &) = delete;
        bool isOpen() const { return m_open; }

    private:
        sqlite3 *m_db;
        bool m_open;
    };

    // The rows of the table in the order they were added (a table without row IDs in its own order), in
    // the list's column order.
    class Rows : public CatalogueRows
    {
    public:
        bool next() override;
        std::string_view field(int column) const override { return m_statement.text(column); }
        // The file's fingerprint as 32 hexadecimal digits; empty where it has none.
        std::string_view fingerprint() const override
        {
            return m_fingerprints ? m_statement.text(ListColumns::kCount) : "";
        }
        // Set when next() ended on a failure.
        const CDatabaseError &error() const override { return m_error; }

    private:
        friend class Catalogue;
        sqlite3 *m_db = nullptr;
        SqliteStatement m_statement;
        std::vector<std::pair<qint64, qint64>> m_ranges; // of the disc read, one at a time
        size_t m_nextRange = 0;
        bool m_fingerprints = false;
        CDatabaseError m_error;
    };
    // Every row, or those of one disc. False with LastError() saying why.
    bool ReadRows(Rows *rows, const Disc *disc = nullptr);

    // Every disc, in the order of their first rows.
    bool ListDiscs(std::vector<Disc> *discs) override;

    // Files of the same name and size, or byContent the same fingerprint, on two or more discs (see
    // CatalogueStore).
    bool FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent = false) override;
    bool ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files) override;
    bool StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints) override;

    // Removes the named discs, their rows and records, in one transaction that also brings the search
    // index up to date. Nothing is removed when any name fails (see FindDisc).
    bool RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem) override;
    // Gives the named disc a new label: the label column of its rows, the label part of each stored path
    // ("LABEL: dir/file") and its record, in one transaction.
    bool RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem) override;

    // ---- Checking and upkeep ----
    bool IsCatalogue(CDatabaseError *error) override;
    bool Integrity(QStringList *problems, CDatabaseError *error, int budgetMs);
    bool Integrity(QStringList *problems, CDatabaseError *error) override
    {
        return Integrity(problems, error, -1);
    }
    CatalogueCheck::Index CompleteIndex(CDatabaseError *error, QString *finding) override;
    // Counts the files and bytes of every recorded disc's rows again, and corrects the stored counts that
    // differ (rows changed by another program) or are missing (stored by an older build), in one
    // transaction; *corrected says how many ranges of rows were corrected.
    bool RecountDiscs(qint64 *corrected) override;
    // Rows a search reads from the table because the index does not cover them; -1 without an index.
    qint64 IndexBacklog();
    bool RefreshIndex(const std::function<void()> &yield = {});
    // Gives free pages back to the file system (CatalogueCompaction), through a connection of its own.
    bool Compact() const;

    // ---- The catalogue as quillary-cli uses it (CatalogueStore) ----
    bool BeginRead() override;
    void EndRead() override;
    std::unique_ptr<CatalogueRows> OpenRows(const Disc *disc = nullptr) override;
    std::unique_ptr<CatalogueRows> Find(std::unique_ptr<NameMatcher> matcher, const Disc *disc) override;
    bool ReadyToAdd(CDatabaseError *error) override;
    bool StoreDisc(const DiscRecord &disc, const clsFileColl &files,
                   const std::vector<std::optional<Fingerprint>> *fingerprints, const Disc *replacing,
                   bool refuseCatalogued, SaveObserver &observer, Stored *stored) override;
    void Tidy(const std::function<void()> &working) override;
    bool UpgradeSchema(QString *outcome, CDatabaseError *error) override;
    bool IsEmpty(bool *empty) override;
    bool BeginCopy() override;
    bool CopyDisc(const Disc &disc, CatalogueRows &rows, qint64 *copied) override;
    bool EndCopy(bool commit) override;

protected:
    qint64 DiscWithIdentity(const QString &identity) override;

private:
    bool fail();
    bool hasFingerprints();
    bool inWriteTransaction(const std::function<bool()> &work);

    QString m_path;
    std::unique_ptr<CDatabase> m_db;
    std::unique_ptr<Snapshot> m_read;
    CDatabaseError m_closed{QStringLiteral("the catalogue is not open"), SQLITE_MISUSE};
};
