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

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CatalogueSave;
class clsFileColl;

class Catalogue
{
public:
    struct Disc;

    explicit Catalogue(QString path) : m_path(std::move(path)) {}
    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;
    ~Catalogue();

    const QString &Path() const { return m_path; }

    // Opens the connection (see CDatabase). False with LastError() saying why.
    bool Open(SqliteConnection::Access access = SqliteConnection::Access::ReadWrite);
    bool IsOpen() const { return m_db && m_db->IsOpen(); }
    const CDatabaseError &LastError() const { return m_db ? m_db->LastError() : m_closed; }
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
    class Rows
    {
    public:
        bool next();
        std::string_view field(int column) const { return m_statement.text(column); }
        // The file's fingerprint as 32 hexadecimal digits; empty where it has none.
        std::string_view fingerprint() const
        {
            return m_fingerprints ? m_statement.text(ListColumns::kCount) : "";
        }
        // Set when next() ended on a failure.
        const CDatabaseError &error() const { return m_error; }

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

    // A disc of the catalogue: one the table of discs records, or a run of consecutive rows with one
    // label that no record claims (number 0, nothing else known of it).
    struct Disc
    {
        qint64 number = 0;
        std::string label;
        qint64 files = 0;
        qint64 bytes = 0; // the stored decimal sizes as integers; a blank one counts 0
        QString added;    // UTC, ISO 8601
        QString sourceKind;
        QString sourcePath;
        QString identity; // null when the medium has none
        qint64 firstRow = 0;
        // The row IDs it owns, each range first to last; empty in a table without row IDs.
        std::vector<std::pair<qint64, qint64>> ranges;
        bool recorded() const { return number != 0; }
    };
    // Every disc, in the order of their first rows.
    bool ListDiscs(std::vector<Disc> *discs);

    // The disc a user names: a recorded disc's number, else a label that names exactly one disc. False
    // when none or several do (*problem says so in the user's words, listing the candidates), or when
    // the catalogue cannot be read (*problem empty, LastError() says why).
    bool FindDisc(const QString &name, Disc *disc, QString *problem);
    // How a disc is named in messages: "disc 3 'LABEL'" or "the unrecorded disc 'LABEL' (rows 4-9)".
    static QString DescribeDisc(const Disc &disc);

    // The disc already in the catalogue that a medium about to be stored is: the recorded disc with the
    // same identity where the medium has one, else a disc with the same label and the same files (stored
    // path and size). False when there is none (or it cannot be told).
    bool FindCatalogued(const QString &identity, const QString &label, const clsFileColl &files, Disc *found);

    // Files that lie on two or more discs: the same name and size, or byContent the same fingerprint.
    // Groups biggest first (then by name, or by fingerprint), each with its copies in row order.
    struct Copy
    {
        qint64 disc = 0; // the disc's number; 0 for a disc no record claims
        std::string label;
        std::string path;
    };
    struct Duplicate
    {
        std::string name; // by content: the name of the first copy
        qint64 size = 0;
        std::string fingerprint; // by content: 32 hexadecimal digits
        std::vector<Copy> copies;
    };
    bool FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent = false);

    // ---- Fingerprints ----
    // A disc's files as stored, in row order, with their fingerprints where they have one.
    struct StoredFile
    {
        qint64 row = 0;
        std::string path; // "LABEL: dir/file"
        std::string size;
        std::string modified;
        std::string created;
        std::optional<Fingerprint> fingerprint;
    };
    bool ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files);
    // Stores the fingerprints of rows (replacing any they had), all in one transaction.
    bool StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints);

    // What storing files in place of a disc's rows changes, by stored path, each list sorted.
    struct Changes
    {
        QStringList added;
        QStringList removed;
        QStringList changed; // in size or in a time
    };
    bool CompareDisc(const Disc &disc, const clsFileColl &files, Changes *changes);

    // Removes the named discs, their rows and records, in one transaction that also brings the search
    // index up to date. Nothing is removed when any name fails (see FindDisc).
    bool RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem);
    // Gives the named disc a new label: the label column of its rows, the label part of each stored path
    // ("LABEL: dir/file") and its record, in one transaction.
    bool RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem);

    // ---- Checking and upkeep ----
    bool IsCatalogue(CDatabaseError *error);
    bool Integrity(QStringList *problems, CDatabaseError *error, int budgetMs = -1);
    CatalogueCheck::Index CompleteIndex(CDatabaseError *error, QString *finding);
    // Counts the files and bytes of every recorded disc's rows again, and corrects the stored counts that
    // differ (rows changed by another program) or are missing (stored by an older build), in one
    // transaction; *corrected says how many ranges of rows were corrected.
    bool RecountDiscs(qint64 *corrected);
    // Rows a search reads from the table because the index does not cover them; -1 without an index.
    qint64 IndexBacklog();
    bool RefreshIndex(const std::function<void()> &yield = {});
    // Gives free pages back to the file system (CatalogueCompaction), through a connection of its own.
    bool Compact() const;

private:
    bool fail();
    bool hasFingerprints();
    bool inWriteTransaction(const std::function<bool()> &work);

    QString m_path;
    std::unique_ptr<CDatabase> m_db;
    CDatabaseError m_closed{QStringLiteral("the catalogue is not open"), SQLITE_MISUSE};
};
