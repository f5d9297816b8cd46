#pragma once
// Trees of files for the benchmarks that list a disc. MakeTree: directories three levels deep, names of
// 8 to 40 characters (about one in eight with letters from outside ASCII), sizes spread out (see
// TreeShape), and modification times spread over five years. MakeRealTree: a tree built like a real
// backup disc (see RealTreeShape). The same shape always gives the same tree.

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

// A tree made like a real backup disc: directories up to 8 levels deep holding from none to hundreds
// of files; names of words from a mixed vocabulary with blanks, in mixed letter case, up to 120
// characters, about one in twenty with Latin, Greek, Cyrillic or CJK letters; 3% of the files and
// folders hidden (a hidden folder holds files too); modification times over 20 years, grouped by folder
// as files written together are; sparse files of 0 bytes to 100 MB, spread evenly over the orders of
// magnitude. visibleFiles is how many files lie outside hidden names (what a listing shows).
struct RealTreeShape
{
    const char *name;
    int visibleFiles;
    unsigned seed;
};

// made->files counts the visible files only; made->dirs the visible directories.
bool MakeRealTree(const QString &root, const RealTreeShape &shape, GeneratedTree *made = nullptr);

// The tree at root as MakeTree or MakeRealTree makes it, made only when no finished one is there: a
// finished tree holds the hidden file .complete (which a listing leaves out). False on failure.
bool KeepTree(const QString &root, const TreeShape &shape);
bool KeepRealTree(const QString &root, const RealTreeShape &shape);
