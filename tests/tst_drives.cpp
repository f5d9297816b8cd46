// The CD drive list, readiness and volume labels: fake machines, the real window and disc images.
#include "app/frmZIDovidovarar.h"
#include "drives/Drives.h"
#include "settings/modFunction.h"
#include "support/IsoImage.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

#include <tuple>

using Drives::DriveListEntries;

namespace {

// A machine described by files: a mount table, /sys/block, /dev/disk/by-label and /dev.
// The typical one: two optical drives (sr0 holding DATA1, sr1 empty) among a hard disk, a USB stick and
// tmpfs.
class FakeMachine
{
public:
    explicit FakeMachine(bool typical = false)
    {
        QDir(m_dir.path()).mkpath("dev/disk/by-label");
        writeFile("proc/mountinfo", {});
        TestSeams::Drives() = TestSeams::DrivePaths{path("proc/mountinfo"), path("sys/block"),
                                                    path("dev/disk/by-label"), path("dev")};
        if (!typical)
            return;
        for (const auto &[name, number] :
             {std::pair{"sda", "8:0"}, {"sdb", "8:16"}, {"sr0", "11:0"}, {"sr1", "11:1"}})
            addBlockDevice(name, number);
        addMount("/", "/dev/sda1", "ext4", "8:1");
        addMount("run", "tmpfs", "tmpfs", "0:25");
        addMount("media/ann/STICK", path("dev/sdb1"), "vfat", "8:17");
        addMount("media/ann/DATA1", path("dev/sr0"), "iso9660", "11:0");
        addLabelLink("STICK", "../../sdb1");
        addLabelLink("DATA1", "../../sr0");
    }
    ~FakeMachine() { TestSeams::Drives().reset(); }

    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void writeFile(const QString &relative, const QByteArray &contents)
    {
        QFile f(path(relative));
        QVERIFY(QDir().mkpath(QFileInfo(f).absolutePath()) && f.open(QIODevice::WriteOnly) &&
                f.write(contents) == contents.size());
    }
    void addBlockDevice(const QString &name, const QString &majorMinor)
    {
        writeFile("sys/block/" + name + "/dev", majorMinor.toUtf8() + '\n');
    }
    void addLine(const QString &line)
    {
        m_lines << line;
        writeFile("proc/mountinfo", m_lines.join('\n').toUtf8() + '\n');
    }
    // A mountinfo line; relative targets lie in the fake tree, and their directories are made.
    void addMount(const QString &target, const QString &source, const QString &type,
                  const QString &majorMinor = "0:41", const QString &fsRoot = "/")
    {
        const QString t = target.startsWith('/') ? target : path(target);
        QDir().mkpath(t);
        addLine(QString("%1 1 %2 %3 %4 rw - %5 %6 rw")
                    .arg(100 + m_lines.size())
                    .arg(majorMinor, fsRoot, QString(t).replace(' ', "\\040"), type, source));
    }
    void addLabelLink(const QString &name, const QString &target)
    {
        QVERIFY(QFile::link(target, path("dev/disk/by-label/" + name)));
    }

private:
    QTemporaryDir m_dir;
    QStringList m_lines;
};

} // namespace

class tst_drives : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsOpticalDrivesAndDiscMountsOnlyWithReadinessAndLabels()
    {
        FakeMachine m(true);
        m.addBlockDevice("sr2", "11:2");
        // A disc in an optical drive counts whatever its file system; a directory of it bound elsewhere
        // does not, nor a disc hidden under another mount, nor a broken line.
        m.addMount("media/MAC", m.path("dev/sr2"), "hfsplus", "11:2");
        m.addMount("srv/bound", m.path("dev/sr2"), "hfsplus", "11:2", "/Applications");
        m.addMount("mnt/dvd", m.path("dev/loop0"), "udf", "7:0");
        m.addMount("mnt/hidden", m.path("dev/loop1"), "iso9660", "7:1");
        m.addMount("mnt/hidden", "tmpfs", "tmpfs", "0:50");
        m.addMount("mnt/image one", "fuseiso", "fuse.fuseiso");
        m.addLine("this is no mount line");
        QCOMPARE(
            DriveListEntries(),
            QStringList({m.path("dev/sr1"), m.path("media/MAC/  <MAC>"), m.path("media/ann/DATA1/  <DATA1>"),
                         m.path("mnt/dvd/  <dvd>"), m.path("mnt/image one/  <image one>")}));
        // Readiness and label of each kind of root.
        m.writeFile("media/ann/DATA1/README.TXT", "x");
        m.writeFile("dev/sr1", {}); // the empty drive's node
        const std::tuple<QString, int, QString> cases[] = {{m.path("media/ann/DATA1/"), 1, "DATA1"},
                                                           {m.path("media/ann/DATA1"), 1, "DATA1"},
                                                           {m.path("dev/sr1"), 2, ""},
                                                           {m.path("media/ann/STICK/"), 0, ""},
                                                           {m.path("media/ann/GONE/"), 2, ""},
                                                           {"", 2, ""}};
        for (const auto &[root, readiness, label] : cases)
            QCOMPARE(QString::number(Drives::DriveReadiness(root)) + modFunction::GetVolumeLabel(root),
                     QString::number(readiness) + label);

        // A mounts-style table (no device numbers): the drive is recognised by its device's name.
        m.writeFile("proc/mountinfo", QString("%1 %2 iso9660 ro 0 0\ntmpfs /tmp tmpfs rw 0 0\n")
                                          .arg(m.path("dev/sr0"), m.path("media/ann/DATA1"))
                                          .toUtf8());
        QCOMPARE(DriveListEntries(),
                 QStringList({m.path("dev/sr1"), m.path("dev/sr2"), m.path("media/ann/DATA1/  <DATA1>")}));
        // No mount table at all: the drives are still there, empty.
        QFile::remove(m.path("proc/mountinfo"));
        QCOMPARE(DriveListEntries(), QStringList({m.path("dev/sr0"), m.path("dev/sr1"), m.path("dev/sr2")}));
    }

    // The disc's label without reading it: udev's label link for its device, else the mount point's
    // name; read from the disc, its own label beats both, and Joliet's beats the plain ISO 9660 one
    // (here rewritten as a burner would have written it).
    void labels()
    {
        const std::tuple<QString, QString, QString, QString> cases[] = {
            {"a", "iso9660", "\\x20\\x20Lead\\x20blanks", "  Lead blanks"},
            {"b", "iso9660", "Metal\\x2020\\x5cB", "Metal 20\\B"},
            {"c", "udf", "\\xzz\\x41\\x2", "\\xzzA\\x2"},
            {"a<b", "udf", "Ärger\\x20<1>", "Ärger <1>"},
            {"FALLBACK", "iso9660", "", "FALLBACK"},
            {"  Two lead", "fuse.fuseiso", "", "  Two lead"},
            {"   ", "fuse.fuseiso", "", "(no label)"}};
        for (const auto &[mountDir, fsType, link, label] : cases) {
            FakeMachine m;
            const QString root = m.path("media/" + mountDir + '/');
            m.addMount(root.chopped(1), fsType.startsWith("fuse") ? "fuseiso" : m.path("dev/sr0"), fsType);
            m.addLabelLink("OTHER", "../../sdz9"); // another device's
            if (!link.isEmpty())
                m.addLabelLink(link, "../../sr0");
            QCOMPARE(DriveListEntries(), QStringList{root + "  <" + label + '>'});
        }

        IsoImage blank(""), metal("Metal 20");
        if (!blank.build() || !metal.build())
            QSKIP(qPrintable(blank.skipReason() + metal.skipReason()));
        QFile iso(metal.imagePath());
        QVERIFY(iso.open(QIODevice::ReadWrite) && iso.seek(16 * 2048 + 40)); // the primary descriptor's
        QCOMPARE(iso.peek(8), QByteArray("Metal 20"));
        QVERIFY(iso.write("METAL_20") == 8 && iso.flush());
        FakeMachine m;
        m.addMount("media/2026-12-07", blank.imagePath(), "iso9660", "7:2");
        m.addMount("media/METAL_20", metal.imagePath(), "iso9660", "7:3");
        m.addLabelLink("METAL_20", "../../disc.iso");
        QCOMPARE(DriveListEntries(), QStringList({m.path("media/2026-12-07/  <(no label)>"),
                                                  m.path("media/METAL_20/  <Metal 20>")}));
    }

    void windowRebuildsListOnEveryVisitOfTab1()
    {
        FakeMachine m(true);
        frmZIDovidovarar w;
        auto *tabs = w.findChild<QTabWidget *>("tabApplication");
        auto *combo = w.findChild<QComboBox *>("cboSelectDrive");
        tabs->setCurrentIndex(1); // built at the first visit
        QCOMPARE(combo->currentText(), m.path("dev/sr1"));

        // A disc goes into sr1: the list changes when tab 1 is visited again, not before.
        combo->setCurrentIndex(1);
        m.addMount("media/ann/DATA2", m.path("dev/sr1"), "iso9660", "11:1");
        m.addLabelLink("DATA2", "../../sr1");
        tabs->setCurrentIndex(0);
        QCOMPARE(combo->itemText(0), m.path("dev/sr1"));
        tabs->setCurrentIndex(1);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), m.path("media/ann/DATA1/  <DATA1>"));
        QCOMPARE(combo->itemText(1), m.path("media/ann/DATA2/  <DATA2>"));

        // Both drives are removed: a machine without CD drives gives an empty list, nothing selected.
        QDir(m.path("sys/block")).removeRecursively();
        m.writeFile("proc/mountinfo", "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n");
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(1);
        QVERIFY(combo->count() == 0 && combo->currentIndex() == -1);
    }
};

QTEST_MAIN(tst_drives)
#include "tst_drives.moc"
