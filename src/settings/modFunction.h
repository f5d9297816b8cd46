#pragma once
// Settings file and the catalogue's default location.

#include <QString>

namespace modFunction {

// One value of a profile-format settings file; empty when the file, section or key is missing.
// The value comes back cut to 259 characters.
QString ReadIniValue(const QString &filePath, const QString &section, const QString &key);

// Replaces or adds one value; every other byte of the file stays as it was. Failures are silent.
void WriteIniValue(const QString &filePath, const QString &section, const QString &key, const QString &value);

// The directory that holds the executable.
QString ProgramDirectory();

// Program directory + "/" + "Quillary.ini" for a copy that keeps its files beside the executable;
// Quillary.ini in the user's configuration directory for an installed copy (see ProgramFiles.h).
QString SettingsFilePath();

// The catalogue when that regular file exists, else empty: program directory + "/" + "ZODidozode.mdb",
// or ZODidozode.mdb in the user's data directory for an installed copy (see ProgramFiles.h).
QString DefaultDatabasePath();

} // namespace modFunction
