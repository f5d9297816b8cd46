#include "cli/DiscSource.h"

#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "scan/DiscImage.h"
#include "scan/DiscWalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A mounted disc or any directory, walked by the window's walker.
class DirectorySource : public DiscSource
{
public:
    DirectorySource(const QString &given, const QString &root) : m_given(given), m_root(root), m_tree(root) {}

    QString DefaultLabel() const override
    {
        for (const Drives::CdDrive &drive : Drives::ListCdDrives()) {
            if (!drive.mountPoint.isEmpty() &&
                Drives::comparableRoot(drive.mountPoint) == Drives::comparableRoot(m_root)) {
                const QString label = modFunction::GetVolumeLabel(drive.root);
                if (!label.isEmpty())
                    return label;
                break;
            }
        }
        const QString name = QFileInfo(m_root).fileName();
        return name.trimmed().isEmpty() ? QStringLiteral("(no label)") : name;
    }

    bool List(clsFileColl &files, ScanObserver &observer, const QString &label,
              std::vector<DiscFile> *where) override
    {
        // The walk passes over a directory it cannot open in silence; the disc's own root must open.
        DIR *dir = ::opendir(QFile::encodeName(m_root).constData());
        if (!dir) {
            m_error = m_given + QStringLiteral(": cannot open the directory: ") + systemError(errno);
            return false;
        }
        ::closedir(dir);
        DiscWalk walk(files, observer);
        walk.setLabel(label);
        walk.collectFiles(where);
        walk.run(m_tree);
        if (walk.discWasGone()) {
            // Part of a disc is no list of it.
            m_error =
                m_given +
                QStringLiteral(": the disc could no longer be read while it was listed; nothing was added");
            return false;
        }
        return true;
    }
    DiscTree &Tree() override { return m_tree; }

    QString ErrorText() const override { return m_error; }
    Drives::MediumSource Medium() const override { return Drives::SourceOfDirectory(m_root); }

private:
    QString m_given; // as the command line names it
    QString m_root;
    DirectoryTree m_tree;
    QString m_error;
};

// A disc image file, read without mounting it. Its messages name the image themselves.
class ImageSource : public DiscSource
{
public:
    bool Open(const QString &path)
    {
        m_path = QFileInfo(path).absoluteFilePath();
        return m_image.Open(path);
    }
    Drives::MediumSource Medium() const override { return Drives::SourceOfMedium(m_path); }

    QString DefaultLabel() const override { return m_image.VolumeLabel(); }

    bool List(clsFileColl &files, ScanObserver &observer, const QString &label,
              std::vector<DiscFile> *where) override
    {
        return m_image.List(files, observer, label, where);
    }
    DiscTree &Tree() override { return m_image.Source(); }

    QString ErrorText() const override { return m_image.ErrorText(); }
    QString LeftOutText() const override { return m_image.LeftOutText(); }

private:
    DiscImage m_image;
    QString m_path;
};

} // namespace

std::unique_ptr<DiscSource> DiscSource::Open(const QString &path, QString *error)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = path + QStringLiteral(": ") + systemError(errno);
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        // The walk starts at the directory itself: a symbolic link named on the command line is
        // followed once, as a drive's root would be.
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return std::make_unique<DirectorySource>(path,
                                                 canonical.isEmpty() ? QDir(path).absolutePath() : canonical);
    }
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        auto image = std::make_unique<ImageSource>();
        if (!image->Open(path)) {
            *error = image->ErrorText();
            return nullptr;
        }
        return image;
    }
    *error = path + QStringLiteral(": neither a directory nor a disc image file");
    return nullptr;
}

} // namespace Cli
