#include "scan/DirectoryWalker.h"

#include "drives/Drives.h"
#include "scan/NameOrder.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

} // namespace

DirectoryWalker::DirectoryWalker(clsFileColl &files, ScanObserver &observer)
    : m_files(files), m_observer(observer)
{}

bool DirectoryWalker::isDriveGoneError(int error)
{
    return Drives::IsNoDiscError(error);
}

void DirectoryWalker::ScanDirectory(const QString &root)
{
    m_root = QFile::encodeName(root).toStdString();
    if (m_root.empty() || m_root.back() != '/')
        m_root.push_back('/');
    m_rootLength = m_root.size();
    struct stat info;
    m_rootKnown = ::stat(m_root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (m_rootKnown) {
        m_rootDevice = info.st_dev;
        m_rootInode = info.st_ino;
    }
    m_path = m_root;
    walk();
}

int DirectoryWalker::injectedFault(std::string_view relativePath) const
{
    return m_faultHook ? m_faultHook(relativePath) : 0;
}

bool DirectoryWalker::rootGone() const
{
    struct stat info;
    if (::stat(m_root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return true;
    // Another file system mounted there, or none: the disc we were listing is no longer there.
    return m_rootKnown && (info.st_dev != m_rootDevice || info.st_ino != m_rootInode);
}

void DirectoryWalker::fail(int error)
{
    if (isDriveGoneError(error) || rootGone())
        m_observer.driveNotReady();
}

void DirectoryWalker::walk()
{
    const std::size_t here = m_path.size();
    const std::string_view relativeDir = std::string_view(m_path).substr(m_rootLength);

    // Read the directory: its real subdirectories and its regular files, hidden names left out.
    if (const int fault = injectedFault(relativeDir))
        return fail(fault);
    // The root may be reached through a link; below it no link is ever followed.
    const int openFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (here == m_rootLength ? 0 : O_NOFOLLOW);
    const int fd = ::open(m_path.c_str(), openFlags);
    if (fd < 0)
        return fail(errno);
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    std::vector<std::string> files;
    std::vector<std::string> colSubDirs;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return fail(errno);
            break;
        }
        if (entry->d_name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                return fail(errno);
            type = S_ISREG(info.st_mode) ? DT_REG : (S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN);
        }
        if (type == DT_REG)
            files.emplace_back(entry->d_name);
        else if (type == DT_DIR)
            colSubDirs.emplace_back(entry->d_name);
    }
    const auto byName = [](const std::string &a, const std::string &b) { return NameOrder::less(a, b); };
    std::sort(files.begin(), files.end(), byName);
    std::sort(colSubDirs.begin(), colSubDirs.end(), byName);

    m_observer.directoryListed(QFile::decodeName(QByteArray::fromRawData(m_path.data(), qsizetype(here))));
    m_observer.yield();

    if (!files.empty()) {
        const auto count = static_cast<qint64>(files.size());
        m_observer.filesStarting(count);
        qint64 lastYield = 0;
        std::string relative(relativeDir);
        for (qint64 i = 0; i < count; ++i) {
            const std::string &name = files[static_cast<std::size_t>(i)];
            m_observer.fileStarting(i, name);
            relative.resize(here - m_rootLength);
            relative += name;
            int error = injectedFault(relative);
            clsFile record;
            if (error != 0 || !record.SetFileInformationAt(fd, name.c_str(), relative, m_label, &error))
                return fail(error);
            const clsFile &stored = m_files.Append(std::move(record));
            m_observer.fileListed(stored, m_count);
            ++m_count;
            if (i - lastYield == 100) {
                m_observer.yield();
                lastYield = i;
            }
        }
    }
    dir.reset();
    std::vector<std::string>().swap(files); // only the subdirectory names are kept below this level

    m_observer.yield();

    const auto subdirCount = static_cast<qint64>(colSubDirs.size());
    for (qint64 k = 0; k < subdirCount; ++k) {
        m_observer.subdirectoryStarting(k, subdirCount);
        m_path.resize(here);
        m_path += colSubDirs[static_cast<std::size_t>(k)];
        m_path += '/';
        walk();
    }
    m_path.resize(here);
}
