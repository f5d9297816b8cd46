#include "GeneratedCatalogue.h"

#include "db/CatalogueIndex.h"

#include <QFile>

#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// Words of file names as found on software, photo, music and document discs.
const std::vector<std::string> kWords = {
    "setup",  "data",   "readme",  "install",  "driver",   "audio",   "video",   "photo",   "image",
    "music",  "track",  "disc",    "game",     "level",    "map",     "sound",   "font",    "help",
    "manual", "report", "invoice", "letter",   "draft",    "final",   "backup",  "archive", "project",
    "source", "build",  "test",    "config",   "system",   "update",  "patch",   "table",   "chart",
    "notes",  "summer", "winter",  "holiday",  "family",   "party",   "school",  "work",    "office",
    "budget", "plan",   "copy",    "old",      "new",      "misc",    "temp",    "user",    "player",
    "engine", "kernel", "module",  "library",  "picture",  "scan",    "page",    "chapter", "lesson",
    "DSC",    "IMG",    "CIMG",    "vacation", "birthday", "wedding", "concert", "demo",    "intro"};
const std::vector<std::string> kForeign = {"Ärger", "Москва",  "ÉCOLE", "日本語", "straße",
                                           "Ωmega", "Çalışma", "señor", "Zürich", "Kraków"};
const std::vector<std::string> kExtensions = {"txt", "doc", "pdf", "jpg", "png", "mp3", "wav", "avi", "exe",
                                              "dll", "cab", "ini", "dat", "htm", "xml", "zip", "bmp", "gif"};
// One name in about 2,500 carries this word: the selective phrase finds a few hundred per million.
const std::string kRareWord = "Quarterly";

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return s;
}

struct NameMaker
{
    std::mt19937_64 random{20260101};
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }
    double chance() { return std::uniform_real_distribution<double>(0, 1)(random); }

    std::string name()
    {
        std::string n;
        const char *separators[] = {"_", "-", " ", ""};
        const char *sep = separators[pick(4)];
        const size_t parts = 1 + pick(3);
        for (size_t p = 0; p < parts; ++p) {
            if (p)
                n += sep;
            n += kWords[pick(kWords.size())];
        }
        if (chance() < 0.05)
            n += sep + kForeign[pick(kForeign.size())];
        if (chance() < 0.0004)
            n += sep + kRareWord;
        const double c = chance();
        if (c < 0.4)
            n = upper(n);
        else if (c < 0.6 && !n.empty() && n[0] >= 'a' && n[0] <= 'z')
            n[0] = static_cast<char>(n[0] - 32);
        if (chance() < 0.5)
            n += std::to_string(pick(10000));
        return n + "." + kExtensions[pick(kExtensions.size())];
    }
    std::string directory()
    {
        std::string d;
        const size_t depth = 1 + pick(4);
        for (size_t k = 0; k < depth; ++k)
            d += (k ? "/" : "") + upper(kWords[pick(kWords.size())]);
        return d;
    }
};

} // namespace

// Fills the catalogue with count rows (and writes the same names as paths for plocate).
bool fillCatalogue(const QString &path, qint64 count, const QString &plocateList)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        return false;
    sqlite3_exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, LastUpdateDate) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        -1, &insert, nullptr);
    QFile list(plocateList);
    if (!insert || !list.open(QIODevice::WriteOnly))
        return false;
    NameMaker maker;
    std::string label;
    std::string directory;
    std::string buffer;
    for (qint64 i = 0; i < count; ++i) {
        if (i % 2000 == 0) {
            char text[32];
            std::snprintf(text, sizeof text, "DISC%05lld", static_cast<long long>(i / 2000));
            label = text;
        }
        if (i % 25 == 0)
            directory = maker.directory();
        const std::string name = maker.name();
        const std::string filePath = label + ": " + directory + "/" + name;
        const std::string size = std::to_string(maker.pick(100000000));
        char created[32];
        std::snprintf(created, sizeof created, "%02d/%02d/20%02d %02d:%02d:%02d", int(1 + maker.pick(12)),
                      int(1 + maker.pick(28)), int(maker.pick(25)), int(maker.pick(24)), int(maker.pick(60)),
                      int(maker.pick(60)));
        const std::string values[] = {label, name, filePath, size, created, created};
        for (int k = 0; k < 6; ++k)
            sqlite3_bind_text(insert, k + 1, values[k].data(), int(values[k].size()), SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return false;
        sqlite3_reset(insert);
        buffer += "/" + label + "/" + directory + "/" + name + "\n";
        if (buffer.size() > (1 << 20)) {
            list.write(buffer.data(), qint64(buffer.size()));
            buffer.clear();
        }
    }
    list.write(buffer.data(), qint64(buffer.size()));
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return true;
}

bool refreshIndex(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    const bool ok = CatalogueIndex::Refresh(db);
    sqlite3_close(db);
    return ok;
}
