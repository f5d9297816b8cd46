// Listing a disc: the directory walker on its own, then "List Files" through the window.
#include "app/MessageBox.h"
#include "app/modConstant.h"
#include "app/modFunction.h"
#include "catalogue/GeneralDate.h"
#include "catalogue/clsFileCollModel.h"
#include "scan/DirectoryWalker.h"
#include "support/IsoImage.h"
#include "support/WindowTestAccess.h"

#include <QtTest>
#include <QtWidgets>

#include <cerrno>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>

namespace {

bool makeFiles(const QString &root, const QStringList &relatives)
{
    for (const QString &relative : relatives) {
        QFile file(root + '/' + relative);
        if (!QDir().mkpath(QFileInfo(file).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
            file.write("x") != 1)
            return false;
    }
    return true;
}

// Files a, b; X with x1 and Z/z1; Y with y1.
const QStringList kWorkedTree = {"a", "b", "X/x1", "X/Z/z1", "Y/y1"};
const QString kFinished = "All Files on the drive '%1' have been scanned and listed.";

// Walks a tree, recording what the walker tells its observer: "dir /X/", "yield", "KEY2 x1", "not ready".
// A fault fails that one step of the walk (see DirectoryWalker::setFaultHook); an error that means the
// disc is gone fails every step from there on, as a disc taken out does.
struct Walk : ScanObserver
{
    explicit Walk(const QString &root, std::string fault = "-", int error = 0) : root(root)
    {
        walker.setFaultHook([this, fault, error](std::string_view relative) {
            gone = gone || (relative == fault && DirectoryWalker::isDriveGoneError(error));
            return relative == fault || gone ? error : 0;
        });
    }
    // The names listed, in order, and "not ready" where a directory's walk met no disc.
    QStringList run()
    {
        walker.ScanDirectory(root);
        return events.filter(QRegularExpression("^KEY|^not ready"))
            .replaceInStrings(QRegularExpression("^KEY\\d+ "), "");
    }
    void directoryListed(const QString &path) override { events << "dir /" + path.mid(rootLength + 1); }
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &r, qint64 k) override
    {
        events << QString("KEY%1 %2").arg(k).arg(r.FileName());
    }
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override { events << "not ready"; }
    void yield() override { events << "yield"; }

    QString root;
    int rootLength = int(root.size()) - root.endsWith('/');
    bool gone = false;
    QStringList events;
    clsFileColl files;
    DirectoryWalker walker{files, *this};
};

} // namespace

class tst_scan : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmZIDovidovarar> m_window;
    QStringList m_messages;
    QList<QStringList> m_shownAtMessage;
    int m_ended = 0;

    static QString inProgress(const QString &d) { return "Quillary - CD Drive [" + d + "] scan in progress"; }
    template <class W> W *control(const char *name) const { return m_window->findChild<W *>(name); }

    // A window whose program directory holds a catalogue, with the drive entry given selected.
    frmZIDovidovarar &openWindow(const QString &entry)
    {
        const QString program = m_dir->path() + "/program";
        QDir().mkpath(program);
        QFile(program + '/' + modConstant::kDatabaseFileName).open(QIODevice::WriteOnly);
        modFunction::SetProgramDirectoryForTesting(program);
        m_window = std::make_unique<frmZIDovidovarar>();
        m_window->show();
        selectDrive(entry);
        return *m_window;
    }
    void selectDrive(const QString &entry)
    {
        control<QComboBox>("cboSelectDrive")->clear();
        if (!entry.isEmpty())
            control<QComboBox>("cboSelectDrive")->addItem(entry);
    }
    void listFiles() { control<QPushButton>("cmdTakeBackup")->click(); }
    QStringList modelColumn(int column, int role = Qt::DisplayRole) const
    {
        const QAbstractItemModel *model = control<QTreeView>("lvwListFile")->model();
        QStringList result;
        for (int row = 0; row < model->rowCount(); ++row)
            result << model->index(row, column).data(role).toString();
        return result;
    }
    // The paths of these files on the disc being listed, as shown().
    QString paths(QStringList relatives) const
    {
        return relatives
            .replaceInStrings(QRegularExpression("^"), WindowTestAccess::currentLabel(*m_window) + ": ")
            .join('|');
    }
    // What the window shows: caption, button, busy flag and cursor, labels, bars, the list's paths and keys.
    QStringList shown() const
    {
        QStringList texts = {m_window->windowTitle(),
                             QStringLiteral("button %1 busy %2 wait %3")
                                 .arg(control<QPushButton>("cmdTakeBackup")->isEnabled())
                                 .arg(m_window->blnBusy())
                                 .arg(m_window->cursor().shape() == Qt::WaitCursor)};
        for (const char *label : {"lblFilesFound", "lblDirectory", "lblFile"})
            texts << control<QLabel>(label)->text();
        for (const QProgressBar *bar : {control<QProgressBar>("pgbrFile"), control<QProgressBar>("pgbrDir")})
            texts << QString::number(bar->value()) + '/' + QString::number(bar->maximum());
        return texts << modelColumn(2).join('|') << modelColumn(0, clsFileCollModel::KeyRole).join(' ');
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_messages.clear();
        m_shownAtMessage.clear();
        m_ended = 0;
        quillary::SetMessageHandler([this](QWidget *, const QString &text) {
            m_messages << text;
            m_shownAtMessage << shown();
        });
        frmZIDovidovarar::EndProgramHook() = [this] { ++m_ended; };
    }
    void cleanup() { m_window.reset(); }

    void walker_workedOrderWithoutHiddenSystemEntriesOrLinks()
    {
        Walk walk(m_dir->path() + "/disc"); // no trailing '/': walked as root + '/'
        const QString root = walk.root + '/';
        QVERIFY(makeFiles(root, kWorkedTree + QStringList{".hidden", ".hiddendir/in", "X/.h"}));
        // Links (to ".." and to the root they would loop if followed) and system entries are left out.
        QVERIFY(::mkfifo(QFile::encodeName(root + "fifo").constData(), 0600) == 0);
        ::mknod(QFile::encodeName(root + "null").constData(), S_IFCHR | 0600, makedev(1, 3)); // where allowed
        QVERIFY(QFile::link(root + "a", root + "c-link") && QFile::link(root + "Y", root + "W-link"));
        QVERIFY(QFile::link("..", root + "X/up") && QFile::link(root, root + "X/Z/self"));
        walk.run();
        // Each directory: read, yield, its files, yield, then its subdirectories.
        QCOMPARE(walk.events, QStringList({"dir /", "yield", "KEY0 a", "KEY1 b", "yield", "dir /X/", "yield",
                                           "KEY2 x1", "yield", "dir /X/Z/", "yield", "KEY3 z1", "yield",
                                           "dir /Y/", "yield", "KEY4 y1", "yield"}));
        // Names are sorted ignoring case.
        QVERIFY(makeFiles(root, {"B1", "w/w1"}));
        QCOMPARE(Walk(root).run(), QStringList({"a", "b", "B1", "w1", "x1", "z1", "y1"}));
    }

    void walker_yieldStrides()
    {
        // D100 holds 100 files, D101 101, D201 201: the file loop yields after the files with index 100, 200.
        Walk walk(m_dir->path() + "/strides/");
        for (int n : {100, 101, 201})
            for (int i = 0; i < n; ++i)
                QVERIFY(makeFiles(walk.root, {QStringLiteral("D%1/f%2").arg(n).arg(i, 3, 10, QChar('0'))}));
        walk.run();
        // Directories, yields, and the files around each hundred.
        QCOMPARE(
            walk.events.filter(QRegularExpression("^dir|^yield|f(099|100|199|200)$"))
                .replaceInStrings(QRegularExpression("^.* "), ""),
            QStringList({"/",      "yield", "yield",                            // root
                         "/D100/", "yield", "f099",  "yield",                   // no yield inside
                         "/D101/", "yield", "f099",  "f100",  "yield", "yield", // one after f100
                         "/D201/", "yield", "f099",  "f100",  "yield", "f199",  "f200", "yield", "yield"}));
    }

    void walker_bigDirectoriesListedWhole()
    {
        // More files and more subdirectories than a 16-bit counter holds. Made in memory where the machine
        // allows it: tens of thousands of entries on a disk take minutes.
        QTemporaryDir memory(QFileInfo("/dev/shm").isWritable() ? "/dev/shm/tst_scan-XXXXXX"
                                                                : QDir::tempPath() + "/tst_scan-XXXXXX");
        for (int i = 0; i < 32'800; ++i)
            QVERIFY(makeFiles(memory.path(), {QStringLiteral("files/f%1").arg(i)}) &&
                    QDir(memory.path()).mkpath(QStringLiteral("dirs/d%1").arg(i)));
        QVERIFY(makeFiles(memory.path(), {"dirs/d32799/last.txt"}));
        Walk walk(memory.path());
        QCOMPARE(walk.run().size(), 32'801);
        // "dirs" comes before "files"; its last subdirectory is walked too.
        QCOMPARE(walk.files.Item(1).FilePath(), QStringLiteral(": dirs/d32799/last.txt"));
    }

    void walker_failures()
    {
        const QString root = m_dir->path() + "/failing";
        QVERIFY(makeFiles(root, {"a", "X/x1", "X/x2", "X/x3", "X/S/s1", "Y/y1", "Z/z1"}));
        // A file or directory that cannot be read ends its directory and that directory's subtree,
        // silently; the siblings go on.
        QCOMPARE(Walk(root, "X/x2", EACCES).run(), QStringList({"a", "x1", "y1", "z1"}));
        QCOMPARE(Walk(root, "X/", EACCES).run(), QStringList({"a", "y1", "z1"}));
        // The disc taken out while x2 is read: X ends, and so do Y and Z, each saying so.
        for (const int error : {ENOMEDIUM, EIO, ENXIO, ENODEV, ENOTCONN})
            QCOMPARE(Walk(root, "X/x2", error).run(),
                     QStringList({"a", "x1", "not ready", "not ready", "not ready"}));
    }

    void window_listsTwiceThenRefuses()
    {
        const QString first = m_dir->path() + "/fir<st"; // a mount point may be named so
        const QString second = m_dir->path() + "/second";
        QVERIFY(makeFiles(first, kWorkedTree + QStringList{"X/Z/.hidden"}) &&
                makeFiles(second, {"only/one.txt", "two.txt"}));
        // The label in brackets is no part of the drive.
        frmZIDovidovarar &w = openWindow(first + "/  <FIR<ST>");
        w.display().setInterval(60'000); // nothing reaches the widgets but through the flushes
        listFiles();
        // When the message shows, every label, bar and the list already show their final values; the bar
        // of the directories stands at the last level that set it (Y: 1 of 2 done).
        QCOMPARE(m_messages, QStringList({kFinished.arg(first + '/')}));
        QCOMPARE(m_shownAtMessage, QList<QStringList>({{inProgress(first + '/'), "button 0 busy 1 wait 1",
                                                        "Files Found: 5", first + "/Y/", " y1", "1/1", "1/2",
                                                        paths(kWorkedTree), "KEY0 KEY1 KEY2 KEY3 KEY4"}}));
        QCOMPARE(shown().mid(0, 2), QStringList({"Quillary", "button 1 busy 0 wait 0"}));

        // The second list starts again at KEY0.
        selectDrive(second);
        listFiles();
        const QStringList before = shown();
        QCOMPARE(before.mid(2), QStringList({"Files Found: 2", second + "/only/", " one.txt", "1/1", "0/1",
                                             paths({"two.txt", "only/one.txt"}), "KEY0 KEY1"}));

        // Refused scans leave the list and the window as they were: a drive without a disc, a drive box
        // with nothing selected (the caption names the drive until the message is closed), no catalogue.
        for (const QString &entry : {m_dir->path() + "/nodisc/  <OLD>", QString(), second}) {
            m_messages.clear();
            selectDrive(entry);
            if (entry == second)
                QVERIFY(QFile::remove(m_dir->path() + "/program/" + modConstant::kDatabaseFileName));
            listFiles();
            QCOMPARE(m_messages, QStringList({entry == second ? modConstant::DatabaseMissingMessage()
                                                              : modConstant::kDriveNotReadyMessage}));
            QCOMPARE(m_shownAtMessage.last().first(),
                     entry == second ? "Quillary" : inProgress(entry.section("  <", 0, 0)));
            QCOMPARE(shown(), before);
        }
    }

    void window_duringWalk()
    {
        const QString root = m_dir->path() + "/disc";
        QVERIFY(makeFiles(root, kWorkedTree));
        frmZIDovidovarar &w = openWindow(root);
        // At the first yield, once the root has been read: the other commands, OK, Cancel and closing
        // are refused (a second scan would empty the list under the first); then the disc is taken out.
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            seen << shown().mid(0, 2);
            w.cmdOK_Click();
            w.cmdCancel_Click();
            seen << QString::number(w.close());
            w.cmdTakeBackup_Click();
            w.cmdAddToDB_Click();
            w.cmdSearch_Click();
            seen << QString::number(objScannedFiles().Count()) << QString::number(m_messages.size())
                 << QString::number(control<QTabWidget>("tabApplication")->isAncestorOf(w.focusWidget()))
                 << QString::number(QDir().rename(root, root + "-ejected"));
        });
        listFiles();
        QCOMPARE(seen, QStringList({inProgress(root), "button 0 busy 1 wait 1", "0", "0", "0", "1", "1"}));
        QVERIFY(m_ended == 0 && w.isVisible());
        // X and Y each meet the empty drive, then the scan ends as always, keeping what was listed.
        QCOMPARE(m_messages, QStringList({modConstant::kDriveNotReadyMessage,
                                          modConstant::kDriveNotReadyMessage, kFinished.arg(root)}));
        QCOMPARE(shown().mid(0, 3), QStringList({"Quillary", "button 1 busy 0 wait 0", "Files Found: 2"}));
        QCOMPARE(modelColumn(0), QStringList({"a", "b"}));
    }

    void window_listsMountedIsoImage()
    {
        IsoImage disc("DISC01");
        const QDateTime modified(QDate(2021, 6, 1), QTime(12, 34, 56));
        const timeval times[2] = {{modified.toSecsSinceEpoch(), 0}, {modified.toSecsSinceEpoch(), 0}};
        const QStringList onDisc = {"README.TXT", QString::fromUtf8("Müsik/Ärger.txt"), "SETUP/setup.exe",
                                    "SETUP/DATA/FILE1.CAB"};
        const QByteArray contents[] = {"hello\n", "a", QByteArray(10, 'y'), QByteArray(3000, 'x')};
        for (int i = 0; i < onDisc.size(); ++i) { // Rock Ridge keeps the modification time
            QVERIFY(disc.addFile(onDisc[i], contents[i]));
            QVERIFY(::utimes(QFile::encodeName(disc.sourceDir() + '/' + onDisc[i]).constData(), times) == 0);
        }
        QVERIFY(disc.addFile(".hidden", "h") && disc.addDirectory("EMPTY"));
        if (!disc.buildAndMount())
            QSKIP(qPrintable(disc.skipReason()));

        openWindow({});
        // Opening the tab lists the drives; the mounted image is one of them.
        control<QTabWidget>("tabApplication")->setCurrentIndex(1);
        auto *box = control<QComboBox>("cboSelectDrive");
        box->setCurrentIndex(box->findText(disc.root(), Qt::MatchStartsWith));
        QCOMPARE(box->currentText(), disc.root() + "  <DISC01>");
        listFiles();
        QCOMPARE(m_messages, QStringList({kFinished.arg(disc.root())}));
        QCOMPARE(shown().mid(7), QStringList({paths(onDisc), "KEY0 KEY1 KEY2 KEY3"}));
        QCOMPARE(WindowTestAccess::currentLabel(*m_window), QStringLiteral("DISC01"));
        QCOMPARE(modelColumn(3), QStringList({"6", "1", "10", "3000"}));
        // A disc keeps one time per file: both columns show it.
        QCOMPARE(modelColumn(4) + modelColumn(5),
                 QStringList(8, GeneralDate::toText(modified.toSecsSinceEpoch())));
    }
};

QTEST_MAIN(tst_scan)
#include "tst_scan.moc"
