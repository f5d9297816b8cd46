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
#include "Measuring.h"

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

#include <sys/resource.h>
#include <unistd.h>

namespace {

// 10 + 90 + 9,900 = 10,000 directories of 20 files, each of up to 3,000 bytes (an image holds its files).
constexpr TreeShape kShape{"disc", 10, 9, 110, 20, 3000};

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
    const QString root = work.path() + QStringLiteral("/disc");
    GeneratedTree made;
    if (!MakeTree(root, kShape, &made))
        return false;
    const int files = made.files;
    const int dirs = made.dirs;
    std::fprintf(stderr, "made a tree of %d files in %d directories in %.1f s; making the image...\n", files,
                 dirs, timer.nsecsElapsed() / 1e9);
    QProcess xorriso;
    xorriso.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xorriso.setStandardOutputFile(QProcess::nullDevice());
    const QString partial = image + ".part";
    xorriso.start("xorriso", {"-as", "mkisofs", "-quiet", "-R", "-J", "-joliet-long", "-V", "BENCH200K", "-o",
                              partial, root});
    if (!xorriso.waitForFinished(-1) || xorriso.exitStatus() != QProcess::NormalExit ||
        xorriso.exitCode() != 0)
        return false;
    std::fprintf(stderr, "made %s in %.1f s\n", qPrintable(image), timer.nsecsElapsed() / 1e9);
    QFile::remove(image);
    return QFile::rename(partial, image);
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
