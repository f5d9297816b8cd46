#include "scan/DirectoryWalker.h"

#include "catalogue/TextForms.h"
#include "drives/Drives.h"
#include "scan/NameOrder.h"
#include "testing/TestSeams.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names of one directory's files or subdirectories, back to back in one buffer, so that listing a
// directory allocates nothing per name. A name is kept as the file system holds it (with a NUL, to
// open it by) and, where that is not UTF-8, as text too.
class NameList
{
public:
    void add(std::string_view raw)
    {
        Name name{offset(), static_cast<std::uint32_t>(raw.size()), 0, 0};
        m_bytes += raw;
        m_bytes += '\0';
        if (TextForms::isUtf8(raw)) {
            name.text = name.raw;
            name.textLength = name.rawLength;
        } else {
            name.text = offset();
            TextForms::appendFileName(m_bytes, raw);
            name.textLength = offset() - name.text;
        }
        m_names.push_back(name);
    }

    // The listing order of NameOrder::lessByText.
    void sort()
    {
        std::sort(m_names.begin(), m_names.end(), [this](const Name &a, const Name &b) {
            return NameOrder::lessByText(text(a), raw(a), text(b), raw(b));
        });
    }

    std::size_t size() const { return m_names.size(); }
    bool empty() const { return m_names.empty(); }
    const char *rawName(std::size_t i) const { return m_bytes.data() + m_names[i].raw; }
    std::string_view raw(std::size_t i) const { return raw(m_names[i]); }
    std::string_view text(std::size_t i) const { return text(m_names[i]); }

private:
    struct Name
    {
        std::uint32_t raw, rawLength, text, textLength;
    };
    std::uint32_t offset() const { return static_cast<std::uint32_t>(m_bytes.size()); }
    std::string_view raw(const Name &name) const { return {m_bytes.data() + name.raw, name.rawLength}; }
    std::string_view text(const Name &name) const { return {m_bytes.data() + name.text, name.textLength}; }

    std::string m_bytes;
    std::vector<Name> m_names;
};

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

// A directory opened for reading, closed when it goes out of scope.
class OpenDirectory
{
public:
    explicit OpenDirectory(int fd) : m_fd(fd) {}
    ~OpenDirectory() { close(); }
    OpenDirectory(const OpenDirectory &) = delete;
    OpenDirectory &operator=(const OpenDirectory &) = delete;
    int fd() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// The size of the buffer a directory is read into: a few hundred entries a system call.
constexpr std::size_t kDirectoryBuffer = 32 * 1024;

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
    // The root may be reached through a link; below it no link is ever followed. The entries are
    // read straight from the kernel (getdents64): opendir would cost two system calls more for each
    // directory.
    const int openFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (here == m_rootLength ? 0 : O_NOFOLLOW);
    OpenDirectory directory(::open(m_path.c_str(), openFlags));
    const int fd = directory.fd();
    if (fd < 0)
        return fail(errno);
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(kDirectoryBuffer);
    NameList files;
    NameList colSubDirs;
    for (;;) {
        const ssize_t filled = ::getdents64(fd, m_buffer.get(), kDirectoryBuffer);
        if (filled < 0)
            return fail(errno);
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
                if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    return fail(errno);
                type = S_ISREG(info.st_mode) ? DT_REG : (S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN);
            }
            if (type == DT_REG)
                files.add(entry->d_name);
            else if (type == DT_DIR)
                colSubDirs.add(entry->d_name);
        }
    }
    files.sort();
    colSubDirs.sort();

    m_observer.directoryListed(m_rootText + TextForms::fromUtf8(m_text));
    m_observer.yield();

    if (!files.empty()) {
        const auto count = static_cast<qint64>(files.size());
        m_observer.filesStarting(count);
        qint64 lastYield = 0;
        std::string relative(relativeDir);
        for (qint64 i = 0; i < count; ++i) {
            const auto file = static_cast<std::size_t>(i);
            m_observer.fileStarting(i, files.text(file));
            int error = 0;
            if (TestSeams::WalkFault()) {
                relative.resize(here - m_rootLength);
                relative += files.raw(file);
                error = injectedFault(relative);
            }
            m_text.resize(hereText);
            m_text += files.text(file);
            clsFile record;
            if (error != 0 || !record.SetFileInformationAt(fd, files.rawName(file), m_text, m_label, &error))
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
    directory.close(); // no descriptor is held open down the tree
    files = NameList(); // only the subdirectory names are kept below this level
    m_text.resize(hereText);

    m_observer.yield();

    const auto subdirCount = static_cast<qint64>(colSubDirs.size());
    for (qint64 k = 0; k < subdirCount && !m_stopped; ++k) {
        m_observer.subdirectoryStarting(k, subdirCount);
        const auto subdirectory = static_cast<std::size_t>(k);
        m_path.resize(here);
        m_path += colSubDirs.raw(subdirectory);
        m_path += '/';
        m_text.resize(hereText);
        m_text += colSubDirs.text(subdirectory);
        m_text += '/';
        walk();
    }
    m_path.resize(here);
    m_text.resize(hereText);
}
