// Cataloguing a disc: the window's "List Files" then "Add to Database" of a 200,000-file tree, next to
// the floor the machine allows (find(1) listing the tree, plus SQLite's C API storing the same rows in
// one transaction into an empty catalogue without the search index).
//
// Makes, once, under the temp directory (kept and reused by later runs): a tree of 200,000 files made
// like a real backup disc (MakeRealTree: words with blanks in mixed case, names up to 120 characters,
// some in other scripts, hidden files and folders, dates over 20 years, depth up to 8), a tree of
// 200,000 files in 10,000 directories and one of 10,000 files in 500 directories (names of 8 to 40
// characters, some not ASCII), and a catalogue of 1,000,000 generated rows with its search index up to
// date. Then, warm, for each 200,000-file tree:
//   floor: find TREE -type f -printf ... > /dev/null, plus the one-transaction insert of the rows;
//   List Files + Add to Database through the window (offscreen) into an empty catalogue and into a copy
//   of the 1,000,000-row one, until the window is idle again;
//   the first search after the save (a selective phrase taken from one of the listed names), run at
//   once, before the window has brought the search index up to date (it does that while idle, in
//   short steps: "index s" is how long the idle window took), and again once the index covers the new
//   rows ("then"). Also the cost of 200,000 yields of the idle window (the save yields once a record).
// The window's peak memory (VmHWM, reset before) over its first List Files + Add to Database of each tree.
// Ends with lines "catalogue-200k-real total_s=... floor_s=... ratio=..." and "catalogue-200k ..." per
// catalogue, and the total of the 10,000-file disc.
//
// Usage: bench_catalogue [--dir PARENT] [--runs N] [--tree real|generated]
//   N runs of each, the best kept (default 1); --tree: only that one of the 200,000-file trees (each
//   tree's peak memory is then that of a process that has listed nothing before).
#include "GeneratedCatalogue.h"
#include "GeneratedTree.h"
#include "OffscreenWindow.h"

#include "app/frmZIDovidovarar.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueIndex.h"
#include "search/CatalogueSearch.h"
#include "settings/modConstant.h"
#include "testing/TestSeams.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const QString &what)
{
    std::fprintf(stderr, "bench_catalogue: %s\n", qPrintable(what));
    std::exit(1);
}

// The process's peak resident memory (VmHWM) in MB, and starting it afresh from what is resident now.
double peakResidentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double seconds(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e9;
}

qint64 countFiles(const QString &root)
{
    QProcess count;
    count.start("sh", {"-c", "find \"$1\" -type f ! -path '*/.*' | wc -l", "sh", root});
    count.waitForFinished(-1);
    return count.readAllStandardOutput().trimmed().toLongLong();
}

double timeFind(const QString &root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start("find", {root, "-type", "f", "-printf", "%s %T@ %C@ %p\n"});
    find.waitForFinished(-1);
    return seconds(timer);
}

// The copy is on the disk when this returns, as a catalogue in use long since is: else the first commit
// into it would write out the whole copy (200 MB for the 1,000,000-row catalogue) within the time taken.
bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    QFile::remove(to + QStringLiteral("-journal"));
    if (!QFile::copy(from, to))
        return false;
    QFile copy(to);
    return copy.open(QIODevice::ReadWrite) && ::fsync(copy.handle()) == 0;
}

bool execAll(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The rows of a listing as UTF-8, ready to bind.
std::vector<std::string> rowsOf(const clsFileColl &files)
{
    std::vector<std::string> values;
    values.reserve(std::size_t(files.Count()) * 6);
    for (const clsFile &record : files) {
        for (const QString &text : {record.CDLabelName(), record.FileName(), record.FilePath(),
                                    record.FileSize(), record.CreateDate(), record.LastUpdateDate()})
            values.push_back(text.toStdString());
    }
    return values;
}

// The C API's floor: one prepared INSERT, one transaction, into an empty catalogue without the index.
double timeReferenceInsert(const QString &shipped, const QString &path,
                           const std::vector<std::string> &values)
{
    if (!copyFile(shipped, path))
        die(QStringLiteral("cannot copy the catalogue"));
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK ||
        !execAll(db, "DROP TRIGGER QuillarySearchOnInsert; DROP TRIGGER QuillarySearchOnUpdate; "
                     "DROP TRIGGER QuillarySearchOnDelete; DROP TABLE QuillarySearchTrigram; "
                     "DROP TABLE QuillarySearchFold; DROP TABLE QuillarySearchState; "
                     "DROP TABLE QuillarySearchDirty; VACUUM"))
        die(QStringLiteral("cannot prepare the reference catalogue"));
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, "
                       "LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    execAll(db, "BEGIN");
    for (std::size_t row = 0; row + 6 <= values.size(); row += 6) {
        for (int k = 0; k < 6; ++k) {
            const std::string &value = values[row + std::size_t(k)];
            sqlite3_bind_text(insert, k + 1, value.data(), int(value.size()), SQLITE_STATIC);
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            die(QStringLiteral("reference insert: %1").arg(sqlite3_errmsg(db)));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (!execAll(db, "COMMIT"))
        die(QStringLiteral("reference commit: %1").arg(sqlite3_errmsg(db)));
    const double taken = seconds(timer);
    sqlite3_close(db);
    return taken;
}

struct Catalogued
{
    double list = 1e9;
    double save = 1e9;
    double total = 1e9;
    double search = 1e9;
    qint64 found = -1;
    double upkeep = 0;        // the idle window bringing the index up to date after the save
    double indexedSearch = 0; // the same search once the index covers the new rows
};

// "List Files" then "Add to Database" through the window, into the catalogue at program/ZODidozode.mdb.
Catalogued catalogueThroughWindow(frmZIDovidovarar &window, const QString &root, qint64 files)
{
    auto *drives = window.findChild<QComboBox *>(QStringLiteral("cboSelectDrive"));
    auto *list = window.findChild<QPushButton *>(QStringLiteral("cmdTakeBackup"));
    auto *add = window.findChild<QPushButton *>(QStringLiteral("cmdAddToDB"));
    auto *found = window.findChild<QLabel *>(QStringLiteral("lblFilesFound"));
    drives->clear();
    drives->addItem(root); // a directory that is no drive's root: listed all the same
    drives->setCurrentIndex(0);
    QCoreApplication::processEvents();

    Catalogued result;
    QElapsedTimer timer;
    timer.start();
    list->click();
    result.list = seconds(timer);
    const qint64 rows = window.findChild<QTreeView *>(QStringLiteral("lvwListFile"))->model()->rowCount();
    if (rows != files)
        die(QStringLiteral("List Files showed %1 rows of %2 files").arg(rows).arg(files));
    QElapsedTimer saving;
    saving.start();
    add->click();
    QCoreApplication::processEvents(); // until the window is idle again
    result.save = seconds(saving);
    result.total = seconds(timer);
    if (found->text() != QStringLiteral("Files Save: %1").arg(files))
        die(QStringLiteral("the save ended with \"%1\"").arg(found->text()));
    return result;
}

// The first search after the save, as the window's search runs it: a fresh read connection.
void timeSearch(const QString &path, const QString &phrase, Catalogued &result)
{
    QElapsedTimer timer;
    timer.start();
    CDatabase db(path);
    CatalogueSearch search(db.Handle());
    if (!search.find(phrase))
        die(QStringLiteral("the search failed: %1").arg(search.error().text));
    qint64 rows = 0;
    while (search.next())
        ++rows;
    result.search = seconds(timer);
    result.found = rows;
}

// Lets the window run until the search index covers every row of the catalogue.
void waitForIndex(const QString &path)
{
    for (;;) {
        {
            CDatabase db(path);
            qint64 highest = 0;
            db.QueryInteger("SELECT ifnull(max(rowid), 0) FROM Quillary", &highest);
            const CatalogueIndex::Status status = CatalogueIndex::Examine(db.Handle());
            if (!status.usable || (status.watermark >= highest && status.changed == 0))
                return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// A phrase of six ASCII letters out of one listed name, and how many listed names hold it (a catalogue
// the rows are added to may hold it too).
QString selectivePhrase(const clsFileColl &files, qint64 *expected)
{
    QString phrase;
    for (qint32 i = 777; i <= files.Count() && phrase.isEmpty(); ++i) {
        const QString name = files.Item(i).FileName();
        for (qsizetype start = 0; start + 6 <= name.size(); ++start) {
            const QString part = name.mid(start, 6);
            if (std::all_of(part.begin(), part.end(),
                            [](QChar c) { return c.isLetter() && c.unicode() < 128; })) {
                phrase = part;
                break;
            }
        }
    }
    *expected = 0;
    for (const clsFile &record : files)
        *expected += record.FileName().contains(phrase, Qt::CaseInsensitive) ? 1 : 0;
    return phrase;
}

} // namespace

int main(int argc, char **argv)
{
    PrepareOffscreenWindow();
    QApplication app(argc, argv);

    QString parent = QDir::tempPath();
    int runs = 1;
    QString only;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size())
            parent = args[++i];
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--tree" && i + 1 < args.size())
            only = args[++i];
    }
    const QString shipped = QCoreApplication::applicationDirPath() + QStringLiteral("/../ZODidozode.mdb");
    if (!QFile::exists(shipped))
        die(QStringLiteral("%1 is missing: build the target catalogue_file first").arg(shipped));

    const QString base = parent + QStringLiteral("/quillary-bench-catalogue");
    QDir().mkpath(base);
    const RealTreeShape realShape{"tree-200k-real", 200'000, 20261207};
    const TreeShape bigShape{"tree-200k", 16, 24, 25, 20, 0}; // 16 + 384 + 9,600 = 10,000 directories
    const TreeShape cdShape{"tree-10k", 10, 7, 6, 20, 0};     // 10 + 70 + 420 = 500 directories
    const QString realTree = base + '/' + realShape.name;
    const QString bigTree = base + '/' + bigShape.name;
    const QString cdTree = base + '/' + cdShape.name;
    QElapsedTimer making;
    making.start();
    if (!KeepRealTree(realTree, realShape) || !KeepTree(bigTree, bigShape) || !KeepTree(cdTree, cdShape))
        die(QStringLiteral("cannot make the trees under %1").arg(base));
    const QString million = base + QStringLiteral("/million.mdb");
    if (!QFile::exists(million + QStringLiteral(".complete"))) {
        if (!copyFile(shipped, million) || !fillCatalogue(million, 1'000'000, base + "/million.names") ||
            !refreshIndex(million))
            die(QStringLiteral("cannot make the 1,000,000-row catalogue"));
        QFile(million + QStringLiteral(".complete")).open(QIODevice::WriteOnly);
    }
    std::fprintf(stderr, "trees and catalogue ready in %s (%.1f s)\n", qPrintable(base), seconds(making));

    const QString program = base + QStringLiteral("/program");
    QDir().mkpath(program);
    const QString catalogue = program + '/' + modConstant::kDatabaseFileName;
    TestSeams::ProgramDirectory() = program;
    QStringList messages;
    TestSeams::MessageBox() = [&](QWidget *, const QString &text) { messages << text; };

    // The window starts on the empty catalogue (nothing left for it to index from an earlier run).
    if (!copyFile(shipped, catalogue))
        die(QStringLiteral("cannot copy the catalogue"));
    frmZIDovidovarar window;
    window.show();
    window.findChild<QTabWidget *>(QStringLiteral("tabApplication"))->setCurrentIndex(1); // the list view
    QCoreApplication::processEvents();

    // A save yields to the window after every record (one turn of the event loop): what 200,000 such
    // turns cost with the window idle.
    QElapsedTimer yielding;
    yielding.start();
    for (int i = 0; i < 200000; ++i)
        QCoreApplication::processEvents();
    const double yields = seconds(yielding);

    struct Line
    {
        const char *name;
        QString start;
        Catalogued best;
        qint64 extraRows;
        qint64 extraFound = 0; // rows of the starting catalogue that the search finds
    };
    struct TreeRun
    {
        TreeRun(const char *name, const QString &path) : title(name), root(path), files(countFiles(path)) {}
        const char *title; // of its lines
        QString root;
        qint64 files = 0;
        double find = 1e9;
        double insert = 1e9;
        double peak = 0; // MB over the window's first List Files + Add to Database of the tree
        QString phrase;
        qint64 expected = 0;
        std::vector<Line> lines;
    };
    std::vector<TreeRun> trees;
    if (only.isEmpty() || only == QStringLiteral("real"))
        trees.emplace_back("catalogue-200k-real", realTree);
    if (only.isEmpty() || only == QStringLiteral("generated"))
        trees.emplace_back("catalogue-200k", bigTree);
    const qint64 cdFiles = countFiles(cdTree);
    rusage listing{};
    for (TreeRun &tree : trees) {
        // Warm the cache, then the floor: find, and the one-transaction insert of the rows listed.
        timeFind(tree.root);
        if (!copyFile(shipped, catalogue))
            die(QStringLiteral("cannot copy the catalogue"));
        resetPeakResident();
        catalogueThroughWindow(window, tree.root, tree.files); // warms the window's path and lists the rows
        tree.peak = peakResidentMegabytes();
        if (&tree == &trees[0])
            getrusage(RUSAGE_SELF,
                      &listing); // the window's own peak, before the benchmark's copies of the rows
        tree.phrase = selectivePhrase(objScannedFiles(), &tree.expected);
        {
            const std::vector<std::string> values = rowsOf(objScannedFiles());
            for (int run = 0; run < runs; ++run) {
                tree.find = std::min(tree.find, timeFind(tree.root));
                tree.insert =
                    std::min(tree.insert,
                             timeReferenceInsert(shipped, base + QStringLiteral("/reference.mdb"), values));
            }
        }

        tree.lines = {{"empty", shipped, {}, 0}, {"1M-rows", million, {}, 1'000'000}};
        for (Line &line : tree.lines) {
            if (!copyFile(line.start, catalogue))
                die(QStringLiteral("cannot copy the catalogue"));
            Catalogued before;
            timeSearch(catalogue, tree.phrase, before);
            line.extraFound = before.found;
            for (int run = 0; run < runs; ++run) {
                if (!copyFile(line.start, catalogue))
                    die(QStringLiteral("cannot copy the catalogue"));
                Catalogued result = catalogueThroughWindow(window, tree.root, tree.files);
                QElapsedTimer upkeep;
                upkeep.start();
                timeSearch(catalogue, tree.phrase,
                           result); // before the index covers the new rows, most likely
                waitForIndex(catalogue);
                result.upkeep = seconds(upkeep);
                Catalogued indexed;
                timeSearch(catalogue, tree.phrase, indexed);
                result.indexedSearch = indexed.search;
                if (indexed.found != result.found)
                    die(QStringLiteral("the search found %1 rows, then %2")
                            .arg(result.found)
                            .arg(indexed.found));
                if (result.total < line.best.total)
                    line.best = result;
            }
            CDatabase db(catalogue);
            qint64 rows = 0;
            if (!db.QueryInteger("SELECT count(*) FROM Quillary", &rows) ||
                rows != tree.files + line.extraRows)
                die(QStringLiteral("the catalogue holds %1 rows").arg(rows));
        }
    }

    Catalogued cd;
    for (int run = 0; run < std::max(runs, 3); ++run) {
        if (!copyFile(shipped, catalogue))
            die(QStringLiteral("cannot copy the catalogue"));
        const Catalogued result = catalogueThroughWindow(window, cdTree, cdFiles);
        waitForIndex(catalogue);
        if (result.total < cd.total)
            cd = result;
    }
    // One per List Files, none per save.
    if (messages.size() != qsizetype(trees.size()) * (1 + 2 * runs) + std::max(runs, 3))
        std::fprintf(stderr, "unexpected messages: %s\n", qPrintable(messages.join(" | ")));

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("200,000 yields of the idle window: %.3f s\n", yields);
    for (const TreeRun &tree : trees) {
        const double floor = tree.find + tree.insert;
        std::printf("\n%s: %s, %lld files; floor: find %.3f s + C API insert %.3f s = %.3f s\n", tree.title,
                    qPrintable(QFileInfo(tree.root).fileName()), static_cast<long long>(tree.files),
                    tree.find, tree.insert, floor);
        std::printf("search phrase \"%s\": %lld listed names hold it\n", qPrintable(tree.phrase),
                    static_cast<long long>(tree.expected));
        std::printf("peak memory of the window's first List Files + Add to Database: %.0f MB\n", tree.peak);
        std::printf("%-10s %8s %8s %8s %8s %6s %10s %6s %9s %8s\n", "catalogue", "list s", "save s",
                    "total s", "floor s", "ratio", "search ms", "found", "index s", "then ms");
        for (const Line &line : tree.lines)
            std::printf("%-10s %8.3f %8.3f %8.3f %8.3f %6.2f %10.1f %6lld %9.3f %8.1f\n", line.name,
                        line.best.list, line.best.save, line.best.total, floor, line.best.total / floor,
                        line.best.search * 1000, static_cast<long long>(line.best.found), line.best.upkeep,
                        line.best.indexedSearch * 1000);
        for (const Line &line : tree.lines) {
            if (line.best.found != tree.expected + line.extraFound)
                std::printf("SEARCH MISMATCH in %s: found %lld, expected %lld\n", line.name,
                            static_cast<long long>(line.best.found),
                            static_cast<long long>(tree.expected + line.extraFound));
        }
    }
    std::printf("\n10,000-file tree (%lld files): list %.3f s, save %.3f s, total %.3f s\n",
                static_cast<long long>(cdFiles), cd.list, cd.save, cd.total);
    std::printf("peak memory %.0f MB after the first List Files + Add to Database, %.0f MB in all\n",
                listing.ru_maxrss / 1024.0, usage.ru_maxrss / 1024.0);
    for (const TreeRun &tree : trees) {
        const double floor = tree.find + tree.insert;
        for (const Line &line : tree.lines)
            std::printf("%s total_s=%.3f floor_s=%.3f ratio=%.2f (%s)\n", tree.title, line.best.total, floor,
                        line.best.total / floor, line.name);
    }
    for (const TreeRun &tree : trees)
        std::printf("%s peak_mb=%.0f\n", tree.title, tree.peak);
    std::printf("catalogue-10k total_s=%.3f\n", cd.total);
    return 0;
}
