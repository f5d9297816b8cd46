#pragma once
// The catalogue's search index: a folded copy of the file names kept beside the table.

class QSqlDatabase;

namespace CatalogueIndex {

// Brings the index up to date with the table Quillary on an open connection (after a save).
// Silent: a catalogue without the index, or any failure, leaves the catalogue as it was.
void Refresh(QSqlDatabase &db);

} // namespace CatalogueIndex
