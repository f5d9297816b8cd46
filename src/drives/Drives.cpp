#include "drives/Drives.h"

#include "testing/TestSeams.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <blkid/blkid.h>
#include <libmount/libmount.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Drives {

QString comparableRoot(const QString &root)
{
    QString r = root;
    while (r.size() > 1 && r.endsWith('/'))
        r.chop(1);
    return r;
}

namespace {

const QString kNoLabel = QStringLiteral("(no label)");

bool isDiscFileSystem(const QString &fsType)
{
    return fsType == QLatin1String("iso9660") || fsType == QLatin1String("udf") ||
           fsType == QLatin1String("fuse.fuseiso");
}

QString rootOfMountPoint(const QString &mountPoint)
{
    return mountPoint.endsWith('/') ? mountPoint : mountPoint + '/';
}

struct MountEntry
{
    QString target;
    QString source;
    QString fsType;
    dev_t device = 0;
};

// The mount table through libmount, which reads mountinfo as well as mounts/fstab-style files
// and decodes their escapes. Lines it cannot parse are skipped.
QList<MountEntry> readMountTable(const QString &path)
{
    QList<MountEntry> entries;
    using Table = std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)>;
    using Iter = std::unique_ptr<libmnt_iter, decltype(&mnt_free_iter)>;
    Table table(mnt_new_table(), &mnt_unref_table);
    Iter iter(mnt_new_iter(MNT_ITER_FORWARD), &mnt_free_iter);
    if (!table || !iter)
        return entries;
    mnt_table_set_parser_errcb(table.get(), [](libmnt_table *, const char *, int) { return 1; });
    if (mnt_table_parse_file(table.get(), QFile::encodeName(path).constData()) != 0)
        return entries;
    libmnt_fs *fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        MountEntry e;
        const char *target = mnt_fs_get_target(fs);
        const char *source = mnt_fs_get_source(fs);
        const char *type = mnt_fs_get_fstype(fs);
        if (!target || !*target)
            continue;
        // A bind mount of a directory inside a disc is no drive of its own.
        const char *fsRoot = mnt_fs_get_root(fs);
        if (fsRoot && std::strcmp(fsRoot, "/") != 0)
            continue;
        e.target = QFile::decodeName(target);
        e.source = source ? QFile::decodeName(source) : QString();
        e.fsType = type ? QString::fromLatin1(type) : QString();
        e.device = mnt_fs_get_devno(fs);
        entries.append(e);
    }
    return entries;
}

struct OpticalDrive
{
    QString name; // "sr0"
    dev_t device = 0;
};

QList<OpticalDrive> readOpticalDrives(const QString &sysBlock)
{
    static const QRegularExpression srName(QStringLiteral("^sr[0-9]+$"));
    QList<OpticalDrive> drives;
    const QStringList names =
        QDir(sysBlock).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (!srName.match(name).hasMatch())
            continue;
        OpticalDrive d;
        d.name = name;
        QFile devFile(sysBlock + '/' + name + "/dev");
        if (devFile.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> parts = devFile.readAll().trimmed().split(':');
            bool okMajor = false;
            bool okMinor = false;
            if (parts.size() == 2) {
                const unsigned major = parts[0].toUInt(&okMajor);
                const unsigned minor = parts[1].toUInt(&okMinor);
                if (okMajor && okMinor)
                    d.device = makedev(major, minor);
            }
        }
        drives.append(d);
    }
    return drives;
}

// The file name of a device path after following links (/dev/cdrom -> "sr0").
QString deviceName(const QString &source)
{
    if (!source.startsWith('/'))
        return {};
    const QString canonical = QFileInfo(source).canonicalFilePath();
    return QFileInfo(canonical.isEmpty() ? source : canonical).fileName();
}

QString labelOrNoLabel(const QString &label)
{
    return label.trimmed().isEmpty() ? kNoLabel : label;
}

// The label in the file system's own volume descriptor; nullopt when the device cannot be read or
// holds no file system of the mounted type. For ISO 9660, libblkid gives the Joliet label where the
// disc has one, so "Metal 20" does not come back as "METAL_20".
std::optional<QString> probeLabel(const QString &device, const QString &fsType)
{
    if (!device.startsWith('/')) // "fuseiso", "none": no device
        return std::nullopt;
    if (const std::optional<FileSystemProbe> probed = ProbeFileSystem(device, fsType))
        return probed->label;
    return std::nullopt;
}

// The label of udev's /dev/disk/by-label link that points at the device; nullopt when none does.
std::optional<QString> byLabelLink(const CdDrive &drive, const QString &byLabel)
{
    const QString name = deviceName(drive.source);
    if (name.isEmpty() && drive.device == 0)
        return std::nullopt;
    const QDir dir(byLabel);
    const QStringList links =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &link : links) {
        const QByteArray linkPath = QFile::encodeName(dir.filePath(link));
        char target[4096];
        const ssize_t n = ::readlink(linkPath.constData(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        bool same = !name.isEmpty() && QFileInfo(QFile::decodeName(target)).fileName() == name;
        struct stat st
        {};
        if (!same && drive.device != 0 && ::stat(linkPath.constData(), &st) == 0 && S_ISBLK(st.st_mode))
            same = st.st_rdev == drive.device;
        if (same)
            return DecodeUdevLabel(link);
    }
    return std::nullopt;
}

QString volumeLabel(const CdDrive &drive, const DriveSources &sources)
{
    if (drive.mountPoint.isEmpty())
        return {};
    const QString mountDirName = QFileInfo(comparableRoot(drive.mountPoint)).fileName();
    // A FUSE-mounted image has no device to probe; its mount point is named after the label.
    if (drive.fsType.startsWith(QLatin1String("fuse")))
        return labelOrNoLabel(mountDirName);
    if (const std::optional<QString> probed = probeLabel(drive.source, drive.fsType))
        return labelOrNoLabel(*probed);
    if (const std::optional<QString> linked = byLabelLink(drive, sources.byLabel))
        return labelOrNoLabel(*linked);
    return labelOrNoLabel(mountDirName);
}

} // namespace

DriveSources DriveSources::system()
{
    DriveSources s;
    s.mountTable = QFileInfo::exists(QStringLiteral("/proc/self/mountinfo"))
                       ? QStringLiteral("/proc/self/mountinfo")
                       : QStringLiteral("/proc/self/mounts");
    s.sysBlock = QStringLiteral("/sys/block");
    s.byLabel = QStringLiteral("/dev/disk/by-label");
    s.devDir = QStringLiteral("/dev");
    return s;
}

DriveSources DriveSources::current()
{
    if (const auto &seam = TestSeams::Drives())
        return {seam->mountTable, seam->sysBlock, seam->byLabel, seam->devDir};
    return system();
}

QList<CdDrive> ListCdDrives(const DriveSources &sources)
{
    const QList<MountEntry> mounts = readMountTable(sources.mountTable);
    const QList<OpticalDrive> optical = readOpticalDrives(sources.sysBlock);

    // The last file system mounted on a directory is the one seen there.
    QHash<QString, MountEntry> visible;
    for (const MountEntry &m : mounts)
        visible.insert(comparableRoot(m.target), m);

    QList<CdDrive> drives;
    QHash<QString, bool> driveHasDisc;
    for (const MountEntry &m : std::as_const(mounts)) {
        const QString key = comparableRoot(m.target);
        const auto shown = visible.constFind(key);
        if (shown == visible.constEnd())
            continue; // already listed
        const MountEntry top = *shown;
        visible.erase(shown);
        QString fromDrive;
        std::optional<QString> name; // only where device numbers are missing: it costs a path walk
        for (const OpticalDrive &o : optical) {
            if (top.device != 0 && o.device != 0) {
                if (top.device == o.device)
                    fromDrive = o.name;
                continue;
            }
            if (!name)
                name = deviceName(top.source);
            if (*name == o.name)
                fromDrive = o.name;
        }
        if (!fromDrive.isEmpty())
            driveHasDisc.insert(fromDrive, true);
        if (fromDrive.isEmpty() && !isDiscFileSystem(top.fsType))
            continue;
        CdDrive d;
        d.root = rootOfMountPoint(top.target);
        d.mountPoint = top.target;
        d.source = top.source;
        d.fsType = top.fsType;
        d.device = top.device;
        drives.append(d);
    }
    for (const OpticalDrive &o : optical) {
        if (driveHasDisc.contains(o.name))
            continue;
        CdDrive d;
        d.root = sources.devDir + '/' + o.name;
        d.source = d.root;
        d.device = o.device;
        drives.append(d);
    }
    std::sort(drives.begin(), drives.end(),
              [](const CdDrive &a, const CdDrive &b) { return a.root < b.root; });
    return drives;
}

QString VolumeLabelOf(const CdDrive &drive, const DriveSources &sources)
{
    return volumeLabel(drive, sources);
}

QString DriveListEntry(const QString &root, const QString &label)
{
    return label.isEmpty() ? root : root + QStringLiteral("  <") + label + QLatin1Char('>');
}

QString DriveRootOfEntry(const QString &entry)
{
    // A root with a label ends in '/' before the separator, so a '<' inside a mount point's
    // name is not taken for the separator.
    const int at = entry.indexOf(QStringLiteral("/  <"));
    if (at >= 0 && entry.endsWith('>'))
        return entry.left(at + 1);
    const int lt = entry.indexOf('<');
    return (lt >= 0 ? entry.left(lt) : entry).trimmed();
}

QStringList DriveListEntries(const DriveSources &sources)
{
    QStringList entries;
    const QList<CdDrive> drives = ListCdDrives(sources);
    for (const CdDrive &d : drives)
        entries.append(DriveListEntry(d.root, VolumeLabelOf(d, sources)));
    return entries;
}

qint32 DriveReadiness(const QString &root, const DriveSources &sources)
{
    const QString wanted = comparableRoot(root);
    const QList<CdDrive> drives = ListCdDrives(sources);
    const bool isCdRoot = std::any_of(drives.cbegin(), drives.cend(),
                                      [&](const CdDrive &d) { return comparableRoot(d.root) == wanted; });
    // O_DIRECTORY: the device node of an empty drive fails with ENOTDIR and is never opened.
    const int fd =
        ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    int error = 0;
    if (fd < 0) {
        error = errno;
    } else {
        // A disc that went away may still have its root cached: read one entry to be sure.
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            error = errno;
            ::close(fd);
        } else {
            errno = 0;
            if (!::readdir(dir) && errno != 0)
                error = errno;
            ::closedir(dir);
        }
    }
    if (error == 0)
        return isCdRoot ? 1 : 0;
    return (error == ENOENT || error == ENOTDIR || IsNoDiscError(error)) ? 2 : 0;
}

QString DecodeUdevLabel(const QString &linkName)
{
    // udev writes unsafe bytes as \xHH and leaves UTF-8 as it is; no library undoes this.
    const QByteArray in = QFile::encodeName(linkName);
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x' && std::isxdigit(uchar(in[i + 2])) &&
            std::isxdigit(uchar(in[i + 3]))) {
            out.append(char(in.mid(i + 2, 2).toInt(nullptr, 16)));
            i += 3;
            continue;
        }
        out.append(in[i]);
    }
    return QString::fromUtf8(out);
}

std::optional<FileSystemProbe> ProbeFileSystem(const QString &deviceOrImage, const QString &fsType)
{
    // Non-blocking, so that a drive whose tray is open answers at once instead of waiting.
    const int fd =
        ::open(QFile::encodeName(deviceOrImage).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    std::optional<FileSystemProbe> result;
    struct stat st
    {};
    if (::fstat(fd, &st) == 0 && (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
        blkid_probe probe = blkid_new_probe();
        if (probe && blkid_probe_set_device(probe, fd, 0, 0) == 0) {
            blkid_probe_enable_superblocks(probe, 1);
            blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE |
                                                         BLKID_SUBLKS_VERSION | BLKID_SUBLKS_UUID);
            QByteArray typeName = fsType.toLatin1();
            if (fsType == QLatin1String("iso9660") || fsType == QLatin1String("udf")) {
                char *only[] = {typeName.data(), nullptr};
                blkid_probe_filter_superblocks_type(probe, BLKID_FLTR_ONLYIN, only);
            }
            if (blkid_do_safeprobe(probe) == 0) {
                const auto value = [probe](const char *name) {
                    const char *text = nullptr;
                    size_t length = 0;
                    return blkid_probe_lookup_value(probe, name, &text, &length) == 0 && text
                               ? QString::fromUtf8(text)
                               : QString();
                };
                result = FileSystemProbe{value("TYPE"), value("LABEL"), value("VERSION"), value("UUID"),
                                         value("VOLUME_SET_ID")};
            }
        }
        if (probe)
            blkid_free_probe(probe);
    }
    ::close(fd);
    return result;
}

MediumSource SourceOfMedium(const QString &path)
{
    struct stat st
    {};
    const bool device = ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
    MediumSource source{device ? QStringLiteral("device") : QStringLiteral("image"), path, QString()};
    // An image may hold both ISO 9660 and UDF: the one found first names it, as for its label.
    for (const char *type : {"udf", "iso9660"}) {
        const std::optional<FileSystemProbe> probe = ProbeFileSystem(path, QLatin1StringView(type));
        if (!probe || (probe->uuid.isEmpty() && probe->volumeSetId.isEmpty()))
            continue;
        QString identity = probe->type;
        if (!probe->uuid.isEmpty())
            identity += QStringLiteral(" UUID=") + probe->uuid;
        if (!probe->volumeSetId.trimmed().isEmpty())
            identity += QStringLiteral(" VOLUME_SET_ID=") + probe->volumeSetId.trimmed();
        source.identity = identity;
        break;
    }
    return source;
}

MediumSource SourceOfDirectory(const QString &directory)
{
    const QString wanted = comparableRoot(directory);
    for (const CdDrive &drive : ListCdDrives()) {
        const bool same = comparableRoot(drive.root) == wanted ||
                          (!drive.mountPoint.isEmpty() && comparableRoot(drive.mountPoint) == wanted);
        if (same && drive.source.startsWith(QLatin1StringView("/dev/")))
            return SourceOfMedium(drive.source);
    }
    return {QStringLiteral("directory"), directory, QString()};
}

QString LabelOrNoLabel(const QString &label)
{
    return labelOrNoLabel(label);
}

} // namespace Drives

QString modFunction::GetVolumeLabel(const QString &root)
{
    const Drives::DriveSources sources = Drives::DriveSources::current();
    const QString wanted = Drives::comparableRoot(root);
    const QList<Drives::CdDrive> drives = Drives::ListCdDrives(sources);
    for (const Drives::CdDrive &d : drives) {
        if (Drives::comparableRoot(d.root) == wanted)
            return Drives::VolumeLabelOf(d, sources);
    }
    return {};
}

bool Drives::IsNoDiscError(int error)
{
    switch (error) {
    case ENOMEDIUM:
    case EMEDIUMTYPE:
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENOTCONN:
    case ESTALE:
        return true;
    default:
        return false;
    }
}
