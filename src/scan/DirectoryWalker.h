#pragma once
// Lists a disc: every directory depth first, the files of a directory before its subdirectories.
// Each file becomes a record at the end of a file list. The walker knows no window: it tells an
// observer what it is doing and lets it handle the window's events at fixed points.
//
// DirectoryTree is a mounted disc, or any directory, as a DiscTree; DirectoryWalker walks one with
// DiscWalk.

#include "catalogue/clsFileColl.h"
#include "scan/DiscTree.h"
#include "scan/DiscWalk.h"
#include "scan/ScanObserver.h"

#include <QString>

#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

class DirectoryTree : public DiscTree
{
public:
    // The directory root (a '/' is added if it does not end in one); it may be reached through a
    // link, below it no link is ever followed.
    explicit DirectoryTree(const QString &root);
    ~DirectoryTree() override;
    DirectoryTree(const DirectoryTree &) = delete;
    DirectoryTree &operator=(const DirectoryTree &) = delete;

    QString pathPrefix() const override { return m_rootText; }
    Listing readDirectory(std::string_view path, std::string_view textPath, std::uint64_t where,
                          std::uint64_t extra, DirectoryNames &files, DirectoryNames &subdirs,
                          int *error) override;
    bool fileRecord(const DirectoryNames &files, std::size_t i, std::string_view path,
                    std::string_view textPath, const QString &label, clsFile &record, int *error) override;
    void closeDirectory() override;
    void locateFile(const DirectoryNames &files, std::size_t i, DiscFile &file) override;
    bool isGone(int error) const override;
    bool rootReadable() const override;
    int readFile(const DiscFile &file, char *buffer, std::size_t capacity,
                 const std::function<bool(const char *, std::size_t)> &take) override;

private:
    bool rootGone() const;

    std::string m_root; // as the file system names it, ending in '/'
    QString m_rootText;
    bool m_rootKnown = false;
    dev_t m_rootDevice = 0;
    ino_t m_rootInode = 0;
    int m_fd = -1;                    // the directory read last, until closeDirectory()
    std::unique_ptr<char[]> m_buffer; // a directory's entries as the kernel gives them
};

class DirectoryWalker
{
public:
    DirectoryWalker(clsFileColl &files, ScanObserver &observer) : m_walk(files, observer) {}

    // The disc label given to every record.
    void setLabel(const QString &label) { m_walk.setLabel(label); }

    // Walks the directory root (a '/' is added if it does not end in one) and everything below it.
    // Failures end the walk of the directory where they happen, and its subtree; the rest goes on,
    // unless the disc is gone (driveNotReady() was called and the root still cannot be read).
    void ScanDirectory(const QString &root);

    // Errors that mean the disc is gone (no medium, no device, I/O error, FUSE server gone).
    static bool isDriveGoneError(int error);

private:
    DiscWalk m_walk;
};
