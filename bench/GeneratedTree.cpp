#include "GeneratedTree.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

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

namespace {

// Names as people and programs give them: words with blanks, in any letter case, now and then a
// number, a date or a word in another script.
class RealNames
{
public:
    explicit RealNames(std::mt19937 &random) : m_random(random) {}

    std::string next(bool file, bool hidden)
    {
        static const char *const kStyles[] = {" ", " ", " ", " ", "_", "-", ".", " - "};
        const bool foreign = chance(0.05);
        int words = 1;
        while (words < 24 && chance(words < 3 ? 0.55 : 0.35))
            ++words;
        const int style = pick(4); // 0 lower, 1 Title, 2 UPPER, 3 as it comes
        const char *separator = kStyles[pick(sizeof kStyles / sizeof *kStyles)];
        const int foreignAt = foreign ? pick(words) : -1;
        std::string name = hidden ? "." : "";
        for (int w = 0; w < words; ++w) {
            if (w > 0)
                name += separator;
            if (w == foreignAt) {
                name += foreignWord();
                continue;
            }
            if (chance(0.08)) {
                name += number();
                continue;
            }
            name += cased(asciiWord(), style == 3 ? pick(3) : style);
        }
        if (!foreign && chance(0.003))
            name += foreignWord(); // glued to the word before it
        std::string extension = file ? fileExtension() : std::string();
        const std::size_t room = 120 - characters(extension);
        if (characters(name) > room)
            name = firstCharacters(name, room);
        while (name.size() + extension.size() > 250) // NAME_MAX counts bytes
            name = firstCharacters(name, characters(name) - 1);
        return name + extension;
    }

    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }
    int pick(std::size_t count) { return std::uniform_int_distribution<int>(0, int(count) - 1)(m_random); }

private:
    static std::size_t characters(std::string_view text)
    {
        return std::size_t(std::count_if(
            text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    }

    static std::string firstCharacters(const std::string &text, std::size_t count)
    {
        std::size_t seen = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count)
                return text.substr(0, i);
        }
        return text;
    }

    std::string asciiWord()
    {
        static const char *const kWords[] = {
            "backup",  "photos",   "img",        "dsc",       "holiday",  "summer",  "report",   "final",
            "draft",   "copy of",  "new folder", "music",     "album",    "track",   "project",  "src",
            "lib",     "notes",    "invoice",    "scan",      "document", "letter",  "old",      "misc",
            "data",    "export",   "video",      "clip",      "family",   "wedding", "birthday", "budget",
            "thesis",  "chapter",  "slides",     "readme",    "setup",    "install", "drivers",  "manual",
            "archive", "mail",     "contacts",   "recipes",   "garden",   "kids",    "school",   "work",
            "tax",     "bank",     "statement",  "travel",    "paris",    "london",  "berlin",   "trip",
            "beach",   "mountain", "party",      "christmas", "camera",   "phone",   "desktop",  "downloads",
            "games",   "saves",    "settings",   "config",    "temp",     "cache",   "log",      "test",
            "sample",  "demo",     "release",    "build",     "images",   "icons",   "fonts",    "sound",
            "web",     "site",     "index",      "home",      "shared",   "public",  "personal", "a",
            "the",     "and",      "of",         "for",       "my",       "v2",      "hd",       "raw"};
        return kWords[pick(sizeof kWords / sizeof *kWords)];
    }

    std::string foreignWord()
    {
        static const char *const kWords[] = {
            // Latin
            "Straße", "Café", "Übersicht", "Ångström", "naïve", "résumé", "Zürich", "Größe", "Mañana",
            "São Paulo", "Øresund", "Łódź", "ärger", "façade", "crème brûlée", "ÉTÉ",
            // Greek
            "Αθήνα", "φωτογραφίες", "Ελλάδα", "διακοπές", "Μουσική", "έγγραφα", "ΣΟΦΊΑ",
            // Cyrillic
            "Москва", "Фото", "документы", "Лето", "Музыка", "отпуск", "ПРИВЕТ", "Ёлка",
            // CJK
            "写真", "東京", "旅行", "音楽", "資料", "サンプル", "会議", "北京", "사진", "문서"};
        return kWords[pick(sizeof kWords / sizeof *kWords)];
    }

    static std::string cased(std::string word, int style)
    {
        if (style == 1) {
            bool start = true;
            for (char &c : word) {
                if (start && c >= 'a' && c <= 'z')
                    c = char(c - 32);
                start = c == ' ';
            }
        } else if (style == 2) {
            for (char &c : word)
                c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
        }
        return word;
    }

    std::string number()
    {
        switch (pick(4)) {
        case 0:
            return std::to_string(pick(100));
        case 1: {
            char text[8];
            std::snprintf(text, sizeof text, "%04d", pick(10000));
            return text;
        }
        case 2: {
            char text[40];
            std::snprintf(text, sizeof text, "%d-%02d-%02d", 2006 + pick(20), 1 + pick(12), 1 + pick(28));
            return text;
        }
        default:
            return "(" + std::to_string(2 + pick(8)) + ")";
        }
    }

    std::string fileExtension()
    {
        static const char *const kExtensions[] = {
            ".jpg",  ".jpg",  ".jpg", ".JPG",  ".png",    ".mp3", ".mp3",  ".flac", ".pdf",
            ".docx", ".doc",  ".txt", ".zip",  ".tar.gz", ".c",   ".h",    ".cpp",  ".html",
            ".mp4",  ".MOV",  ".iso", ".xlsx", ".odt",    ".xml", ".json", ".log",  ".bak",
            ".Mp3",  ".jpeg", ".wav", ".avi",  ".exe",    ".dll", ""};
        return kExtensions[pick(sizeof kExtensions / sizeof *kExtensions)];
    }

    std::mt19937 &m_random;
};

struct PlannedDir
{
    std::string path;
    int depth = 0;
    bool hidden = false; // hidden itself or below a hidden folder: no listing shows it
    std::time_t written = 0;
    int visibleFiles = 0;
    int hiddenFiles = 0;
    std::set<std::string> taken; // the names in it so far
};

// A name not yet taken in the directory (byte for byte).
std::string freshName(RealNames &names, std::set<std::string> &taken, bool file, bool hidden)
{
    for (;;) {
        std::string name = names.next(file, hidden);
        if (name != "." && name != ".." && taken.insert(name).second)
            return name;
    }
}

// A file's modification time: half near its folder's, half anywhere in the 20 years, and now
// and then exactly midnight (the texts then hold the date alone).
timespec fileTime(std::mt19937 &random, std::time_t folder)
{
    constexpr std::time_t kFirst = 1'136'073'600; // 2006-01-01
    constexpr std::time_t kSpan = 20 * 365 * 86'400;
    std::time_t when =
        std::bernoulli_distribution(0.5)(random)
            ? kFirst + std::uniform_int_distribution<std::time_t>(0, kSpan)(random)
            : folder + std::time_t(std::exponential_distribution<double>(1.0 / 259'200)(random));
    long nanoseconds = std::uniform_int_distribution<long>(0, 999'999'999)(random);
    if (std::bernoulli_distribution(0.01)(random)) {
        std::tm parts{};
        localtime_r(&when, &parts);
        parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
        parts.tm_isdst = -1;
        when = std::mktime(&parts);
        nanoseconds = 0;
    }
    return {when, nanoseconds};
}

// 0 bytes now and then; else evenly spread over the orders of magnitude up to 100 MB.
off_t fileSize(std::mt19937 &random)
{
    if (std::bernoulli_distribution(0.03)(random))
        return 0;
    return off_t(std::exp(std::uniform_real_distribution<double>(0, std::log(1e8))(random)));
}

} // namespace

bool MakeRealTree(const QString &root, const RealTreeShape &shape, GeneratedTree *made)
{
    std::mt19937 random(shape.seed);
    RealNames names(random);
    constexpr int kMaxDepth = 8;
    // Subdirectories per directory at each depth: about 10,000 directories, most of them 4 to 8 deep.
    constexpr double kBranching[kMaxDepth] = {12, 6, 4, 3, 2, 1.5, 1.0, 0.7};
    constexpr std::time_t kFirst = 1'136'073'600; // 2006-01-01
    constexpr std::time_t kSpan = 20 * 365 * 86'400;

    std::vector<PlannedDir> dirs;
    PlannedDir top;
    top.path = QFile::encodeName(root).toStdString();
    top.written = kFirst + kSpan / 2;
    dirs.push_back(std::move(top));
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (dirs[i].depth == kMaxDepth)
            continue;
        const int count = std::poisson_distribution<int>(kBranching[dirs[i].depth])(random);
        for (int k = 0; k < count; ++k) {
            const bool hidden = names.chance(0.03);
            PlannedDir dir;
            dir.path = dirs[i].path + '/' + freshName(names, dirs[i].taken, false, hidden);
            dir.depth = dirs[i].depth + 1;
            dir.hidden = dirs[i].hidden || hidden;
            dir.written = kFirst + std::uniform_int_distribution<std::time_t>(0, kSpan)(random);
            dirs.push_back(std::move(dir));
        }
    }

    // The visible files go to the visible folders in very different numbers (a tenth get none).
    std::vector<double> weights(dirs.size(), 0.0);
    double total = 0;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (!dirs[i].hidden && !names.chance(0.1))
            weights[i] = std::exp(std::normal_distribution<double>(0, 1.3)(random));
        total += weights[i];
    }
    int placed = 0;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        dirs[i].visibleFiles = int(shape.visibleFiles * weights[i] / total);
        placed += dirs[i].visibleFiles;
    }
    while (placed < shape.visibleFiles) {
        PlannedDir &dir = dirs[std::size_t(names.pick(dirs.size()))];
        if (!dir.hidden) {
            ++dir.visibleFiles;
            ++placed;
        }
    }
    for (PlannedDir &dir : dirs) {
        if (dir.hidden)
            dir.hiddenFiles = std::poisson_distribution<int>(8)(random); // what a hidden folder holds
        else
            dir.hiddenFiles = std::binomial_distribution<int>(dir.visibleFiles, 0.03)(random);
    }

    GeneratedTree tree;
    for (PlannedDir &dir : dirs) {
        if (::mkdir(dir.path.c_str(), 0755) != 0)
            return false;
        if (!dir.hidden && dir.depth > 0)
            ++tree.dirs;
        const int files = dir.visibleFiles + dir.hiddenFiles;
        for (int f = 0; f < files; ++f) {
            const bool hiddenName = f >= dir.visibleFiles && !dir.hidden;
            const std::string path = dir.path + '/' + freshName(names, dir.taken, true, hiddenName);
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                return false;
            const timespec when = fileTime(random, dir.written);
            const timespec times[2] = {when, when};
            const bool ok = ::ftruncate(fd, fileSize(random)) == 0 && ::futimens(fd, times) == 0;
            ::close(fd);
            if (!ok)
                return false;
            if (!dir.hidden && !hiddenName)
                ++tree.files;
        }
    }
    if (made)
        *made = tree;
    return true;
}

namespace {

template <typename Make> bool keep(const QString &root, const Make &make)
{
    const QString done = root + QStringLiteral("/.complete");
    if (QFile::exists(done))
        return true;
    QDir(root).removeRecursively();
    if (!make())
        return false;
    QFile mark(done);
    return mark.open(QIODevice::WriteOnly);
}

} // namespace

bool KeepTree(const QString &root, const TreeShape &shape)
{
    return keep(root, [&] { return MakeTree(root, shape); });
}

bool KeepRealTree(const QString &root, const RealTreeShape &shape)
{
    return keep(root, [&] { return MakeRealTree(root, shape); });
}
