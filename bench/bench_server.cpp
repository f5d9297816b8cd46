// Times quillary-cli on a catalogue kept on a PostgreSQL server beside the same work on a catalogue
// file, in one run on one machine: the server is a local PostgreSQL the benchmark starts in a temporary
// directory (Debian's postgresql package, its default settings, durability on), reached through its
// socket.
//
//  - search of a selective phrase (and of two letters, which the trigram index cannot serve) on
//    catalogues of 1,000,000 and 5,000,000 generated names, beside plocate -i -b on the same names;
//  - copy of each catalogue from the file to the server and back;
//  - add of a generated 200,000-file tree into an empty catalogue, a search while its names wait for
//    the search index, and the same tree added again, which brings the names into the index.
//
// Usage: bench_server [--no-add] [number of names ...]   (default: 1000000 5000000)
// Needs quillary-cli and the shipped empty catalogue in the build directory; plocate (Debian package
// plocate) for the comparison.

#include "ChildRun.h"
#include "GeneratedCatalogue.h"
#include "GeneratedTree.h"
#include "support/PostgresServer.h"

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

namespace {

// A run of quillary-cli or plocate, its output read through a pipe and its lines counted.
ChildRun runChild(const QStringList &arguments)
{
    return runChild(arguments, true);
}

// The median of three runs after a warm-up.
ChildRun timeChild(const QStringList &arguments)
{
    runChild(arguments);
    std::vector<ChildRun> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(runChild(arguments));
    std::sort(runs.begin(), runs.end(), [](const ChildRun &a, const ChildRun &b) { return a.ms < b.ms; });
    return runs[1];
}

QString g_cli;
QString g_shipped;
std::unique_ptr<PostgresServer> g_server;
int g_databases = 0;

// A new empty catalogue on the server: its connection string.
QString newServerCatalogue()
{
    const QString database = QStringLiteral("bench%1").arg(++g_databases);
    g_server->psql(QStringLiteral("CREATE DATABASE %1").arg(database));
    const QString uri = g_server->connection(database);
    return runChild({g_cli, QStringLiteral("init"), uri}).status == 0 ? uri : QString();
}

void dropServerCatalogue(const QString &uri)
{
    g_server->psql(QStringLiteral("DROP DATABASE %1").arg(uri.section(QStringLiteral("dbname="), 1)));
}

QString newFileCatalogue(const QTemporaryDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    QFile::remove(path);
    QFile::copy(g_shipped, path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void benchSearchAndCopy(qint64 count, const QString &plocate, const QString &plocateBuild)
{
    QTemporaryDir dir;
    const QString file = newFileCatalogue(dir, QStringLiteral("catalogue.mdb"));
    const QString names = dir.filePath(QStringLiteral("names.txt"));
    const QString plocateDb = dir.filePath(QStringLiteral("names.plocate.db"));
    if (!fillCatalogue(file, count, names) || !refreshIndex(file)) {
        std::printf("could not fill the catalogue\n");
        return;
    }
    bool havePlocate = !plocate.isEmpty() && !plocateBuild.isEmpty();
    if (havePlocate) {
        QProcess builder;
        builder.start(plocateBuild,
                      {QStringLiteral("-p"), QStringLiteral("-l"), QStringLiteral("no"), names, plocateDb});
        builder.waitForFinished(-1);
        havePlocate = builder.exitCode() == 0;
    }
    QFile::remove(names);

    const QString server = newServerCatalogue();
    const ChildRun toServer = runChild({g_cli, QStringLiteral("copy"), file, server});
    const QString back = newFileCatalogue(dir, QStringLiteral("back.mdb"));
    const ChildRun toFile = runChild({g_cli, QStringLiteral("copy"), server, back});
    std::printf("%9lld  copy file -> server %8.1f s (exit %d)   server -> file %8.1f s (exit %d)\n",
                static_cast<long long>(count), toServer.ms / 1000, toServer.status, toFile.ms / 1000,
                toFile.status);
    for (const auto &[phrase, what] :
         {std::pair{kSelectivePhrase, "selective"}, std::pair{QString("ab"), "two letters"}}) {
        const ChildRun onFile =
            timeChild({g_cli, QStringLiteral("-c"), file, QStringLiteral("search"), phrase});
        const ChildRun onServer =
            timeChild({g_cli, QStringLiteral("-c"), server, QStringLiteral("search"), phrase});
        ChildRun theirs;
        if (havePlocate)
            theirs = timeChild({plocate, QStringLiteral("-d"), plocateDb, QStringLiteral("-i"),
                                QStringLiteral("-b"), phrase});
        std::printf("%9lld  %-13s %9lld  %9.0f  %9.0f  %7.2fx  %10.0f   (server rows %lld, exits %d %d%s)\n",
                    static_cast<long long>(count), qPrintable(QStringLiteral("\"%1\"").arg(phrase)),
                    static_cast<long long>(onFile.lines), onFile.ms, onServer.ms, onServer.ms / onFile.ms,
                    theirs.ms, static_cast<long long>(onServer.lines), onFile.status, onServer.status,
                    havePlocate ? "" : "; plocate missing");
        std::fflush(stdout);
        (void)what;
    }
    dropServerCatalogue(server);
}

// Adds the tree to an empty catalogue, searches it while its names wait for the index, and adds it
// again (which brings both discs' names into the index), on each engine; medians of 3.
void benchAdd(const QString &tree)
{
    const QString phrase = QStringLiteral("qx7");
    QTemporaryDir dir;
    std::vector<double> times[2][3]; // [file, server][add, search, add --again]
    qint64 rows = 0, found[2] = {0, 0};
    for (int i = 0; i < 3; ++i) {
        const QString catalogues[2] = {newFileCatalogue(dir, QStringLiteral("add.mdb")),
                                       newServerCatalogue()};
        for (int engine = 0; engine < 2; ++engine) {
            const QStringList on{g_cli, QStringLiteral("-c"), catalogues[engine]};
            const ChildRun runs[3] = {
                runChild(on + QStringList{QStringLiteral("add"), tree}),
                runChild(on + QStringList{QStringLiteral("search"), phrase}),
                runChild(on + QStringList{QStringLiteral("add"), QStringLiteral("--again"), tree})};
            for (int step = 0; step < 3; ++step) {
                const bool done =
                    runs[step].status == 0 || (step == 1 && runs[step].status == 1); // 1: none found
                times[engine][step].push_back(done ? runs[step].ms : -1);
            }
            found[engine] = runs[1].lines;
        }
        rows = runChild({g_cli, QStringLiteral("-c"), catalogues[1], QStringLiteral("export")}).lines;
        dropServerCatalogue(catalogues[1]);
    }
    const auto median = [](std::vector<double> &values) {
        std::sort(values.begin(), values.end());
        return values[1];
    };
    std::printf(
        "\nquillary-cli add of a generated tree into an empty catalogue, a search while its names wait\n"
        "for the index, and the tree added again (both discs' names then go into the index); median\n"
        "of 3, -1 for a failed command\n");
    std::printf("%-38s  %10s  %10s  %8s\n", "", "file ms", "server ms", "ratio");
    const std::string what[3] = {
        "add (" + std::to_string(rows / 2) + " files)",
        QStringLiteral("search \"%1\" (%2 / %3 rows)").arg(phrase).arg(found[0]).arg(found[1]).toStdString(),
        "add --again (index brought up to date)"};
    for (int step = 0; step < 3; ++step) {
        const double onFile = median(times[0][step]), onServer = median(times[1][step]);
        std::printf("%-38s  %10.0f  %10.0f  %7.2fx\n", what[step].c_str(), onFile, onServer,
                    onServer / onFile);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<qint64> sizes;
    bool add = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--no-add")
            add = false;
        else
            sizes.push_back(argument.toLongLong());
    }
    if (sizes.empty())
        sizes = {1000000, 5000000};
    const QDir buildDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    g_shipped = buildDir.filePath(QStringLiteral("ZODidozode.mdb"));
    g_cli = buildDir.absoluteFilePath(QStringLiteral("quillary-cli"));
    if (!QFile::exists(g_shipped) || !QFileInfo(g_cli).isExecutable()) {
        std::printf("Build the targets quillary-cli and catalogue_file first.\n");
        return 1;
    }
    QTemporaryDir serverDir;
    QString why;
    g_server = PostgresServer::Start(serverDir.path(), &why);
    if (!g_server) {
        std::printf("No PostgreSQL server: %s\n", qPrintable(why));
        return 1;
    }
    const QString plocate = QStandardPaths::findExecutable(QStringLiteral("plocate"));
    const QString plocateBuild = QStandardPaths::findExecutable(
        QStringLiteral("plocate-build"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});

    std::printf("quillary-cli search on a catalogue file and on the same rows on a local PostgreSQL server\n"
                "(copied there with quillary-cli copy), output read through a pipe; median of 3 after a\n"
                "warm-up, each a new process timed to its exit; plocate -i -b on the same names.\n\n");
    std::printf("%9s  %-13s %9s  %9s  %9s  %8s  %10s\n", "names", "phrase", "rows", "file ms", "server ms",
                "srv/file", "plocate ms");
    for (qint64 count : sizes)
        benchSearchAndCopy(count, plocate, plocateBuild);
    if (add) {
        const TreeShape shape{"tree-200k", 16, 24, 25, 20, 0}; // as bench_catalogue's
        const QString tree = QDir::tempPath() + QStringLiteral("/quillary-bench-catalogue/tree-200k");
        QDir().mkpath(QFileInfo(tree).path());
        if (!KeepTree(tree, shape)) // the tree bench_catalogue keeps
            std::printf("could not make the tree %s\n", qPrintable(tree));
        else
            benchAdd(tree);
    }
    g_server.reset();
    return 0;
}
