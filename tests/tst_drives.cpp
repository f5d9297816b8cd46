// The CD drive list, readiness and volume labels: fake machines, the real window and a real disc.
#include "app/frmZIDovidovarar.h"
#include "app/modFunction.h"
#include "drives/Drives.h"
#include "support/IsoImage.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

using Drives::DriveSources;

namespace {

// A machine described by files: a mount table, /sys/block, /dev/disk/by-label and /dev.
class FakeMachine
{
public:
    FakeMachine()
    {
        QDir d(m_dir.path());
        d.mkpath("sys/block");
        d.mkpath("dev/disk/by-label");
        setTable(QByteArray());
        DriveSources s;
        s.mountTable = path("proc/mountinfo");
        s.sysBlock = path("sys/block");
        s.byLabel = path("dev/disk/by-label");
        s.devDir = path("dev");
        DriveSources::setForTesting(s);
    }
    ~FakeMachine() { DriveSources::resetForTesting(); }

    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }

    void addBlockDevice(const QString &name, const QString &majorMinor)
    {
        QDir().mkpath(path("sys/block/" + name));
        writeFile("sys/block/" + name + "/dev", majorMinor.toUtf8() + '\n');
    }
    // A mountinfo line; the mount point directory is made (relative targets lie in the fake tree).
    void addMount(const QString &target, const QString &source, const QString &type,
                  const QString &majorMinor = "0:99", const QString &fsRoot = "/")
    {
        const QString t = target.startsWith('/') ? target : path(target);
        if (target != "/")
            QDir().mkpath(t);
        QString escaped = t;
        escaped.replace(' ', "\\040");
        m_lines << QString("%1 1 %2 %3 %4 rw,relatime - %5 %6 rw")
                       .arg(100 + m_lines.size())
                       .arg(majorMinor, fsRoot, escaped, type, source);
        setTable(m_lines.join('\n') + '\n');
    }
    void addLabelLink(const QString &linkName, const QString &target)
    {
        QVERIFY(QFile::link(target, path("dev/disk/by-label/" + linkName)));
    }
    void setTable(const QByteArray &contents)
    {
        QDir().mkpath(path("proc"));
        writeFile("proc/mountinfo", contents);
    }
    void setTable(const QString &contents) { setTable(contents.toUtf8()); }
    void writeFile(const QString &relative, const QByteArray &contents)
    {
        QFile f(path(relative));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(contents);
    }

private:
    QTemporaryDir m_dir;
    QStringList m_lines;
};

// Two optical drives (sr0 holding DATA1, sr1 empty) among a hard disk, a USB stick and tmpfs.
void buildTypicalMachine(FakeMachine &m)
{
    m.addBlockDevice("sda", "8:0");
    m.addBlockDevice("sdb", "8:16");
    m.addBlockDevice("sr0", "11:0");
    m.addBlockDevice("sr1", "11:1");
    m.addBlockDevice("loop0", "7:0");
    m.addMount("/", "/dev/sda1", "ext4", "8:1");
    m.addMount("run", "tmpfs", "tmpfs", "0:25");
    m.addMount("media/ann/STICK", m.path("dev/sdb1"), "vfat", "8:17");
    m.addMount("media/ann/DATA1", m.path("dev/sr0"), "iso9660", "11:0");
    m.addLabelLink("STICK", "../../sdb1");
    m.addLabelLink("DATA1", "../../sr0");
}

QStringList comboEntries(QComboBox *combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    return entries;
}

// Overwrites the primary volume descriptor's volume identifier, leaving Joliet's as it was.
bool setPrimaryVolumeId(const QString &image, const QByteArray &volumeId)
{
    QFile f(image);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(16 * 2048))
        return false;
    const QByteArray descriptor = f.read(2048);
    if (descriptor.size() != 2048 || descriptor[0] != 1 || descriptor.mid(1, 5) != "CD001")
        return false;
    return f.seek(16 * 2048 + 40) && f.write(volumeId.leftJustified(32, ' ')) == 32;
}

} // namespace

class tst_drives : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsOpticalDrivesAndDiscMountsOnly();
    void readinessOfDiscEmptyDriveAndOtherPaths();
    void labelsFromByLabelLinks();
    void labelsFromTheDiscAndFuseMountPoints();
    void jolietLabelWinsOverPlainIso9660();
    void unusualMountTables();
    void entryTextAndRootBack();
    void windowRebuildsListOnEveryVisitOfTab1();
    void emptyMachineGivesEmptyListNothingSelected();
    void realDiscMountedWithFuse();
};

void tst_drives::listsOpticalDrivesAndDiscMountsOnly()
{
    FakeMachine m;
    buildTypicalMachine(m);
    m.addMount("mnt/dvd", m.path("dev/loop0"), "udf", "7:0");
    m.addMount("mnt/image one", "fuseiso", "fuse.fuseiso", "0:41");

    const QStringList expected{
        m.path("dev/sr1"),
        m.path("media/ann/DATA1/") + "  <DATA1>",
        m.path("mnt/dvd/") + "  <dvd>", // unreadable device, no link: the mount point's name
        m.path("mnt/image one/") + "  <image one>",
    };
    QCOMPARE(Drives::DriveListEntries(), expected);

    const QList<Drives::CdDrive> drives = Drives::ListCdDrives();
    QCOMPARE(drives.size(), 4);
    QCOMPARE(drives[1].source, m.path("dev/sr0"));
    QCOMPARE(drives[1].fsType, QString("iso9660"));
    QVERIFY(drives[0].mountPoint.isEmpty());
}

void tst_drives::readinessOfDiscEmptyDriveAndOtherPaths()
{
    FakeMachine m;
    buildTypicalMachine(m);
    m.writeFile("media/ann/DATA1/README.TXT", "x");

    QCOMPARE(Drives::DriveReadiness(m.path("media/ann/DATA1/")), 1);
    QCOMPARE(Drives::DriveReadiness(m.path("media/ann/DATA1")), 1); // without the trailing '/'
    QCOMPARE(Drives::DriveReadiness(m.path("dev/sr1")), 2);         // empty drive: no such node here
    m.writeFile("dev/sr1", {});
    QCOMPARE(Drives::DriveReadiness(m.path("dev/sr1")), 2); // a node, but not a directory
    QCOMPARE(Drives::DriveReadiness(m.path("media/ann/STICK/")), 0);
    QCOMPARE(Drives::DriveReadiness("/"), 0);
    QCOMPARE(Drives::DriveReadiness(m.path("media/ann/GONE/")), 2);
    QCOMPARE(Drives::DriveReadiness(QString()), 2);
    const QString before = QDir::currentPath();
    Drives::DriveReadiness(m.path("media/ann/DATA1/"));
    QCOMPARE(QDir::currentPath(), before);

    QCOMPARE(modFunction::GetVolumeLabel(m.path("dev/sr1")), QString());
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/ann/STICK/")), QString());
    QCOMPARE(modFunction::GetVolumeLabel(m.path("nowhere/")), QString());
    QCOMPARE(modFunction::GetVolumeLabel(QString()), QString());
}

void tst_drives::labelsFromByLabelLinks()
{
    FakeMachine m;
    m.addBlockDevice("sr0", "11:0");
    m.addBlockDevice("sr1", "11:1");
    m.addBlockDevice("sr2", "11:2");
    m.addMount("media/a", m.path("dev/sr0"), "iso9660", "11:0");
    m.addMount("media/b", m.path("dev/sr1"), "iso9660", "11:1");
    m.addMount("media/c", m.path("dev/sr2"), "udf", "11:2");
    m.addLabelLink("\\x20\\x20Lead\\x20blanks", "../../sr0");
    m.addLabelLink("Metal\\x2020\\x5cB", "../../sr1");
    m.addLabelLink(QString::fromUtf8("Ärger"), "../../sr2");
    m.addLabelLink("OTHER", "../../sdz9");

    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/a/")), QString("  Lead blanks"));
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/b/")), QString("Metal 20\\B"));
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/c/")), QString::fromUtf8("Ärger"));
    QCOMPARE(Drives::DriveListEntries().first(), m.path("media/a/") + "  <  Lead blanks>");

    QCOMPARE(Drives::DecodeUdevLabel("A\\x2"), QString("A\\x2"));
    QCOMPARE(Drives::DecodeUdevLabel("\\xzz\\x41"), QString("\\xzzA"));
}

void tst_drives::labelsFromTheDiscAndFuseMountPoints()
{
    FakeMachine m;
    // The disc's descriptor wins over the mount point's name; unreadable devices fall back.
    IsoImage blank("");
    IsoImage named("DISC01");
    if (!blank.build() || !named.build())
        QSKIP(qPrintable(blank.skipReason() + named.skipReason()));
    m.addMount("media/ann/2026-12-07", blank.imagePath(), "iso9660", "11:0");
    m.addMount("media/ann/somewhere", named.imagePath(), "iso9660", "11:1");
    m.addMount("media/ann/FALLBACK", m.path("dev/sr5"), "iso9660", "11:5");
    m.addMount("mnt/   ", "fuseiso", "fuse.fuseiso", "0:41");
    m.addMount("mnt/  Two lead", "fuseiso", "fuse.fuseiso", "0:42");

    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/ann/2026-12-07/")), QString("(no label)"));
    QCOMPARE(Drives::DriveListEntries().first(), m.path("media/ann/2026-12-07/") + "  <(no label)>");
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/ann/somewhere/")), QString("DISC01"));
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/ann/FALLBACK/")), QString("FALLBACK"));
    QCOMPARE(modFunction::GetVolumeLabel(m.path("mnt/   /")), QString("(no label)"));
    QCOMPARE(modFunction::GetVolumeLabel(m.path("mnt/  Two lead/")), QString("  Two lead"));
}

void tst_drives::jolietLabelWinsOverPlainIso9660()
{
    FakeMachine m;
    IsoImage disc("Metal 20");
    if (!disc.build())
        QSKIP(qPrintable(disc.skipReason()));
    QVERIFY(setPrimaryVolumeId(disc.imagePath(), "METAL_20"));
    m.addMount("media/ann/METAL_20", disc.imagePath(), "iso9660", "7:3");
    // Even a by-label link with the plain name does not beat the disc's own Joliet label.
    m.addLabelLink("METAL_20", "../../" + QFileInfo(disc.imagePath()).fileName());
    QCOMPARE(modFunction::GetVolumeLabel(m.path("media/ann/METAL_20/")), QString("Metal 20"));
}

void tst_drives::unusualMountTables()
{
    // A mounts-style table (no device numbers): the drive is recognised by its device's name.
    {
        FakeMachine m;
        m.addBlockDevice("sr0", "11:0");
        QDir().mkpath(m.path("media/DISC"));
        m.setTable(QString("%1 %2 iso9660 ro 0 0\ntmpfs /tmp tmpfs rw 0 0\n")
                       .arg(m.path("dev/sr0"), m.path("media/DISC")));
        m.addLabelLink("DISC", "../../sr0");
        QCOMPARE(Drives::DriveListEntries(), QStringList{m.path("media/DISC/") + "  <DISC>"});
    }
    // A disc in an optical drive is listed whatever its file system; a disc hidden under
    // another mount is not, nor a directory of a disc bound elsewhere; broken lines are skipped.
    {
        FakeMachine m;
        m.addBlockDevice("sr0", "11:0");
        m.addMount("media/MAC", m.path("dev/sr0"), "hfsplus", "11:0");
        m.addMount("media/hidden", m.path("dev/loop1"), "iso9660", "7:1");
        m.addMount("media/hidden", "tmpfs", "tmpfs", "0:50");
        m.addMount("srv/bound", m.path("dev/sr0"), "hfsplus", "11:0", "/Applications");
        QFile table(m.path("proc/mountinfo"));
        QVERIFY(table.open(QIODevice::Append));
        table.write("this is no mount line\n");
        table.close();
        QCOMPARE(Drives::DriveListEntries(), QStringList{m.path("media/MAC/") + "  <MAC>"});
    }
    // No mount table at all: the drives are still there, empty.
    {
        FakeMachine m;
        m.addBlockDevice("sr0", "11:0");
        QFile::remove(m.path("proc/mountinfo"));
        QCOMPARE(Drives::DriveListEntries(), QStringList{m.path("dev/sr0")});
    }
}

void tst_drives::entryTextAndRootBack()
{
    QCOMPARE(Drives::DriveListEntry("/media/ann/DISC01/", "DISC01"), QString("/media/ann/DISC01/  <DISC01>"));
    QCOMPARE(Drives::DriveListEntry("/dev/sr0", QString()), QString("/dev/sr0"));
    QCOMPARE(Drives::DriveRootOfEntry("/media/ann/DISC01/  <DISC01>"), QString("/media/ann/DISC01/"));
    QCOMPARE(Drives::DriveRootOfEntry("/dev/sr0"), QString("/dev/sr0"));
    QCOMPARE(Drives::DriveRootOfEntry("/media/a<b/  <X<Y>"), QString("/media/a<b/"));
    QCOMPARE(Drives::DriveRootOfEntry("/media/x/  <  Lead>"), QString("/media/x/"));
}

void tst_drives::windowRebuildsListOnEveryVisitOfTab1()
{
    QTemporaryDir programDir;
    modFunction::SetProgramDirectoryForTesting(programDir.path());
    FakeMachine m;
    buildTypicalMachine(m);

    frmZIDovidovarar w;
    auto *tabs = w.findChild<QTabWidget *>("tabApplication");
    auto *combo = w.findChild<QComboBox *>("cboSelectDrive");
    QVERIFY(tabs && combo);
    QCOMPARE(combo->count(), 0); // nothing before the first visit of tab 1

    tabs->setCurrentIndex(1);
    const QStringList first{m.path("dev/sr1"), m.path("media/ann/DATA1/") + "  <DATA1>"};
    QCOMPARE(comboEntries(combo), first);
    QCOMPARE(combo->currentIndex(), 0);

    // A new disc in sr1; the list changes only when tab 1 is visited again.
    combo->setCurrentIndex(1);
    m.addMount("media/ann/DATA2", m.path("dev/sr1"), "iso9660", "11:1");
    m.addLabelLink("DATA2", "../../sr1");
    tabs->setCurrentIndex(0);
    QCOMPARE(comboEntries(combo), first);
    QCOMPARE(combo->currentIndex(), 1);

    tabs->setCurrentIndex(1);
    const QStringList second{m.path("media/ann/DATA1/") + "  <DATA1>",
                             m.path("media/ann/DATA2/") + "  <DATA2>"};
    QCOMPARE(comboEntries(combo), second);
    QCOMPARE(combo->currentIndex(), 0);

    // Leaving and coming back rebuilds it again and selects the first entry.
    combo->setCurrentIndex(1);
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    QCOMPARE(comboEntries(combo), second);
    QCOMPARE(combo->currentIndex(), 0);
}

void tst_drives::emptyMachineGivesEmptyListNothingSelected()
{
    QTemporaryDir programDir;
    modFunction::SetProgramDirectoryForTesting(programDir.path());
    FakeMachine m;
    m.addBlockDevice("sr0", "11:0");
    frmZIDovidovarar w;
    auto *tabs = w.findChild<QTabWidget *>("tabApplication");
    auto *combo = w.findChild<QComboBox *>("cboSelectDrive");
    tabs->setCurrentIndex(1);
    QCOMPARE(combo->count(), 1);

    // The drive is removed: the old entry goes too.
    QDir(m.path("sys/block/sr0")).removeRecursively();
    m.addBlockDevice("sda", "8:0");
    m.addMount("/", "/dev/sda1", "ext4", "8:1");
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    QCOMPARE(combo->count(), 0);
    QCOMPARE(combo->currentIndex(), -1);
    QVERIFY(Drives::DriveListEntries().isEmpty());
}

void tst_drives::realDiscMountedWithFuse()
{
    IsoImage disc("Metal 20");
    QVERIFY(disc.addFile("README.TXT", "hello\n"));
    QVERIFY(disc.addFile("SETUP/DATA/FILE1.CAB", QByteArray(3000, 'x')));
    if (!disc.buildAndMount())
        QSKIP(qPrintable(disc.skipReason()));

    DriveSources::resetForTesting(); // the machine's own mount table
    const QString entry = disc.root() + "  <Metal 20>";
    QVERIFY2(Drives::DriveListEntries().contains(entry), qPrintable(Drives::DriveListEntries().join('\n')));
    QCOMPARE(modFunction::GetVolumeLabel(disc.root()), QString("Metal 20"));
    QCOMPARE(Drives::DriveReadiness(disc.root()), 1);

    QElapsedTimer timer;
    timer.start();
    const QStringList entries = Drives::DriveListEntries();
    qInfo("drive list of this machine (%lld entries) read in %lld ms", qint64(entries.size()),
          timer.elapsed());

    {
        QTemporaryDir programDir;
        modFunction::SetProgramDirectoryForTesting(programDir.path());
        frmZIDovidovarar w;
        w.findChild<QTabWidget *>("tabApplication")->setCurrentIndex(1);
        QVERIFY(comboEntries(w.findChild<QComboBox *>("cboSelectDrive")).contains(entry));
    }

    QVERIFY(disc.unmount());
    QCOMPARE(Drives::DriveReadiness(disc.root()), 2);
    QVERIFY(!Drives::DriveListEntries().contains(entry));
    QCOMPARE(modFunction::GetVolumeLabel(disc.root()), QString());
}

QTEST_MAIN(tst_drives)
#include "tst_drives.moc"
