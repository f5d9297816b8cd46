#include "settings/ProgramFiles.h"

#include "settings/modConstant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef QUILLARY_BINDIR_TO_DATADIR
#error "QUILLARY_BINDIR_TO_DATADIR (the data directory relative to the program directory) must be defined"
#endif

namespace {

const QString kFolderName = QStringLiteral("quillary");

// The user's data or configuration base directory. QStandardPaths hands back a relative
// $XDG_DATA_HOME or $XDG_CONFIG_HOME as it is, where the XDG rules say to ignore it.
QString userLocation(QStandardPaths::StandardLocation type, const QString &belowHome)
{
    const QString location = QStandardPaths::writableLocation(type);
    return QDir::isAbsolutePath(location) ? location : QDir::homePath() + belowHome;
}

// Makes the directory and any missing parents, each new one private to the user (0700), as the
// XDG base directory rules ask for directories a program creates there (QDir::mkpath takes no
// permissions).
bool makeUserDirectory(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent == clean || !makeUserDirectory(parent))
        return false;
    return QDir().mkdir(clean, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           QFileInfo(clean).isDir();
}

QString besideProgram(const QString &programDirectory, const QString &fileName)
{
    return programDirectory + u'/' + fileName;
}

} // namespace

bool ProgramFiles::IsPortable(const QString &programDirectory)
{
    return QFileInfo(besideProgram(programDirectory, modConstant::kDatabaseFileName)).isFile() ||
           QFileInfo(besideProgram(programDirectory, modConstant::kSettingsFileName)).isFile();
}

QString ProgramFiles::UserDataDirectory()
{
    return userLocation(QStandardPaths::GenericDataLocation, QStringLiteral("/.local/share")) + u'/' +
           kFolderName;
}

QString ProgramFiles::UserConfigDirectory()
{
    return userLocation(QStandardPaths::GenericConfigLocation, QStringLiteral("/.config")) + u'/' +
           kFolderName;
}

QString ProgramFiles::SettingsFilePath(const QString &programDirectory)
{
    if (IsPortable(programDirectory))
        return besideProgram(programDirectory, modConstant::kSettingsFileName);
    const QString directory = UserConfigDirectory();
    makeUserDirectory(directory); // a failure shows as a settings file that cannot be written
    return directory + u'/' + modConstant::kSettingsFileName;
}

QString ProgramFiles::CataloguePath(const QString &programDirectory)
{
    if (IsPortable(programDirectory))
        return besideProgram(programDirectory, modConstant::kDatabaseFileName);
    return UserDataDirectory() + u'/' + modConstant::kDatabaseFileName;
}

QString ProgramFiles::ShippedCataloguePath(const QString &programDirectory)
{
    return QDir::cleanPath(programDirectory + u'/' + QStringLiteral(QUILLARY_BINDIR_TO_DATADIR) + u'/' +
                           kFolderName + u'/' + modConstant::kDatabaseFileName);
}

ProgramFiles::Preparation ProgramFiles::PrepareUserCatalogue(const QString &programDirectory)
{
    if (IsPortable(programDirectory))
        return Preparation::Portable;
    const QString target = CataloguePath(programDirectory);
    if (QFileInfo(target).exists() || QFileInfo(target).isSymLink())
        return Preparation::AlreadyThere;
    const QString shipped = ShippedCataloguePath(programDirectory);
    if (!QFileInfo(shipped).isFile())
        return Preparation::NothingShipped;
    if (!makeUserDirectory(UserDataDirectory()))
        return Preparation::CopyFailed;
    // QFile::copy writes a temporary file beside the target and renames it into place without
    // replacing anything, so a second copy starting at the same moment cannot clobber this one and
    // a failed copy leaves nothing behind.
    QFile source(shipped);
    if (!source.copy(target))
        return QFileInfo(target).isFile() ? Preparation::AlreadyThere : Preparation::CopyFailed;
    // The copy takes the shipped file's permissions; the user's catalogue must be writable by them.
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ReadOwner | QFile::WriteOwner);
    return Preparation::Copied;
}
