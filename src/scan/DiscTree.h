#pragma once
// A disc as a tree of directories and files, read where it lies: a mounted disc or any directory
// (DirectoryTree, in DirectoryWalker.h), or a disc image file read without mounting it (DiscImage).
// A tree can list one directory and read one file's bytes; DiscWalk walks it.

#include "catalogue/clsFile.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The names of one directory's files or subdirectories, back to back in one buffer, so that listing a
// directory allocates nothing per name. A name is kept as the disc holds it (with a NUL, to open it
// by) and, where that is not UTF-8, as text too. Each carries two numbers of the tree's own (where it
// lies on the disc; 32 bits each, so that a directory of a hundred thousand files stays small). Hidden
// names (a leading '.') and empty ones are not taken.
class DirectoryNames
{
public:
    void add(std::string_view raw, std::uint32_t where = 0, std::uint32_t extra = 0);
    // The listing order of NameOrder::lessByText.
    void sort();
    void clear();

    std::size_t size() const { return m_names.size(); }
    bool empty() const { return m_names.empty(); }
    const char *rawName(std::size_t i) const { return m_bytes.data() + m_names[i].raw; }
    std::string_view raw(std::size_t i) const { return raw(m_names[i]); }
    std::string_view text(std::size_t i) const { return text(m_names[i]); }
    std::uint32_t where(std::size_t i) const { return m_names[i].where; }
    std::uint32_t extra(std::size_t i) const { return m_names[i].extra; }

private:
    struct Name
    {
        std::uint32_t raw, rawLength, text, textLength, where, extra;
    };
    std::uint32_t offset() const { return static_cast<std::uint32_t>(m_bytes.size()); }
    std::string_view raw(const Name &name) const { return {m_bytes.data() + name.raw, name.rawLength}; }
    std::string_view text(const Name &name) const { return {m_bytes.data() + name.text, name.textLength}; }

    std::string m_bytes;
    std::vector<Name> m_names;
};

// Where a listed file's bytes are, for reading them after the walk.
struct DiscFile
{
    struct Extent
    {
        std::uint64_t offset; // in the image file; kHole for bytes that are all zero
        std::uint64_t length;
    };
    static constexpr std::uint64_t kHole = ~std::uint64_t(0);

    qint64 key = 0;              // the file's position in the walk (its record is files.Item(key + 1))
    std::uint64_t order = 0;     // where it lies on the disc: files are read in this order
    std::uint64_t size = 0;      // as listed
    std::string path;            // below the root, as the disc holds the names
    std::vector<Extent> extents; // an image's file: its bytes, in order
};

class DiscTree
{
public:
    enum class Listing { Listed, LeftOut, Failed };

    virtual ~DiscTree() = default;

    // What the paths given to ScanObserver::directoryListed begin with, ending in '/'.
    virtual QString pathPrefix() const = 0;
    // Where the root directory lies (for readDirectory).
    virtual std::uint64_t rootWhere() const { return 0; }
    virtual std::uint64_t rootExtra() const { return 0; }

    // Reads the directory at path (below the root, as the disc holds the names: empty or ending in
    // '/'; textPath the same as text), which lies where its name's numbers say: its regular files into files
    // and its real subdirectories into subdirs, unsorted. LeftOut: the directory is passed over (*error, when
    // not 0, is the errno for the disc-gone rule); Failed: the whole walk ends (errorText() says why). The
    // directory stays open for fileRecord() until closeDirectory().
    virtual Listing readDirectory(std::string_view path, std::string_view textPath, std::uint64_t where,
                                  std::uint64_t extra, DirectoryNames &files, DirectoryNames &subdirs,
                                  int *error) = 0;
    // The record of file i of the directory just read; textPath is its path below the root as text.
    // False with *error set when it cannot be had: the directory's walk ends there.
    virtual bool fileRecord(const DirectoryNames &files, std::size_t i, std::string_view path,
                            std::string_view textPath, const QString &label, clsFile &record, int *error) = 0;
    virtual void closeDirectory() {}
    // Fills in where file i of the directory just read lies (order, extents), path already set.
    virtual void locateFile(const DirectoryNames &files, std::size_t i, DiscFile &file) = 0;

    // The disc-gone rule: whether a failure says the disc is gone, and whether the root can still be read.
    virtual bool isGone(int error) const = 0;
    virtual bool rootReadable() const = 0;

    // Reads the file's bytes into buffer, piece after piece, giving each to take (which may end the
    // reading by returning false). 0 when read to its end, else the errno.
    virtual int readFile(const DiscFile &file, char *buffer, std::size_t capacity,
                         const std::function<bool(const char *, std::size_t)> &take) = 0;

    // One sentence on the failure that ended a walk.
    virtual QString errorText() const { return {}; }
};
