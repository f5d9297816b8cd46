#pragma once
// The catalogue's search index: a case-folded copy of the file names kept beside the table
// Quillary, with a trigram index over it, so a search reads only the rows that can match.
//
// The catalogue's schema defines the index (tables QuillarySearchFold, QuillarySearchTrigram,
// QuillarySearchState, QuillarySearchDirty and three triggers on Quillary). It covers the rows up
// to a watermark (the highest row ID indexed); the triggers, plain SQL that any program writing
// the table runs, note every row at or below the watermark that is added, changed or deleted.
// A search trusts the index only for the rows it covers and that were not noted since, and reads
// every other row from the table itself, so it finds the same rows with or without the index.
// Whoever adds rows to the table brings the index up to date afterwards (Refresh).

#include "db/Sqlite.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

namespace CatalogueIndex {

// Brings the index up to date with the table Quillary on an open connection (after a save). An index
// that disagrees with the table (see Status::sound) is built afresh. Silent: a catalogue without the
// index, or any failure, leaves the catalogue as it was. yield, when given, is called now and then
// while many rows are indexed. True when the index is up to date afterwards; else *error (when
// given) says why: another program's lock, an object of the index that is missing, ...
bool Refresh(sqlite3 *db, const std::function<void()> &yield = {}, CDatabaseError *error = nullptr);
// Builds the index afresh from the table, as Refresh does for an index it cannot trust.
bool Rebuild(sqlite3 *db, const std::function<void()> &yield = {}, CDatabaseError *error = nullptr);

struct Status
{
    bool usable = false;  // the index and its triggers are all there
    bool sound = false;   // and it agrees with the table in every way that can be checked cheaply
    qint64 watermark = 0; // rows with a higher ID are not indexed yet
    qint64 changed = 0;   // indexed rows noted as added, changed or deleted since
    qint64 names = 0;     // names the index holds (rows at or below the watermark with a FileName)
    bool absent = false;  // none of the index's objects is there: a catalogue made without the index
    QString missing;      // else the first of them that is not, in SQLite's words: "no such table: NAME"
};

enum class Step {
    UpToDate, // the index covers the table (the work is committed)
    More,     // the step ended at its budget: call again
    Busy,     // another program holds or reads the catalogue: try again later
    Failed    // no index, or it cannot be written
};

// Brings the index of the catalogue at path up to date a little at a time, for a front end that does
// it while it has nothing else to do. The steps share one write transaction, committed when the index
// is up to date or when the front end pauses the work: until then no other connection can write the
// catalogue, so a front end pauses before it writes itself. A lock held by another program is never
// waited for: the step says Busy and the work is tried again later. Nor is work begun while another
// program reads the catalogue, since it could not be committed until the reader is done.
class Upkeep
{
public:
    explicit Upkeep(const QString &path);
    ~Upkeep(); // pauses
    Upkeep(const Upkeep &) = delete;
    Upkeep &operator=(const Upkeep &) = delete;

    // Indexes rows for about budgetMs. Now and then a step commits the work done so far and lets go of
    // the catalogue (holdsCatalogue() is false after it), so that other programs can write.
    Step step(int budgetMs);
    // Commits what the steps have done so far and lets go of the catalogue. False when another program
    // reads the catalogue, so the work could not be committed and was let go.
    bool pause();
    bool holdsCatalogue() const { return m_connection.inTransaction(); }

private:
    QString m_path;
    SqliteConnection m_connection;
    QElapsedTimer m_held; // since the transaction began
    Status m_status;      // what the index covers, within the transaction
};

// What the index of the catalogue on this connection covers, and whether it can be trusted: a single
// watermark that is a whole number of at least 0, noted row IDs that are whole numbers, no folded name
// above the watermark, the index's guard showing that nothing but the upkeep wrote the folded copy and
// that the trigram index holds exactly the names the upkeep put there, and the folded names of rows
// sampled across the table (and the rows of names sampled across the folded copy) present and equal to
// the table's. A full count of a large table costs tens of milliseconds, so the rows are sampled and
// the guard's figures compared. Examine a transaction's index before the connection writes the index:
// the trigram index's own count is brought up to date at the commit.
Status Examine(sqlite3 *db);
// How many rows a search reads from the table because the index does not cover them (rows above the
// watermark and rows noted since, or every row when the index cannot be trusted); -1 when the
// catalogue has no usable index.
qint64 Backlog(sqlite3 *db);

enum class Verdict { Agrees, Disagrees, Failed };
// Compares the whole index with the table: every name it covers, the folded names against the rows,
// and the trigram index against the folded names. Reads the whole catalogue, so it is for a check on
// request, not for every search. On Disagrees, finding says what differed.
Verdict Verify(sqlite3 *db, QString *finding);

// The IDs of the indexed rows noted as added, changed or deleted since they were indexed, in order.
bool ChangedRows(sqlite3 *db, std::vector<qint64> *ids);

} // namespace CatalogueIndex
