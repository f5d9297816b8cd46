#pragma once
// A small disc for end-to-end tests: an ISO 9660 image with Rock Ridge and Joliet, built at test
// time with xorriso from a directory tree the test prepares, and mounted through FUSE with fuseiso.
//
//     IsoImage disc("DISC01");
//     disc.addFile("README.TXT", "hello\n");
//     disc.addFile("SETUP/DATA/FILE1.CAB", QByteArray(3000, 'x'));
//     disc.addDirectory("EMPTY");
//     if (!disc.buildAndMount())
//         QSKIP(qPrintable(disc.skipReason()));
//     // disc.root() is "<tmp>/mnt/DISC01/": the mounted disc as the drive list shows it.
//     ...
//     disc.unmount(); // optional; the destructor unmounts and removes everything
//
// Everything lives in the object's own temporary directory:
//   <tmp>/tree/      the tree the image is made from (sourceDir()); fill it before build()
//   <tmp>/disc.iso   the image (imagePath())
//   <tmp>/mnt/<name> the mount point, named after the label so that a program reading a FUSE disc's
//                    label from its mount point's name gets the label (mountPoint(), root())
//
// The mount point is made by mount() and removed by unmount(), so after unmount() the disc's root
// no longer exists, as when a disc image is ejected.
//
// Anything that keeps the disc from being made or mounted (xorriso, fuseiso or fusermount missing,
// no /dev/fuse, FUSE refused in a container, a failing tool) makes build()/mount()/buildAndMount()
// return false with a plain sentence in skipReason(); a test then skips with that reason.
// Nothing here touches the user's files (fuseiso runs with -n: no ~/.mtab.fuseiso).
// Tests run by CTest as root are in a private mount namespace (tests/support/in-private-mounts.sh),
// so their mounts are seen by nobody else.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class IsoImage
{
public:
    // label: the volume label (ISO 9660 and Joliet volume identifiers, passed to xorriso -V).
    // It also names the mount point unless setMountDirectoryName() says otherwise; a label that is
    // empty, all blanks, or holds '/' gives the mount point name "disc".
    explicit IsoImage(const QString &label);
    ~IsoImage();
    IsoImage(const IsoImage &) = delete;
    IsoImage &operator=(const IsoImage &) = delete;

    // The tree the image is made from. Tests may also create entries there directly.
    QString sourceDir() const;
    // Adds a file (parent directories created) below sourceDir(); relativePath uses '/'.
    // modified, when valid, becomes the file's modification time (Rock Ridge keeps it).
    // Returns false when the file cannot be written.
    bool addFile(const QString &relativePath, const QByteArray &content = {}, const QDateTime &modified = {});
    bool addDirectory(const QString &relativePath);

    // Extra arguments for "xorriso -as mkisofs" (for example "-iso-level", "3" for files of 4 GiB
    // and more). Default: none beyond "-R -J -V <label>".
    void setExtraMkisofsArguments(const QStringList &arguments) { m_extraArgs = arguments; }
    // Names the mount point directory (instead of the label).
    void setMountDirectoryName(const QString &name) { m_mountName = name; }

    bool build();         // makes imagePath() from sourceDir()
    bool mount();         // mounts imagePath() on mountPoint() (made first)
    bool buildAndMount(); // both
    bool unmount();       // unmounts and removes the mount point; true when nothing stays mounted
    bool isMounted() const { return m_mounted; }

    QString label() const { return m_label; }
    QString imagePath() const;
    QString mountPoint() const; // no trailing '/'
    QString root() const;       // mountPoint() + "/"
    // Why the disc could not be made or mounted; empty while everything worked.
    QString skipReason() const { return m_skipReason; }

    // Empty when xorriso, fuseiso, fusermount and /dev/fuse are present, else the reason.
    static QString toolsUnavailableReason();

private:
    bool fail(const QString &reason);

    QTemporaryDir m_dir;
    QString m_label;
    QString m_mountName;
    QStringList m_extraArgs;
    QString m_skipReason;
    bool m_built = false;
    bool m_mounted = false;
};
