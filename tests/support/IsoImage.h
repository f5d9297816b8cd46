#pragma once
// A small disc for end-to-end tests: an ISO 9660 image with Rock Ridge and Joliet, built at test
// time with xorriso from a directory tree the test prepares, and mounted through FUSE with fuseiso.
//
//     IsoImage disc("DISC01");
//     disc.addFile("SETUP/DATA/FILE1.CAB", QByteArray(3000, 'x'));
//     if (!disc.buildAndMount())
//         QSKIP(qPrintable(disc.skipReason()));
//     // disc.root() is "<tmp>/mnt/DISC01/": the mounted disc as the drive list shows it.
//     disc.unmount(); // optional; the destructor unmounts and removes everything
//
// The mount point is named after the label (or "disc" for a blank one), as desktops name it, and
// removed on unmount, so the root no longer exists once the disc is "ejected". Anything that keeps
// the disc from being made or mounted (a tool missing, no FUSE, a failing tool) makes build() or
// buildAndMount() return false with a plain sentence in skipReason(). fuseiso runs with -n, so the
// user's home stays untouched; CTest runs tests in a private mount namespace where it can.

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

class IsoImage
{
public:
    explicit IsoImage(const QString &label);
    ~IsoImage() { unmount(); }

    // The tree the image is made from; entries may also be created there directly.
    QString sourceDir() const { return m_dir.path() + "/tree"; }
    // Parent directories are made; a valid modified becomes the file's modification time.
    bool addFile(const QString &relativePath, const QByteArray &content = {}, const QDateTime &modified = {});

    // The file systems the image gets, as mkisofs options: Rock Ridge and Joliet ("-R", "-J") unless set.
    void setFileSystems(const QStringList &options) { m_options = options; }
    bool build();         // makes imagePath() from sourceDir()
    bool buildAndMount(); // and mounts it on root()
    bool unmount();       // true when nothing stays mounted
    // Damages the built image as a faulty writer might: each directory record of the primary tree named
    // isoName (as ISO 9660 spells it: "LOOP") gets the extent of the directory that holds it, which so
    // contains itself. False when there is none.
    bool makeDirectoryContainItself(const QByteArray &isoName);
    QString imagePath() const { return m_dir.path() + "/disc.iso"; }
    QString root() const; // the mount point with a trailing '/'
    QString skipReason() const { return m_skipReason; }

private:
    bool fail(const QString &reason)
    {
        m_skipReason = reason;
        return false;
    }

    QTemporaryDir m_dir;
    QString m_label;
    QStringList m_options{"-R", "-J"};
    QString m_skipReason;
    bool m_mounted = false;
};
