#pragma once
// Trees of files for the benchmarks that list a disc: directories three levels deep, names of 8 to 40
// characters (about one in eight with letters from outside ASCII), sizes up to 5 MB as sparse files,
// and modification times spread over five years. The same shape always gives the same tree.

#include <QString>

#include <random>
#include <string>

// The names of a tree, the same for the same seed: 8 to 40 characters (shorter by the given number).
class NameMaker
{
public:
    explicit NameMaker(unsigned seed, int shorter = 0) : m_random(seed), m_shorter(shorter) {}
    std::string next(bool withExtension);
    std::mt19937 &random() { return m_random; }

private:
    std::mt19937 m_random;
    int m_shorter;
    unsigned m_counter = 0;
};

struct TreeShape
{
    const char *name;
    int topDirs;
    int subDirs;    // per top directory
    int subSubDirs; // per subdirectory
    int filesPerDir;
};

struct GeneratedTree
{
    int files = 0;
    int dirs = 0;
};

// Makes the tree at root, which must not exist yet; false (errno set) on failure.
bool MakeTree(const QString &root, const TreeShape &shape, GeneratedTree *made = nullptr);
