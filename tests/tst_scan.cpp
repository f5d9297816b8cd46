// Listing a disc: the directory walker on its own, then "List Files" through the window (and a real
// disc listed, saved and searched).
#include "app/frmZIDovidovarar.h"
#include "catalogue/clsFileCollModel.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueSave.h"
#include "scan/DirectoryWalker.h"
#include "search/SearchResultModel.h"
#include "settings/modConstant.h"
#include "support/CatalogueFiles.h"
#include "support/IsoImage.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <cmath>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeFiles(const QString &root, const QStringList &relatives)
{
    return std::all_of(relatives.begin(), relatives.end(), [&root](const QString &relative) {
        QFile file(root + '/' + relative);
        return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write("x") == 1;
    });
}

// Files a, b; X with x1 and Z/z1; Y with y1.
const QStringList kWorkedTree = {"a", "b", "X/x1", "X/Z/z1", "Y/y1"};
const QString kFinished = "All Files on the drive '%1' have been scanned and listed.";
const QString kNotReady = modConstant::kDriveNotReadyMessage;
const QString kSchema = QUILLARY_SOURCE_DIR "/src/db/catalogue.sql";

// The general date form of a moment, made here with QLocale alone: the short date, and unless the time
// is exactly midnight a blank and the long time without its time zone.
QString generalDate(qint64 seconds)
{
    const QLocale locale;
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() == QTime(0, 0))
        return date;
    QString format;
    bool quoted = false;
    for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
        quoted ^= c == u'\'';
        if (quoted || c != u't')
            format += c;
    }
    return date + ' ' + locale.toString(when.time(), format.simplified());
}

// A small tree made like a real backup disc: names of words with blanks in mixed case, names equal but
// for case, Latin, Greek, Cyrillic and CJK letters, a name of 120 characters, hidden files and folders
// (with files in them), eight levels, sparse files of up to 100 MB and times over 20 years (some at
// midnight, some with fractions of seconds). Returns the files made, relative to root.
QStringList makeRealLookingTree(const QString &root)
{
    const QStringList dirs = {
        "Photos 2019",          "photos 2019 (Copy)", "Straße/Größe Übersicht",
        "Αθήνα/φωτογραφίες",    "Москва/Лето 2014",   "写真/東京 旅行",
        ".hidden folder/inner", "Work/.git/objects",  "a b/C d/e F/g h/I j/k L/m n/O p"};
    const QStringList words = {"Report", "FINAL", "draft", "copy of", "IMG",    "Straße",
                               "Ωmega",  "Фото",  "会議",  "holiday", "Summer", "v2"};
    const QStringList extensions = {".txt", ".JPG", ".docx", ".tar.gz", ""};
    std::mt19937 random(20261207);
    const auto pick = [&random](qsizetype n) {
        return std::uniform_int_distribution<qsizetype>(0, n - 1)(random);
    };
    QStringList files = {"Report FINAL.docx",   "report final.docx",
                         "REPORT final.docx",   ".hidden file.txt",
                         "Photos 2019/.thumbs", QString(116, u'n') + ".txt",
                         "Ελλάδα ΣΟΦΊΑ.txt",    "Ёлка.png",
                         "サンプル 音楽.mp3",   "a b/C d/e F/g h/I j/k L/m n/O p/deepest file.bin"};
    for (int i = 0; i < 120; ++i) {
        QString name;
        for (qsizetype w = 1 + pick(4); w > 0; --w)
            name += (name.isEmpty() ? "" : " ") + words[pick(words.size())];
        const QString dir = pick(5) == 0 ? QString() : dirs[pick(dirs.size())] + '/';
        files << dir + name + ' ' + QString::number(i) + extensions[pick(extensions.size())];
    }
    const qint64 first = QDateTime(QDate(2006, 1, 1), QTime(0, 0)).toSecsSinceEpoch();
    for (const QString &file : files) {
        const QString path = root + '/' + file;
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return {};
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0)
            return {};
        // 0 bytes, then sizes spread from bytes to 100 MB, left sparse.
        const off_t size = off_t(std::pow(10.0, std::uniform_real_distribution<double>(0, 8)(random))) *
                           (files.indexOf(file) > 0);
        qint64 when = first + std::uniform_int_distribution<qint64>(0, 20LL * 365 * 86400)(random);
        if (pick(6) == 0)
            when = QDateTime::fromSecsSinceEpoch(when).date().startOfDay().toSecsSinceEpoch();
        const timespec times[2] = {{when, long(pick(1000)) * 1'000'000},
                                   {when, long(pick(1000)) * 1'000'000}};
        const bool made = ::ftruncate(fd, size) == 0 && ::futimens(fd, times) == 0;
        ::close(fd);
        if (!made)
            return {};
    }
    return files;
}

// Walks a tree, recording what the walker tells its observer: "dir /X/", "yield", "KEY2 x1", "not ready".
// A fault fails that one step of the walk (see TestSeams::WalkFault).
struct Walk : ScanObserver, SaveObserver
{
    explicit Walk(const QString &root, std::string fault = "-", int error = 0) : root(root)
    {
        TestSeams::WalkFault() = [fault, error](std::string_view relative) {
            return relative == fault ? error : 0;
        };
    }
    ~Walk() { TestSeams::WalkFault() = {}; }
    QStringList run() // the names listed, in order
    {
        walker.ScanDirectory(root);
        return names;
    }
    void directoryListed(const QString &path) override { events << "dir /" + path.mid(rootLength + 1); }
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &r, qint64 k) override
    {
        names << r.FileName();
        events << QString("KEY%1 ").arg(k) + r.FileName();
    }
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override { events << "not ready"; }
    void yield() override { events << "yield"; }
    void RecordStarting(qint32, const clsFile &) override {}
    void RecordDone(qint32) override {}

    QString root;
    int rootLength = int(root.size()) - root.endsWith('/');
    QStringList events, names;
    clsFileColl files;
    DirectoryWalker walker{files, *this};
};

// Watches, after every yield of a walk in the window, when new rows reach the list views, and notes
// every break of the rule the window keeps: a batch of rows once 50 ms * (1 + rows shown in both views /
// 200,000) have passed since the last one, at the first push after that (pushes come every 50 ms at
// most), never sooner and never held back longer. Only what the window must have done is judged, from
// the times the yields ended, so a slow machine cannot break it.
struct RowBatches
{
    // Just before the walk starts.
    void start()
    {
        clock.start();
        yields = {0};
    }
    // After yield number yields.size(): the rows both views show, and the rows the walk's list holds.
    void atYield(qint64 shown, qint64 listShown, qint64 listHeld)
    {
        const qint64 now = clock.nsecsElapsed();
        const qsizetype k = yields.size();
        yields << now;
        constexpr qint64 kMs = 1'000'000;
        const qint64 due = 50 * (200'000 + lastShown) / 200'000 * kMs; // as shown before this yield
        const auto ms = [](qint64 ns) { return QString::number(ns / 1e6, 'f', 1) + " ms"; };
        // The first yield follows the start, where the walk's list view was emptied: it counts as one
        // that may have brought a batch.
        if (k > 1 && shown != lastShown) {
            // A batch at this yield: the last one began after the yield before it ended.
            ++batches;
            const qint64 since = now - yields[std::max<qsizetype>(lastBatch - 1, 0)];
            if (since < due)
                faults << QString("yield %1: rows %2 after the last, at %3 shown")
                              .arg(k)
                              .arg(ms(since))
                              .arg(lastShown);
            lastBatch = mayHaveBatched = k;
        } else if (k == 1 || listShown == listHeld) {
            mayHaveBatched = k; // a batch of no rows cannot be seen
        } else if (mayHaveBatched >= 1 && yields[k - 1] - yields[mayHaveBatched] >= due + 50 * kMs) {
            faults << QString("yield %1: rows held back %2, at %3 shown")
                          .arg(k)
                          .arg(ms(yields[k - 1] - yields[mayHaveBatched]))
                          .arg(shown);
        }
        lastShown = shown;
    }

    QElapsedTimer clock;
    QList<qint64> yields; // when each yield had ended, ns; first the start
    qint64 lastShown = 0;
    qsizetype lastBatch = 0;      // the yield of the last batch seen; 0: the start
    qsizetype mayHaveBatched = 0; // the last yield that may have brought a batch
    int batches = 0;
    QStringList faults;
};

} // namespace

class tst_scan : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmZIDovidovarar> m_window;
    QStringList m_messages;
    QList<QStringList> m_shownAtMessage;

    static QString inProgress(const QString &d) { return "Quillary - CD Drive [" + d + "] scan in progress"; }
    template <class W> W *control(const char *name) const { return m_window->findChild<W *>(name); }

    // A window whose program directory holds a catalogue, with the drive entry given selected.
    frmZIDovidovarar &openWindow(const QString &entry)
    {
        CatalogueFile::CreateFromSchemaFile(m_dir->filePath(modConstant::kDatabaseFileName), kSchema);
        TestSeams::ProgramDirectory() = m_dir->path();
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
    // Runs work after every yield of the walk, then lets sleepMs pass.
    static void atEachYield(const std::function<void()> &work, int sleepMs)
    {
        TestSeams::AfterScanYield() = [work, sleepMs] {
            work();
            QThread::msleep(sleepMs);
        };
    }
    int rows(const char *view = "lvwListFile") const { return control<QTreeView>(view)->model()->rowCount(); }
    QStringList modelColumn(int column, const char *view = "lvwListFile") const
    {
        const QAbstractItemModel *model = control<QTreeView>(view)->model();
        QStringList result;
        for (int row = 0; row < model->rowCount(); ++row)
            result << model->index(row, column).data().toString();
        return result;
    }
    // The paths of these files on a disc of that label, as shown().
    static QString paths(const QString &label, QStringList relatives)
    {
        return relatives.replaceInStrings(QRegularExpression("^"), label + ": ").join('|');
    }
    // What the window shows: caption, button and cursor, labels, bars, the list's paths.
    QStringList shown() const
    {
        QStringList texts = {m_window->windowTitle(),
                             QStringLiteral("button %1 wait %2")
                                 .arg(control<QPushButton>("cmdTakeBackup")->isEnabled())
                                 .arg(m_window->cursor().shape() == Qt::WaitCursor)};
        for (const char *label : {"lblFilesFound", "lblDirectory", "lblFile"})
            texts << control<QLabel>(label)->text();
        for (const QProgressBar *bar : {control<QProgressBar>("pgbrFile"), control<QProgressBar>("pgbrDir")})
            texts << QString::number(bar->value()) + '/' + QString::number(bar->maximum());
        return texts << modelColumn(2).join('|');
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_messages.clear();
        m_shownAtMessage.clear();
        TestSeams::MessageBox() = [this](QWidget *, const QString &text) {
            m_messages << text;
            m_shownAtMessage << shown();
        };
    }
    void cleanup()
    {
        m_window.reset();
        TestSeams::Reset();
    }

    void walker_workedOrderWithoutHiddenSystemEntriesOrLinks()
    {
        Walk walk(m_dir->path() + "/disc"); // no trailing '/': walked as root + '/'
        const QString root = walk.root + '/';
        QVERIFY(makeFiles(root, kWorkedTree + QStringList{".hidden", ".hiddendir/in", "X/.h"}));
        // Links (to ".." and to the root they would loop if followed) and system entries are left out.
        QVERIFY(::mkfifo(QFile::encodeName(root + "fifo").constData(), 0600) == 0);
        QVERIFY(QFile::link(root + "a", root + "c-link") && QFile::link(root + "Y", root + "W-link"));
        QVERIFY(QFile::link("..", root + "X/up") && QFile::link(root, root + "X/Z/self"));
        walk.run();
        // Each directory: read, yield, its files, yield, then its subdirectories.
        QCOMPARE(walk.events, QStringList({"dir /", "yield", "KEY0 a", "KEY1 b", "yield", "dir /X/", "yield",
                                           "KEY2 x1", "yield", "dir /X/Z/", "yield", "KEY3 z1", "yield",
                                           "dir /Y/", "yield", "KEY4 y1", "yield"}));
        // Names are sorted ignoring case.
        QVERIFY(makeFiles(root, {"B1", "w/w1", "X/x2"}));
        QCOMPARE(Walk(root).run(), QStringList({"a", "b", "B1", "w1", "x1", "x2", "z1", "y1"}));
        // A file or directory that cannot be read ends its directory and that directory's subtree,
        // silently; what was listed stays and the siblings go on.
        QCOMPARE(Walk(root, "X/x2", EACCES).run(), QStringList({"a", "b", "B1", "w1", "x1", "y1"}));
        QCOMPARE(Walk(root, "w/", EACCES).run(), QStringList({"a", "b", "B1", "x1", "x2", "z1", "y1"}));
        // Every error that means the disc is gone (and only those) gives the not-ready message; while the
        // root can still be read, the walk goes on with the next directory.
        for (const int error : {EIO, ENOMEDIUM, EMEDIUMTYPE, ENXIO, ENODEV, ENOTCONN, ESTALE}) {
            Walk gone(root, "X/", error);
            QCOMPARE(gone.run(), QStringList({"a", "b", "B1", "w1", "y1"}));
            QCOMPARE(gone.events.count("not ready"), 1);
        }
        for (const int error : {EACCES, ENOENT, ENOTDIR, ELOOP, EMFILE})
            QCOMPARE(Walk(root, "X/", error).events.count("not ready"), 0);
    }

    // Names reach the records and the catalogue without loss: a leading U+FEFF stays, and a name that is
    // not UTF-8 (an old disc's Latin-1) is read byte for byte as Latin-1, so different names stay apart.
    void walker_namesKeptWhole()
    {
        // Made and removed byte for byte: Qt's own file names would not hold them.
        const QByteArray root = QFile::encodeName(m_dir->path() + "/disc/");
        const QList<QByteArray> files = {"\xEF\xBB\xBFreadme.txt", "readme.txt", "caf\xE9.txt", "caf\xE8.txt",
                                         "D\xE9j\xE0/\xEF\xBB\xBF\xFF.txt"};
        const auto removeTree = qScopeGuard([&] {
            QProcess::execute("rm", {"-rf", QFile::decodeName(root)});
        });
        QVERIFY(::mkdir(root, 0700) == 0 && ::mkdir(root + "D\xE9j\xE0", 0700) == 0);
        for (const QByteArray &file : files) {
            const int fd = ::open(root + file, O_WRONLY | O_CREAT | O_EXCL, 0600);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
        }
        Walk walk(QFile::decodeName(root));
        walk.walker.setLabel("DISC01");
        const QStringList names = {"cafè.txt", "café.txt", "readme.txt",
                                   QChar(0xFEFF) + QString("readme.txt"), "\u00EF\u00BB\u00BF\u00FF.txt"};
        QCOMPARE(walk.run(), names);
        QCOMPARE(walk.events.filter("dir /"), QStringList({"dir /", "dir /Déjà/"}));
        // Saved, the catalogue's rows hold the same texts.
        QStringList expected;
        for (const QString &name : names)
            expected << name + "|DISC01: " + (name == names[4] ? "Déjà/" : "") + name;
        const QString catalogue = m_dir->filePath("names.mdb");
        QVERIFY(CatalogueFile::CreateFromSchemaFile(catalogue, kSchema));
        QVERIFY(CatalogueSave(walk).SaveFileList(catalogue, walk.files));
        const char *rows = "SELECT group_concat(FileName || '|' || FilePath, char(10)) FROM Quillary";
        QCOMPARE(CatalogueFiles::value(catalogue, rows).toString(), expected.join('\n'));
    }

    void walker_bigDirectoriesListedWhole()
    {
        // More files and more subdirectories than a 16-bit counter holds, the last subdirectory walked too.
        // Made in memory where the machine allows it: tens of thousands of entries on a disk take minutes.
        QTemporaryDir memory(QFileInfo("/dev/shm").isWritable() ? "/dev/shm/tst_scan-XXXXXX"
                                                                : QDir::tempPath() + "/tst_scan-XXXXXX");
        for (int i = 0; i < 32'800; ++i)
            QVERIFY(makeFiles(memory.path(), {QStringLiteral("files/f%1").arg(i)}) &&
                    QDir(memory.path()).mkpath(QStringLiteral("dirs/d%1").arg(i)));
        QVERIFY(makeFiles(memory.path(), {"dirs/d32799/last.txt"}));
        QCOMPARE(Walk(memory.path()).run().size(), 32'801);
    }

    void window_listsTwiceThenRefuses()
    {
        // A mount point may be named so.
        const QString first = m_dir->path() + "/fir<st", second = m_dir->path() + "/second";
        QVERIFY(makeFiles(first, kWorkedTree + QStringList{"X/Z/.hidden"}) &&
                makeFiles(second, {"only/one.txt", "two.txt"}));
        // The label in brackets is no part of the drive.
        openWindow(first + "/  <FIR<ST>");
        listFiles();
        // When the message shows, every label, bar and the list already show their final values (the walk
        // takes less than a push's 50 ms: they reach the widgets with the message); the bar of the
        // directories stands at the last level that set it (Y: 1 of 2 done). A directory that is no
        // disc has no label.
        QCOMPARE(m_messages, QStringList({kFinished.arg(first + '/')}));
        QCOMPARE(m_shownAtMessage,
                 QList<QStringList>({{inProgress(first + '/'), "button 0 wait 1", "Files Found: 5",
                                      first + "/Y/", " y1", "1/1", "1/2", paths("", kWorkedTree)}}));
        QCOMPARE(shown().mid(0, 3), QStringList({"Quillary", "button 1 wait 0", "Files Found: 5"}));

        // The second list replaces the first.
        selectDrive(second);
        listFiles();
        const QStringList before = shown();
        QCOMPARE(before.mid(2), QStringList({"Files Found: 2", second + "/only/", " one.txt", "1/1", "0/1",
                                             paths("", {"two.txt", "only/one.txt"})}));

        // Refused scans leave the list and the window as they were: a drive without a disc, a drive box
        // with nothing selected, no catalogue.
        for (const QString &entry : {m_dir->path() + "/nodisc/  <OLD>", QString(), second}) {
            selectDrive(entry);
            QVERIFY(entry != second || QFile::remove(m_dir->path() + '/' + modConstant::kDatabaseFileName));
            listFiles();
            QCOMPARE(shown(), before);
        }
        QCOMPARE(m_messages.mid(2),
                 QStringList({kNotReady, kNotReady, modConstant::DatabaseMissingMessage()}));
    }

    // While the walk runs, what it has done so far reaches the screen at its yields (after every hundred
    // files of a directory) once 50 ms have passed since the last push, as they have here: the count, the
    // file label and bar, and the rows. The other commands are refused (a second scan would empty the
    // list under the first). Once D is listed the disc is taken out: E meets the empty drive, one
    // message, and as the drive stays empty the walk ends there (F is not tried), without the message
    // that all files were listed. What was listed stays.
    void window_duringWalk()
    {
        const QString root = m_dir->path() + "/disc";
        QStringList files = {"E/e", "F/f"};
        for (int i = 0; i < 250; ++i)
            files << QStringLiteral("D/f%1").arg(i, 3, 10, QLatin1Char('0'));
        QVERIFY(makeFiles(root, files));
        frmZIDovidovarar &w = openWindow(root);
        // Caption, button and the records held after the refused commands at the first yield, then each
        // "count|file|bar|rows" seen after the yields of the walk.
        QStringList seen;
        atEachYield(
            [&] {
                const QStringList now = shown();
                if (seen.isEmpty()) { // the first yield, once the root has been read
                    w.cmdTakeBackup_Click();
                    w.cmdAddToDB_Click();
                    w.cmdSearch_Click();
                    seen << now.mid(0, 2) << QString::number(objScannedFiles().Count());
                }
                seen << QStringList{now[2], now[4], now[5], QString::number(rows())}.join('|');
                if (rows() == 250 && !seen.contains("out"))
                    seen << (QDir().rename(root, root + "-out") ? "out" : "not taken out");
            },
            60);
        listFiles();
        seen.removeDuplicates();
        QCOMPARE(seen,
                 QStringList({inProgress(root), "button 0 wait 1", "0", "Files Found: 0||0/100|0",
                              "Files Found: 101| f100|101/250|101", "Files Found: 201| f200|201/250|201",
                              "Files Found: 250| f249|250/250|250", "out"}));
        QCOMPARE(m_messages, QStringList({kNotReady}));
        QCOMPARE(shown().mid(0, 3), QStringList({"Quillary", "button 1 wait 0", "Files Found: 250"}));
        QCOMPARE(rows(), 250);
    }

    // New rows reach the list views less often as the views hold more rows, the rows of both views
    // counted together (RowBatches): watched at every yield of a walk of 3,000 files (each yield takes
    // 4 ms here, as on a slow disc), first with the search list empty, then with 200,000 rows in it.
    // Each yield shows the walk's own labels, even when the walk starts right after a save; at the
    // end every row is shown.
    void window_rowsReachTheViewsLessOftenAsTheyGrow()
    {
        const QString root = m_dir->path() + "/disc";
        QStringList files;
        for (int i = 0; i < 3000; ++i)
            files << QStringLiteral("d%1/f%2").arg(i / 25, 3, 10, QLatin1Char('0')).arg(i % 25);
        QVERIFY(makeFiles(root, files));
        frmZIDovidovarar &w = openWindow(root);
        const QString catalogue = m_dir->filePath(modConstant::kDatabaseFileName);
        QVERIFY(CatalogueFiles::exec(catalogue,
                                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                     "WHERE i < 200000) INSERT INTO Quillary (FileName) SELECT 'old' || "
                                     "i FROM n"));
        const QString walking = inProgress(root) + "|Dir Scanned:|File Scanned:|bars 1 1";
        for (const bool searchListFull : {false, true}) {
            if (searchListFull) {
                control<QToolButton>("cmdSearch")->click(); // the whole catalogue
                QCOMPARE(rows("lvwFileSearch"), 200'000);
                control<QPushButton>("cmdAddToDB")->click();
            }
            RowBatches watch;
            QStringList labels;
            atEachYield(
                [&] {
                    watch.atYield(rows() + rows("lvwFileSearch"), rows(), objScannedFiles().Count());
                    const QString now = QStringList{w.windowTitle(), control<QLabel>("lblDirScanned")->text(),
                                                    control<QLabel>("lblFileScanned")->text(),
                                                    QString("bars %1 %2")
                                                        .arg(!control<QProgressBar>("pgbrDir")->isHidden())
                                                        .arg(!control<QProgressBar>("pgbrFile")->isHidden())}
                                            .join('|');
                    if (now != walking)
                        labels << now;
                },
                4);
            watch.start();
            listFiles();
            QVERIFY2(watch.faults.isEmpty(), qPrintable(watch.faults.mid(0, 10).join('\n')));
            QVERIFY2(watch.batches >= 3, qPrintable(QString::number(watch.batches)));
            QCOMPARE(labels, QStringList());
            QCOMPARE(rows(), 3000);
            QCOMPARE(control<QLabel>("lblFilesFound")->text(), "Files Found: 3000");
        }
        QCOMPARE(m_messages, QStringList(2, kFinished.arg(root))); // the search and the save say nothing
    }

    // A real disc image, mounted: listed whole, saved and found by the search; then listed again and taken
    // out once the list shows Müsik's file: SETUP meets the empty drive and the walk ends (ZIP not tried).
    void window_listsMountedIsoImageAndItsRemoval()
    {
        IsoImage disc("DISC01");
        const QStringList onDisc = {"A.TXT", "Müsik/Ärger.txt", "SETUP/F2.TXT", "SETUP/DATA/FILE1.CAB",
                                    "ZIP/Z.TXT"};
        for (const QString &file : onDisc)
            QVERIFY(disc.addFile(file, "x"));
        if (!disc.buildAndMount())
            QSKIP(qPrintable(disc.skipReason()));
        frmZIDovidovarar &w = openWindow(disc.root() + "  <DISC01>");
        listFiles();
        QCOMPARE(m_messages, QStringList({kFinished.arg(disc.root())}));
        QCOMPARE(modelColumn(1), QStringList(onDisc.size(), "DISC01"));
        QCOMPARE(shown().mid(7), QStringList({paths("DISC01", onDisc)}));
        control<QPushButton>("cmdAddToDB")->click();
        control<QLineEdit>("txtSearchList")->setText("ärger");
        w.cmdSearch_Click();
        QStringList found;
        for (int column = 0; column < 4; ++column)
            found += modelColumn(column, "lvwFileSearch");
        QCOMPARE(found, QStringList({"Ärger.txt", "DISC01", "DISC01: Müsik/Ärger.txt", "1"}));

        m_messages.clear();
        QStringList listedWhenPulled;
        bool unmounted = false;
        // 50 ms after the last push: each yield shows every row listed.
        atEachYield(
            [&] {
                if (rows() >= 2 && listedWhenPulled.isEmpty()) {
                    listedWhenPulled = modelColumn(0);
                    unmounted = disc.unmount();
                }
            },
            60);
        listFiles();
        QVERIFY(unmounted);
        QCOMPARE(listedWhenPulled, QStringList({"A.TXT", "Ärger.txt"}));
        QCOMPARE(m_messages, QStringList({kNotReady}));
        QCOMPARE(shown().mid(0, 3), QStringList({"Quillary", "button 1 wait 0", "Files Found: 2"}));
        QCOMPARE(modelColumn(0), listedWhenPulled);
    }
    // A tree made like a real disc, listed and saved through the window: the catalogue holds one row for
    // each file that a listing of its own (QDirIterator, stat) finds outside hidden names, with its name,
    // path, size and times, and nothing else.
    void window_realLookingTreeStoredAsTheFilesAre()
    {
        const QString root = m_dir->path() + "/Backup 2026";
        const QStringList made = makeRealLookingTree(root);
        QVERIFY(!made.isEmpty());
        openWindow(root);
        listFiles();
        QCOMPARE(m_messages, QStringList({kFinished.arg(root)}));
        QVERIFY(objScannedFiles().Count() > 0);
        control<QPushButton>("cmdAddToDB")->click();
        QCOMPARE(m_messages.size(), 1);

        const QString label = objScannedFiles().Item(1).CDLabelName(); // the label the walk was given
        const QString storedLabel = label.isEmpty() ? QStringLiteral(" ") : label; // no column is left empty
        QStringList expected;
        QDirIterator files(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString relative = QDir(root).relativeFilePath(files.next());
            if (relative.startsWith('.') || relative.contains("/."))
                continue;
            struct stat info;
            QVERIFY(::lstat(QFile::encodeName(files.filePath()).constData(), &info) == 0);
            const QDateTime born = files.fileInfo().birthTime();
            const qint64 created = born.isValid() && born.toMSecsSinceEpoch() != 0 ? born.toSecsSinceEpoch()
                                                                                   : qint64(info.st_mtime);
            expected << QStringList({storedLabel, files.fileName(), label + ": " + relative,
                                     QString::number(info.st_size), generalDate(created),
                                     generalDate(info.st_mtime)})
                            .join('|');
        }
        QCOMPARE(expected.size(), made.size() - made.filter(QRegularExpression("(^|/)\\.")).size());
        QVERIFY(expected.size() > 100);
        SqliteConnection db(m_dir->filePath(modConstant::kDatabaseFileName));
        SqliteStatement rows(db.handle(), "SELECT CDLabel, FileName, FilePath, FileSize, CreateDate, "
                                          "LastUpdateDate FROM Quillary ORDER BY ID");
        QStringList stored;
        while (rows.step() == SQLITE_ROW) {
            QStringList row;
            for (int column = 0; column < 6; ++column)
                row << QString::fromUtf8(rows.text(column));
            stored << row.join('|');
        }
        expected.sort();
        stored.sort();
        QCOMPARE(stored, expected);

        // A record kept from the list keeps its path once the list has gone.
        const clsFile kept = objScannedFiles().Item(objScannedFiles().Count());
        const QString path = kept.FilePath();
        QVERIFY(path.count('/') >= 1);
        objScannedFiles().Clear();
        QCOMPARE(kept.FilePath(), path);
        std::string buffer;
        QCOMPARE(QString::fromUtf8(kept.FilePathUtf8(buffer)), path);
    }
};

QTEST_MAIN(tst_scan)
#include "tst_scan.moc"
