// "Add to Database": the window's save command on real catalogue files.
#include "app/IdleIndexing.h"
#include "app/frmZIDovidovarar.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/Catalogue.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "search/CatalogueSearch.h"
#include "settings/modConstant.h"
#include "support/CatalogueFiles.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const QString kTable = QStringLiteral("CREATE TABLE Quillary (ID INTEGER PRIMARY KEY, CDLabel, FileName %1, "
                                      "FilePath, FileSize, CreateDate, LastUpdateDate);");
const QString kRefuse = QStringLiteral("CREATE TRIGGER Refuse BEFORE INSERT ON Quillary WHEN NEW.FileName = "
                                       "'FILE3.TXT' BEGIN SELECT RAISE(%1); END;");
// Rows added to table %1 and deleted again: free pages that a compaction gives back.
const QString kFreed =
    QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                   "5000) INSERT INTO %1 (FileName) SELECT hex(randomblob(40)) FROM n; DELETE FROM %1;");
// Every row as "label|name|path|size|created|updated", in the order they were added.
const QString kRows = QStringLiteral(
    "SELECT group_concat(CDLabel || '|' || FileName || '|' || FilePath || '|' || FileSize || '|' || "
    "CreateDate || '|' || LastUpdateDate, char(10)) FROM (SELECT * FROM Quillary ORDER BY ID)");
// The names of the rows LIKE *%1*, sorted: what a search for %1 finds.
const QString kLike =
    QStringLiteral("SELECT group_concat(FileName, char(10)) FROM (SELECT FileName FROM Quillary "
                   "WHERE FileName LIKE '%%1%' ORDER BY 1)");

using CatalogueFiles::value;

// The scan's list: n files of the disc DISC01, names padded to nameLength; returns their rows.
QStringList scan(int n, int nameLength = 0)
{
    QStringList rows;
    objScannedFiles().Clear();
    for (int i = 1; i <= n; ++i) {
        const QString name = QStringLiteral("FILE%1.TXT").arg(i).leftJustified(nameLength, u'x');
        const QStringList row{
            "DISC01", name, "DIR/" + name, QString::number(i * 100), "3/4/2021 10:11:12 AM", "3/4/2021"};
        objScannedFiles().Add(row[0], row[1], row[2], row[3], row[4], row[5]);
        rows << row.join(u'|');
    }
    return rows;
}

// Kills the process when the save is about to store record 300.
struct Killer : SaveObserver
{
    void RecordStarting(qint32 position, const clsFile &) override
    {
        if (position == 300)
            ::raise(SIGKILL);
    }
    void RecordDone(qint32) override {}
};

} // namespace

class SaveTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        // "?", "#" and "%" in the program's directory are part of the catalogue's name, not of its URI.
        m_dir.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/a?b#c%20d é-XXXXXX")));
        QVERIFY(m_dir->isValid());
        TestSeams::ProgramDirectory() = m_dir->path();
        m_path = m_dir->filePath(QStringLiteral("ZODidozode.mdb"));
        m_messages.clear();
        // A portable copy, its settings file beside it, whatever catalogue the test then puts there.
        QVERIFY(QFile(m_dir->filePath("Quillary.ini")).open(QIODevice::WriteOnly));
        m_window.reset(new frmZIDovidovarar);
        // Each message is shown over the window that still runs its command.
        TestSeams::MessageBox() = [this](QWidget *, const QString &text) {
            m_messages << text;
            m_busyAtMessage = !button()->isEnabled();
            m_stateAtMessage = state();
        };
    }

    void cleanup()
    {
        m_window.reset();
        if (!m_mount.isEmpty())
            QProcess::execute(QStringLiteral("umount"), {std::exchange(m_mount, {})});
        TestSeams::Reset();
    }

    // n records give n rows in list order, an empty text stored as one blank; the list stays, so a
    // second save adds every record again. A record the database refuses is left out alone and not
    // counted, the records before and after it are stored, and no message is shown; a ROLLBACK refusal
    // throws the open group away, so the records stored before it in that group are stored again.
    // Another program reading the catalogue for a short while only delays the save (its waits keep
    // the window's events going). A click while the save yields starts nothing; the save ends with the
    // catalogue compacted.
    void savesEveryRecordInListOrderAndAgain_data()
    {
        QTest::addColumn<QString>("table"); // empty: the shipped schema, with free pages
        QTest::addColumn<int>("commitInterval");
        QTest::addColumn<int>("readerHoldsMs");
        const QString check = kTable.arg("CHECK (FileName <> 'FILE3.TXT')");
        const QString trigger = kTable.arg(QString()) + kRefuse;
        QTest::newRow("all stored") << QString() << 500 << 0;
        QTest::newRow("reader for 2 s") << QString() << 500 << 2000;
        QTest::newRow("check") << check << 500 << 0;
        QTest::newRow("check, commit per record") << check << 0 << 0;
        QTest::newRow("rollback") << trigger.arg("ROLLBACK, 'no'") << 500 << 0;
        QTest::newRow("ignore") << trigger.arg("IGNORE") << 500 << 0;
    }
    void savesEveryRecordInListOrderAndAgain()
    {
        QFETCH(QString, table);
        QFETCH(int, commitInterval);
        QFETCH(int, readerHoldsMs);
        TestSeams::CommitIntervalMs() = commitInterval;
        QVERIFY(table.isEmpty() ? create() && CatalogueFiles::exec(m_path, kFreed.arg("Quillary"))
                                : CatalogueFile::CreateFromScript(m_path, table));
        QStringList expected = scan(5);
        if (!table.isEmpty())
            expected.removeAt(2);
        objScannedFiles().Add({}, "EMPTY.TXT", {}, {}, {}, {});
        expected << " |EMPTY.TXT| | | | ";
        CDatabase reader(m_path);
        QVERIFY(!readerHoldsMs || reader.Execute("BEGIN; SELECT count(*) FROM Quillary"));
        QTimer::singleShot(readerHoldsMs, m_window.get(), [&] { reader.Execute("COMMIT"); });
        QTimer::singleShot(0, m_window.get(), [&] { m_window->cmdAddToDB_Click(); });
        click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(stored(), expected);
        QCOMPARE(value(m_path, "PRAGMA freelist_count"), 0);
        QCOMPARE(state(), QStringList({"Files Save: " + QString::number(expected.size()),
                                       "File Saved:", " EMPTY.TXT", "6/6"}));
        click(); // the window is idle again: a second save stores every record again
        QCOMPARE(stored(), expected + expected);
    }

    // A save that cannot start, or that a failure ends, says why in one message over the busy window,
    // which shows its exact figures then, and then gives the window back; no file is created. A save
    // that could not start changes nothing else. After a failure the label and the message count the
    // rows really stored (the first ones, before a full disk), the catalogue stays sound and is not
    // compacted, and nothing else (no index work) is done. Another program reading or writing the catalogue
    // throughout ends the save once the lock allowance (5 s) is spent in all, however often SQLite waited.
    void refusedOrFailedSaveSaysWhy_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::newRow("no catalogue") << modConstant::DatabaseMissingMessage();
        QTest::newRow("no scan") << "Please scan a CD and then save the file list to the database.";
        QTest::newRow("no table") << "has no table 'Quillary'";
        QTest::newRow("not a database") << "is not a catalogue database";
        QTest::newRow("locked, reading") << "locked by another program";
        QTest::newRow("locked, writing") << "locked by another program";
        QTest::newRow("disk full") << "disk that holds the catalogue is full";
    }
    void refusedOrFailedSaveSaysWhy()
    {
        QFETCH(QString, expected);
        const QByteArray kind = QTest::currentDataTag();
        if (kind == "disk full") {
            const QString small = m_dir->filePath("small");
            if (qEnvironmentVariable("QUILLARY_PRIVATE_MOUNTS") != "1" || !QDir().mkpath(small) ||
                QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "quillary-full", small}) != 0)
                QSKIP("mounting a small tmpfs needs a private mount namespace (root with unshare)");
            TestSeams::ProgramDirectory() = m_mount = small;
            m_path = small + "/ZODidozode.mdb";
        }
        const bool noDatabase = kind == "no catalogue" || kind == "not a database";
        if (kind == "not a database")
            QVERIFY(QFile::copy(kSchema, m_path));
        else if (!noDatabase) // "no table": another table, with free pages
            QVERIFY(kind != "no table" ? create()
                                       : CatalogueFile::CreateFromScript(
                                             m_path, "CREATE TABLE Other (FileName);" + kFreed.arg("Other")));
        const QVariant freePages = value(m_path, "PRAGMA freelist_count");
        const QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        TestSeams::CommitIntervalMs() = 0;
        const QStringList list = scan(kind == "no scan" ? 0 : 3000, 200);
        const QStringList before = state();
        const bool locked = kind.startsWith("locked");
        CDatabase other(locked ? m_path : QString());
        QVERIFY(!locked || other.Execute(kind.endsWith("reading") ? "BEGIN; SELECT count(*) FROM Quillary"
                                                                  : "BEGIN EXCLUSIVE"));
        QElapsedTimer took;
        took.start();
        click();
        QVERIFY2(took.elapsed() < 7500, qPrintable(QString::number(took.elapsed())));
        other.Execute("COMMIT");
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_stateAtMessage, state()); // the message over the exact figures
        QVERIFY(m_busyAtMessage && m_window->windowTitle() == "Quillary" && button()->isEnabled() &&
                m_window->cursor().shape() == Qt::ArrowCursor); // given back
        const QStringList saved = stored();
        const QString said = m_messages[0], count = QString::number(saved.size());
        QVERIFY2(said == expected
                     ? state() == before
                     : said.contains(expected) && said.contains(count + " of 3000 files were saved") &&
                           state()[0] == "Files Save: " + count,
                 qPrintable(said));
        QCOMPARE(saved, list.mid(0, saved.size()));
        QCOMPARE(saved.isEmpty(), kind != "disk full");
        QCOMPARE(value(m_path, "PRAGMA integrity_check").toString(), noDatabase ? "" : "ok");
        QCOMPARE(value(m_path, "PRAGMA freelist_count"), freePages);
        QCOMPARE(watermark(), 0);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), files);
    }

    // The save yields once after every record, a refused one too. At each yield the window shows a save:
    // its caption, button off and hourglass, the save's labels (nothing the last command left), the file
    // bar over the whole list; and the progress as the last push left it, one record's: the bar at its
    // position, its name, the rows stored by then. The progress is pushed at most every 50 ms and never
    // held back longer: a yield 50 ms after the last push shows the record just done. At the end the
    // window shows the last record exactly. (Each yield takes a millisecond here, as on a slow disk.)
    void eachRecordYieldsShowingTheSave()
    {
        QVERIFY(CatalogueFile::CreateFromScript(m_path, kTable.arg("CHECK (FileName <> 'FILE3.TXT')")));
        const int n = 400;
        scan(n);
        const auto progressOf = [](int record) {
            return QStringList{QString::number(record),
                               record ? QString(" FILE%1.TXT").arg(record) : QString(),
                               QString("Files Save: %1").arg(record - (record >= 3))};
        };
        const QString saving = "Quillary - Saving file information to database...|button 0 wait 1|File "
                               "Saved:|||bars 0 1|0-" +
                               QString::number(n);
        QStringList faults;
        QElapsedTimer clock;
        QList<qint64> hooks{0}; // when each yield had ended, ns; first the moment before the click
        qint64 lastPush = 0;    // the yield that last showed a record's progress (0: the save's start)
        QStringList shown = progressOf(0);
        int pushes = 0;
        TestSeams::AfterSaveYield() = [&] {
            const qint64 now = clock.nsecsElapsed();
            const int k = int(hooks.size());
            hooks << now;
            const auto *bar = m_window->findChild<QProgressBar *>("pgbrFile");
            const QStringList window{m_window->windowTitle(),
                                     QString("button %1 wait %2")
                                         .arg(button()->isEnabled())
                                         .arg(m_window->cursor().shape() == Qt::WaitCursor),
                                     label("lblFileScanned"),
                                     label("lblDirectory"),
                                     label("lblDirScanned"),
                                     QString("bars %1 %2")
                                         .arg(!m_window->findChild<QProgressBar *>("pgbrDir")->isHidden())
                                         .arg(!bar->isHidden()),
                                     QString("%1-%2").arg(bar->minimum()).arg(bar->maximum())};
            if (window.join('|') != saving)
                faults << QString("yield %1 shows %2").arg(k).arg(window.join('|'));
            const QStringList progress{QString::number(bar->value()), label("lblFile"),
                                       label("lblFilesFound")};
            const auto ms = [](qint64 ns) { return QString::number(ns / 1e6, 'f', 1) + " ms"; };
            if (progress != shown) {
                ++pushes;
                if (progress != progressOf(k))
                    faults << QString("yield %1 shows %2").arg(k).arg(progress.join('|'));
                if (const qint64 before = hooks[std::max<qint64>(lastPush - 1, 0)]; now - before < 50'000'000)
                    faults << QString("yield %1 pushed %2 after yield %3's")
                                  .arg(k)
                                  .arg(ms(now - before))
                                  .arg(lastPush);
                lastPush = k;
                shown = progress;
            } else if (lastPush >= 1 && hooks[k - 1] - hooks[lastPush] >= 50'000'000) {
                faults
                    << QString("yield %1 held back after %2").arg(k).arg(ms(hooks[k - 1] - hooks[lastPush]));
            }
            QThread::msleep(1);
        };
        m_window->findChild<QPushButton *>("cmdClearList")->click(); // the window has just shown something
        clock.start();
        click();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 10).join('\n')));
        QCOMPARE(hooks.size() - 1, n);
        QVERIFY2(pushes >= 3, qPrintable(QString::number(pushes)));
        QCOMPARE(state(), QStringList({"Files Save: 399", "File Saved:", " FILE400.TXT", "400/400"}));
        QCOMPARE(m_window->windowTitle() + m_messages.join('|'), "Quillary");
        QVERIFY(button()->isEnabled());
    }

    // A save killed in the middle leaves a sound catalogue holding only rows committed before the kill,
    // in list order: all but the one being stored when each record is committed, none while they
    // wait in one open group.
    void crashInTheMiddleLeavesASoundCatalogue()
    {
        for (const auto &[commitInterval, kept] : {std::pair{0, 299}, std::pair{3600000, 0}}) {
            QVERIFY(create());
            const QStringList list = scan(1000);
            Killer killer;
            CatalogueSave save(killer, {commitInterval});
            QVERIFY(killedWhileSaving(save));
            QCOMPARE(stored(), list.mid(0, kept));
            QCOMPARE(value(m_path, "PRAGMA integrity_check").toString(), "ok");
        }
    }

    // The save records its disc in the transaction of each commit group: a save killed in the middle
    // leaves a disc that owns exactly the rows kept, or no disc when no row was kept; in a catalogue made
    // before the table of discs too, which the save adds.
    void crashLeavesNoDiscWithoutItsRows_data()
    {
        QTest::addColumn<bool>("older");
        QTest::addColumn<int>("commitInterval");
        QTest::addColumn<int>("kept");
        QTest::newRow("commit per record") << false << 0 << 299;
        QTest::newRow("one group") << false << 3600000 << 0;
        QTest::newRow("older catalogue, commit per record") << true << 0 << 299;
        QTest::newRow("older catalogue, one group") << true << 3600000 << 0;
    }
    void crashLeavesNoDiscWithoutItsRows()
    {
        QFETCH(bool, older);
        QFETCH(int, commitInterval);
        QFETCH(int, kept);
        QVERIFY(older ? createOlder() : create());
        QVERIFY(CatalogueFiles::exec(m_path, "INSERT INTO Quillary (CDLabel, FileName) VALUES ('OLD', 'a')"));
        scan(1000);
        Killer killer;
        CatalogueSave save(killer, {commitInterval});
        save.RecordDisc({QString(), "image", "/images/one.iso", "iso9660 UUID=2020-01-02-03-04-05-06"});
        QVERIFY(killedWhileSaving(save));
        QCOMPARE(value(m_path, "SELECT count(*) FROM Quillary"), kept + 1);
        qint64 claimed = -1;
        QCOMPARE(CatalogueFiles::discProblems(m_path, &claimed), QString());
        QCOMPARE(claimed, kept);
        if (kept > 0)
            QCOMPARE(value(m_path,
                           "SELECT group_concat(Number || '|' || Label || '|' || SourcePath || '|' || "
                           "Identity) FROM QuillaryDisc"),
                     "1|DISC01|/images/one.iso|iso9660 UUID=2020-01-02-03-04-05-06");
        QCOMPARE(value(m_path, "PRAGMA integrity_check").toString(), "ok");
    }

    // A disc's rows replaced in one transaction: a replace killed in the middle leaves the disc as it was.
    void crashDuringAReplaceKeepsTheDisc()
    {
        QVERIFY(create());
        const QStringList rows = scan(100);
        Killer killer; // stops at record 300 only
        CatalogueSave first(killer);
        first.RecordDisc({QString(), "directory", "/discs/one", QString()});
        QVERIFY(first.SaveFileList(m_path, objScannedFiles()) && first.DiscNumber() == 1);
        scan(1000);
        CatalogueSave replace(killer, {0});
        replace.RecordDisc({QString(), "directory", "/discs/one", QString()});
        replace.ReplaceDisc(1, {{1, 100}});
        QVERIFY(killedWhileSaving(replace));
        QCOMPARE(stored(), rows);
        qint64 claimed = 0;
        QCOMPARE(CatalogueFiles::discProblems(m_path, &claimed), QString());
        QCOMPARE(claimed, 100);
        QCOMPARE(value(m_path, "PRAGMA integrity_check").toString(), "ok");
    }

    // A disc saved with its files' fingerprints (add --content) is one transaction whatever the commit
    // interval: killed in the middle it leaves nothing; saved, each row has its own fingerprint, and the
    // fingerprints go with the rows when the disc is removed.
    void fingerprintsComeWithTheirDisc()
    {
        QVERIFY(create());
        std::vector<std::optional<Fingerprint>> fingerprints(1000);
        for (std::size_t i = 0; i < fingerprints.size(); ++i)
            fingerprints[i] = Fingerprint{{std::uint8_t(i & 255), std::uint8_t(i >> 8)}};
        for (const int files : {1000, 200}) { // the killer stops record 300 only
            scan(files);
            Killer killer;
            CatalogueSave save(killer, {0});
            save.RecordDisc({QString(), "image", "/images/one.iso", QString()});
            save.StoreFingerprints(&fingerprints);
            if (files == 1000)
                QVERIFY(killedWhileSaving(save));
            else
                QVERIFY(save.SaveFileList(m_path, objScannedFiles()));
            QCOMPARE(value(m_path, "SELECT count(*) FROM Quillary").toInt(), files == 1000 ? 0 : 200);
            QCOMPARE(value(m_path, "SELECT count(*) FROM QuillaryFingerprint").toInt(),
                     files == 1000 ? 0 : 200);
            QCOMPARE(value(m_path, "PRAGMA integrity_check").toString(), "ok");
        }
        QCOMPARE(
            value(
                m_path,
                "SELECT count(*) FROM Quillary AS q JOIN QuillaryFingerprint AS f ON f.Row = "
                "q.rowid WHERE hex(f.Hash) = printf('%02X%02X', (q.rowid - 1) % 256, (q.rowid - 1) / 256) || "
                "hex(zeroblob(14))")
                .toInt(),
            200);
        Catalogue catalogue(m_path);
        std::vector<Catalogue::Disc> removed;
        QString problem;
        QVERIFY(catalogue.Open() && catalogue.RemoveDiscs({"1"}, &removed, &problem));
        QCOMPARE(value(m_path, "SELECT count(*) FROM QuillaryFingerprint").toInt(), 0);
    }

    // A disc replaced by a list the same, shorter, longer or changed half way: its rows read in order are
    // the list (the order a fresh save gives), the disc after it is untouched, its ranges claim exactly
    // its rows and count them. Rows no record claimed are replaced the same way and get a record.
    void replacingADiscPutsTheListInItsRows()
    {
        const auto list = [](const QString &label, int n, int changedAt = 0) {
            QStringList rows;
            objScannedFiles().Clear();
            for (int i = 1; i <= n; ++i) {
                const QString name = QStringLiteral("FILE%1.TXT").arg(i == changedAt ? 1000 + i : i);
                const QStringList row{label,      name,      label + ": " + name, QString::number(i),
                                      "3/4/2021", "3/4/2021"};
                objScannedFiles().Add(row[0], row[1], row[2], row[3], row[4], row[5]);
                rows << row.join(u'|');
            }
            return rows;
        };
        struct : SaveObserver
        {
            void RecordStarting(qint32, const clsFile &) override {}
            void RecordDone(qint32) override {}
        } quiet;
        const QString discRows =
            "SELECT group_concat(CDLabel || '|' || FileName || '|' || FilePath || '|' || "
            "FileSize || '|' || CreateDate || '|' || LastUpdateDate, char(10)) FROM (SELECT "
            "q.* FROM QuillaryDiscRows AS r JOIN Quillary AS q ON q.rowid BETWEEN "
            "r.FirstRow AND r.LastRow WHERE r.Disc = %1 ORDER BY q.rowid)";
        for (const auto &[length, changedAt] : {std::pair{100, 0}, {60, 0}, {130, 0}, {100, 50}, {0, 0}}) {
            QVERIFY(create());
            std::vector<std::pair<qint64, qint64>> ranges{{1, 100}};
            qint64 number = 1;
            if (length == 0) { // rows no record claims
                QVERIFY(CatalogueFiles::exec(m_path,
                                             "INSERT INTO Quillary (CDLabel, FileName) VALUES ('OLD', 'a'), "
                                             "('OLD', 'b')"));
                ranges = {{1, 2}};
                number = 0;
            } else {
                list("DISC01", 100);
                CatalogueSave first(quiet);
                first.RecordDisc({QString(), "directory", "/one", QString()});
                QVERIFY(first.SaveFileList(m_path, objScannedFiles()));
            }
            const QStringList after = list("DISC02", 10);
            CatalogueSave second(quiet);
            second.RecordDisc({QString(), "directory", "/two", QString()});
            QVERIFY(second.SaveFileList(m_path, objScannedFiles()));

            const QStringList expected = list("DISC01", length == 0 ? 70 : length, changedAt);
            CatalogueSave replace(quiet);
            replace.RecordDisc({QString(), "directory", "/one", QString()});
            replace.ReplaceDisc(number, ranges);
            QVERIFY(replace.SaveFileList(m_path, objScannedFiles()));
            QCOMPARE(replace.SavedCount(), expected.size());
            const qint64 replaced = replace.DiscNumber();
            QCOMPARE(replaced, number == 0 ? 2 : 1);
            QCOMPARE(value(m_path, discRows.arg(replaced)).toString().split(u'\n'), expected);
            QCOMPARE(value(m_path, discRows.arg(number == 0 ? 1 : 2)).toString().split(u'\n'), after);
            QCOMPARE(value(m_path, "SELECT count(*) FROM Quillary"), expected.size() + after.size());
            QCOMPARE(CatalogueFiles::discProblems(m_path), QString());
            QCOMPARE(value(m_path, "SELECT count(*) FROM QuillaryDisc"), 2);
        }
    }

    // The window records each disc it saves, beside rows and texts that stay exactly as they were: one
    // disc per save, claiming exactly its rows however many groups it took, labelled as its rows.
    void windowRecordsEachDiscItSaves()
    {
        TestSeams::CommitIntervalMs() = 0;
        QVERIFY(createOlder());
        const QStringList expected = scan(50);
        click();
        click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(stored(), expected + expected);
        QCOMPARE(state(), QStringList({"Files Save: 50", "File Saved:", " FILE50.TXT", "50/50"}));
        qint64 claimed = 0;
        QCOMPARE(CatalogueFiles::discProblems(m_path, &claimed), QString());
        QCOMPARE(claimed, 100);
        QCOMPARE(value(m_path,
                       "SELECT group_concat(d.Number || ':' || d.Label || ':' || r.FirstRow || '-' || "
                       "r.LastRow, ' ') FROM QuillaryDisc AS d JOIN QuillaryDiscRows AS r ON r.Disc = "
                       "d.Number"),
                 "1:DISC01:1-50 2:DISC01:51-100");
        // The tables the save added are those a new catalogue has.
        const QString tables = "SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_master WHERE name "
                               "LIKE 'QuillaryDisc%' ORDER BY name)";
        const QString shipped = m_dir->filePath("shipped.mdb");
        QVERIFY(CatalogueFile::CreateFromSchemaFile(shipped, kSchema));
        QCOMPARE(value(m_path, tables), value(shipped, tables));
    }

    // The window leaves the search index to the time it is idle: a search right after a save, before
    // any index work, while the work is half done, and after it, finds exactly the rows saved; a
    // second save while the work is under way is not held off by it, and the index ends up covering
    // every row.
    void searchIsExactBeforeDuringAndAfterTheIndexWork()
    {
        QVERIFY(create());
        const qsizetype n = scan(30000).size();
        click();
        QCOMPARE(watermark(), 0);
        const auto searchesAreExact = [this] {
            for (const QString phrase : {"file1234", "FILE2_5.", "%", "le29999.t"}) {
                CDatabase db(m_path, SqliteConnection::Access::ReadOnly);
                CatalogueSearch search(db.Handle());
                QVERIFY(search.find(phrase));
                QStringList found;
                while (search.next())
                    found << QString::fromUtf8(search.field(0));
                QCOMPARE(found.size(), search.count());
                found.sort();
                QCOMPARE(found.join('\n'), value(m_path, kLike.arg(phrase)).toString());
            }
        };
        searchesAreExact();
        // Once the idle window's index work holds the catalogue, a second save goes first.
        const auto indexing = [this] {
            SqliteConnection probe(m_path);
            probe.setLockAllowance(0);
            const bool free = probe.exec("BEGIN IMMEDIATE");
            return !(free && probe.exec("ROLLBACK"));
        };
        while (!indexing() && watermark() < n)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QVERIFY(watermark() < n);
        searchesAreExact();
        click();
        for (int steps = 0; watermark() < n; ++steps) {
            QVERIFY(steps < 10000);
            searchesAreExact();
            QCoreApplication::processEvents();
        }
        QCOMPARE(m_messages, QStringList());
        QTRY_COMPARE(watermark(), 2 * n);
        searchesAreExact();
        CDatabase db(m_path);
        const CatalogueIndex::Status status = CatalogueIndex::Examine(db.Handle());
        QVERIFY(status.usable && status.sound && status.changed == 0);
    }

    // While another program reads the catalogue for long (an export piped into a pager that waits), work
    // on the index could never be committed: the idle window waits for the reader at next to no cost,
    // brings the index up to date soon after the reader is done, and compacts the catalogue then.
    void indexWorkWaitsForAReaderAtNoCost()
    {
        m_window.reset(); // the work under test is the only work of the process
        QVERIFY(create());
        const int n = 30000;
        QVERIFY(
            CatalogueFiles::exec(m_path, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i "
                                                        "+ 1 FROM n WHERE i < %1) INSERT INTO Quillary "
                                                        "(ID, CDLabel, FileName, FilePath) SELECT i, "
                                                        "'DISC01', 'FILE' || i || '.TXT', 'DISC01: FILE' || "
                                                        "i || '.TXT' FROM n")
                                             .arg(n)));
        QVERIFY(CatalogueFiles::exec(m_path, "CREATE TABLE Other (FileName);" + kFreed.arg("Other")));
        QVERIFY(value(m_path, "PRAGMA freelist_count").toInt() > 0);

        // The reader: quillary-cli export writing into a pipe that nobody reads.
        const QString fifo = m_dir->filePath("pager");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const int pager = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(pager >= 0);
        QProcess reader;
        reader.setStandardOutputFile(fifo);
        reader.start(QStringLiteral(QUILLARY_BINARY_DIR "/quillary-cli"), {"export", "--catalogue", m_path});
        const auto readerHolds = [this] {
            SqliteConnection probe(m_path);
            probe.setLockAllowance(0);
            return !probe.exec("BEGIN EXCLUSIVE") || !probe.exec("ROLLBACK");
        };
        QTRY_VERIFY_WITH_TIMEOUT(readerHolds(), 60000);

        QObject context;
        IdleIndexing indexing([] { return false; }, &context);
        const auto cpuMs = [] {
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
        };
        const auto cpuBefore = cpuMs();
        indexing.schedule();
        QTest::qWait(3000);
        // Work begun and thrown away again costs a core's worth: about 3 seconds here.
        const auto spent = cpuMs() - cpuBefore;
        QVERIFY2(spent < 300, qPrintable(QString::number(spent) + " ms of CPU"));
        QVERIFY(readerHolds());
        QCOMPARE(watermark(), 0);

        ::close(pager); // the reader's next write fails, and it ends
        QVERIFY(reader.waitForFinished(60000));
        QTRY_COMPARE_WITH_TIMEOUT(watermark(), n, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(value(m_path, "PRAGMA freelist_count").toInt(), 0, 60000);
        CDatabase db(m_path);
        const CatalogueIndex::Status status = CatalogueIndex::Examine(db.Handle());
        QVERIFY(status.usable && status.sound && status.changed == 0 && status.names == n);
    }

private:
    bool create() { return CatalogueFile::CreateFromSchemaFile(m_path, kSchema); }
    // Runs the save in a child process, which its observer kills in the middle.
    bool killedWhileSaving(CatalogueSave &save) const
    {
        const pid_t child = fork();
        if (child == 0)
            ::_exit(save.SaveFileList(m_path, objScannedFiles()));
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
               WTERMSIG(status) == SIGKILL;
    }
    // A catalogue as the program shipped before it recorded discs: the schema without the table of discs.
    bool createOlder()
    {
        QFile file(kSchema);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QString script = QString::fromUtf8(file.readAll());
        const qsizetype from = script.indexOf("-- ===== Discs"), to = script.indexOf("-- ===== Search index");
        return from > 0 && to > from &&
               CatalogueFile::CreateFromScript(m_path, script.remove(from, to - from));
    }
    QStringList stored() const { return value(m_path, kRows).toString().split(u'\n', Qt::SkipEmptyParts); }
    int watermark() const { return value(m_path, "SELECT Watermark FROM QuillarySearchState").toInt(); }
    void click() { QTest::mouseClick(button(), Qt::LeftButton); }
    QPushButton *button() const { return m_window->findChild<QPushButton *>("cmdAddToDB"); }
    // What the window shows of a save: its labels, then the file bar's value/maximum.
    QStringList state() const
    {
        const auto *bar = m_window->findChild<QProgressBar *>("pgbrFile");
        return {label("lblFilesFound"), label("lblFileScanned"), label("lblFile"),
                QString::asprintf("%d/%d", bar->value(), bar->maximum())};
    }
    QString label(const char *name) const { return m_window->findChild<QLabel *>(name)->text(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmZIDovidovarar> m_window;
    QString m_path, m_mount;
    QStringList m_messages;
    bool m_busyAtMessage = false;
    QStringList m_stateAtMessage;
};

QTEST_MAIN(SaveTest)
#include "tst_save.moc"
