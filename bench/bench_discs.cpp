// Times quillary-cli's disc commands on a catalogue of 1,200,000 rows in 6 discs of 200,000 files
// (stored as the program stores discs, search index up to date), each beside the plain SQL that does
// the same to the table on a copy of the same file, in one run:
//   remove of one disc, rename of it, discs, duplicates (a tenth of each disc's files lie on another
//   disc too), and add --replace of a 211,000-file tree (a file gone half way through) beside a plain add
//   of it.
// Each timing is the median of three runs, each on a fresh copy of the catalogue (copying untimed).
//
// Usage: bench_discs [--dir DIR]   (default: <temp>/quillary-bench-discs; the catalogue and the tree are
// kept there for the next run). Needs quillary-cli and the shipped empty catalogue in the build directory.

#include "ChildRun.h"
#include "GeneratedTree.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueSave.h"
#include "db/Sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <functional>

namespace {

constexpr int kDiscs = 6;
constexpr int kFilesPerDisc = 200'000;

[[noreturn]] void die(const QString &what)
{
    std::fprintf(stderr, "bench_discs: %s\n", qPrintable(what));
    std::exit(1);
}

bool copyCatalogue(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
}

// The files of disc number d (from 0): names and sizes of their own, except every tenth file, which
// has the name and size of a file of the disc before it.
void fillDisc(int d, clsFileColl &files)
{
    files.Clear();
    const QString label = QStringLiteral("BACKUP_%1").arg(d + 1, 2, 10, QLatin1Char('0'));
    for (int i = 0; i < kFilesPerDisc; ++i) {
        const int owner = (i % 10 == 0 && d > 0) ? d - 1 : d;
        const QString name = QStringLiteral("photo %1-%2.jpg").arg(owner).arg(i, 6, 10, QLatin1Char('0'));
        const QString dir = QStringLiteral("%1/%2/").arg(2000 + i % 20).arg(i / 50 % 100);
        const QString size = QString::number(quint64(owner) * 7919 + quint64(i) * 104729 % 50'000'000);
        files.Add(label, name, label + QStringLiteral(": ") + dir + name, size,
                  QStringLiteral("3/14/2015 9:26:53"), QStringLiteral("3/14/2015 9:26:53"));
    }
}

// The catalogue of six discs, made once and kept.
QString ensureCatalogue(const QString &dir, const QString &shipped)
{
    const QString path = dir + QStringLiteral("/discs.mdb");
    if (QFile::exists(path + QStringLiteral(".complete")))
        return path;
    std::printf("# making the catalogue of %d discs (once)\n", kDiscs);
    if (!copyCatalogue(shipped, path))
        die(QStringLiteral("cannot copy %1").arg(shipped));
    struct Quiet : SaveObserver
    {
        void RecordStarting(qint32, const clsFile &) override {}
        void RecordDone(qint32) override {}
    } observer;
    clsFileColl files;
    for (int d = 0; d < kDiscs; ++d) {
        fillDisc(d, files);
        CatalogueSave save(observer, SaveSettings{60'000, 5000, d == kDiscs - 1});
        save.RecordDisc(
            {QString(), QStringLiteral("directory"), QStringLiteral("/srv/backup/%1").arg(d + 1), {}});
        if (!save.SaveFileList(path, files))
            die(save.FailureText());
    }
    QFile mark(path + QStringLiteral(".complete"));
    mark.open(QIODevice::WriteOnly);
    return path;
}

QString ensureTree(const QString &dir)
{
    const QString root = dir + QStringLiteral("/tree-200k");
    if (!QFile::exists(root + QStringLiteral("/.complete")))
        std::printf("# making a tree of 211,000 files (once)\n");
    if (!KeepTree(root, {"tree-200k", 20, 10, 20, 50, 0}))
        die(QStringLiteral("cannot make %1").arg(root));
    return root;
}

// The median of three runs of work, each on a fresh copy of from made by prepare (untimed).
double median3(const std::function<void()> &prepare, const std::function<double()> &work)
{
    double times[3];
    for (double &t : times) {
        prepare();
        t = work();
    }
    std::sort(std::begin(times), std::end(times));
    return times[1];
}

double timeCli(const QStringList &arguments)
{
    const ChildRun run = runChild(arguments, false);
    if (run.status > 1)
        die(QStringLiteral("%1 ended with status %2").arg(arguments.join(QLatin1Char(' '))).arg(run.status));
    return run.ms / 1000;
}

// Plain SQL on the catalogue at path, timed from opening the file to the end of its last statement
// (all rows stepped through).
double timeSql(const QString &path,
               const std::vector<std::pair<std::string, std::vector<QString>>> &statements)
{
    QElapsedTimer timer;
    timer.start();
    CDatabase db(path);
    if (!db.IsOpen())
        die(db.LastError().text);
    for (const auto &[sql, values] : statements) {
        SqliteStatement statement = db.Prepare(sql);
        if (!statement.isValid())
            die(db.LastError().text);
        for (size_t i = 0; i < values.size(); ++i)
            statement.bind(int(i) + 1, values[i]);
        int rc;
        while ((rc = statement.step()) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            die(SqliteError(db.Handle()).text);
    }
    return timer.nsecsElapsed() / 1e9;
}

void row(const char *what, double ours, double plain, const char *goal)
{
    std::printf("%-34s %9.3f %9.3f %8.2f   %s\n", what, ours, plain, ours / plain, goal);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString cli = QFileInfo(build + QStringLiteral("/quillary-cli")).absoluteFilePath();
    const QString shipped = QFileInfo(build + QStringLiteral("/ZODidozode.mdb")).absoluteFilePath();
    QString dir = QDir::tempPath() + QStringLiteral("/quillary-bench-discs");
    const QStringList arguments = app.arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--dir"));
    if (at > 0 && at + 1 < arguments.size())
        dir = arguments.at(at + 1);
    if (!QFileInfo(cli).isExecutable() || !QFileInfo(shipped).isFile())
        die(QStringLiteral("build quillary-cli and the shipped catalogue first"));
    QDir().mkpath(dir);

    const QString base = ensureCatalogue(dir, shipped);
    const QString tree = ensureTree(dir);
    const QString work = dir + QStringLiteral("/work.mdb");
    const auto fresh = [&] {
        if (!copyCatalogue(base, work))
            die(QStringLiteral("cannot copy the catalogue"));
    };
    // Disc 3's rows, as the save stored them (one range: the save committed once).
    const QString first = QString::number(2 * kFilesPerDisc + 1);
    const QString last = QString::number(3 * kFilesPerDisc);
    const QStringList c{cli, QStringLiteral("--catalogue"), work};

    std::printf("%d discs of %d files (%d rows); seconds, median of 3 on fresh copies; warm cache\n\n",
                kDiscs, kFilesPerDisc, kDiscs * kFilesPerDisc);
    std::printf("%-34s %9s %9s %8s   %s\n", "", "quillary", "plain", "ratio", "goal");

    row("remove DISC (200,000 files)",
        median3(fresh,
                [&] {
                    return timeCli(c + QStringList{"remove", "3"});
                }),
        median3(fresh,
                [&] {
                    return timeSql(work, {{"BEGIN", {}},
                                          {"DELETE FROM Quillary WHERE ID BETWEEN ?1 AND ?2", {first, last}},
                                          {"COMMIT", {}}});
                }),
        "quillary < 1 s");
    row("rename DISC LABEL",
        median3(fresh,
                [&] {
                    return timeCli(c + QStringList{"rename", "3", "HOLIDAYS_2015"});
                }),
        median3(fresh,
                [&] {
                    return timeSql(work, {{"BEGIN", {}},
                                          {"UPDATE Quillary SET CDLabel = ?3, FilePath = ?3 || "
                                           "substr(FilePath, length(CDLabel) + 1) WHERE ID BETWEEN ?1 AND ?2",
                                           {first, last, QStringLiteral("HOLIDAYS_2015")}},
                                          {"COMMIT", {}}});
                }),
        "quillary < 2 s");
    fresh();
    row("discs", median3([] {}, [&] { return timeCli(c + QStringList{"discs"}); }),
        median3([] {},
                [&] {
                    return timeSql(work, {{"SELECT CDLabel, count(*), sum(CAST(FileSize AS INTEGER)) FROM "
                                           "Quillary GROUP BY CDLabel",
                                           {}}});
                }),
        "quillary < 0.05 s");
    row("duplicates", median3([] {}, [&] { return timeCli(c + QStringList{"duplicates"}); }),
        median3([] {},
                [&] {
                    return timeSql(work, {{"SELECT FileName, FileSize, count(*) FROM Quillary GROUP BY "
                                           "FileName, FileSize HAVING count(DISTINCT CDLabel) > 1",
                                           {}}});
                }),
        "quillary < 3 s");

    // add --replace of the tree catalogued as a seventh disc with one file more half way through (gone
    // since), beside adding it.
    const QString withTree = dir + QStringLiteral("/with-tree.mdb");
    const QString extra = tree + QLatin1Char('/') +
                          QDir(tree).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).value(10) +
                          QStringLiteral("/gone since.txt");
    QFile(extra).open(QIODevice::WriteOnly);
    const bool added =
        copyCatalogue(base, withTree) &&
        runChild({cli, QStringLiteral("--catalogue"), withTree, QStringLiteral("add"), tree}, false).status ==
            0;
    if (!QFile::remove(extra) || !added)
        die(QStringLiteral("cannot add the tree"));
    const double add = median3(fresh, [&] { return timeCli(c + QStringList{"add", tree}); });
    const double replace = median3(
        [&] {
            if (!copyCatalogue(withTree, work))
                die(QStringLiteral("cannot copy the catalogue"));
        },
        [&] {
            return timeCli(c + QStringList{"add", "--replace", tree});
        });
    std::printf("\n%-34s %9s %9s %8s   %s\n", "", "replace", "add", "ratio", "goal");
    row("add --replace TREE (211,000 files)", replace, add, "ratio <= 1.3");
    QFile::remove(work);
    QFile::remove(withTree);
    return 0;
}
