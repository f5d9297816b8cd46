#pragma once
// Where this copy of Quillary keeps its catalogue and its settings.
//
// A portable copy (the build directory, a folder copied around) keeps both files beside its
// executable. An installed copy cannot write there: it keeps the catalogue in the user's data
// directory and the settings file in the user's configuration directory (the XDG base
// directories), and on its first start copies the shipped empty catalogue there.

#include <QString>

namespace ProgramFiles {

// True when ZODidozode.mdb or Quillary.ini is a regular file in the program directory.
bool IsPortable(const QString &programDirectory);

// A copy of the program: its directory, and whether it keeps its files beside its executable.
struct Layout
{
    QString programDirectory;
    bool portable = false;
};
// The copy whose executable lies in programDirectory, as that directory is now (see IsPortable).
Layout LayoutOf(const QString &programDirectory);

// $XDG_DATA_HOME/quillary and $XDG_CONFIG_HOME/quillary (~/.local/share/quillary and
// ~/.config/quillary when the variables are not set).
QString UserDataDirectory();
QString UserConfigDirectory();

// The settings file: beside the executable for a portable copy, else in the user's configuration
// directory, which is made when missing so that the file can be written there.
QString SettingsFilePath(const Layout &copy);

// The catalogue, whether or not it exists: beside the executable for a portable copy, else in the
// user's data directory.
QString CataloguePath(const Layout &copy);

// The empty catalogue an install ships: <bindir>/../share/quillary/ZODidozode.mdb, with the
// relative path between the two install directories the build was configured with, so an install
// into any prefix finds it.
QString ShippedCataloguePath(const QString &programDirectory);

enum class Preparation {
    Portable,       // the files beside the executable are used; nothing to do
    AlreadyThere,   // the user's catalogue exists; left alone
    Copied,         // the shipped catalogue was copied to the user's data directory
    NothingShipped, // no shipped catalogue: nothing was made
    CopyFailed,     // the copy could not be made; nothing was left behind
};

struct Prepared
{
    Preparation outcome = Preparation::Portable;
    // For CopyFailed: what stood in the way and where, in the system's words: "<path>: <reason>" (the
    // directory that could not be made, or the catalogue's path), or QFile's account of a failed copy.
    QString failure;
};

// The installer's part, done per user at start-up: for an installed copy whose user has no
// catalogue yet, copies the shipped one into the user's data directory. Never creates a database
// of its own and never replaces anything: a directory or another file that is not a regular file
// where the catalogue belongs makes the copy fail.
Prepared PrepareUserCatalogue(const Layout &copy);

} // namespace ProgramFiles
