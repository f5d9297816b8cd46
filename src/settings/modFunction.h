#pragma once
// Settings file and the catalogue's default location.

#include "settings/ProgramFiles.h"

#include <QString>

namespace modFunction {

// One value of a profile-format settings file; empty when the file, section or key is missing.
// The value comes back cut to 259 characters.
QString ReadIniValue(const QString &filePath, const QString &section, const QString &key);

// Replaces or adds one value; every other byte of the file stays as it was. Failures are silent.
void WriteIniValue(const QString &filePath, const QString &section, const QString &key, const QString &value);

// The directory that holds the executable.
QString ProgramDirectory();

// Whether this copy keeps its files beside the executable (portable) or in the user's folders
// (installed) is settled the first time one of the functions below asks, at start-up, and kept while
// the program runs: a catalogue deleted beside a portable copy leaves it without a catalogue; it does
// not turn it into an installed copy working on the user's catalogue (see ProgramFiles::IsPortable).

// Program directory + "/" + "Quillary.ini" for a copy that keeps its files beside the executable;
// Quillary.ini in the user's configuration directory for an installed copy (see ProgramFiles.h).
QString SettingsFilePath();

// The catalogue when that regular file exists, else empty: program directory + "/" + "ZODidozode.mdb",
// or ZODidozode.mdb in the user's data directory for an installed copy (see ProgramFiles.h).
QString DefaultDatabasePath();

// The installer's part for this copy, done at start-up (ProgramFiles::PrepareUserCatalogue). A copy
// that failed is remembered for CatalogueProblem.
ProgramFiles::Prepared PrepareUserCatalogue();

// Empty when the catalogue is there (DefaultDatabasePath). Otherwise what a command tells the user:
// where and why the user's catalogue could not be made, when the copy at start-up failed and fails
// again now (what stood in the way may have been put right meanwhile: then the copy is made and the
// answer is empty); else the database-missing message.
QString CatalogueProblem();

} // namespace modFunction
