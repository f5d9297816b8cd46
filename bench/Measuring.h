#pragma once
// What the listing benchmarks measure with: wall-clock and processor time, peak memory, and a walk
// observer that shows nothing.

#include "scan/DirectoryWalker.h"

#include <algorithm>

#include <sys/resource.h>

// Wall-clock and processor time (user + system) of one run.
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

// Processor seconds of this process (RUSAGE_SELF) or of its children (RUSAGE_CHILDREN).
inline double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double peakMegabytes(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024.0;
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
