// How long the drive list takes on a machine with many mounts (snap loops, containers).
// Prints figures; run: <build>/bench/bench_drives [mounts]
#include "drives/Drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int mounts = argc > 1 ? QByteArray(argv[1]).toInt() : 3000;
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir(root).mkpath("sys/block");
    QDir(root).mkpath("dev/disk/by-label");
    QByteArray table;
    for (int i = 0; i < mounts; ++i) {
        table += QByteArray::number(100 + i) + " 1 7:" + QByteArray::number(i) + " / /snap/app" +
                 QByteArray::number(i) + " ro - squashfs /dev/loop" + QByteArray::number(i) + " ro\n";
        if (i % 10 == 0)
            QFile::link("../../loop" + QString::number(i),
                        root + "/dev/disk/by-label/VOL" + QString::number(i));
    }
    for (int d = 0; d < 4; ++d) {
        const QString sr = "sr" + QString::number(d);
        QDir(root).mkpath("sys/block/" + sr);
        QFile dev(root + "/sys/block/" + sr + "/dev");
        dev.open(QIODevice::WriteOnly);
        dev.write("11:" + QByteArray::number(d) + "\n");
        if (d < 2) {
            QDir(root).mkpath("media/DISC" + QString::number(d));
            table += "9" + QByteArray::number(d) + " 1 11:" + QByteArray::number(d) + " / " +
                     QFile::encodeName(root) + "/media/DISC" + QByteArray::number(d) + " ro - iso9660 " +
                     QFile::encodeName(root) + "/dev/" + sr.toUtf8() + " ro\n";
            QFile::link("../../" + sr, root + "/dev/disk/by-label/DISC" + QString::number(d));
        }
    }
    QFile t(root + "/mountinfo");
    t.open(QIODevice::WriteOnly);
    t.write(table);
    t.close();

    Drives::DriveSources s{root + "/mountinfo", root + "/sys/block", root + "/dev/disk/by-label",
                           root + "/dev"};
    const int runs = 20;
    QElapsedTimer timer;
    timer.start();
    qsizetype entries = 0;
    for (int i = 0; i < runs; ++i)
        entries = Drives::DriveListEntries(s).size();
    std::printf("fake machine: %d mounts, %d label links, 4 optical drives (2 with discs)\n", mounts + 2,
                mounts / 10 + 2);
    std::printf("drive list (%lld entries): %.2f ms per rebuild (mean of %d)\n", qint64(entries),
                double(timer.nsecsElapsed()) / 1e6 / runs, runs);

    timer.restart();
    for (int i = 0; i < runs; ++i)
        Drives::DriveReadiness(root + "/media/DISC0/", s);
    std::printf("readiness check: %.2f ms per call\n", double(timer.nsecsElapsed()) / 1e6 / runs);

    timer.restart();
    entries = Drives::DriveListEntries().size();
    std::printf("this machine's drive list (%lld entries): %.2f ms\n", qint64(entries),
                double(timer.nsecsElapsed()) / 1e6);
    return 0;
}
