// Times quillary-cli from the terminal: search on catalogues of 1,000,000 and 5,000,000 generated
// names beside plocate -i -b on the same names, and the search alone as the window runs it (in this
// process, rows read but not shown) for what printing adds.
//
// Then times quillary-cli add of a disc image of 200,000 files (the one bench_image makes and keeps)
// into an empty catalogue, beside xorriso -indev IMAGE -find / -type f listing the same image.
//
// Usage: bench_cli [--image PATH] [--no-search] [number of names ...]   (default: 1000000 5000000)
//   PATH: the image (default: <temp>/quillary-bench-200k.iso; run bench_image once to make it).
// Needs quillary-cli and the shipped empty catalogue in the build directory, and for the comparisons
// plocate (Debian package plocate: plocate and plocate-build) and xorriso.

#include "ChildRun.h"
#include "GeneratedCatalogue.h"
#include "db/Sqlite.h"
#include "search/CatalogueSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The median of three runs after a warm-up, with the highest peak.
ChildRun timeChild(const QStringList &arguments)
{
    runChild(arguments, false);
    std::vector<ChildRun> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(runChild(arguments, false));
    std::sort(runs.begin(), runs.end(), [](const ChildRun &a, const ChildRun &b) { return a.ms < b.ms; });
    ChildRun median = runs[1];
    for (const ChildRun &r : runs)
        median.peakMb = std::max(median.peakMb, r.peakMb);
    const ChildRun piped = runChild(arguments, true);
    median.firstMs = piped.firstMs;
    median.lines = piped.lines;
    return median;
}

// Bytes of the fields read by the last search (so that reading them is not optimised away).
size_t g_fieldBytes = 0;

// The window's search without the window: find, then read every row's six fields.
double timeCoreSearch(const QString &catalogue, const QString &phrase, qint64 *rows)
{
    std::vector<double> times;
    for (int i = 0; i < 4; ++i) {
        QElapsedTimer timer;
        timer.start();
        SqliteConnection db(catalogue);
        CatalogueSearch search(db.handle());
        search.find(phrase);
        size_t bytes = 0;
        *rows = 0;
        while (search.next()) {
            for (int c = 0; c < 6; ++c)
                bytes += search.field(c).size();
            ++*rows;
        }
        if (i > 0)
            times.push_back(timer.nsecsElapsed() / 1e6);
        g_fieldBytes = bytes; // the fields are really read
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

// quillary-cli add of the image into a new copy of the empty catalogue, beside xorriso listing it.
int benchAdd(const QString &cli, const QString &shipped, const QString &image)
{
    std::printf("\nquillary-cli add IMAGE (listing, saving with the window's durability, search index left "
                "to a later add or check) into an\n"
                "empty catalogue, beside xorriso -indev IMAGE -find / -type f (paths to /dev/null); warm,\n"
                "median of 3; peak is the child's max RSS.\n\n");
    if (!QFileInfo(image).isFile()) {
        std::printf("# no image at %s: run bench_image once to make it\n", qPrintable(image));
        return 0;
    }
    const QString xorriso = QStandardPaths::findExecutable(QStringLiteral("xorriso"));
    const QStringList listing{xorriso,
                              QStringLiteral("-indev"),
                              image,
                              QStringLiteral("-find"),
                              QStringLiteral("/"),
                              QStringLiteral("-type"),
                              QStringLiteral("f")};
    QTemporaryDir dir;
    const QString catalogue = dir.filePath(QStringLiteral("catalogue.mdb"));
    std::vector<ChildRun> adds;
    std::vector<ChildRun> lists;
    if (!xorriso.isEmpty())
        runChild(listing, false); // warms the cache
    for (int i = 0; i < 3; ++i) {
        QFile::remove(catalogue);
        QFile::copy(shipped, catalogue);
        QFile::setPermissions(catalogue, QFile::ReadOwner | QFile::WriteOwner);
        adds.push_back(runChild({cli, QStringLiteral("-c"), catalogue, QStringLiteral("add"), image}, false));
        if (!xorriso.isEmpty())
            lists.push_back(runChild(listing, false));
    }
    qint64 rows = 0;
    {
        SqliteConnection db(catalogue, SqliteConnection::Access::ReadOnly);
        SqliteInteger(db.handle(), "SELECT count(*) FROM Quillary", &rows);
    }
    const auto median = [](std::vector<ChildRun> runs) {
        std::sort(runs.begin(), runs.end(), [](const ChildRun &a, const ChildRun &b) { return a.ms < b.ms; });
        ChildRun m = runs[runs.size() / 2];
        for (const ChildRun &r : runs)
            m.peakMb = std::max(m.peakMb, r.peakMb);
        return m;
    };
    const ChildRun add = median(adds);
    std::printf("%8s  %9s  %11s  %8s  %10s  %12s  %8s  %10s\n", "files", "add s", "add files/s", "peak MB",
                "xorriso s", "xorriso f/s", "peak MB", "rate ratio");
    const ChildRun list = lists.empty() ? ChildRun{} : median(lists);
    std::printf("%8lld  %9.2f  %11.0f  %8.1f  %10.2f  %12.0f  %8.1f  %10.2f   (add exit %d%s)\n",
                static_cast<long long>(rows), add.ms / 1000, rows / (add.ms / 1000), add.peakMb,
                list.ms / 1000, rows / (list.ms / 1000), list.peakMb, list.ms / add.ms, add.status,
                lists.empty() ? ", xorriso not installed" : "");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<qint64> sizes;
    QString image = QDir::tempPath() + QStringLiteral("/quillary-bench-200k.iso");
    bool search = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--image" && i + 1 < argc)
            image = QFile::decodeName(argv[++i]);
        else if (argument == "--no-search")
            search = false;
        else
            sizes.push_back(argument.toLongLong());
    }
    if (sizes.empty() && search)
        sizes = {1000000, 5000000};

    const QDir buildDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    const QString shipped = buildDir.filePath(QStringLiteral("ZODidozode.mdb"));
    const QString cli = buildDir.absoluteFilePath(QStringLiteral("quillary-cli"));
    if (!QFile::exists(shipped) || !QFileInfo(cli).isExecutable()) {
        std::printf("Build the targets quillary-cli and catalogue_file first.\n");
        return 1;
    }
    const QString plocate = QStandardPaths::findExecutable(QStringLiteral("plocate"));
    const QString plocateBuild = QStandardPaths::findExecutable(
        QStringLiteral("plocate-build"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});

    if (!search)
        return benchAdd(cli, shipped, image);
    std::printf(
        "quillary-cli search (text format, output to /dev/null) against plocate -i -b on the same\n"
        "names; median of 3 after a warm-up, each a new process, timed to its exit (the last line).\n"
        "\"window ms\" is the window's search alone in this process (find, then read every row);\n"
        "\"1st line\" is when the first output arrived through a pipe; peak is the child's max RSS.\n\n");
    std::printf("%9s  %-11s %9s  %9s  %9s  %9s  %8s  %10s  %8s  %8s\n", "names", "phrase", "rows", "cli ms",
                "window ms", "1st line", "peak MB", "plocate ms", "peak MB", "cli/ploc");

    for (qint64 count : sizes) {
        QTemporaryDir dir;
        const QString catalogue = dir.filePath(QStringLiteral("catalogue.mdb"));
        const QString names = dir.filePath(QStringLiteral("names.txt"));
        const QString plocateDb = dir.filePath(QStringLiteral("names.plocate.db"));
        QFile::copy(shipped, catalogue);
        QFile::setPermissions(catalogue, QFile::ReadOwner | QFile::WriteOwner);
        if (!fillCatalogue(catalogue, count, names) || !refreshIndex(catalogue)) {
            std::printf("could not fill the catalogue\n");
            return 1;
        }
        bool havePlocate = !plocate.isEmpty() && !plocateBuild.isEmpty();
        if (havePlocate) {
            QProcess builder;
            builder.start(plocateBuild, {QStringLiteral("-p"), QStringLiteral("-l"), QStringLiteral("no"),
                                         names, plocateDb});
            builder.waitForFinished(-1);
            havePlocate = builder.exitCode() == 0;
        }
        if (!havePlocate)
            std::printf("# plocate or plocate-build missing or failing (apt-get install plocate)\n");
        QFile::remove(names);

        const QList<QPair<QString, QString>> phrases{{kSelectivePhrase, QStringLiteral("selective")},
                                                     {QStringLiteral("ab"), QStringLiteral("two letters")},
                                                     {QString(), QStringLiteral("everything")}};
        for (const auto &[phrase, what] : phrases) {
            const ChildRun ours =
                timeChild({cli, QStringLiteral("-c"), catalogue, QStringLiteral("search"), phrase});
            qint64 rows = 0;
            const double windowMs = timeCoreSearch(catalogue, phrase, &rows);
            ChildRun theirs;
            if (havePlocate) {
                // plocate needs a pattern; for everything, every name contains ".".
                theirs = timeChild({plocate, QStringLiteral("-d"), plocateDb, QStringLiteral("-i"),
                                    QStringLiteral("-b"), phrase.isEmpty() ? QStringLiteral(".") : phrase});
            }
            const QString label = QStringLiteral("\"%1\"").arg(phrase);
            std::printf(
                "%9lld  %-11s %9lld  %9.0f  %9.0f  %9.1f  %8.1f  %10.0f  %8.1f  %7.2fx   (%s; plocate "
                "printed %lld lines; cli exit %d)\n",
                static_cast<long long>(count), qPrintable(label), static_cast<long long>(ours.lines), ours.ms,
                windowMs, ours.firstMs, ours.peakMb, theirs.ms, theirs.peakMb,
                theirs.ms > 0 ? ours.ms / theirs.ms : 0.0, qPrintable(what),
                static_cast<long long>(theirs.lines), ours.status);
            if (rows != ours.lines)
                std::printf("# the window's search found %lld rows\n", static_cast<long long>(rows));
            std::fflush(stdout);
        }
    }
    return benchAdd(cli, shipped, image);
}
