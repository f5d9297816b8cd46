#pragma once
// Checking a catalogue (quillary-cli check): that it is one, SQLite's integrity check of the file, and
// its search index brought fully up to date. Each step says why it failed in *error.

#include "db/CDatabase.h"

#include <QStringList>

namespace CatalogueCheck {

// Whether the database is a catalogue: a table Quillary with the columns of a file record. An empty
// file is an empty database to SQLite, so this is what tells it from a catalogue.
bool IsCatalogue(CDatabase &db, CDatabaseError *error);

// SQLite's integrity check of the whole file: one line in *problems for each problem found, none when
// the file is sound. False when the check could not run.
bool Integrity(CDatabase &db, QStringList *problems, CDatabaseError *error);

enum class Index {
    None,            // the catalogue has no search index: every search reads all names
    NotUsed,         // the index is there but the table Quillary has no ID column of its own for it
    UpToDate,        // the index was up to date
    BroughtUpToDate, // and is now
    Failed           // it could not be brought up to date (a part of it is missing, a lock, ...)
};
// Brings the search index fully up to date, in a write transaction of its own (another program's
// lock is waited for within the connection's lock allowance, also for a catalogue without an index).
Index CompleteIndex(CDatabase &db, CDatabaseError *error);

} // namespace CatalogueCheck
