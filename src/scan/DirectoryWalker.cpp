#include "scan/DirectoryWalker.h"

#include "catalogue/TextForms.h"
#include "drives/Drives.h"
#include "scan/NameOrder.h"
#include "testing/TestSeams.h"

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

// A directory entry: its name as the file system holds it, and as text (UTF-8) where that differs.
struct Entry
{
    std::string raw;
    std::string converted;

    explicit Entry(std::string_view name) : raw(name)
    {
        if (!TextForms::isUtf8(name))
            TextForms::appendFileName(converted, name);
    }
    std::string_view text() const { return converted.empty() ? std::string_view(raw) : converted; }
};

bool nameLess(const Entry &a, const Entry &b)
{
    const int order = NameOrder::compareIgnoringCase(a.text(), b.text());
    return order != 0 ? order < 0 : a.raw < b.raw;
}

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
    m_rootText = root;
    if (m_root.empty() || m_root.back() != '/') {
        m_root.push_back('/');
        m_rootText += u'/';
    }
    m_rootLength = m_root.size();
    struct stat info;
    m_rootKnown = ::stat(m_root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (m_rootKnown) {
        m_rootDevice = info.st_dev;
        m_rootInode = info.st_ino;
    }
    m_path = m_root;
    m_text.clear();
    m_stopped = false;
    walk();
}

int DirectoryWalker::injectedFault(std::string_view relativePath) const
{
    const auto &seam = TestSeams::WalkFault();
    return seam ? seam(relativePath) : 0;
}

bool DirectoryWalker::rootGone() const
{
    struct stat info;
    if (::stat(m_root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return true;
    // Another file system mounted there, or none: the disc we were listing is no longer there.
    return m_rootKnown && (info.st_dev != m_rootDevice || info.st_ino != m_rootInode);
}

bool DirectoryWalker::rootReadable() const
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

void DirectoryWalker::fail(int error)
{
    if (!isDriveGoneError(error) && !rootGone())
        return;
    m_observer.driveNotReady();
    // Once the user has seen the message: a drive whose root still cannot be read holds no disc, and
    // every directory left would only say so again, so the walk ends. A root that reads again (the disc
    // put back, or one directory the drive could not read) lets the walk go on.
    if (!rootReadable())
        m_stopped = true;
}

void DirectoryWalker::walk()
{
    const std::size_t here = m_path.size();
    const std::size_t hereText = m_text.size();
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
    std::vector<Entry> files;
    std::vector<Entry> colSubDirs;
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
    std::sort(files.begin(), files.end(), nameLess);
    std::sort(colSubDirs.begin(), colSubDirs.end(), nameLess);

    m_observer.directoryListed(m_rootText + TextForms::fromUtf8(m_text));
    m_observer.yield();

    if (!files.empty()) {
        const auto count = static_cast<qint64>(files.size());
        m_observer.filesStarting(count);
        qint64 lastYield = 0;
        std::string relative(relativeDir);
        for (qint64 i = 0; i < count; ++i) {
            const Entry &file = files[static_cast<std::size_t>(i)];
            m_observer.fileStarting(i, file.text());
            int error = 0;
            if (TestSeams::WalkFault()) {
                relative.resize(here - m_rootLength);
                relative += file.raw;
                error = injectedFault(relative);
            }
            m_text.resize(hereText);
            m_text += file.text();
            clsFile record;
            if (error != 0 || !record.SetFileInformationAt(fd, file.raw.c_str(), m_text, m_label, &error))
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
    m_text.resize(hereText);
    std::vector<Entry>().swap(files); // only the subdirectory names are kept below this level

    m_observer.yield();

    const auto subdirCount = static_cast<qint64>(colSubDirs.size());
    for (qint64 k = 0; k < subdirCount && !m_stopped; ++k) {
        m_observer.subdirectoryStarting(k, subdirCount);
        const Entry &subdirectory = colSubDirs[static_cast<std::size_t>(k)];
        m_path.resize(here);
        m_path += subdirectory.raw;
        m_path += '/';
        m_text.resize(hereText);
        m_text += subdirectory.text();
        m_text += '/';
        walk();
    }
    m_path.resize(here);
    m_text.resize(hereText);
}
