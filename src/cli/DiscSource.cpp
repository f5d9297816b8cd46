#include "cli/DiscSource.h"

#include "drives/Drives.h"
#include "scan/DiscImage.h"

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
    DirectorySource(const QString &given, const QString &root) : m_given(given), m_root(root) {}

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

    bool List(clsFileColl &files, ScanObserver &observer, const QString &label) override
    {
        // The walker passes over a directory it cannot open in silence; the disc's own root must open.
        DIR *dir = ::opendir(QFile::encodeName(m_root).constData());
        if (!dir) {
            m_error = m_given + QStringLiteral(": cannot open the directory: ") + systemError(errno);
            return false;
        }
        ::closedir(dir);
        struct Watch : ScanObserver
        {
            explicit Watch(ScanObserver &next) : next(next) {}
            void directoryListed(const QString &path) override { next.directoryListed(path); }
            void filesStarting(qint64 count) override { next.filesStarting(count); }
            void fileStarting(qint64 index, std::string_view name) override
            {
                next.fileStarting(index, name);
            }
            void fileListed(const clsFile &record, qint64 key) override { next.fileListed(record, key); }
            void subdirectoryStarting(qint64 done, qint64 count) override
            {
                next.subdirectoryStarting(done, count);
            }
            void driveNotReady() override
            {
                gone = true;
                next.driveNotReady();
            }
            void yield() override { next.yield(); }
            ScanObserver &next;
            bool gone = false;
        } watch(observer);
        DirectoryWalker walker(files, watch);
        walker.setLabel(label);
        walker.ScanDirectory(m_root);
        if (watch.gone) {
            // Part of a disc is no list of it.
            m_error =
                m_given +
                QStringLiteral(": the disc could no longer be read while it was listed; nothing was added");
            return false;
        }
        return true;
    }

    QString ErrorText() const override { return m_error; }
    Drives::MediumSource Medium() const override { return Drives::SourceOfDirectory(m_root); }

private:
    QString m_given; // as the command line names it
    QString m_root;
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

    bool List(clsFileColl &files, ScanObserver &observer, const QString &label) override
    {
        return m_image.List(files, observer, label);
    }

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
