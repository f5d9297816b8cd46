// How fast quillary-cli reads a disc's content, next to xxhsum and cat reading the same bytes.
//
// Makes, once, a tree of files of mixed sizes (many of a few kilobytes, some of megabytes, a few of
// hundreds of megabytes; 2 GB in all by default) and an ISO 9660 image of it (xorriso), and keeps them
// in the temporary directory for later runs. Then times, one after the other, with the page cache
// dropped before each (echo 3 > /proc/sys/vm/drop_caches, as root), or, where it cannot be dropped,
// with every file read once before and all runs warm alike:
//   tree:  find | xargs cat (to /dev/null), find | xargs xxhsum -H128, quillary-cli add --content TREE,
//          quillary-cli verify 1 TREE
//   image: cat IMAGE, xxhsum -H128 IMAGE, quillary-cli add --content IMAGE, quillary-cli verify 1 IMAGE
// (best of three by default) and prints each one's rate in MB/s of the files' bytes, quillary-cli's rate over
// xxhsum's and cat's (goal: at least 0.8), and the peak memory of each command (its process and the processes
// it waited for; goal for quillary-cli: under 100 MB).
//
// Usage: bench_content [--size MB] [--dir PARENT] [--runs N] [--remake]
//   N: each command run N times, taking turns, the best time kept (default 3): on a machine shared with
//   other work the rates of single runs vary by a factor of two.
#include "ChildRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>


namespace {

struct Figures
{
    double seconds = 0;
    double peakMb = 0;
    int status = -1;
};

// Runs a command with its output to /dev/null; its wall time and peak memory.
Figures timed(const QStringList &command)
{
    const ChildRun run = runChild(command, false);
    return {run.ms / 1000, run.peakMb, run.status};
}

QStringList shell(const QString &script)
{
    return {QStringLiteral("sh"), QStringLiteral("-c"), script};
}

// Files of mixed sizes in 16 directories, bytes from a fixed seed, totalBytes in all.
bool makeTree(const QString &root, qint64 totalBytes)
{
    std::mt19937_64 random(20201207);
    std::vector<quint64> block(1 << 17); // 1 MiB
    qint64 left = totalBytes;
    for (int i = 0; left > 0; ++i) {
        const int kind = i % 20;
        qint64 size = kind < 14   ? qint64(1024 + random() % (256 << 10))        // small
                      : kind < 19 ? qint64((1 << 20) + random() % (15 << 20))    // megabytes
                                  : qint64((64 << 20) + random() % (192 << 20)); // large
        size = std::min(size, left);
        left -= size;
        const QString dir = root + QStringLiteral("/dir%1").arg(i % 16, 2, 10, QLatin1Char('0'));
        QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/file%1.bin").arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (qint64 written = 0; written < size;) {
            for (quint64 &word : block)
                word = random();
            const qint64 step = std::min<qint64>(size - written, qint64(block.size() * 8));
            if (file.write(reinterpret_cast<const char *>(block.data()), step) != step)
                return false;
            written += step;
        }
    }
    return true;
}

bool dropCaches()
{
    ::sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    return drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    qint64 megabytes = 2048;
    QString parent = QDir::tempPath();
    bool remake = false;
    int runsEach = 3;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--size" && i + 1 < args.size())
            megabytes = args[++i].toLongLong();
        else if (args[i] == "--dir" && i + 1 < args.size())
            parent = args[++i];
        else if (args[i] == "--runs" && i + 1 < args.size())
            runsEach = std::max(1, args[++i].toInt());
        else if (args[i] == "--remake")
            remake = true;
    }
    for (const char *tool : {"xxhsum", "xorriso", "cat", "find", "xargs"}) {
        if (QStandardPaths::findExecutable(QLatin1StringView(tool)).isEmpty()) {
            std::fprintf(stderr, "bench_content needs %s (apt-get install xxhash xorriso)\n", tool);
            return 2;
        }
    }
    const QString program = app.applicationDirPath() + QStringLiteral("/../quillary-cli");
    const QString emptyCatalogue = app.applicationDirPath() + QStringLiteral("/../shipped/ZODidozode.mdb");
    const QString work = parent + QStringLiteral("/quillary-bench-content-%1").arg(megabytes);
    const QString tree = work + QStringLiteral("/tree"), image = work + QStringLiteral("/tree.iso");
    const QString catalogue = work + QStringLiteral("/catalogue.mdb");
    if (remake || !QFileInfo::exists(image)) {
        QDir(work).removeRecursively();
        QElapsedTimer clock;
        clock.start();
        if (!QDir().mkpath(tree) || !makeTree(tree, megabytes << 20) ||
            QProcess::execute(QStringLiteral("xorriso"), {"-as", "mkisofs", "-quiet", "-R", "-J", "-V",
                                                          "CONTENT", "-o", image, tree}) != 0) {
            std::fprintf(stderr, "could not make the tree and image in %s\n", qPrintable(work));
            return 2;
        }
        std::fprintf(stderr, "made the tree and image in %s in %.0f s\n", qPrintable(work),
                     clock.elapsed() / 1e3);
    }
    qint64 bytes = 0, files = 0;
    for (QDirIterator it(tree, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        bytes += it.fileInfo().size();
        ++files;
    }
    const bool cold = dropCaches();
    const auto prepare = [&] {
        if (cold)
            dropCaches();
    };
    if (!cold) // every file read once: all runs read from the page cache alike
        timed(
            shell(QStringLiteral("find '%1' -type f -print0 | xargs -0 cat > /dev/null; cat '%2' > /dev/null")
                      .arg(tree, image)));
    const auto freshCatalogue = [&] {
        QFile::remove(catalogue);
        return QFile::copy(emptyCatalogue, catalogue);
    };

    std::printf("%lld files, %.0f MB (%s)\n", files, bytes / 1e6,
                cold ? "page cache dropped before each run"
                     : "page cache warm for every run: it cannot be dropped here");
    std::printf("%-6s %-32s %9s %9s %9s\n", "source", "command", "seconds", "MB/s", "peak MB");
    bool allRan = true;
    for (const bool ofImage : {false, true}) {
        const QString source = ofImage ? image : tree;
        const QString label = ofImage ? QStringLiteral("image") : QStringLiteral("tree");
        struct Run
        {
            const char *name;
            QStringList command;
            bool adds;
        };
        const std::vector<Run> runs = {
            {"cat",
             ofImage
                 ? shell(QStringLiteral("cat '%1' > /dev/null").arg(image))
                 : shell(QStringLiteral("find '%1' -type f -print0 | xargs -0 cat > /dev/null").arg(tree)),
             false},
            {"xxhsum -H128",
             ofImage ? QStringList{"xxhsum", "-H128", image}
                     : shell(QStringLiteral("find '%1' -type f -print0 | xargs -0 xxhsum -H128 > /dev/null")
                                 .arg(tree)),
             false},
            {"quillary-cli add --content", {program, "add", "-c", catalogue, "--content", source}, true},
            {"quillary-cli verify", {program, "verify", "-c", catalogue, "1", source}, false},
        };
        std::vector<Figures> best(runs.size());
        for (int round = 0; round < runsEach; ++round) {
            for (std::size_t i = 0; i < runs.size(); ++i) {
                if (runs[i].adds && !freshCatalogue()) {
                    std::fprintf(stderr, "cannot copy %s\n", qPrintable(emptyCatalogue));
                    return 2;
                }
                prepare();
                const Figures figures = timed(runs[i].command);
                if (figures.status != 0) {
                    std::fprintf(stderr, "%s failed (exit status %d)\n", runs[i].name, figures.status);
                    allRan = false;
                }
                if (round == 0 || figures.seconds < best[i].seconds)
                    best[i].seconds = figures.seconds;
                best[i].peakMb = std::max(best[i].peakMb, figures.peakMb);
            }
        }
        double rate[4] = {};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            rate[i] = bytes / 1e6 / best[i].seconds;
            std::printf("%-6s %-32s %9.2f %9.0f %9.1f\n", qPrintable(label), runs[i].name, best[i].seconds,
                        rate[i], best[i].peakMb);
        }
        std::printf(
            "%-6s add --content: %.2f of xxhsum's rate, %.2f of cat's; verify: %.2f of xxhsum's, %.2f of "
            "cat's\n",
            qPrintable(label), rate[2] / rate[1], rate[2] / rate[0], rate[3] / rate[1], rate[3] / rate[0]);
    }
    return allRan ? 0 : 1;
}
