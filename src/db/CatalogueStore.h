#pragma once
// A catalogue as quillary-cli works on it, wherever it is kept: a catalogue file (Catalogue, SQLite) or a
// catalogue on a PostgreSQL server (ServerCatalogue). Open() picks the one a name gives; the commands
// see only this interface, so every command works on both.

#include "catalogue/Fingerprint.h"
#include "db/CatalogueCheck.h"
#include "db/CatalogueError.h"
#include "db/NameMatcher.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class clsFileColl;
class SaveObserver;
struct DiscRecord;

// Rows read one by one, six texts each in the list's column order (a missing value reads as empty).
class CatalogueRows
{
public:
    virtual ~CatalogueRows() = default;
    // Moves to the next row; false after the last one or on a failure (error()).
    virtual bool next() = 0;
    virtual std::string_view field(int column) const = 0;
    // The file's content fingerprint as 32 hexadecimal digits; empty where it has none.
    virtual std::string_view fingerprint() const { return {}; }
    virtual const CDatabaseError &error() const = 0;
};

class CatalogueStore
{
public:
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
    // Files that lie on two or more discs: the same name and size, or by content the same fingerprint.
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
    // What storing files in place of a disc's rows changes, by stored path, each list sorted.
    struct Changes
    {
        QStringList added;
        QStringList removed;
        QStringList changed; // in size or in a time
    };
    // How storing a disc went.
    struct Stored
    {
        qint32 saved = 0;     // rows stored
        qint64 number = 0;    // the disc's number, 0 when it was not recorded
        bool refused = false; // the medium was found catalogued (by another machine meanwhile)
        Disc there;           // where, when refused
        CDatabaseError failure;
        QString failureText; // the failure in the user's words
    };
    enum class Access { Read, Write, Upgrade };

    virtual ~CatalogueStore() = default;

    // Whether a name given as --catalogue names a catalogue server: a libpq connection URI
    // (postgresql://..., postgres://...) or a connection string of keywords (service=NAME, host=...).
    static bool NamesServer(const QString &name);
    // The name as messages show it: a password in a connection text replaced by "***".
    static QString DisplayName(const QString &name);
    // The catalogue the name gives, open. A file that is only read is opened read-only where it cannot
    // be written. A server's catalogue must have the schema this program knows (Access::Upgrade also
    // accepts an older one). Null with *error saying why.
    static std::unique_ptr<CatalogueStore> Open(const QString &name, Access access, CDatabaseError *error);
    // Makes a catalogue's tables in an empty database on a server (ServerCatalogue::Initialise).
    static bool MakeOnServer(const QString &name, QString *outcome, CDatabaseError *error);
    // How messages name the catalogue: its path, or the server's connection text without a password.
    virtual QString Name() const = 0;
    virtual const CDatabaseError &LastError() const = 0;

    // ---- Reading ----
    // One snapshot for all reads until it ends.
    class ReadTransaction
    {
    public:
        explicit ReadTransaction(CatalogueStore &store) : m_store(store), m_open(store.BeginRead()) {}
        ~ReadTransaction()
        {
            if (m_open)
                m_store.EndRead();
        }
        ReadTransaction(const ReadTransaction &) = delete;
        ReadTransaction &operator=(const ReadTransaction &) = delete;
        bool isOpen() const { return m_open; }

    private:
        CatalogueStore &m_store;
        bool m_open;
    };
    virtual bool BeginRead() = 0;
    virtual void EndRead() = 0;
    // Every row in table order, or those of one disc. Never null: a failure ends the rows and is their
    // error().
    virtual std::unique_ptr<CatalogueRows> OpenRows(const Disc *disc = nullptr) = 0;
    // The rows whose name the matcher accepts, in table order, optionally of one disc; the rows are
    // streamed, not counted first. Never null, as OpenRows.
    virtual std::unique_ptr<CatalogueRows> Find(std::unique_ptr<NameMatcher> matcher, const Disc *disc) = 0;
    // Every disc, in the order of their first rows.
    virtual bool ListDiscs(std::vector<Disc> *discs) = 0;
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
    // Groups biggest first (then by name, or by fingerprint), each with its copies in row order.
    virtual bool FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent = false) = 0;
    virtual bool ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files) = 0;
    bool CompareDisc(const Disc &disc, const clsFileColl &files, Changes *changes);

    // ---- Changing ----
    // Removes the named discs, their rows and records, in one transaction. Nothing is removed when any
    // name fails (see FindDisc).
    virtual bool RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem) = 0;
    // Stores the fingerprints of rows (replacing any they had), all in one transaction.
    virtual bool StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints) = 0;
    // Gives the named disc a new label: its rows' label, the label part of their paths and its record,
    // in one transaction.
    virtual bool RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem) = 0;

    // ---- Adding discs ----
    // Whether discs can be added now: false with *error saying why (a damaged file, a role without the
    // right to add). Asked before any disc is read.
    virtual bool ReadyToAdd(CDatabaseError *error) = 0;
    // Stores the files as one disc with its record, or in place of the disc replacing, with the files'
    // fingerprints where given ((*fingerprints)[i] that of record i + 1). With refuseCatalogued, a medium
    // found catalogued (FindCatalogued) is not stored (stored->refused).
    virtual bool StoreDisc(const DiscRecord &disc, const clsFileColl &files,
                           const std::vector<std::optional<Fingerprint>> *fingerprints, const Disc *replacing,
                           bool refuseCatalogued, SaveObserver &observer, Stored *stored) = 0;
    // Upkeep after discs were added (search index, free space); silent, the catalogue is complete anyway.
    virtual void Tidy(const std::function<void()> &working) = 0;
    // Tidy brings the search index up to date once this many rows wait for it: until then a search
    // reads them from the table (a few tens of milliseconds), and the index grows faster in large steps.
    static constexpr qint64 kIndexBacklogRows = 250000;

    // ---- Checking ----
    virtual bool IsCatalogue(CDatabaseError *error) = 0;
    virtual bool Integrity(QStringList *problems, CDatabaseError *error) = 0;
    virtual CatalogueCheck::Index CompleteIndex(CDatabaseError *error, QString *finding) = 0;
    // Corrects the discs' stored counts of files and bytes that differ from their rows; *corrected says
    // how many were corrected (LastError() on failure).
    virtual bool RecountDiscs(qint64 *corrected) = 0;
    // Brings an older schema up to this program's, in one transaction: *outcome says what was done.
    virtual bool UpgradeSchema(QString *outcome, CDatabaseError *error) = 0;

    // ---- Copying a whole catalogue (CopyCatalogue) ----
    // Whether the catalogue holds no row and no disc.
    virtual bool IsEmpty(bool *empty) = 0;
    // Opens the one write transaction of the copy.
    virtual bool BeginCopy() = 0;
    // Adds a disc as it is (its record kept, number and time included; an unrecorded one stays so) with
    // the rows given, and their fingerprints; *copied counts them.
    virtual bool CopyDisc(const Disc &disc, CatalogueRows &rows, qint64 *copied) = 0;
    // Commits the copy (false: nothing of it stays).
    virtual bool EndCopy(bool commit) = 0;

protected:
    // The discs among which FindDisc looks for the one a name (a number or a label) names: every disc will
    // do, in the order of ListDiscs.
    virtual bool ListDiscsNamed(const QString &name, std::vector<Disc> *discs)
    {
        (void)name;
        return ListDiscs(discs);
    }
    // Rows that end at once on the error.
    static std::unique_ptr<CatalogueRows> NoRows(const CDatabaseError &error);
    // The number of the recorded disc with this identity: 0 when none, -1 when it cannot be told.
    virtual qint64 DiscWithIdentity(const QString &identity) = 0;
};

// Copies every disc and row of from into the empty catalogue to, in one transaction of to, and
// compares the counts of both afterwards. False with *problem saying why (nothing copied then).
// progress is told the rows copied so far.
bool CopyCatalogue(CatalogueStore &from, CatalogueStore &to, const std::function<void(qint64)> &progress,
                   qint64 *discs, qint64 *rows, QString *problem);
