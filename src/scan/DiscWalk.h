#pragma once
// The one walk over a disc, whatever holds it (a DiscTree): every directory depth first, the files of
// a directory before its subdirectories, names in NameOrder, hidden names left out, each file a record
// at the end of a file list, the observer told and given its yields at the same points for every kind
// of disc. A directory that cannot be read is passed over with what lies below it, unless the disc is
// gone (the tree says the failure means so and its root can no longer be read): then the walk ends.
// A tree may also end the whole walk on a failure of its own (a damaged image).

#include "catalogue/clsFileColl.h"
#include "scan/DiscTree.h"
#include "scan/ScanObserver.h"

#include <QString>

#include <string>
#include <vector>

class DiscWalk
{
public:
    DiscWalk(clsFileColl &files, ScanObserver &observer) : m_files(files), m_observer(observer) {}

    // The disc label given to every record.
    void setLabel(const QString &label) { m_label = label; }
    // Where each file listed lies is added to where, for reading the files' bytes after the walk.
    void collectFiles(std::vector<DiscFile> *where) { m_where = where; }

    // Walks the tree from its root. False when the tree ended the walk on a failure (its errorText()).
    bool run(DiscTree &tree);
    // Records listed by this walk so far (over all its runs); the key of the next.
    qint64 listed() const { return m_count; }
    // Whether the last run found the disc gone (ScanObserver::driveNotReady was called), at least for
    // a while.
    bool discWasGone() const { return m_gone; }

private:
    struct Level
    {
        DirectoryNames subdirs;
        std::size_t started = 0;
        std::size_t pathLength = 0;
        std::size_t textLength = 0;
    };
    bool list(std::uint64_t where, std::uint64_t extra);
    void fail(int error);

    clsFileColl &m_files;
    ScanObserver &m_observer;
    DiscTree *m_tree = nullptr;
    QString m_label;
    QString m_prefix;
    std::vector<DiscFile> *m_where = nullptr;
    std::vector<Level> m_levels;
    std::string m_path; // the directory being walked, below the root, as the disc holds its names
    std::string m_text; // the same as text (UTF-8)
    std::string m_filePath;
    qint64 m_count = 0;
    bool m_stopped = false; // the disc is gone: nothing more is walked
    bool m_gone = false;
};
