#pragma once
// What `add` catalogues: a SOURCE on the command line becomes one disc's file list. A directory (a
// mounted disc's root or any other) is walked as the window walks a drive; a regular file is read as
// a disc image.

#include "catalogue/clsFileColl.h"
#include "drives/Drives.h"
#include "scan/DiscTree.h"
#include "scan/ScanObserver.h"

#include <QString>

#include <memory>
#include <vector>

namespace Cli {

class DiscSource
{
public:
    virtual ~DiscSource() = default;
    // The label the disc gets unless the user names one: for a mounted disc the label the window
    // shows, for an image its volume label, for a plain directory its name.
    virtual QString DefaultLabel() const = 0;
    // Adds every file of the disc to files (the walker's order and records), and with where, where
    // each file's bytes lie. False when the disc could not be listed completely; ErrorText() says why,
    // in a message that names the source.
    virtual bool List(clsFileColl &files, ScanObserver &observer, const QString &label,
                      std::vector<DiscFile> *where = nullptr) = 0;
    // The disc as a tree, for reading its files' bytes (ReadContent).
    virtual DiscTree &Tree() = 0;
    virtual QString ErrorText() const = 0;
    // What a List() that succeeded left out of the disc, in a message that names the source; empty when
    // nothing was.
    virtual QString LeftOutText() const { return {}; }
    // Where the disc is read from and its identity, as the catalogue records the disc.
    virtual Drives::MediumSource Medium() const = 0;

    // The source for the path given on the command line; null, with *error saying why (naming the
    // path), when it is
    // neither a directory nor a file that can be read.
    static std::unique_ptr<DiscSource> Open(const QString &path, QString *error);
};

} // namespace Cli
