// "Add to Database": the window's save command on real catalogue files.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "app/modConstant.h"
#include "app/modFunction.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueSave.h"
#include "support/WindowTestAccess.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const QString kTable = QStringLiteral("CREATE TABLE Quillary (ID INTEGER PRIMARY KEY, CDLabel TEXT, "
                                      "FileName TEXT %1, FilePath TEXT, FileSize TEXT, CreateDate TEXT, "
                                      "LastUpdateDate TEXT);");

struct Row
{
    QString label, name, path, size, created, updated;
    bool operator==(const Row &) const = default;
};

QList<Row> rowsOf(const QString &path)
{
    QList<Row> rows;
    CDatabase db(path);
    CRecordset rs =
        db.GetRecordset(QStringLiteral("SELECT CDLabel, FileName, FilePath, FileSize, CreateDate, "
                                       "LastUpdateDate FROM Quillary ORDER BY ID"));
    while (rs.Next())
        rows.append({rs.Value(0).toString(), rs.Value(1).toString(), rs.Value(2).toString(),
                     rs.Value(3).toString(), rs.Value(4).toString(), rs.Value(5).toString()});
    return rows;
}

qint64 scalar(const QString &path, const QString &sql)
{
    CDatabase db(path);
    QVariant v;
    return db.QueryValue(sql, &v) ? v.toLongLong() : -1;
}

// The scan's list: n files of the disc DISC01.
QList<Row> scan(int n, const QString &nameStem = QStringLiteral("FILE"))
{
    QList<Row> rows;
    objScannedFiles().Clear();
    for (int i = 1; i <= n; ++i) {
        const QString name = QStringLiteral("%1%2.TXT").arg(nameStem).arg(i);
        const Row row{QStringLiteral("DISC01"),
                      name,
                      QStringLiteral("DISC01: DIR/") + name,
                      QString::number(i * 100),
                      QStringLiteral("3/4/2021 10:11:12 AM"),
                      QStringLiteral("3/4/2021")};
        objScannedFiles().Add(row.label, row.name, row.path, row.size, row.created, row.updated);
        rows.append(row);
    }
    return rows;
}

} // namespace

class SaveTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        modFunction::SetProgramDirectoryForTesting(m_dir->path());
        m_path = m_dir->filePath(QStringLiteral("ZODidozode.mdb"));
        CDatabase::SetBusyTimeout(5000);
        CatalogueSave::SetCommitInterval(500);
        objScannedFiles().Clear();
        m_messages.clear();
        m_window.reset(new frmZIDovidovarar);
        quillary::SetMessageHandler([this](QWidget *, const QString &text) {
            m_messages << text;
            // A message box is shown over an up-to-date window that still runs its command.
            m_busyAtMessage = m_window->blnBusy();
        });
    }

    void cleanup()
    {
        quillary::SetMessageHandler({});
        m_window.reset();
        objScannedFiles().Clear();
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList()); // no connection outlives a command
    }

    void savesEveryRecordInListOrderAndAgain()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        QList<Row> expected = scan(5);
        // Empty texts are stored as a single blank.
        objScannedFiles().Add(QString(), QStringLiteral("EMPTY.TXT"), QString(), QString(), QString(),
                              QString());
        expected.append({QStringLiteral(" "), QStringLiteral("EMPTY.TXT"), QStringLiteral(" "),
                         QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" ")});

        click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(rowsOf(m_path), expected);
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: 6"));
        QCOMPARE(label("lblFileScanned"), QStringLiteral("File Saved:"));
        QCOMPARE(label("lblFile"), QStringLiteral(" EMPTY.TXT"));
        QCOMPARE(label("lblDirectory"), QString());
        QCOMPARE(label("lblDirScanned"), QString());
        QCOMPARE(bar("pgbrFile")->maximum(), 6);
        QCOMPARE(bar("pgbrFile")->value(), 6);
        QVERIFY(bar("pgbrDir")->isHidden());
        QVERIFY(!bar("pgbrFile")->isHidden());
        verifyIdle();

        // The list is still there: saving again adds every record again.
        QCOMPARE(objScannedFiles().Count(), 6);
        click();
        QCOMPARE(rowsOf(m_path), expected + expected);
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: 6"));
    }

    // A record the table refuses is left out alone; the records before and after it are stored and
    // no message is shown.
    void refusedRecordIsLeftOutAlone_data()
    {
        QTest::addColumn<QString>("constraint");
        QTest::addColumn<int>("commitInterval");
        QTest::newRow("check") << QStringLiteral("CHECK (FileName <> 'FILE3.TXT')") << 500;
        QTest::newRow("check, commit per record") << QStringLiteral("CHECK (FileName <> 'FILE3.TXT')") << 0;
        // A conflict rule that throws the whole transaction away: the records stored before it in the
        // same transaction are stored again.
        QTest::newRow("rollback rule") << QStringLiteral("UNIQUE ON CONFLICT ROLLBACK") << 500;
        QTest::newRow("ignore rule") << QStringLiteral("UNIQUE ON CONFLICT IGNORE") << 500;
        QTest::newRow("too long") << QStringLiteral("CHECK (length(FileName) < 9)") << 500;
    }
    void refusedRecordIsLeftOutAlone()
    {
        QFETCH(QString, constraint);
        QFETCH(int, commitInterval);
        CatalogueSave::SetCommitInterval(commitInterval);
        QVERIFY(CatalogueFile::CreateFromScript(m_path, kTable.arg(constraint)));
        QList<Row> expected = scan(5);
        if (constraint.contains(QStringLiteral("UNIQUE"))) {
            // FILE3.TXT is already in the catalogue: the list's FILE3.TXT conflicts with it.
            CDatabase db(m_path);
            QVERIFY(db.ExecuteQuery(
                QStringLiteral("INSERT INTO Quillary (ID, FileName) VALUES (0, 'FILE3.TXT')")));
        } else if (constraint.contains(QStringLiteral("length"))) {
            objScannedFiles().Clear();
            expected.clear();
            const QStringList names{"A", "B", "C", "TOO-LONG-NAME", "D"};
            for (const QString &name : names) {
                objScannedFiles().Add("L", name, "P", "1", "C", "U");
                expected.append({"L", name, "P", "1", "C", "U"});
            }
        }
        const Row refused = expected.takeAt(3 - 1 + (constraint.contains(QStringLiteral("length")) ? 1 : 0));

        click();
        QCOMPARE(m_messages, QStringList());
        QList<Row> rows = rowsOf(m_path);
        if (constraint.contains(QStringLiteral("UNIQUE")))
            rows.removeFirst(); // the row that was there before
        QCOMPARE(rows, expected);
        QVERIFY(!rows.contains(refused));
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: 4"));
        QCOMPARE(bar("pgbrFile")->value(), 5);
        verifyIdle();
    }

    void noCatalogueShowsTheMissingMessageOnly()
    {
        scan(3);
        const QString filesFound = label("lblFilesFound");
        const QString fileScanned = label("lblFileScanned");
        click();
        QCOMPARE(m_messages, QStringList{modConstant::DatabaseMissingMessage()});
        QVERIFY(m_busyAtMessage);
        QCOMPARE(label("lblFilesFound"), filesFound);
        QCOMPARE(label("lblFileScanned"), fileScanned);
        verifyIdle();
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());

        // Neither a catalogue nor a scan: only the catalogue is asked for.
        objScannedFiles().Clear();
        m_messages.clear();
        click();
        QCOMPARE(m_messages, QStringList{modConstant::DatabaseMissingMessage()});
    }

    void noScanAsksForOne()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        const QString filesFound = label("lblFilesFound");
        click();
        QCOMPARE(m_messages, QStringList{QStringLiteral(
                                 "Please scan a CD and then save the file list to the database.")});
        QCOMPARE(label("lblFilesFound"), filesFound);
        verifyIdle();
        QCOMPARE(scalar(m_path, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
    }

    // A failure that ends the save says what went wrong and gives the window back; nothing is stored
    // and the catalogue is not compacted.
    void failureEndsTheSaveWithAMessage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no table") << "no table"
                                  << "has no table 'Quillary'";
        QTest::newRow("not a database") << "not a database"
                                        << "is not a catalogue database";
        QTest::newRow("locked") << "locked"
                                << "locked by another program";
        QTest::newRow("other columns") << "other columns"
                                       << "lacks a column";
    }
    void failureEndsTheSaveWithAMessage()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        std::unique_ptr<CDatabase> holder;
        if (kind == QLatin1String("no table")) {
            // Free pages that a compaction would give back.
            QVERIFY(CatalogueFile::CreateFromScript(m_path, QStringLiteral("CREATE TABLE Other (x);")));
            CDatabase db(m_path);
            QVERIFY(db.ExecuteQuery(
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 5000) INSERT INTO Other SELECT hex(randomblob(40)) FROM n")));
            QVERIFY(db.ExecuteQuery(QStringLiteral("DELETE FROM Other")));
        } else if (kind == QLatin1String("not a database")) {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'Q'));
        } else if (kind == QLatin1String("locked")) {
            QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
            holder = std::make_unique<CDatabase>(m_path);
            QVERIFY(holder->ExecuteQuery(QStringLiteral("BEGIN EXCLUSIVE")));
            CDatabase::SetBusyTimeout(200);
        } else {
            QVERIFY(CatalogueFile::CreateFromScript(m_path,
                                                    QStringLiteral("CREATE TABLE Quillary (Name TEXT);")));
        }
        const qint64 freeBefore = scalar(m_path, QStringLiteral("PRAGMA freelist_count"));
        scan(4);
        click();
        holder.reset();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(expected), qPrintable(m_messages.first()));
        QVERIFY2(m_messages.first().contains(QStringLiteral("0 of 4 files were saved")),
                 qPrintable(m_messages.first()));
        QVERIFY(m_busyAtMessage);
        verifyIdle();
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: 0"));
        if (kind == QLatin1String("no table"))
            QCOMPARE(scalar(m_path, QStringLiteral("PRAGMA freelist_count")), freeBefore);
        if (kind == QLatin1String("locked"))
            QCOMPARE(scalar(m_path, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
        if (kind == QLatin1String("other columns"))
            QCOMPARE(scalar(m_path, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
    }

    // A full disk in the middle of the save: the message says so, and the label counts exactly the
    // rows that are in the catalogue, which stays sound.
    void fullDiskEndsTheSaveKeepingWhatIsStored()
    {
        if (qEnvironmentVariable("QUILLARY_PRIVATE_MOUNTS") != QLatin1String("1"))
            QSKIP("needs a private mount namespace (root with unshare) to mount a small tmpfs");
        const QString small = m_dir->filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(small));
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "size=256k", "quillary-full", small}) != 0)
            QSKIP("mounting a small tmpfs failed");
        auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {small}); });
        modFunction::SetProgramDirectoryForTesting(small);
        m_path = small + QStringLiteral("/ZODidozode.mdb");
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CatalogueSave::SetCommitInterval(0);
        objScannedFiles().Clear();
        const int n = 3000;
        for (int i = 1; i <= n; ++i)
            objScannedFiles().Add("DISC01", QStringLiteral("F%1_").arg(i) + QString(200, u'x'), "P", "1", "C",
                                  "U");

        click();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(QStringLiteral("full")), qPrintable(m_messages.first()));
        verifyIdle();
        const qint64 stored = scalar(m_path, QStringLiteral("SELECT count(*) FROM Quillary"));
        QVERIFY(stored > 0 && stored < n);
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: %1").arg(stored));
        QCOMPARE(scalar(m_path, QStringLiteral("SELECT max(ID) FROM Quillary")), stored);
        CDatabase db(m_path);
        QVariant check;
        QVERIFY(db.QueryValue(QStringLiteral("PRAGMA integrity_check"), &check));
        QCOMPARE(check.toString(), QStringLiteral("ok"));
    }

    // While a scan or a search runs, the save does not start.
    void busyWindowRefusesTheSave()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        scan(3);
        m_window->setWindowTitle(QStringLiteral("Quillary - File Search in progress..."));
        WindowTestAccess::setBusy(*m_window, true);
        click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Quillary - File Search in progress..."));
        QVERIFY(m_window->blnBusy());
        WindowTestAccess::setBusy(*m_window, false);
        QCOMPARE(scalar(m_path, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
    }

    // During the save the window shows its caption and the hourglass, yields after records, and a
    // second click in a yield starts nothing.
    void windowDuringTheSave()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        const QList<Row> expected = scan(2000);
        QString caption;
        bool busy = false;
        bool buttonEnabled = true;
        Qt::CursorShape pointer = Qt::ArrowCursor;
        QTimer::singleShot(0, m_window.get(), [&] {
            caption = m_window->windowTitle();
            busy = m_window->blnBusy();
            buttonEnabled = button()->isEnabled();
            pointer = m_window->cursor().shape();
            m_window->cmdAddToDB_Click();
        });
        click();
        QCOMPARE(caption, QStringLiteral("Quillary - Saving file information to database..."));
        QVERIFY(busy);
        QVERIFY(!buttonEnabled);
        QCOMPARE(pointer, Qt::WaitCursor);
        QCOMPARE(rowsOf(m_path), expected);
        QCOMPARE(label("lblFilesFound"), QStringLiteral("Files Save: 2000"));
        verifyIdle();
    }

    // The save ends with the catalogue compacted: pages freed before it are given back.
    void saveCompactsTheCatalogue()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        {
            CDatabase db(m_path);
            QVERIFY(db.ExecuteQuery(
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 5000) INSERT INTO Quillary (FileName) "
                               "SELECT hex(randomblob(40)) FROM n")));
            QVERIFY(db.ExecuteQuery(QStringLiteral("DELETE FROM Quillary")));
        }
        QVERIFY(scalar(m_path, QStringLiteral("PRAGMA freelist_count")) > 10);
        const QList<Row> expected = scan(10);
        click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(scalar(m_path, QStringLiteral("PRAGMA freelist_count")), 0);
        QCOMPARE(rowsOf(m_path), expected);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("ZODidozode.mdb")});
    }

    // A save killed in the middle leaves a sound catalogue holding no more than the rows committed
    // before the kill, in list order.
    void crashInTheMiddleLeavesASoundCatalogue_data()
    {
        QTest::addColumn<int>("commitInterval");
        QTest::addColumn<int>("expectedRows");
        QTest::newRow("commit per record") << 0 << 299;
        QTest::newRow("one open group") << 3600000 << 0;
    }
    void crashInTheMiddleLeavesASoundCatalogue()
    {
        QFETCH(int, commitInterval);
        QFETCH(int, expectedRows);
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        const QList<Row> expected = scan(1000);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The child saves and is killed while it stores record 300.
            struct Killer : SaveObserver
            {
                void RecordStarting(qint32 position, const QString &) override
                {
                    if (position == 300)
                        ::raise(SIGKILL);
                }
                void RecordDone(qint32) override {}
            } killer;
            CatalogueSave::SetCommitInterval(commitInterval);
            CatalogueSave save(killer);
            save.SaveFileList(objScannedFiles());
            ::_exit(3);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        const QList<Row> rows = rowsOf(m_path);
        QCOMPARE(rows.size(), expectedRows);
        QCOMPARE(rows, expected.mid(0, expectedRows));
        CDatabase db(m_path);
        QVariant check;
        QVERIFY(db.QueryValue(QStringLiteral("PRAGMA integrity_check"), &check));
        QCOMPARE(check.toString(), QStringLiteral("ok"));
    }

private:
    void click() { QTest::mouseClick(button(), Qt::LeftButton); }

    QPushButton *button() const { return m_window->findChild<QPushButton *>(QStringLiteral("cmdAddToDB")); }
    QString label(const char *name) const
    {
        return m_window->findChild<QLabel *>(QString::fromLatin1(name))->text();
    }
    QProgressBar *bar(const char *name) const
    {
        return m_window->findChild<QProgressBar *>(QString::fromLatin1(name));
    }

    void verifyIdle()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Quillary"));
        QVERIFY(!m_window->blnBusy());
        QVERIFY(button()->isEnabled());
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmZIDovidovarar> m_window;
    QString m_path;
    QStringList m_messages;
    bool m_busyAtMessage = false;
};

QTEST_MAIN(SaveTest)
#include "tst_save.moc"
