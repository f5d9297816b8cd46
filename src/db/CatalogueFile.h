#pragma once
// Making an empty catalogue from the schema script, as the build (and an installer) does.
// The program itself never creates the catalogue: only the build tool and tests call this.

#include <QString>

namespace CatalogueFile {

// Creates a new database file at databasePath and runs the script's statements on it, one after
// the other. An existing file at that path is replaced only when the whole script succeeded.
// Returns false and sets *error (when given) on failure, leaving no file behind.
bool CreateFromScript(const QString &databasePath, const QString &script, QString *error = nullptr);

// The same with the script read from a file (the schema file of the source tree).
bool CreateFromSchemaFile(const QString &databasePath, const QString &schemaPath, QString *error = nullptr);

// Whether the file at databasePath holds catalogued files (or is something else that must be kept):
// a rebuild never replaces it then.
bool HoldsRows(const QString &databasePath);

} // namespace CatalogueFile
