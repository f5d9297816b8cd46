#include "GeneratedTree.h"

#include <QFile>

#include <algorithm>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

class NameMaker
{
public:
    explicit NameMaker(unsigned seed) : m_random(seed) {}

    // 8 to 40 characters; about one name in eight holds letters from outside ASCII.
    std::string next(bool withExtension)
    {
        static const char *const kOther[] = {"é", "ü", "ß", "Ж", "ø", "ç", "ñ", "✓", "日"};
        static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_- ";
        const int length = std::uniform_int_distribution<int>(8, 40)(m_random);
        const bool other = std::uniform_int_distribution<int>(0, 7)(m_random) == 0;
        std::string name;
        const int body = withExtension ? length - 4 : length;
        for (int i = 0; i < body; ++i) {
            if (other && i % 5 == 2)
                name += kOther[std::uniform_int_distribution<int>(0, 8)(m_random)];
            else
                name += kPlain[std::uniform_int_distribution<int>(0, sizeof kPlain - 2)(m_random)];
        }
        if (name.front() == ' ' || name.front() == '-')
            name.front() = 'n';
        name += std::to_string(m_counter++ % 10); // a name is never repeated in a directory
        if (withExtension)
            name += ".dat";
        return name;
    }

    std::mt19937 &random() { return m_random; }

private:
    std::mt19937 m_random;
    unsigned m_counter = 0;
};

// Adds count files to dir; returns how many were made, or -1.
int makeFiles(const std::string &dir, int count, int writtenBytes, NameMaker &names)
{
    const std::string content(static_cast<std::size_t>(std::max(writtenBytes, 0)), 'x');
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const std::string path = dir + '/' + names.next(true);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            continue; // a name that came out twice
        const off_t size = std::uniform_int_distribution<off_t>(
            0, writtenBytes > 0 ? writtenBytes : 5'000'000)(names.random());
        // Modification times spread over five years, so times are formatted again and again.
        const time_t when =
            1'500'000'000 + std::uniform_int_distribution<time_t>(0, 157'000'000)(names.random());
        const timeval times[2] = {{when, 0}, {when, 0}};
        const bool sized = writtenBytes > 0 ? ::write(fd, content.data(), std::size_t(size)) == ssize_t(size)
                                            : ::ftruncate(fd, size) == 0;
        const bool ok = sized && ::futimes(fd, times) == 0;
        ::close(fd);
        if (!ok)
            return -1;
        ++made;
    }
    return made;
}

} // namespace

bool MakeTree(const QString &root, const TreeShape &shape, GeneratedTree *made)
{
    NameMaker names(20261207);
    GeneratedTree tree;
    const std::string base = QFile::encodeName(root).toStdString();
    if (::mkdir(base.c_str(), 0755) != 0)
        return false;
    const auto addDir = [&](const std::string &dir) {
        if (::mkdir(dir.c_str(), 0755) != 0)
            return false;
        ++tree.dirs;
        const int files = makeFiles(dir, shape.filesPerDir, shape.writtenBytes, names);
        tree.files += files > 0 ? files : 0;
        return files >= 0;
    };
    for (int t = 0; t < shape.topDirs; ++t) {
        const std::string top = base + '/' + names.next(false);
        if (!addDir(top))
            return false;
        for (int s = 0; s < shape.subDirs; ++s) {
            const std::string sub = top + '/' + names.next(false);
            if (!addDir(sub))
                return false;
            for (int u = 0; u < shape.subSubDirs; ++u) {
                if (!addDir(sub + '/' + names.next(false)))
                    return false;
            }
        }
    }
    if (made)
        *made = tree;
    return true;
}
