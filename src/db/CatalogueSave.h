#pragma once
// Saving the current scan into the catalogue: every file record becomes one new row of Quillary.

#include <QElapsedTimer>
#include <QList>
#include <QString>

class clsFile;
class clsFileColl;
class CDatabase;
class CStatement;
struct CDatabaseError;

// What a save tells the window while it runs.
class SaveObserver
{
public:
    virtual ~SaveObserver() = default;
    // The record at position (from 1), with this file name, is about to be stored.
    virtual void RecordStarting(qint32 position, const QString &fileName) = 0;
    // The record has been handled; savedCount records have been stored so far. The save yields here.
    virtual void RecordDone(qint32 savedCount) = 0;
    // Called now and then during the work after the last record (bringing the search index up to
    // date), so the window can yield.
    virtual void Working() {}
};

// Where the time of the last save went (for the benchmark).
struct SaveTimings
{
    qint64 rowsNs = 0;  // storing and committing the rows, with the window's progress and yields
    qint64 indexNs = 0; // bringing the search index up to date
};

class CatalogueSave
{
public:
    explicit CatalogueSave(SaveObserver &observer) : m_observer(observer) {}

    // Stores the records of files as new rows, in list order, through one connection to the
    // catalogue at DefaultDatabasePath(). Each record is stored on its own: one the database refuses
    // is undone alone and not counted, and the save goes on with the next. Rows are committed in
    // groups (at least every commitInterval ms, and at the end); a crash loses at most the group
    // in progress, and once the save has returned every row it counts is on the disk.
    // Then the search index is brought up to date on the same connection.
    // Returns false when a failure ended the save (a catalogue that cannot be opened or written,
    // no table Quillary, a full disk, a lock held too long); FailureText() says what went wrong and
    // the rows counted before it stay stored.
    bool SaveFileList(const clsFileColl &files);

    qint32 SavedCount() const { return m_saved; }
    const QString &FailureText() const { return m_failure; }

    // The longest time rows wait for their commit (milliseconds).
    static void SetCommitInterval(int milliseconds);
    static int CommitInterval();

    static const SaveTimings &LastTimings();

private:
    enum class Outcome { Stored, Refused, Failed };

    // Adds one record as one row in the open transaction.
    bool SaveFileRecord(const clsFile &record);
    Outcome insert(const clsFile &record);
    bool beginGroup();
    bool commitGroup();
    void abandonGroup();
    bool storeGroupAgain();
    bool fail(const CDatabaseError &error);
    bool fail(const QString &reason);

    SaveObserver &m_observer;
    const clsFileColl *m_files = nullptr;
    CDatabase *m_db = nullptr;
    CStatement *m_insert = nullptr;
    QString m_path;
    qint32 m_saved = 0;
    QList<qint32> m_pending; // positions stored since the last commit
    qint32 m_position = 0;
    bool m_storingAgain = false;
    QElapsedTimer m_groupTimer;
    QString m_failure;
};

// Why a catalogue operation failed, in words for the user.
// otherwise: the reason given for any other failure, "%1" standing for the catalogue's path.
QString DescribeCatalogueError(
    const CDatabaseError &error, const QString &path,
    const QString &otherwise = QStringLiteral("The catalogue '%1' refused the file list."));
