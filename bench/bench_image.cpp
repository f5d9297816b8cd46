// How fast a disc image file is listed without mounting it, next to xorriso listing the same image.
//
// Makes, once, an ISO 9660 image (Rock Ridge and Joliet) of 200,000 files in 10,000 directories with
// names of 8 to 40 characters (some not ASCII), sizes of up to 3,000 bytes and modification times spread
// over five years, and keeps it in the temporary directory for later runs. Then times, warm, taking
// turns, best of three:
//   xorriso -indev IMAGE -find / -type f     (its paths to /dev/null)
//   DiscImage: opening the image and listing it into a file list, as "List Files" would
// and prints files per second for both, their ratio (DiscImage's rate over xorriso's: 1 is as fast),
// and the peak memory (ru_maxrss) of this process and of xorriso.
//
// Usage: bench_image [--image PATH] [--remake]
//   PATH: where the image is kept (default: <temp>/quillary-bench-200k.iso).
#include "GeneratedTree.h"

#include "catalogue/clsFileColl.h"
#include "scan/DiscImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int kTopDirs = 10;
constexpr int kSubDirs = 9;      // per top directory
constexpr int kSubSubDirs = 110; // per subdirectory: 10 + 90 + 9,900 = 10,000 directories
constexpr int kFilesPerDir = 20; // 200,000 files

int makeDir(const std::string &dir, NameMaker &names)
{
    if (::mkdir(dir.c_str(), 0755) != 0)
        return -1;
    static const std::string content(3000, 'x');
    int made = 0;
    for (int i = 0; i < kFilesPerDir; ++i) {
        const std::string path = dir + '/' + names.next(true);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            continue; // a name that came out twice
        const auto size = std::uniform_int_distribution<std::size_t>(0, content.size())(names.random());
        const time_t when =
            1'500'000'000 + std::uniform_int_distribution<time_t>(0, 157'000'000)(names.random());
        const timeval times[2] = {{when, 0}, {when, 0}};
        const bool ok = ::write(fd, content.data(), size) == ssize_t(size) && ::futimes(fd, times) == 0;
        ::close(fd);
        if (!ok)
            return -1;
        ++made;
    }
    return made;
}

// Makes the tree in memory where the machine allows it, then the image from it; false on failure.
bool makeImage(const QString &image)
{
    const QString parent =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir work(parent + "/bench_image-XXXXXX");
    if (!work.isValid())
        return false;
    QElapsedTimer timer;
    timer.start();
    NameMaker names(20261207, 1); // a character shorter than the listed trees' names
    const std::string root = QFile::encodeName(work.path()).toStdString() + "/disc";
    if (::mkdir(root.c_str(), 0755) != 0)
        return false;
    int files = 0;
    int dirs = 0;
    const auto add = [&](const std::string &dir) {
        const int made = makeDir(dir, names);
        files += std::max(made, 0);
        ++dirs;
        return made >= 0;
    };
    for (int t = 0; t < kTopDirs; ++t) {
        const std::string top = root + '/' + names.next(false);
        if (!add(top))
            return false;
        for (int s = 0; s < kSubDirs; ++s) {
            const std::string sub = top + '/' + names.next(false);
            if (!add(sub))
                return false;
            for (int u = 0; u < kSubSubDirs; ++u) {
                if (!add(sub + '/' + names.next(false)))
                    return false;
            }
        }
    }
    std::fprintf(stderr, "made a tree of %d files in %d directories in %.1f s; making the image...\n", files,
                 dirs, timer.nsecsElapsed() / 1e9);
    QProcess xorriso;
    xorriso.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xorriso.setStandardOutputFile(QProcess::nullDevice());
    const QString partial = image + ".part";
    xorriso.start("xorriso", {"-as", "mkisofs", "-quiet", "-R", "-J", "-joliet-long", "-V", "BENCH200K", "-o",
                              partial, QFile::decodeName(QByteArray::fromStdString(root))});
    if (!xorriso.waitForFinished(-1) || xorriso.exitStatus() != QProcess::NormalExit ||
        xorriso.exitCode() != 0)
        return false;
    std::fprintf(stderr, "made %s in %.1f s\n", qPrintable(image), timer.nsecsElapsed() / 1e9);
    QFile::remove(image);
    return QFile::rename(partial, image);
}

struct Timing
{
    double wall = 1e9;
    double cpu = 1e9;
    void keepBest(const Timing &other)
    {
        wall = std::min(wall, other.wall);
        cpu = std::min(cpu, other.cpu);
    }
};

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMegabytes(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024.0;
}

// xorriso's listing; its paths are counted once to be sure both saw the same files.
Timing timeXorriso(const QString &image, qint64 *files)
{
    QProcess xorriso;
    if (files)
        xorriso.setStandardOutputFile(QDir::tempPath() + "/bench_image-paths.txt");
    else
        xorriso.setStandardOutputFile(QProcess::nullDevice());
    xorriso.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    timer.start();
    xorriso.start("xorriso", {"-indev", image, "-find", "/", "-type", "f"});
    xorriso.waitForFinished(-1);
    const Timing timing{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    if (files) {
        QFile paths(QDir::tempPath() + "/bench_image-paths.txt");
        *files = 0;
        if (paths.open(QIODevice::ReadOnly)) {
            while (!paths.atEnd())
                *files += paths.readLine().startsWith('\'') ? 1 : 0;
        }
        paths.remove();
    }
    return timing;
}

struct NullObserver : ScanObserver
{
    void directoryListed(const QString &) override {}
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &, qint64) override {}
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override {}
    void yield() override {}
};

Timing timeDiscImage(const QString &image, qint64 *files, QString *error)
{
    clsFileColl list;
    NullObserver observer;
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    DiscImage disc;
    const bool listed = disc.Open(image) && disc.List(list, observer, disc.VolumeLabel());
    const Timing timing{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
    *files = list.Count();
    if (!listed)
        *error = disc.ErrorText();
    return timing;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString image = QDir::tempPath() + "/quillary-bench-200k.iso";
    bool remake = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--image" && i + 1 < args.size())
            image = args[++i];
        else if (args[i] == "--remake")
            remake = true;
    }
    if ((remake || !QFileInfo(image).isFile()) && !makeImage(image)) {
        std::fprintf(stderr, "cannot make the image %s (is xorriso installed?)\n", qPrintable(image));
        return 1;
    }

    qint64 xorrisoFiles = 0;
    qint64 imageFiles = 0;
    QString error;
    timeXorriso(image, &xorrisoFiles); // warms the cache and counts
    Timing xorriso;
    Timing listing;
    for (int run = 0; run < 3; ++run) {
        xorriso.keepBest(timeXorriso(image, nullptr));
        listing.keepBest(timeDiscImage(image, &imageFiles, &error));
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "DiscImage failed: %s\n", qPrintable(error));
    if (imageFiles != xorrisoFiles)
        std::fprintf(stderr, "MISMATCH: xorriso lists %lld files, DiscImage %lld\n",
                     static_cast<long long>(xorrisoFiles), static_cast<long long>(imageFiles));

    const double n = double(imageFiles);
    std::printf("image %s (%.0f MB)\n", qPrintable(image), QFileInfo(image).size() / 1e6);
    std::printf("%8s | %9s %10s %7s | %9s %10s %7s | %6s %6s | %8s %10s\n", "files", "xorriso s",
                "xorriso f/s", "cpu s", "image s", "image f/s", "cpu s", "ratio", "ratioC", "peak MB",
                "xorriso MB");
    std::printf("%8lld | %9.3f %10.0f %7.3f | %9.3f %10.0f %7.3f | %6.2f %6.2f | %8.1f %10.1f\n",
                static_cast<long long>(imageFiles), xorriso.wall, n / xorriso.wall, xorriso.cpu, listing.wall,
                n / listing.wall, listing.cpu, xorriso.wall / listing.wall, xorriso.cpu / listing.cpu,
                peakMegabytes(RUSAGE_SELF), peakMegabytes(RUSAGE_CHILDREN));
    return imageFiles == xorrisoFiles && error.isEmpty() ? 0 : 1;
}
