#include "settings/ProgramFiles.h"

#include "settings/modConstant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

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

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes the directory and any missing parents, each new one private to the user (0700), as the
// XDG base directory rules ask for directories a program creates there (QDir::mkpath takes no
// permissions). On failure, *failure says which directory could not be made and why.
bool makeUserDirectory(const QString &path, QString *failure = nullptr)
{
    const QString clean = QDir::cleanPath(path);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !makeUserDirectory(parent, failure))
        return false;
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) == 0)
        return true;
    int error = errno;
    if (error == EEXIST) {
        if (QFileInfo(clean).isDir()) // made by someone else meanwhile
            return true;
        error = ENOTDIR; // a file stands where the directory belongs
    }
    if (failure)
        *failure = clean + QStringLiteral(": ") + systemReason(error);
    return false;
}

// Why what stands at path (which exists, or is a link) is not a catalogue that can be used.
QString notACatalogue(const QFileInfo &info)
{
    if (info.isDir())
        return systemReason(EISDIR);
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("a link to '%1', which does not exist").arg(info.symLinkTarget());
    return QStringLiteral("not a regular file");
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

ProgramFiles::Layout ProgramFiles::LayoutOf(const QString &programDirectory)
{
    return {programDirectory, IsPortable(programDirectory)};
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

QString ProgramFiles::SettingsFilePath(const Layout &copy)
{
    if (copy.portable)
        return besideProgram(copy.programDirectory, modConstant::kSettingsFileName);
    const QString directory = UserConfigDirectory();
    makeUserDirectory(directory); // a failure shows as a settings file that cannot be written
    return directory + u'/' + modConstant::kSettingsFileName;
}

QString ProgramFiles::CataloguePath(const Layout &copy)
{
    if (copy.portable)
        return besideProgram(copy.programDirectory, modConstant::kDatabaseFileName);
    return UserDataDirectory() + u'/' + modConstant::kDatabaseFileName;
}

QString ProgramFiles::ShippedCataloguePath(const QString &programDirectory)
{
    return QDir::cleanPath(programDirectory + u'/' + QStringLiteral(QUILLARY_BINDIR_TO_DATADIR) + u'/' +
                           kFolderName + u'/' + modConstant::kDatabaseFileName);
}

ProgramFiles::Prepared ProgramFiles::PrepareUserCatalogue(const Layout &copy)
{
    if (copy.portable)
        return {Preparation::Portable, {}};
    const QString target = CataloguePath(copy);
    const auto inTheWay = [&target](const QFileInfo &info) {
        return Prepared{Preparation::CopyFailed, target + QStringLiteral(": ") + notACatalogue(info)};
    };
    if (const QFileInfo existing(target); existing.exists() || existing.isSymLink())
        return existing.isFile() ? Prepared{Preparation::AlreadyThere, {}} : inTheWay(existing);
    const QString shipped = ShippedCataloguePath(copy.programDirectory);
    if (!QFileInfo(shipped).isFile())
        return {Preparation::NothingShipped, {}};
    QString failure;
    if (!makeUserDirectory(UserDataDirectory(), &failure))
        return {Preparation::CopyFailed, failure};
    // QFile::copy writes a temporary file beside the target and renames it into place without
    // replacing anything, so a second copy starting at the same moment cannot clobber this one and
    // a failed copy leaves nothing behind.
    QFile source(shipped);
    if (!source.copy(target)) {
        if (const QFileInfo existing(target); existing.exists() || existing.isSymLink())
            return existing.isFile() ? Prepared{Preparation::AlreadyThere, {}} : inTheWay(existing);
        // QFile's own words name the file where they can.
        const QString reason = source.errorString();
        return {Preparation::CopyFailed,
                reason.contains(target) ? reason : target + QStringLiteral(": ") + reason};
    }
    // The copy takes the shipped file's permissions; the user's catalogue must be writable by them.
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ReadOwner | QFile::WriteOwner);
    return {Preparation::Copied, {}};
}
