// How fast "List Files" lists a disc, next to find(1) walking the same tree.
//
// Builds three synthetic trees (a big one of 200,000 files in about 10,000 directories, and a full CD of
// 10,000 files in 500 directories; names of 8 to 40 characters, some of them not ASCII; sizes and
// modification times spread out; and one of 200,000 files made like a real backup disc, see
// MakeRealTree), then for each tree times, warm:
//   find TREE -type f -printf '%s %T@ %C@ %p\n' > /dev/null
//   the window's whole "List Files" (offscreen, with its labels, bars, yields and the list view)
//   the directory walker alone, without a window
// and prints files per second, the ratio to find (find's time over List Files' time: 1 is as fast as
// find), the same ratio in processor seconds (findC, ListC: user + system, steadier on a busy
// machine), and the process's peak memory (ru_maxrss) after each tree.
//
// Usage: bench_scan [--dir PARENT] [--keep]
//   PARENT: where the trees are made (default /dev/shm when writable, else the temp directory);
//   a tree on a disk takes long to make but is listed from the cache like any other.
#include "GeneratedTree.h"
#include "Measuring.h"
#include "OffscreenWindow.h"

#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "catalogue/clsFileColl.h"
#include "scan/DirectoryWalker.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Tree
{
    QString root;
    int files = 0;
    int dirs = 0;
};

struct Shape
{
    const char *name;
    std::function<bool(const QString &, GeneratedTree *)> make;
};

bool makeTree(const QString &parent, const Shape &shape, Tree &tree)
{
    tree.root = parent + '/' + shape.name;
    GeneratedTree made;
    if (!shape.make(tree.root, &made))
        return false;
    tree.files = made.files;
    tree.dirs = made.dirs;
    return true;
}

// The files find(1) lists, counted to be sure both walks saw the same tree.
Timing timeFind(const QString &root, qint64 *files)
{
    QElapsedTimer timer;
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    timer.start();
    find.start("find", {root, "-type", "f", "-printf", "%s %T@ %C@ %p\n"});
    find.waitForFinished(-1);
    const Timing timing{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    if (files) {
        QProcess count;
        count.start("sh", {"-c", "find \"$1\" -type f ! -path '*/.*' | wc -l", "sh", root});
        count.waitForFinished(-1);
        *files = count.readAllStandardOutput().trimmed().toLongLong();
    }
    return timing;
}

double residentMegabytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

Timing timeWalker(const QString &root)
{
    clsFileColl files;
    NullObserver observer;
    DirectoryWalker walker(files, observer);
    walker.setLabel("BENCH");
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    walker.ScanDirectory(root);
    return {timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
}

// "List Files" through the window, as the user runs it; returns seconds, and the rows listed.
Timing timeListFiles(frmZIDovidovarar &window, const QString &root, qint64 *rows)
{
    auto *box = window.findChild<QComboBox *>("cboSelectDrive");
    auto *button = window.findChild<QPushButton *>("cmdTakeBackup");
    box->clear();
    box->addItem(root); // a directory that is no CD drive's root: scanned all the same
    box->setCurrentIndex(0);
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    button->click();
    const Timing timing{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
    *rows = window.findChild<QTreeView *>("lvwListFile")->model()->rowCount();
    return timing;
}

} // namespace

int main(int argc, char **argv)
{
    PrepareOffscreenWindow();
    QApplication app(argc, argv);

    QString parent =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    bool keep = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size())
            parent = args[++i];
        else if (args[i] == "--keep")
            keep = true;
    }
    QTemporaryDir work(parent + "/bench_scan-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot make a directory in %s\n", qPrintable(parent));
        return 1;
    }
    work.setAutoRemove(!keep);

    const auto generated = [](TreeShape shape) {
        return Shape{shape.name, [shape](const QString &root, GeneratedTree *made) {
                         return MakeTree(root, shape, made);
                     }};
    };
    const Shape shapes[] = {
        generated({"cd-10k", 10, 7, 6, 20, 0}),     // 10 + 70 + 420 = 500 directories, 10,000 files
        generated({"big-200k", 20, 22, 21, 20, 0}), // 20 + 440 + 9,240 = 9,700 directories, 194,000 files
        {"real-200k",
         [](const QString &root, GeneratedTree *made) {
             return MakeRealTree(root, {"real-200k", 200'000, 20261207}, made);
         }},
    };

    // The program directory with its catalogue, so the command finds the database it checks for.
    const QString program = work.path() + "/program";
    QDir().mkpath(program);
    QFile(program + '/' + modConstant::kDatabaseFileName).open(QIODevice::WriteOnly);
    TestSeams::ProgramDirectory() = program;
    QStringList messages;
    TestSeams::MessageBox() = [&](QWidget *, const QString &text) { messages << text; };

    frmZIDovidovarar window;
    window.show();
    window.findChild<QTabWidget *>("tabApplication")->setCurrentIndex(1); // the list view on screen
    QCoreApplication::processEvents();

    std::printf("trees in %s\n", qPrintable(parent));
    std::printf("%-9s %8s %6s | %7s %9s | %7s %9s %6s | %7s %9s | %5s %5s %6s | %7s\n", "tree", "files",
                "dirs", "find s", "find f/s", "List s", "List f/s", "ratio", "walk s", "walk f/s", "findC",
                "ListC", "ratioC", "peak MB");
    for (const Shape &shape : shapes) {
        Tree tree;
        QElapsedTimer making;
        making.start();
        if (!makeTree(work.path(), shape, tree)) {
            std::fprintf(stderr, "cannot make the tree %s: %s\n", shape.name, std::strerror(errno));
            return 1;
        }
        std::fprintf(stderr, "made %s (%d files, %d dirs) in %.1f s\n", shape.name, tree.files, tree.dirs,
                     making.nsecsElapsed() / 1e9);

        qint64 findFiles = 0;
        timeFind(tree.root, &findFiles); // warms the cache
        // Taking turns, best of three: the machine may be busy with other work meanwhile.
        Timing find;
        Timing list;
        Timing walk;
        qint64 rows = 0;
        for (int run = 0; run < 3; ++run) {
            find.keepBest(timeFind(tree.root, nullptr));
            list.keepBest(timeListFiles(window, tree.root, &rows));
            walk.keepBest(timeWalker(tree.root));
        }
        if (rows != findFiles || objScannedFiles().Count() != findFiles)
            std::fprintf(stderr, "MISMATCH: find lists %lld files, List Files %lld rows\n",
                         static_cast<long long>(findFiles), static_cast<long long>(rows));

        const double n = double(findFiles);
        std::printf(
            "%-9s %8lld %6d | %7.3f %9.0f | %7.3f %9.0f %6.2f | %7.3f %9.0f | %5.2f %5.2f %6.2f | %7.1f\n",
            shape.name, static_cast<long long>(findFiles), tree.dirs, find.wall, n / find.wall, list.wall,
            n / list.wall, find.wall / list.wall, walk.wall, n / walk.wall, find.cpu, list.cpu,
            find.cpu / list.cpu, peakMegabytes());
        std::fflush(stdout);
    }

    // What a million records of this kind take: the last scan's records, copied until there are a million.
    const clsFileColl &scanned = objScannedFiles();
    const qint32 perScan = scanned.Count();
    const double before = residentMegabytes();
    {
        clsFileColl million;
        while (perScan > 0 && million.Count() < 1'000'000) {
            for (const clsFile &record : scanned) {
                million.Append(clsFile(record));
                if (million.Count() == 1'000'000)
                    break;
            }
        }
        std::size_t text = 0;
        for (const clsFile &record : million)
            text += record.heapBytes();
        std::printf("1,000,000 records: %.0f MB resident more (%zu bytes of text each on average, %zu-byte "
                    "object)\n",
                    residentMegabytes() - before, text / 1'000'000, sizeof(clsFile));
    }
    std::printf("messages shown: %lld (one per List Files)\n", static_cast<long long>(messages.size()));
    return 0;
}
