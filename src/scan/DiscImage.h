#pragma once
// Lists a disc image file without mounting it, and reads its files' bytes: a DiscTree that DiscWalk
// walks, so it lists exactly as the directory walker lists the same disc mounted: the same records
// (label, name, "LABEL: dir/file", size in bytes, times in the general date form) in the same order (depth
// first, the files of a directory before its subdirectories, names in NameOrder), hidden names (a leading
// '.') left out, only regular files and real directories (symbolic links, devices and FIFOs are neither
// listed nor followed), and the same observer calls and yields.
//
// Formats: ISO 9660 with Rock Ridge and Joliet (libiso9660 finds the trees; their directories are read
// here), and UDF (libudf). An image may hold more than one file tree; the one listed is
//   1. Rock Ridge where the image has it: what the kernel shows for such an image, names as raw bytes
//      and directories that were relocated to keep within eight levels (rr_moved) where they belong;
//   2. else UDF where the image has it: full names, sizes beyond 4 GiB, and what the system mounts a
//      disc holding UDF and plain ISO 9660 as;
//   3. else Joliet;
//   4. else the plain ISO 9660 names as fuseiso and the kernel show them (lower case, no ";1").
// Times are those the image records: Rock Ridge's modification time (else the directory record's
// recording time) and Rock Ridge's creation time where recorded; UDF's modification time. A file with
// no creation time of its own gets its modification time, as on a mounted disc.
//
//     DiscImage image;
//     if (!image.Open(path) || !image.List(files, observer, image.VolumeLabel()))
//         report(image.ErrorText()); // image.FilesListed() records were added before the failure
//     else if (!image.LeftOutText().isEmpty())
//         warn(image.LeftOutText()); // the rest of the image is listed
//
// Where it differs from the walker: directoryListed() is given the image's path, '/' and the
// directory's path in the image ("/home/ann/disc.iso/SETUP/"); driveNotReady() is never called; and any
// fault ends the whole listing with a sentence in ErrorText(), because an image that cannot be read to
// its end is damaged and a part of it is no list of the disc. Two kinds of directory are left out, with
// what lies below them, and the rest listed: one that leads back to a directory listed before it (a
// damaged image whose tree would otherwise never end), and one whose path below the root is longer
// than PATH_MAX (which the walker could not open on the disc mounted either).
//
// A file's bytes are read where the image records them (ISO 9660 extents, several for a file over
// 4 GiB; UDF allocation descriptors, holes as zeros, or data inside the file entry); a UDF file whose
// descriptors continue elsewhere cannot be read (ENOTSUP).

#include "catalogue/clsFileColl.h"
#include "scan/DiscTree.h"
#include "scan/ScanObserver.h"

#include <QString>

#include <memory>
#include <vector>

class DiscImage
{
public:
    enum class Tree { None, RockRidge, Udf, Joliet, Iso9660 };

    DiscImage();
    ~DiscImage();
    DiscImage(const DiscImage &) = delete;
    DiscImage &operator=(const DiscImage &) = delete;

    // Opens a disc image file (or a disc's device node), closing the one open before. False, with
    // ErrorText() set, when it cannot be read or holds no file system that can be listed.
    bool Open(const QString &imagePath);
    void Close();
    bool IsOpen() const;

    // The disc's volume label, as GetVolumeLabel gives it for the disc mounted from a device: Joliet's
    // (or UDF's) label in preference to the primary descriptor's, "(no label)" when blank.
    QString VolumeLabel() const;
    // Which of the image's file trees is listed, and its name ("ISO 9660 with Rock Ridge", "UDF", ...).
    Tree ListedTree() const;
    QString TreeName() const;

    // Lists every file of the open image into files, each record with the given label, telling
    // observer as the walker does. True when the image was listed, but for any directories that
    // LeftOutText() names. False when it could not be:
    // ErrorText() says why, and the FilesListed() records added before the failure (the first ones in
    // the walk's order) stay at the end of files for the caller to keep or drop.
    // With where, also where each file's bytes lie (see DiscWalk::collectFiles).
    bool List(clsFileColl &files, ScanObserver &observer, const QString &label,
              std::vector<DiscFile> *where = nullptr);
    // The open image as a tree, for reading the files' bytes (DiscTree::readFile).
    DiscTree &Source();
    // Records added to the list by the last List().
    qint64 FilesListed() const;

    // One sentence on what went wrong in the last Open() or List(); empty after a success.
    QString ErrorText() const;
    // What the last List() left out: the first directory not walked (its path in the image) and why,
    // and how many more there were; empty when nothing was.
    QString LeftOutText() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
