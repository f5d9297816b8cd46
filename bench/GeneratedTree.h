#pragma once
// Trees of files for the benchmarks that list a disc: directories three levels deep, names of 8 to 40
// characters (about one in eight with letters from outside ASCII), sizes spread out (see TreeShape), and
// modification times spread over five years. The same shape always gives the same tree.

#include <QString>

struct TreeShape
{
    const char *name;
    int topDirs;
    int subDirs;    // per top directory
    int subSubDirs; // per subdirectory
    int filesPerDir;
    int writtenBytes; // 0: sparse files of up to 5 MB; else files written out with up to this many bytes
};

struct GeneratedTree
{
    int files = 0;
    int dirs = 0;
};

// Makes the tree at root, which must not exist yet; false (errno set) on failure.
bool MakeTree(const QString &root, const TreeShape &shape, GeneratedTree *made = nullptr);
