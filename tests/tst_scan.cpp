// Listing a disc: the directory walker on its own, then "List Files" through the window.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "app/modConstant.h"
#include "app/modFunction.h"
#include "catalogue/GeneralDate.h"
#include "catalogue/clsFileColl.h"
#include "catalogue/clsFileCollModel.h"
#include "scan/DirectoryWalker.h"
#include "support/IsoImage.h"
#include "support/WindowTestAccess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <cerrno>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool setModified(const QString &path, const QDateTime &time)
{
    const timeval times[2] = {{time.toSecsSinceEpoch(), 0}, {time.toSecsSinceEpoch(), 0}};
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
}

bool makeFile(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Files a, b; X with x1 and Z/z1; Y with y1.
bool makeWorkedTree(const QString &root)
{
    for (const char *relative : {"a", "b", "X/x1", "X/Z/z1", "Y/y1"}) {
        if (!makeFile(root + '/' + relative))
            return false;
    }
    return true;
}

// Records what the walker tells its observer, one line per call.
struct Recorder : ScanObserver
{
    void directoryListed(const QString &path) override { events << "dir " + path.mid(rootLength); }
    void filesStarting(qint64 count) override { events << QStringLiteral("files %1").arg(count); }
    void fileStarting(qint64 index, std::string_view name) override
    {
        events << QStringLiteral("file %1 %2")
                      .arg(index)
                      .arg(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    void fileListed(const clsFile &record, qint64 key) override
    {
        events << QStringLiteral("listed KEY%1 %2").arg(key).arg(record.FileName());
    }
    void subdirectoryStarting(qint64 done, qint64 count) override
    {
        events << QStringLiteral("sub %1/%2").arg(done).arg(count);
    }
    void driveNotReady() override { events << QStringLiteral("not ready"); }
    void yield() override
    {
        events << QStringLiteral("yield");
        if (onYield)
            onYield();
    }
    QStringList only(const QString &prefix) const
    {
        QStringList result;
        for (const QString &e : events) {
            if (e.startsWith(prefix))
                result << e;
        }
        return result;
    }

    int rootLength = 0;
    QStringList events;
    std::function<void()> onYield;
};

QStringList names(const clsFileColl &files)
{
    QStringList result;
    for (const clsFile &record : files)
        result << record.FileName();
    return result;
}

QStringList paths(const clsFileColl &files)
{
    QStringList result;
    for (const clsFile &record : files)
        result << record.FilePath();
    return result;
}

template <class W> W *control(QWidget &window, const char *name)
{
    W *widget = window.findChild<W *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

QString finishedMessage(const QString &drive)
{
    return QStringLiteral("All Files on the drive '") + drive +
           QStringLiteral("' have been scanned and listed.");
}

} // namespace

class tst_scan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // The walker alone.
    void walker_workedOrder();
    void walker_yieldStrides();
    void walker_hiddenAndSystemEntriesAbsent();
    void walker_namesSortedIgnoringCase();
    void walker_bigDirectoriesListedWhole();
    void walker_failingFileEndsItsDirectorySilently();
    void walker_discGone();
    void walker_emptyAndMissingRoot();

    // "List Files" through the window.
    void window_listsTreeAndShowsExactValues();
    void window_twoScansInARow();
    void window_refusedScansKeepTheList();
    void window_discTakenOutDuringWalk();
    void window_otherCommandsRefusedDuringWalk();
    void window_listsMountedIsoImage();

private:
    // A window whose program directory holds a catalogue, with root selectable in the drive box.
    frmZIDovidovarar &openWindow();
    void selectDrive(const QString &entry);
    QStringList modelColumn(int column) const;
    QStringList modelKeys() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmZIDovidovarar> m_window;
    QStringList m_messages;
    std::function<void(const QString &)> m_onMessage;
    int m_ended = 0;
};

void tst_scan::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    objScannedFiles().Clear();
    m_messages.clear();
    m_onMessage = nullptr;
    m_ended = 0;
    quillary::SetMessageHandler([this](QWidget *, const QString &text) {
        m_messages << text;
        if (m_onMessage)
            m_onMessage(text);
    });
    frmZIDovidovarar::EndProgramHook() = [this] { ++m_ended; };
}

void tst_scan::cleanup()
{
    m_window.reset();
    quillary::SetMessageHandler({});
    objScannedFiles().Clear();
    m_dir.reset();
}

frmZIDovidovarar &tst_scan::openWindow()
{
    const QString program = m_dir->path() + "/program";
    QDir().mkpath(program);
    makeFile(program + '/' + modConstant::kDatabaseFileName, QByteArray());
    modFunction::SetProgramDirectoryForTesting(program);
    m_window = std::make_unique<frmZIDovidovarar>();
    m_window->show();
    m_window->display().setInterval(50);
    return *m_window;
}

void tst_scan::selectDrive(const QString &entry)
{
    auto *box = control<QComboBox>(*m_window, "cboSelectDrive");
    box->clear();
    box->addItem(entry);
    box->setCurrentIndex(0);
}

QStringList tst_scan::modelColumn(int column) const
{
    const QAbstractItemModel *model = control<QTreeView>(*m_window, "lvwListFile")->model();
    QStringList result;
    for (int row = 0; row < model->rowCount(); ++row)
        result << model->index(row, column).data().toString();
    return result;
}

QStringList tst_scan::modelKeys() const
{
    const QAbstractItemModel *model = control<QTreeView>(*m_window, "lvwListFile")->model();
    QStringList result;
    for (int row = 0; row < model->rowCount(); ++row)
        result << model->index(row, 0).data(clsFileCollModel::KeyRole).toString();
    return result;
}

void tst_scan::walker_workedOrder()
{
    const QString root = m_dir->path() + "/disc";
    QVERIFY(makeWorkedTree(root));
    clsFileColl files;
    Recorder rec;
    rec.rootLength = int(root.size());
    DirectoryWalker walker(files, rec);
    walker.setLabel("DISC01");
    walker.ScanDirectory(root); // no trailing '/': walked as root + '/'

    QCOMPARE(names(files), QStringList({"a", "b", "x1", "z1", "y1"}));
    QCOMPARE(paths(files),
             QStringList({"DISC01: a", "DISC01: b", "DISC01: X/x1", "DISC01: X/Z/z1", "DISC01: Y/y1"}));
    QCOMPARE(rec.only("listed"), QStringList({"listed KEY0 a", "listed KEY1 b", "listed KEY2 x1",
                                              "listed KEY3 z1", "listed KEY4 y1"}));
    QCOMPARE(walker.filesListed(), 5);
    // The whole conversation for X: read, yield, its file, yield, then its one subdirectory.
    const QStringList expected = {
        "dir /",         "yield",          "files 2",        "file 0 a",       "listed KEY0 a", "file 1 b",
        "listed KEY1 b", "yield",          "sub 0/2",        "dir /X/",        "yield",         "files 1",
        "file 0 x1",     "listed KEY2 x1", "yield",          "sub 0/1",        "dir /X/Z/",     "yield",
        "files 1",       "file 0 z1",      "listed KEY3 z1", "yield",          "sub 1/2",       "dir /Y/",
        "yield",         "files 1",        "file 0 y1",      "listed KEY4 y1", "yield"};
    QCOMPARE(rec.events, expected);
}

void tst_scan::walker_yieldStrides()
{
    // D100 holds 100 files, D101 101, D201 201: the loop yields after the files with index 100, 200.
    const QString root = m_dir->path() + "/strides/";
    for (int n : {100, 101, 201}) {
        for (int i = 0; i < n; ++i)
            QVERIFY(makeFile(root + QStringLiteral("D%1/f%2").arg(n).arg(i, 3, 10, QChar('0'))));
    }
    clsFileColl files;
    Recorder rec;
    rec.rootLength = int(root.size()) - 1;
    DirectoryWalker walker(files, rec);
    walker.ScanDirectory(root);
    QCOMPARE(files.Count(), 402);

    // Yields within each directory's file loop, named by the file listed just before.
    QMap<QString, QStringList> inLoop;
    QString dir;
    QString lastListed;
    bool inFiles = false;
    for (const QString &e : rec.events) {
        if (e.startsWith("dir ")) {
            dir = e.mid(4);
            inFiles = false;
        } else if (e.startsWith("files ")) {
            inFiles = true;
        } else if (e.startsWith("listed ")) {
            lastListed = e.section(' ', 2);
        } else if (e == "yield" && inFiles) {
            inLoop[dir] << lastListed;
        }
    }
    // The last yield of each loop entry is the one before the subdirectories (after the last file).
    QCOMPARE(inLoop.value("/D100/"), QStringList({"f099"}));
    QCOMPARE(inLoop.value("/D101/"), QStringList({"f100", "f100"}));
    QCOMPARE(inLoop.value("/D201/"), QStringList({"f100", "f200", "f200"}));
    // Two yields per directory, plus one per hundred files: root 2, D100 2, D101 3, D201 4.
    QCOMPARE(rec.only("yield").size(), 11);
}

void tst_scan::walker_hiddenAndSystemEntriesAbsent()
{
    const QString root = m_dir->path() + "/system";
    QVERIFY(makeFile(root + "/plain.txt"));
    QVERIFY(makeFile(root + "/.hidden"));
    QVERIFY(makeFile(root + "/.hiddendir/inside.txt"));
    QVERIFY(makeFile(root + "/sub/deep.txt"));
    QVERIFY(::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600) == 0);
    QVERIFY(QFile::link(root + "/plain.txt", root + "/link-to-file"));
    QVERIFY(QFile::link(root + "/sub", root + "/link-to-dir"));
    QVERIFY(QFile::link("..", root + "/sub/up")); // a loop if links were followed
    QVERIFY(QFile::link(root, root + "/sub/self"));
    // A device node where this user may make one.
    const bool haveDevice =
        ::mknod(QFile::encodeName(root + "/null").constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;

    clsFileColl files;
    Recorder rec;
    rec.rootLength = int(root.size());
    DirectoryWalker walker(files, rec);
    walker.ScanDirectory(root + '/');
    QCOMPARE(names(files), QStringList({"plain.txt", "deep.txt"}));
    QCOMPARE(rec.only("dir"), QStringList({"dir /", "dir /sub/"}));
    QVERIFY(rec.only("not ready").isEmpty());
    if (!haveDevice)
        qInfo("device node not tried: mknod refused for this user");
}

void tst_scan::walker_namesSortedIgnoringCase()
{
    const QString root = m_dir->path() + "/sorted";
    for (const char *name : {"b.txt", "C.txt", "a.txt", "B10", "A.txt", "_x", "Dir/f", "alpha/f", "Beta/f"})
        QVERIFY(makeFile(root + '/' + name));
    clsFileColl files;
    Recorder rec;
    rec.rootLength = int(root.size());
    DirectoryWalker walker(files, rec);
    walker.ScanDirectory(root);
    // Files first, each list ignoring case ("A.txt" and "a.txt" in a fixed order), then the directories.
    QCOMPARE(names(files), QStringList({"_x", "A.txt", "a.txt", "b.txt", "B10", "C.txt", "f", "f", "f"}));
    QCOMPARE(rec.only("dir"), QStringList({"dir /", "dir /alpha/", "dir /Beta/", "dir /Dir/"}));
}

void tst_scan::walker_bigDirectoriesListedWhole()
{
    // More entries than a 16-bit counter holds, files and subdirectories alike.
    // Made in memory where the machine allows it: tens of thousands of entries on a disk take minutes.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm/tst_scan-XXXXXX")
                             : QDir::tempPath() + "/tst_scan-XXXXXX";
    QTemporaryDir memory(base);
    QVERIFY(memory.isValid());
    const QString root = memory.path() + "/big";
    const int count = 32'800;
    QVERIFY(QDir().mkpath(root + "/files"));
    QVERIFY(QDir().mkpath(root + "/dirs"));
    for (int i = 0; i < count; ++i) {
        const QByteArray file = QFile::encodeName(root + QStringLiteral("/files/f%1").arg(i));
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(::mkdir(QFile::encodeName(root + QStringLiteral("/dirs/d%1").arg(i)).constData(), 0755) == 0);
    }
    QVERIFY(makeFile(root + "/dirs/d32799/last.txt"));

    clsFileColl files;
    Recorder rec;
    DirectoryWalker walker(files, rec);
    walker.ScanDirectory(root);
    QCOMPARE(files.Count(), count + 1);
    // "dirs" comes before "files"; its last subdirectory is walked too.
    QCOMPARE(files.Item(1).FilePath(), QStringLiteral(": dirs/d32799/last.txt"));
    QCOMPARE(files.Item(files.Count()).FilePath(), QStringLiteral(": files/f9999"));
    QVERIFY(rec.events.contains(QStringLiteral("sub 32799/32800")));
    QVERIFY(rec.events.contains(QStringLiteral("files 32800")));
}

void tst_scan::walker_failingFileEndsItsDirectorySilently()
{
    // X holds x1, x2, x3 and the subdirectory X/S; Y holds y1. Reading x2 fails.
    const QString root = m_dir->path() + "/failing";
    for (const char *relative : {"a", "X/x1", "X/x2", "X/x3", "X/S/s1", "Y/y1"})
        QVERIFY(makeFile(root + '/' + relative));
    {
        clsFileColl files;
        Recorder rec;
        DirectoryWalker walker(files, rec);
        walker.setFaultHook([](std::string_view relative) { return relative == "X/x2" ? EACCES : 0; });
        walker.ScanDirectory(root);
        QCOMPARE(names(files), QStringList({"a", "x1", "y1"}));
        QVERIFY(rec.only("not ready").isEmpty());
    }
    {
        // A directory that cannot be read ends the same way; its siblings go on.
        clsFileColl files;
        Recorder rec;
        DirectoryWalker walker(files, rec);
        walker.setFaultHook([](std::string_view relative) { return relative == "X/" ? EACCES : 0; });
        walker.ScanDirectory(root);
        QCOMPARE(names(files), QStringList({"a", "y1"}));
        QVERIFY(rec.only("not ready").isEmpty());
    }
    {
        // A real one: x2 vanishes after X was read, before its record is made.
        clsFileColl files;
        Recorder rec;
        rec.rootLength = int(root.size());
        DirectoryWalker walker(files, rec);
        rec.onYield = [&] {
            if (rec.events.contains("dir /X/"))
                QFile::remove(root + "/X/x2");
        };
        walker.ScanDirectory(root);
        QCOMPARE(names(files), QStringList({"a", "x1", "y1"}));
        QVERIFY(rec.only("not ready").isEmpty());
    }
}

void tst_scan::walker_discGone()
{
    const QString root = m_dir->path() + "/gone";
    for (const char *relative : {"a", "X/x1", "X/x2", "X/S/s1", "Y/y1", "Z/z1"})
        QVERIFY(makeFile(root + '/' + relative));
    {
        // The medium goes while x2 is read: the running walk and each later one report it.
        clsFileColl files;
        Recorder rec;
        DirectoryWalker walker(files, rec);
        bool gone = false;
        walker.setFaultHook([&gone](std::string_view relative) {
            gone = gone || relative == "X/x2";
            return gone ? ENOMEDIUM : 0;
        });
        walker.ScanDirectory(root);
        QCOMPARE(names(files), QStringList({"a", "x1"}));
        QCOMPARE(rec.only("not ready").size(), 3); // X, then Y and Z
    }
    for (const int error : {EIO, ENXIO, ENODEV, ENOTCONN}) {
        clsFileColl files;
        Recorder rec;
        DirectoryWalker walker(files, rec);
        walker.setFaultHook([error](std::string_view relative) { return relative == "Y/" ? error : 0; });
        walker.ScanDirectory(root);
        QCOMPARE(names(files), QStringList({"a", "x1", "x2", "s1", "z1"}));
        QCOMPARE(rec.only("not ready").size(), 1);
    }
    {
        // The root itself disappears after it was read: its files are still read through the open
        // directory, and each subdirectory then finds no disc.
        clsFileColl files;
        Recorder rec;
        DirectoryWalker walker(files, rec);
        bool moved = false;
        rec.onYield = [&] {
            if (!moved)
                moved = QDir().rename(root, root + "-ejected");
        };
        walker.ScanDirectory(root);
        QVERIFY(moved);
        QCOMPARE(names(files), QStringList({"a"}));
        QCOMPARE(rec.only("not ready").size(), 3);
        QVERIFY(QDir().rename(root + "-ejected", root));
    }
}

void tst_scan::walker_emptyAndMissingRoot()
{
    const QString root = m_dir->path() + "/empty";
    QVERIFY(QDir().mkpath(root));
    clsFileColl files;
    {
        Recorder rec;
        rec.rootLength = int(root.size());
        DirectoryWalker walker(files, rec);
        walker.ScanDirectory(root);
        QCOMPARE(rec.events, QStringList({"dir /", "yield", "yield"}));
    }
    {
        Recorder rec;
        DirectoryWalker walker(files, rec);
        walker.ScanDirectory(m_dir->path() + "/nowhere/");
        QCOMPARE(rec.events, QStringList({"not ready"}));
    }
    {
        // A root that is a file is no disc either.
        QVERIFY(makeFile(m_dir->path() + "/plainfile"));
        Recorder rec;
        DirectoryWalker walker(files, rec);
        walker.ScanDirectory(m_dir->path() + "/plainfile");
        QCOMPARE(rec.events, QStringList({"not ready"}));
    }
    QCOMPARE(files.Count(), 0);
}

void tst_scan::window_listsTreeAndShowsExactValues()
{
    const QString root = m_dir->path() + "/disc/";
    QVERIFY(makeWorkedTree(root));
    QVERIFY(makeFile(root + "X/Z/.hidden"));
    frmZIDovidovarar &w = openWindow();
    w.display().setInterval(60'000); // nothing reaches the widgets but through the flushes
    selectDrive(root);
    auto *lblFilesFound = control<QLabel>(w, "lblFilesFound");
    auto *lblDirectory = control<QLabel>(w, "lblDirectory");
    auto *lblFile = control<QLabel>(w, "lblFile");
    auto *pgbrFile = control<QProgressBar>(w, "pgbrFile");
    auto *pgbrDir = control<QProgressBar>(w, "pgbrDir");
    auto *button = control<QPushButton>(w, "cmdTakeBackup");

    QStringList atMessage;
    m_onMessage = [&](const QString &) {
        atMessage = {w.windowTitle(),
                     lblFilesFound->text(),
                     lblDirectory->text(),
                     lblFile->text(),
                     QString::number(pgbrFile->value()),
                     QString::number(pgbrFile->maximum()),
                     QString::number(pgbrDir->value()),
                     QString::number(pgbrDir->maximum()),
                     QString::number(modelColumn(0).size()),
                     button->isEnabled() ? "enabled" : "disabled",
                     w.cursor().shape() == Qt::WaitCursor ? "wait" : "arrow",
                     control<QLabel>(w, "lblDirScanned")->text(),
                     control<QLabel>(w, "lblFileScanned")->text()};
    };
    button->click();

    QCOMPARE(m_messages, QStringList({finishedMessage(root)}));
    // When the message shows, every label, bar and the list already show their final values; the bar
    // of the directories stands at the last level that set it (Y: 1 of 2 done).
    QCOMPARE(atMessage, QStringList({"Quillary - CD Drive [" + root + "] scan in progress", "Files Found: 5",
                                     root + "Y/", " y1", "1", "1", "1", "2", "5", "disabled", "wait",
                                     "Dir Scanned:", "File Scanned:"}));
    QCOMPARE(w.windowTitle(), QStringLiteral("Quillary"));
    QVERIFY(button->isEnabled());
    QVERIFY(!w.blnBusy());
    QVERIFY(w.cursor().shape() != Qt::WaitCursor);
    QVERIFY(!pgbrFile->isHidden() && !pgbrDir->isHidden());
    QCOMPARE(WindowTestAccess::fileCount(w), 5);

    QCOMPARE(modelColumn(0), QStringList({"a", "b", "x1", "z1", "y1"}));
    QCOMPARE(modelKeys(), QStringList({"KEY0", "KEY1", "KEY2", "KEY3", "KEY4"}));
    const QString label = WindowTestAccess::currentLabel(w);
    QCOMPARE(modelColumn(1), QStringList(5, label));
    QCOMPARE(modelColumn(2).at(3), label + ": X/Z/z1");
    QCOMPARE(modelColumn(3), QStringList(5, "1"));
    // The list view shows the file list itself, column by column.
    QCOMPARE(objScannedFiles().Count(), 5);
    for (int row = 0; row < 5; ++row) {
        const clsFile &record = objScannedFiles().Item(row + 1);
        QCOMPARE(modelColumn(4).at(row), record.LastUpdateDate());
        QCOMPARE(modelColumn(5).at(row), record.CreateDate());
    }
}

void tst_scan::window_twoScansInARow()
{
    const QString first = m_dir->path() + "/fir<st"; // a mount point may be named so
    const QString second = m_dir->path() + "/second";
    QVERIFY(makeWorkedTree(first));
    QVERIFY(makeFile(second + "/only/one.txt"));
    QVERIFY(makeFile(second + "/two.txt"));
    frmZIDovidovarar &w = openWindow();
    selectDrive(first + "/  <FIR<ST>");
    control<QPushButton>(w, "cmdTakeBackup")->click();
    QCOMPARE(modelKeys().size(), 5);

    selectDrive(second);
    control<QPushButton>(w, "cmdTakeBackup")->click();
    // The label in brackets is not part of the drive; the second list starts again at KEY0.
    QCOMPARE(m_messages, QStringList({finishedMessage(first + '/'), finishedMessage(second)}));
    QCOMPARE(modelColumn(0), QStringList({"two.txt", "one.txt"}));
    QCOMPARE(modelKeys(), QStringList({"KEY0", "KEY1"}));
    QCOMPARE(names(objScannedFiles()), QStringList({"two.txt", "one.txt"}));
    QCOMPARE(control<QLabel>(w, "lblFilesFound")->text(), QStringLiteral("Files Found: 2"));
    QCOMPARE(WindowTestAccess::fileCount(w), 2);
}

void tst_scan::window_refusedScansKeepTheList()
{
    const QString root = m_dir->path() + "/disc";
    QVERIFY(makeWorkedTree(root));
    frmZIDovidovarar &w = openWindow();
    selectDrive(root);
    control<QPushButton>(w, "cmdTakeBackup")->click();
    const auto state = [&] {
        return QStringList{modelColumn(2).join('|'),
                           QString::number(objScannedFiles().Count()),
                           control<QLabel>(w, "lblFilesFound")->text(),
                           control<QLabel>(w, "lblDirectory")->text(),
                           QString::number(control<QProgressBar>(w, "pgbrFile")->value()),
                           w.windowTitle(),
                           QString::number(control<QPushButton>(w, "cmdTakeBackup")->isEnabled()),
                           QString::number(w.blnBusy()),
                           QString::number(w.cursor().shape() == Qt::WaitCursor)};
    };
    const QStringList before = state();
    QVERIFY(makeFile(root + "/new.txt"));

    // A drive without a disc, and a drive box with nothing selected: the caption names the drive until
    // the message is closed.
    const QString missing = m_dir->path() + "/nodisc/";
    for (const QString &entry : {missing + "  <OLD>", QString()}) {
        m_messages.clear();
        QString titleAtMessage;
        m_onMessage = [&](const QString &) { titleAtMessage = w.windowTitle(); };
        if (entry.isEmpty())
            control<QComboBox>(w, "cboSelectDrive")->clear();
        else
            selectDrive(entry);
        control<QPushButton>(w, "cmdTakeBackup")->click();
        QCOMPARE(m_messages, QStringList({modConstant::kDriveNotReadyMessage}));
        QCOMPARE(titleAtMessage,
                 "Quillary - CD Drive [" + (entry.isEmpty() ? QString() : missing) + "] scan in progress");
        QCOMPARE(state(), before);
    }

    m_onMessage = nullptr;

    // No catalogue: nothing is touched, not even the count.
    selectDrive(root);
    QVERIFY(QFile::remove(m_dir->path() + "/program/" + modConstant::kDatabaseFileName));
    m_messages.clear();
    control<QPushButton>(w, "cmdTakeBackup")->click();
    QCOMPARE(m_messages, QStringList({modConstant::DatabaseMissingMessage()}));
    QCOMPARE(state(), before);
    QCOMPARE(WindowTestAccess::fileCount(w), 0); // the not-ready scans set it to 0, as they should
}

void tst_scan::window_discTakenOutDuringWalk()
{
    const QString root = m_dir->path() + "/disc";
    QVERIFY(makeWorkedTree(root));
    frmZIDovidovarar &w = openWindow();
    selectDrive(root);
    // The first yield comes once the root has been read: the disc goes then.
    QTimer eject;
    eject.setInterval(0);
    bool moved = false;
    connect(&eject, &QTimer::timeout, this, [&] {
        moved = QDir().rename(root, root + "-ejected");
        eject.stop();
    });
    eject.start();
    QStringList rowsAtMessage;
    m_onMessage = [&](const QString &) { rowsAtMessage << QString::number(modelColumn(0).size()); };
    control<QPushButton>(w, "cmdTakeBackup")->click();

    QVERIFY(moved);
    // X and Y each meet the empty drive, then the scan ends as always.
    QCOMPARE(m_messages, QStringList({modConstant::kDriveNotReadyMessage, modConstant::kDriveNotReadyMessage,
                                      finishedMessage(root)}));
    QCOMPARE(rowsAtMessage, QStringList({"2", "2", "2"}));
    QCOMPARE(modelColumn(0), QStringList({"a", "b"}));
    QCOMPARE(control<QLabel>(w, "lblFilesFound")->text(), QStringLiteral("Files Found: 2"));
    QVERIFY(!w.blnBusy());
}

void tst_scan::window_otherCommandsRefusedDuringWalk()
{
    const QString root = m_dir->path() + "/disc";
    QVERIFY(makeWorkedTree(root));
    for (int i = 0; i < 450; ++i) // several yields inside one directory
        QVERIFY(makeFile(root + QStringLiteral("/Y/many%1").arg(i)));
    frmZIDovidovarar &w = openWindow();
    selectDrive(root);

    int ticks = 0;
    QStringList seen;
    QTimer poke;
    poke.setInterval(0);
    connect(&poke, &QTimer::timeout, this, [&] {
        ++ticks;
        if (ticks != 3)
            return;
        const qint32 listed = objScannedFiles().Count();
        seen << QString::number(w.blnBusy()) << w.windowTitle()
             << QString::number(control<QPushButton>(w, "cmdTakeBackup")->isEnabled());
        w.cmdOK_Click();
        w.cmdCancel_Click();
        seen << QString::number(w.close());
        w.cmdTakeBackup_Click(); // a second scan would empty the list under the first
        w.cmdAddToDB_Click();
        w.cmdSearch_Click();
        seen << QString::number(objScannedFiles().Count() >= listed) << QString::number(m_messages.size());
        seen << QString::number(control<QTabWidget>(w, "tabApplication")->hasFocus());
    });
    poke.start();
    control<QPushButton>(w, "cmdTakeBackup")->click();
    poke.stop();

    QVERIFY(ticks >= 3);
    QCOMPARE(seen, QStringList({"1", "Quillary - CD Drive [" + root + "] scan in progress", "0", "0", "1",
                                "0", "1"}));
    QCOMPARE(m_ended, 0);
    QVERIFY(w.isVisible());
    QCOMPARE(m_messages, QStringList({finishedMessage(root)}));
    QCOMPARE(objScannedFiles().Count(), 455);
    QCOMPARE(modelKeys().last(), QStringLiteral("KEY454"));
}

void tst_scan::window_listsMountedIsoImage()
{
    IsoImage disc("DISC01");
    const QDateTime modified(QDate(2021, 6, 1), QTime(12, 34, 56));
    const QStringList onDisc = {"README.TXT", "SETUP/DATA/FILE1.CAB", "SETUP/setup.exe",
                                QString::fromUtf8("Müsik/Ärger.txt")};
    const QByteArray contents[] = {"hello\n", QByteArray(3000, 'x'), QByteArray(10, 'y'), "a"};
    for (int i = 0; i < onDisc.size(); ++i) {
        QVERIFY(disc.addFile(onDisc[i], contents[i]));
        QVERIFY(setModified(disc.sourceDir() + '/' + onDisc[i], modified)); // Rock Ridge keeps it
    }
    QVERIFY(disc.addFile(".hidden", "h"));
    QVERIFY(disc.addDirectory("EMPTY"));
    if (!disc.buildAndMount())
        QSKIP(qPrintable(disc.skipReason()));

    frmZIDovidovarar &w = openWindow();
    // Opening the tab lists the drives; the mounted image is one of them.
    control<QTabWidget>(w, "tabApplication")->setCurrentIndex(1);
    auto *box = control<QComboBox>(w, "cboSelectDrive");
    const int index = box->findText(disc.root(), Qt::MatchStartsWith);
    QVERIFY2(index >= 0, qPrintable(QStringLiteral("drive list: ") + [&] {
                 QStringList items;
                 for (int i = 0; i < box->count(); ++i)
                     items << box->itemText(i);
                 return items.join(" | ");
             }()));
    box->setCurrentIndex(index);
    QCOMPARE(box->currentText(), disc.root() + "  <DISC01>");
    control<QPushButton>(w, "cmdTakeBackup")->click();

    QCOMPARE(m_messages, QStringList({finishedMessage(disc.root())}));
    QCOMPARE(modelColumn(0),
             QStringList({"README.TXT", QString::fromUtf8("Ärger.txt"), "setup.exe", "FILE1.CAB"}));
    QCOMPARE(modelColumn(1), QStringList(4, "DISC01"));
    QCOMPARE(modelColumn(2), QStringList({"DISC01: README.TXT", QString::fromUtf8("DISC01: Müsik/Ärger.txt"),
                                          "DISC01: SETUP/setup.exe", "DISC01: SETUP/DATA/FILE1.CAB"}));
    QCOMPARE(modelColumn(3), QStringList({"6", "1", "10", "3000"}));
    // A disc keeps one time per file: both columns show it.
    const QString time = GeneralDate::toText(modified.toSecsSinceEpoch());
    QCOMPARE(modelColumn(4), QStringList(4, time));
    QCOMPARE(modelColumn(5), QStringList(4, time));
    QCOMPARE(modelKeys(), QStringList({"KEY0", "KEY1", "KEY2", "KEY3"}));

    // Ejected: the drive is not ready and the list stays.
    QVERIFY(disc.unmount());
    m_messages.clear();
    control<QPushButton>(w, "cmdTakeBackup")->click();
    QCOMPARE(m_messages, QStringList({modConstant::kDriveNotReadyMessage}));
    QCOMPARE(modelColumn(0).size(), 4);
}

QTEST_MAIN(tst_scan)
#include "tst_scan.moc"
