#pragma once
// Where this copy of Quillary keeps its catalogue and its settings file.
//
// A portable copy (the build directory, a folder copied around) keeps both files beside its
// executable. An installed copy cannot write there: it keeps the catalogue in the user's data
// directory and the settings file in the user's configuration directory (the XDG base
// directories), and on its first start copies the shipped empty catalogue there.

#include <QString>

namespace ProgramFiles {

// True when ZODidozode.mdb or Quillary.ini is a regular file in the program directory.
bool IsPortable(const QString &programDirectory);

// $XDG_DATA_HOME/quillary and $XDG_CONFIG_HOME/quillary (~/.local/share/quillary and
// ~/.config/quillary when the variables are not set).
QString UserDataDirectory();
QString UserConfigDirectory();

// The settings file: beside the executable for a portable copy, else in the user's configuration
// directory, which is made when missing so that the file can be written there.
QString SettingsFilePath(const QString &programDirectory);

// The catalogue, whether or not it exists: beside the executable for a portable copy, else in the
// user's data directory.
QString CataloguePath(const QString &programDirectory);

// The empty catalogue an install ships: <bindir>/../share/quillary/ZODidozode.mdb, with the
// relative path between the two install directories the build was configured with, so an install
// into any prefix finds it.
QString ShippedCataloguePath(const QString &programDirectory);

enum class Preparation {
    Portable,       // the files beside the executable are used; nothing to do
    AlreadyThere,   // the user's catalogue (or something else of that name) exists; left alone
    Copied,         // the shipped catalogue was copied to the user's data directory
    NothingShipped, // no shipped catalogue: nothing was made
    CopyFailed,     // the copy could not be made; nothing was left behind
};

// The installer's part, done per user at start-up: for an installed copy whose user has no
// catalogue yet, copies the shipped one into the user's data directory. Never creates a database
// of its own and never replaces an existing file.
Preparation PrepareUserCatalogue(const QString &programDirectory);

} // namespace ProgramFiles
