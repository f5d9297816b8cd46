#pragma once
// Whether a catalogue file is sound before a command writes to it: a disc stored into a damaged file
// may be lost or never found again, though every statement of the save succeeds.

#include "db/Sqlite.h"

#include <QString>

namespace CatalogueHealth {

enum class Verdict {
    Sound,   // SQLite's check found nothing wrong
    Damaged, // it found a problem
    Unknown  // it could not finish within its time (a very large catalogue) or could not run
};

// SQLite's integrity check of the whole file on this connection, given up once it has run for
// budgetMs. On Damaged, *problem is the first problem SQLite names.
Verdict Check(sqlite3 *db, int budgetMs, QString *problem);

} // namespace CatalogueHealth
