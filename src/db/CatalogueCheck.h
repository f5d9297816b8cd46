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
// the file is sound. False when the check could not run or finish: budgetMs, when not negative, is
// the longest it may take (a command that checks before it writes gives up on a very large catalogue).
bool Integrity(CDatabase &db, QStringList *problems, CDatabaseError *error, int budgetMs = -1);

enum class Index {
    None,            // the catalogue has no search index: every search reads all names
    NotUsed,         // the index is there but the table Quillary has no ID column of its own for it
    UpToDate,        // the index was up to date
    BroughtUpToDate, // and is now
    Rebuilt,         // it differed from the table (*finding says how) and was built afresh
    Failed           // it could not be brought up to date (a part of it is missing, a lock, ...)
};
// Compares the whole search index with the table and brings it fully up to date (built afresh if it
// differs), in a write transaction of its own (another program's lock is waited for within the
// connection's lock allowance, also for a catalogue without an index).
Index CompleteIndex(CDatabase &db, CDatabaseError *error, QString *finding);

} // namespace CatalogueCheck
