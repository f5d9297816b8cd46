#pragma once
// Saving a file list into the catalogue: every file record becomes one new row of Quillary.

#include "catalogue/Fingerprint.h"
#include "db/CatalogueError.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class clsFile;
class clsFileColl;
class CDatabase;
class SqliteStatement;

// The disc a save stores, as the catalogue's table of discs records it (see catalogue.sql).
struct DiscRecord
{
    QString label;      // empty: the label of the first file record
    QString sourceKind; // "device", "image" or "directory"
    QString sourcePath;
    QString identity; // null when the medium has none
};

// What a save tells its front end while it runs.
class SaveObserver
{
public:
    virtual ~SaveObserver() = default;
    // The record at position (from 1) is about to be stored.
    virtual void RecordStarting(qint32 position, const clsFile &record) = 0;
    // The record has been handled; savedCount records have been stored so far. The save yields here.
    virtual void RecordDone(qint32 savedCount) = 0;
    // Called now and then during the work after the last record (bringing the search index up to
    // date), so a window can yield.
    virtual void Working() {}
};

struct SaveSettings
{
    int commitIntervalMs = 500; // the longest time rows wait for their commit
    int lockAllowanceMs = 5000; // how long the save waits, in all, for locks other programs hold
    // Whether the save brings the search index up to date before it returns. A front end that does it
    // later (CatalogueIndex::CatchUp) saves that time; searches are exact either way.
    bool updateIndex = true;
};

// Where the time of the last save went (for the benchmark).
struct SaveTimings
{
    qint64 rowsNs = 0;  // storing and committing the rows, with the front end's progress and yields
    qint64 indexNs = 0; // bringing the search index up to date (when the save does it)
};

class CatalogueSave
{
public:
    explicit CatalogueSave(SaveObserver &observer, SaveSettings settings = {});
    ~CatalogueSave();
    CatalogueSave(const CatalogueSave &) = delete;
    CatalogueSave &operator=(const CatalogueSave &) = delete;

    // The next save records its rows as this disc: in the same transaction as each commit group, the
    // disc (with the first group that stores a row) and the range of row IDs the group stored. A
    // catalogue without the table of discs gets it; one where it cannot be had (a table Quillary without
    // row IDs) is saved without the record, as is one whose record cannot be written.
    void RecordDisc(DiscRecord disc) { m_disc = std::move(disc); }
    // The next save replaces the rows of a disc already catalogued (its number, 0 for rows no record
    // claims, and its ranges of rows) instead of adding a disc, all in one transaction (the save commits
    // once, at its end, and after a failure keeps nothing): the disc's old rows, in order, take the new
    // records in order (a row that already holds its record is not written), records beyond them are
    // added as new rows, old rows beyond them are deleted, and the record is brought up to date. The
    // disc's rows read in order are thus the files in list order, as after adding the list afresh.
    void ReplaceDisc(qint64 number, std::vector<std::pair<qint64, qint64>> ranges)
    {
        m_replaced = number;
        m_replacedRanges = std::move(ranges);
        m_replacing = true;
    }
    // The next save also stores the files' fingerprints: (*fingerprints)[i] is that of the record
    // files.Item(i + 1), none where it has none. The save is then one transaction (it commits once, at
    // its end), so that a disc is never stored without its fingerprints, nor they without it.
    void StoreFingerprints(const std::vector<std::optional<Fingerprint>> *fingerprints)
    {
        m_fingerprints = fingerprints;
    }
    // Whether a record's piece (UTF-8 as the record holds it) is stored as the text stored: an empty piece
    // is stored as a single blank, one that is not valid UTF-8 as its text form.
    static bool StoredAs(std::string_view stored, std::string_view piece);
    static std::string StoredText(std::string_view piece);

    // The disc's number once a group has recorded it; 0 when none was.
    qint64 DiscNumber() const { return m_discNumber; }

    // Stores the records of files as new rows, in list order, through one connection to the
    // catalogue at path. Each record is stored on its own: one the database refuses is undone alone
    // and not counted, and the save goes on with the next. Rows are committed in groups (at least
    // every commitIntervalMs, and at the end); a crash loses at most the group in progress, and once
    // the save has returned every row it counts is on the disk. Then the search index is brought up
    // to date on the same connection, unless the settings leave that for later.
    // Returns false when a failure ended the save (a catalogue that cannot be opened or written, no
    // table Quillary, a full disk, a lock held too long); Failure() says what went wrong, the rows
    // counted before it stay stored, and nothing else is done.
    bool SaveFileList(const QString &path, const clsFileColl &files);

    qint32 SavedCount() const { return m_saved; }
    // The statements that give a catalogue made before it the table of fingerprints.
    static const char *FingerprintTableSql();
    const CDatabaseError &Failure() const { return m_failure; }
    // The failure in words for the user.
    QString FailureText() const;
    const SaveTimings &Timings() const { return m_timings; }

private:
    enum class Outcome { Stored, Refused, Failed };

    // Adds one record as one row in the open transaction.
    bool SaveFileRecord(const clsFile &record);
    Outcome insert(const clsFile &record);
    bool beginGroup();
    bool commitGroup();
    void abandonGroup();
    bool storeGroupAgain();
    bool prepareDiscRecord();
    bool storeFingerprint(qint64 row);
    Outcome fingerprinted(qint64 row);
    bool forgetFingerprints();
    void recordGroup();
    void bindDisc(SqliteStatement &statement, int first) const;
    bool fail(const CDatabaseError &error);
    bool failed() const { return m_failure.isSet(); }

    SaveObserver &m_observer;
    SaveSettings m_settings;
    const clsFileColl *m_files = nullptr;
    CDatabase *m_db = nullptr;
    SqliteStatement *m_insert = nullptr;
    std::optional<DiscRecord> m_disc;
    const std::vector<std::optional<Fingerprint>> *m_fingerprints = nullptr;
    SqliteStatement *m_fingerprintInsert = nullptr; // prepared in the open group
    qint32 m_position = 0;                          // of the record being stored
    bool m_recording = false;                       // the disc is recorded in this save
    qint64 m_discNumber = 0;
    qint64 m_groupFirstRow = 0; // the row IDs the open group stored, 0 when none
    qint64 m_groupLastRow = 0;
    bool m_discNewInGroup = false; // the open group recorded the disc itself
    bool m_replacing = false;
    qint64 m_replaced = 0;
    std::vector<std::pair<qint64, qint64>> m_replacedRanges;
    class ReplacedRows;
    Outcome replace(const std::string_view (&values)[6]);
    bool finishReplacement();
    bool recordRange();
    bool haveRangeCounts();
    std::unique_ptr<ReplacedRows> m_replacedRows; // while a save replaces a disc
    SqliteStatement *m_update = nullptr;
    QString m_path;
    std::string m_filePath; // the record's FilePath in UTF-8, bound until its row is stored
    qint32 m_saved = 0;
    QList<qint32> m_pending; // positions stored since the last commit
    bool m_storingAgain = false;
    QElapsedTimer m_groupTimer;
    CDatabaseError m_failure;
    SaveTimings m_timings;
};
