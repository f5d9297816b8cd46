#pragma once
// Compacting the catalogue after a save: free pages go back to the file system.

#include <QString>

namespace CatalogueCompaction {

// Compacts the catalogue at path in place with SQLite's own means, through a connection of its own:
// "PRAGMA incremental_vacuum" for a catalogue made with incremental auto-vacuum (the one the program
// ships), VACUUM for one without auto-vacuum, and nothing at all when the file has no free pages.
// Each is one transaction of SQLite: the file is never replaced, so another connection to it loses
// nothing, and a failure leaves the catalogue as it was.
// Returns true when the catalogue has no free pages left, false on any failure (silently; the reason
// goes to the catalogue logging category).
bool CompactCatalogue(const QString &path);

} // namespace CatalogueCompaction
