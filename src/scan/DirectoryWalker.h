#pragma once
// Lists a disc: every directory depth first, the files of a directory before its subdirectories.
// Each file becomes a record at the end of a file list. The walker knows no window: it tells an
// observer what it is doing and lets it handle the window's events at fixed points.

#include "catalogue/clsFileColl.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

class ScanObserver
{
public:
    virtual ~ScanObserver() = default;
    // A directory was read; path is its full path ending in '/'.
    virtual void directoryListed(const QString &path) = 0;
    // The files of the directory just read are about to be recorded (count > 0).
    virtual void filesStarting(qint64 count) = 0;
    // The file at index (from 0) of the current directory is about to be recorded; its name in UTF-8
    // as the record holds it (TextForms::appendFileName), valid during the call only (a window shows it at
    // its next yield, not for every file).
    virtual void fileStarting(qint64 index, std::string_view name) = 0;
    // The file's record was added to the list; key is its position in this walk, from 0.
    virtual void fileListed(const clsFile &record, qint64 key) = 0;
    // Subdirectory done + 1 of count of the current directory is about to be walked.
    virtual void subdirectoryStarting(qint64 done, qint64 count) = 0;
    // A directory's walk ended because the drive no longer holds a readable disc. When the drive's
    // root cannot be read after this call returns, the whole walk ends.
    virtual void driveNotReady() = 0;
    // Lets the window handle its pending events: after a directory is read, after the files with index
    // 100, 200, ... of a directory, and before the subdirectories of a directory.
    virtual void yield() = 0;
};

class DirectoryWalker
{
public:
    DirectoryWalker(clsFileColl &files, ScanObserver &observer);

    // The disc label given to every record.
    void setLabel(const QString &label) { m_label = label; }

    // Walks the directory root (a '/' is added if it does not end in one) and everything below it.
    // Failures end the walk of the directory where they happen, and its subtree; the rest goes on,
    // unless the disc is gone (driveNotReady() was called and the root still cannot be read).
    void ScanDirectory(const QString &root);

    // Errors that mean the disc is gone (no medium, no device, I/O error, FUSE server gone).
    static bool isDriveGoneError(int error);

private:
    void walk();
    void fail(int error);
    bool rootGone() const;
    bool rootReadable() const;
    int injectedFault(std::string_view relativePath) const;

    clsFileColl &m_files;
    ScanObserver &m_observer;
    QString m_label;
    std::string m_path; // the directory being walked: root, relative path, '/'
    std::string m_text; // its path below the root as text (UTF-8), ending in '/' below the root
    std::string m_root;
    QString m_rootText;
    std::size_t m_rootLength = 0;
    bool m_rootKnown = false;
    dev_t m_rootDevice = 0;
    ino_t m_rootInode = 0;
    qint64 m_count = 0;
    bool m_stopped = false;           // the disc is gone: nothing more is walked
    std::unique_ptr<char[]> m_buffer; // a directory's entries as the kernel gives them
};
