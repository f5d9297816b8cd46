#include "scan/DirectoryWalker.h"

#include "drives/Drives.h"
#include "testing/TestSeams.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

// The size of the buffer a directory is read into: a few hundred entries a system call.
constexpr std::size_t kDirectoryBuffer = 32 * 1024;
// How many reads' worth the kernel is asked to read ahead of a file being read.
constexpr std::size_t kReadAhead = 4;

int injectedFault(std::string_view relativePath)
{
    const auto &seam = TestSeams::WalkFault();
    return seam ? seam(relativePath) : 0;
}

} // namespace

bool DirectoryWalker::isDriveGoneError(int error)
{
    return Drives::IsNoDiscError(error);
}

void DirectoryWalker::ScanDirectory(const QString &root)
{
    DirectoryTree tree(root);
    m_walk.run(tree);
}

DirectoryTree::DirectoryTree(const QString &root)
    : m_root(QFile::encodeName(root).toStdString()), m_rootText(root)
{
    if (m_root.empty() || m_root.back() != '/') {
        m_root.push_back('/');
        m_rootText += u'/';
    }
    struct stat info;
    m_rootKnown = ::stat(m_root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (m_rootKnown) {
        m_rootDevice = info.st_dev;
        m_rootInode = info.st_ino;
    }
}

DirectoryTree::~DirectoryTree()
{
    closeDirectory();
}

bool DirectoryTree::rootGone() const
{
    struct stat info;
    if (::stat(m_root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return true;
    // Another file system mounted there, or none: the disc we were listing is no longer there.
    return m_rootKnown && (info.st_dev != m_rootDevice || info.st_ino != m_rootInode);
}

bool DirectoryTree::isGone(int error) const
{
    return DirectoryWalker::isDriveGoneError(error) || rootGone();
}

bool DirectoryTree::rootReadable() const
{
    if (rootGone())
        return false;
    const int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return false;
    }
    errno = 0;
    return ::readdir(dir.get()) != nullptr || errno == 0;
}

void DirectoryTree::closeDirectory()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

DiscTree::Listing DirectoryTree::readDirectory(std::string_view path, std::string_view, std::uint64_t,
                                               std::uint64_t, DirectoryNames &files, DirectoryNames &subdirs,
                                               int *error)
{
    closeDirectory();
    const auto failed = [&](int code) {
        closeDirectory();
        *error = code;
        return Listing::LeftOut;
    };
    // Its real subdirectories and its regular files, hidden names left out.
    if (const int fault = injectedFault(path))
        return failed(fault);
    // The root may be reached through a link; below it no link is ever followed. The entries are
    // read straight from the kernel (getdents64): opendir would cost two system calls more for each
    // directory.
    const std::string directory = m_root + std::string(path);
    const int openFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (path.empty() ? 0 : O_NOFOLLOW);
    m_fd = ::open(directory.c_str(), openFlags);
    if (m_fd < 0)
        return failed(errno);
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(kDirectoryBuffer);
    for (;;) {
        const ssize_t filled = ::getdents64(m_fd, m_buffer.get(), kDirectoryBuffer);
        if (filled < 0)
            return failed(errno);
        if (filled == 0)
            break;
        for (ssize_t at = 0; at < filled;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(m_buffer.get() + at);
            at += entry->d_reclen;
            if (entry->d_ino == 0 || entry->d_name[0] == '.') // a deleted entry (as readdir skips), or hidden
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info;
                if (::fstatat(m_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    return failed(errno);
                type = S_ISREG(info.st_mode) ? DT_REG : (S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN);
            }
            if (type == DT_REG)
                files.add(entry->d_name);
            else if (type == DT_DIR)
                subdirs.add(entry->d_name);
        }
    }
    return Listing::Listed;
}

bool DirectoryTree::fileRecord(const DirectoryNames &files, std::size_t i, std::string_view path,
                               std::string_view textPath, const QString &label, clsFile &record, int *error)
{
    *error = TestSeams::WalkFault() ? injectedFault(path) : 0;
    return *error == 0 && record.SetFileInformationAt(m_fd, files.rawName(i), textPath, label, error);
}

// A file's inode number is where it is read from next to the others: on most file systems files made
// one after the other lie one after the other.
void DirectoryTree::locateFile(const DirectoryNames &files, std::size_t i, DiscFile &file)
{
    struct stat info;
    if (::fstatat(m_fd, files.rawName(i), &info, AT_SYMLINK_NOFOLLOW) == 0)
        file.order = info.st_ino;
}

int DirectoryTree::readFile(const DiscFile &file, char *buffer, std::size_t capacity,
                            const std::function<bool(const char *, std::size_t)> &take)
{
    const std::string path = m_root + file.path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0)
        return errno;
    // The kernel reads ahead of us: the next pieces are asked for while this one is taken.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    int error = 0;
    off_t at = 0;
    for (;;) {
        // No further than the file's end as listed: a small file asks for no more than itself.
        const off_t ahead = off_t(kReadAhead * capacity);
        if (quint64(at) < file.size)
            ::posix_fadvise(fd, at, std::min<off_t>(ahead, off_t(file.size) - at), POSIX_FADV_WILLNEED);
        const ssize_t got = ::read(fd, buffer, capacity);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = errno;
        if (got <= 0 || !take(buffer, static_cast<std::size_t>(got)))
            break;
        at += got;
    }
    ::close(fd);
    return error;
}
