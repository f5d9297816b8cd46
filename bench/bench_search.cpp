// Times the search tab's whole search (offscreen, list filled) on catalogues of 1,000,000 and
// 5,000,000 generated file names, beside plocate on the same names.
//
// Usage: bench_search [number of names ...]     (default: 1000000 5000000)
// Needs the shipped empty catalogue ZODidozode.mdb in the build directory (target catalogue_file)
// and, for the comparison, plocate (Debian package plocate: plocate and plocate-build).

#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "db/CatalogueIndex.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

#include <sqlite3.h>

#include <algorithm>
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

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

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

struct SearchTiming
{
    double ms = 0;
    double firstYieldMs = 0; // finding the rows and their count: the window waits for it
    double maxYieldGapMs = 0;
    double peakMb = 0;
    int rows = 0;
};

SearchTiming timeWindowSearch(frmZIDovidovarar &window, const QString &phrase)
{
    auto *text = window.findChild<QLineEdit *>(QStringLiteral("txtSearchList"));
    auto *clear = window.findChild<QPushButton *>(QStringLiteral("cmdClearList"));
    auto *list = window.findChild<QTreeView *>(QStringLiteral("lvwFileSearch"));
    clear->click(); // drop the previous result first
    QCoreApplication::processEvents();
    resetPeakRss();
    SearchTiming timing;
    QElapsedTimer sinceYield;
    bool started = false;
    QElapsedTimer timer;
    TestSeams::AfterSearchYield() = [&] {
        if (started)
            timing.maxYieldGapMs = std::max(timing.maxYieldGapMs, sinceYield.nsecsElapsed() / 1e6);
        else
            timing.firstYieldMs = timer.nsecsElapsed() / 1e6;
        started = true;
        sinceYield.restart();
    };
    text->setText(phrase);
    timer.start();
    window.cmdSearch_Click();
    // The view lays out the rows announced last when the window next handles its events.
    QElapsedTimer layout;
    layout.start();
    QCoreApplication::processEvents();
    timing.maxYieldGapMs = std::max(timing.maxYieldGapMs, layout.nsecsElapsed() / 1e6);
    timing.ms = timer.nsecsElapsed() / 1e6;
    timing.peakMb = peakRssMb();
    timing.rows = list->model()->rowCount();
    TestSeams::AfterSearchYield() = {};
    return timing;
}

struct PlocateTiming
{
    double ms = -1;
    int hits = 0;
    QString note;
};

PlocateTiming timePlocate(const QString &database, const QString &phrase)
{
    PlocateTiming result;
    const QString plocate = QStandardPaths::findExecutable(QStringLiteral("plocate"));
    if (plocate.isEmpty()) {
        result.note = QStringLiteral("plocate not installed");
        return result;
    }
    std::vector<double> times;
    for (int run = 0; run < 4; ++run) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        process.start(plocate,
                      {QStringLiteral("-d"), database, QStringLiteral("-i"), QStringLiteral("-b"), phrase});
        process.waitForFinished(-1);
        if (run > 0)
            times.push_back(timer.nsecsElapsed() / 1e6);
        if (process.exitCode() > 1) {
            result.note =
                QStringLiteral("plocate failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
            return result;
        }
    }
    std::sort(times.begin(), times.end());
    result.ms = times[times.size() / 2];
    QProcess count;
    count.start(plocate, {QStringLiteral("-d"), database, QStringLiteral("-i"), QStringLiteral("-b"),
                          QStringLiteral("-c"), phrase});
    count.waitForFinished(-1);
    result.hits = count.readAllStandardOutput().trimmed().toInt();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(QByteArray(argv[i]).toLongLong());
    if (sizes.empty())
        sizes = {1000000, 5000000};

    const QString shipped =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../ZODidozode.mdb"));
    if (!QFile::exists(shipped)) {
        std::printf("The shipped empty catalogue %s is missing: build the target catalogue_file first.\n",
                    qPrintable(shipped));
        return 1;
    }
    const bool havePlocateBuild =
        !QStandardPaths::findExecutable(
             QStringLiteral("plocate-build"),
             {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")})
             .isEmpty();
    TestSeams::MessageBox() = [](QWidget *, const QString &text) {
        std::printf("  (message: %s)\n",
                    qPrintable(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" "))));
    };

    std::printf(
        "Search of the search tab (offscreen, list filled, median of 3 after a warm-up run) against\n"
        "plocate -i -b on the same names (median of 3 after a warm-up; includes starting plocate).\n"
        "Peak RSS is the process's high-water mark during that search; \"to 1st\" is the time to the\n"
        "first yield (finding the rows and counting them, before the list fills); \"max gap\" is the\n"
        "longest time between two yields while the list fills, and the view's last layout.\n\n");
    std::printf("%9s  %-11s %9s  %10s  %9s  %9s  %11s  %10s  %8s\n", "names", "phrase", "rows", "search ms",
                "to 1st ms", "peak MB", "max gap ms", "plocate ms", "ratio");

    for (qint64 count : sizes) {
        QTemporaryDir dir;
        const QString database = dir.filePath(QStringLiteral("ZODidozode.mdb"));
        const QString names = dir.filePath(QStringLiteral("names.txt"));
        const QString plocateDb = dir.filePath(QStringLiteral("names.plocate.db"));
        QFile::copy(shipped, database);
        QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
        QElapsedTimer build;
        build.start();
        if (!fillCatalogue(database, count, names)) {
            std::printf("could not fill the catalogue\n");
            return 1;
        }
        const double fillS = build.nsecsElapsed() / 1e9;
        build.restart();
        const bool indexed = refreshIndex(database);
        const double indexS = build.nsecsElapsed() / 1e9;
        QString plocateNote;
        if (havePlocateBuild) {
            QProcess builder;
            builder.start(QStringLiteral("plocate-build"), {QStringLiteral("-p"), QStringLiteral("-l"),
                                                            QStringLiteral("no"), names, plocateDb});
            builder.waitForFinished(-1);
            if (builder.exitCode() != 0)
                plocateNote = QStringLiteral("plocate-build failed: ") +
                              QString::fromLocal8Bit(builder.readAllStandardError()).trimmed();
        } else {
            plocateNote = QStringLiteral("plocate-build not found (apt-get install plocate)");
        }
        std::printf(
            "# %lld names: catalogue filled in %.1f s, search index built in %.1f s%s, file %.0f MB\n",
            static_cast<long long>(count), fillS, indexS, indexed ? "" : " (FAILED)",
            QFileInfo(database).size() / 1048576.0);
        if (!plocateNote.isEmpty())
            std::printf("# %s\n", qPrintable(plocateNote));

        TestSeams::ProgramDirectory() = dir.path();
        frmZIDovidovarar window;
        window.show();
        QCoreApplication::processEvents();
        const QList<QPair<QString, QString>> phrases{
            {QStringLiteral("quarterly"), QStringLiteral("selective")},
            {QStringLiteral("ab"), QStringLiteral("two chars")},
            {QString(), QStringLiteral("empty")}};
        for (const auto &[phrase, what] : phrases) {
            std::vector<SearchTiming> runs;
            timeWindowSearch(window, phrase); // warm-up
            for (int run = 0; run < 3; ++run)
                runs.push_back(timeWindowSearch(window, phrase));
            std::sort(runs.begin(), runs.end(),
                      [](const SearchTiming &a, const SearchTiming &b) { return a.ms < b.ms; });
            const SearchTiming &median = runs[1];
            double peak = 0;
            double gap = 0;
            for (const SearchTiming &t : runs) {
                peak = std::max(peak, t.peakMb);
                gap = std::max(gap, t.maxYieldGapMs);
            }
            PlocateTiming locate;
            if (plocateNote.isEmpty()) {
                // plocate needs a pattern; for the empty phrase every name contains ".".
                locate = timePlocate(plocateDb, phrase.isEmpty() ? QStringLiteral(".") : phrase);
            }
            const QString label = QStringLiteral("\"%1\"").arg(phrase);
            if (locate.ms >= 0) {
                std::printf("%9lld  %-11s %9d  %10.1f  %9.1f  %9.0f  %11.1f  %10.1f  %7.2fx   (%s; plocate "
                            "found %d)\n",
                            static_cast<long long>(count), qPrintable(label), median.rows, median.ms,
                            median.firstYieldMs, peak, gap, locate.ms, median.ms / locate.ms,
                            qPrintable(what), locate.hits);
            } else {
                std::printf("%9lld  %-11s %9d  %10.1f  %9.1f  %9.0f  %11.1f  %10s  %8s   (%s; %s)\n",
                            static_cast<long long>(count), qPrintable(label), median.rows, median.ms,
                            median.firstYieldMs, peak, gap, "-", "-", qPrintable(what),
                            qPrintable(locate.note.isEmpty() ? plocateNote : locate.note));
            }
            std::fflush(stdout);
        }
        window.findChild<QPushButton *>(QStringLiteral("cmdClearList"))->click();
    }
    return 0;
}
