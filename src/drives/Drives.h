#pragma once
// The machine's CD drives, their readiness and the volume labels of their discs.
//
// A CD drive is every optical drive the kernel knows (/sys/block/sr*) and every mounted file system
// of a disc type (iso9660, udf, and images mounted through fuseiso, which desktops show as virtual
// drives). A drive's root is its mount point with a trailing '/', or the device node (/dev/sr0) of
// an optical drive from which nothing is mounted. Hard disks, USB sticks and the like never appear.
//
// Nothing here throws: every failure becomes an empty list, an empty label or a readiness of 0 or 2.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace Drives {

// Where the system's drive information is read; tests point these at fake trees.
struct DriveSources
{
    QString mountTable; // a mountinfo or mounts/fstab-style file: /proc/self/mountinfo
    QString sysBlock;   // the kernel's block devices: /sys/block
    QString byLabel;    // udev's label links: /dev/disk/by-label
    QString devDir;     // where device nodes live: /dev (an empty drive's root is devDir + "/srN")

    static DriveSources system();  // the real machine's paths
    static DriveSources current(); // what the program reads: system() unless a test set others
};

struct CdDrive
{
    QString root;       // "/media/ann/DISC01/" or "/dev/sr1"
    QString mountPoint; // empty for an optical drive with nothing mounted
    QString source;     // the mounted device or image ("/dev/sr0", "fuseiso"), or the device node
    QString fsType;     // "iso9660", "udf", "fuse.fuseiso", ...; empty when nothing is mounted
    dev_t device = 0;   // the mounted file system's device number, 0 when unknown
};

// Every CD drive, sorted by root. Reads the mount table, but never touches a drive's medium.
QList<CdDrive> ListCdDrives(const DriveSources &sources = DriveSources::current());

// The label of the disc in a drive: "(no label)" when blank, empty when nothing is mounted or no
// label source answers. See GetVolumeLabel for where it comes from.
QString VolumeLabelOf(const CdDrive &drive, const DriveSources &sources = DriveSources::current());

// One entry of the drive list: root + "  <" + label + ">", or the root alone for an empty label.
QString DriveListEntry(const QString &root, const QString &label);
// The root back out of an entry (the whole text when it carries no label).
QString DriveRootOfEntry(const QString &entry);
// The drive list's entries for every CD drive, sorted by root.
QStringList DriveListEntries(const DriveSources &sources = DriveSources::current());

// 1 when root is a CD drive's root and opens as a directory; 2 when opening it fails because no
// readable disc is there (missing path, not a directory, no medium, I/O error, a FUSE disc that
// went away); 0 otherwise (a directory that is no CD drive's root, access refused, ...).
qint32 DriveReadiness(const QString &root, const DriveSources &sources = DriveSources::current());

// What a device or a disc image file records of its file system, read with libblkid from the file
// system's own volume descriptor: its type, label (for ISO 9660 Joliet's mixed-case label where the
// disc has one) and version ("Joliet Extension", "1.02"). fsType "iso9660" or "udf" looks for that
// type only (an image may hold both); another text takes whatever is there. nullopt when it cannot be
// read or holds no such file system.
struct FileSystemProbe
{
    QString type;
    QString label;
    QString version;
    QString uuid;        // for ISO 9660 the volume's creation (or modification) time, for UDF its UUID
    QString volumeSetId; // the volume set identifier, where the file system has one
};
std::optional<FileSystemProbe> ProbeFileSystem(const QString &deviceOrImage, const QString &fsType);

// Where a disc is read from and what it says of itself, as a catalogue records it.
struct MediumSource
{
    QString kind;     // "device", "image" or "directory"
    QString path;     // the device node, the image file or the directory
    QString identity; // what the medium's volume descriptors give (type, UUID, volume set); null for a
                      // plain directory or a medium that gives nothing
};
// The medium of a device node or image file at path.
MediumSource SourceOfMedium(const QString &path);
// A directory: a disc's medium when a CD drive has it as its mount point (or its root), else itself.
MediumSource SourceOfDirectory(const QString &directory);

// A label as the drive list shows it: "(no label)" when empty or all blanks.
QString LabelOrNoLabel(const QString &label);

// True for the errors that mean the disc is gone: no medium, the device gone, an I/O error, a
// file system whose server or handle is gone.
bool IsNoDiscError(int error);

// A root as compared with another: without trailing '/' ("/media/x" and "/media/x/" are one root).
QString comparableRoot(const QString &root);

// Turns udev's escapes in a by-label link name ("Metal\x2020") back into the label.
QString DecodeUdevLabel(const QString &linkName);

} // namespace Drives

namespace modFunction {

// The volume label of the disc whose root is given (root unchanged), as the system records it:
// - a disc image mounted through FUSE: the name of its mount point's directory (no device to probe;
//   desktops name the mount point after the label);
// - a kernel-mounted disc: the disc's own volume descriptor read from its device with libblkid
//   (Joliet's mixed-case label preferred over the plain ISO 9660 one); where the device cannot be
//   read, udev's /dev/disk/by-label link for it; failing both, the mount point's directory name;
// - "(no label)" when the label is empty or all blanks (other labels keep their blanks);
// - empty when the root is no mounted disc (an empty drive, an unknown path).
QString GetVolumeLabel(const QString &root);

} // namespace modFunction
