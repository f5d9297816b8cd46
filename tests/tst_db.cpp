// The catalogue's access layer and the compaction, on real SQLite files.
#include "db/CDatabase.h"
#include "db/CatalogueFile.h"
#include "db/CompactCatalogue.h"
#include "support/CatalogueFiles.h"

#include <QtTest>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
// 20,000 rows of which every tenth is kept: a catalogue with many free pages.
const char *const kThinned =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
    "INSERT INTO Quillary (FileName) SELECT printf('FILE%06d.DAT', i) FROM n;"
    "DELETE FROM Quillary WHERE ID % 10 <> 0;";

using CatalogueFiles::exec;
using CatalogueFiles::value;

// The file names in the order they were added, read afresh.
QStringList fileNames(const QString &path)
{
    return value(path, "SELECT group_concat(FileName, char(10)) FROM (SELECT * FROM Quillary ORDER BY ID)")
        .toString()
        .split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        m_path = m_dir->filePath(QStringLiteral("ZODidozode.mdb"));
    }

    // A connection never creates the catalogue; a file that is not a database fails at once; values
    // are bound, so a name with quotes is stored as it is.
    void opensOnlyACatalogueThatExists()
    {
        QCOMPARE(CDatabase(m_path).LastError().primaryCode(), SQLITE_CANTOPEN);
        QVERIFY(!QFileInfo::exists(m_path) && QFile::copy(kSchema, m_path));
        QCOMPARE(CDatabase(m_path).LastError().primaryCode(), SQLITE_NOTADB);
        QVERIFY(QFile::remove(m_path) && CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase db(m_path);
        const QString name = QStringLiteral("it's \"quoted\"; DROP TABLE Quillary");
        SqliteStatement insert = db.Prepare("INSERT INTO Quillary (FileName) VALUES (?)");
        insert.bind(1, name);
        QVERIFY(insert.run());
        QCOMPARE(fileNames(m_path), QStringList{name});
    }

    // Another program holding the catalogue's lock: the waits keep the window's events going, and all
    // the waits of one connection together give up after its allowance, not each wait anew.
    void lockWaitsShareOneAllowance()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase other(m_path), db(m_path);
        QVERIFY(other.BeginTrans());
        db.Connection().setLockAllowance(300);
        QTimer timer;
        QSignalSpy ticks(&timer, &QTimer::timeout);
        timer.start(20);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!db.BeginTrans() && db.LastError().primaryCode() == SQLITE_BUSY);
        QVERIFY(waited.restart() >= 250 && !ticks.isEmpty());
        QVERIFY(!db.BeginTrans() && !db.BeginTrans()); // the allowance is spent: no more waiting
        QVERIFY(waited.elapsed() < 250);
        QVERIFY(other.RollbackTrans() && db.BeginTrans() && db.RollbackTrans());
    }

    // A connection reading a catalogue in file order reads it ahead, and still reads exactly what the file
    // holds: after another connection rewrote every row in place, and in write-ahead-log mode (where the
    // reading connection keeps its lock throughout) after a checkpoint. A catalogue that one read ahead
    // covers whole, and one that takes many, the last cut short by the end of the file.
    void readsAheadOnlyWhatTheFileHolds_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("one read ahead") << 100;
        QTest::newRow("many") << 5000;
    }
    void readsAheadOnlyWhatTheFileHolds()
    {
        QFETCH(int, rows);
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase writer(m_path), reader(m_path);
        const auto write = [&](const char *word) {
            return writer.Execute(qPrintable(
                QStringLiteral(
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                    "INSERT OR REPLACE INTO Quillary (ID, FileName) SELECT i, printf('%2 %05d %.100c', "
                    "i, 'x') FROM n")
                    .arg(rows)
                    .arg(word)));
        };
        const auto expected = [&](const char *word) {
            QStringList names;
            for (int i = 1; i <= rows; ++i)
                names << QString::asprintf("%s %05d ", word, i) + QString(100, 'x');
            return names;
        };
        const auto read = [&] {
            QStringList names;
            SqliteStatement scan = reader.Prepare("SELECT FileName FROM Quillary ORDER BY rowid");
            while (scan.step() == SQLITE_ROW)
                names << QString::fromUtf8(scan.text(0).data(), qsizetype(scan.text(0).size()));
            return names;
        };
        QVERIFY(write("first"));
        QCOMPARE(read(), expected("first"));
        QVERIFY(write("second"));
        QCOMPARE(read(), expected("second"));
        qint64 ignored = 0;
        QVERIFY(writer.Execute("PRAGMA journal_mode = WAL"));
        QCOMPARE(read(), expected("second"));
        QVERIFY(write("third") && writer.QueryInteger("PRAGMA wal_checkpoint(TRUNCATE)", &ignored));
        QCOMPARE(read(), expected("third"));
    }

    // Compaction keeps every row and gives the free pages back, in the shipped incremental mode and in
    // a catalogue made without auto-vacuum. The file is compacted where it is: a connection open across
    // the compaction keeps writing into the same catalogue and loses none of its rows. A reader holding
    // its snapshot keeps the compaction from running: false, and the catalogue is untouched.
    void compaction_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("incremental") << QString(); // the shipped schema
        QTest::newRow("no auto-vacuum") << "CREATE TABLE Quillary (ID INTEGER PRIMARY KEY, FileName);";
    }
    void compaction()
    {
        QFETCH(QString, table);
        QVERIFY(table.isEmpty() ? CatalogueFile::CreateFromSchemaFile(m_path, kSchema)
                                : CatalogueFile::CreateFromScript(m_path, table));
        CDatabase other(m_path);
        QVERIFY(other.Execute(kThinned));
        const QStringList rows = fileNames(m_path);
        const QVariant freePages = value(m_path, "PRAGMA freelist_count");
        const qint64 sizeBefore = QFileInfo(m_path).size();
        QVERIFY(other.Execute("BEGIN") && other.Execute("SELECT count(*) FROM Quillary"));
        QVERIFY(!CatalogueCompaction::CompactCatalogue(m_path));
        QVERIFY(other.Execute("COMMIT"));
        QVERIFY(freePages.toInt() > 0 && value(m_path, "PRAGMA freelist_count") == freePages);
        QVERIFY(CatalogueCompaction::CompactCatalogue(m_path));
        QVERIFY(QFileInfo(m_path).size() < sizeBefore / 2);
        QVERIFY(other.Execute("INSERT INTO Quillary (FileName) SELECT 'AFTER' || FileName FROM Quillary"));
        QCOMPARE(fileNames(m_path),
                 rows + QStringList(rows).replaceInStrings(QRegularExpression("^"), "AFTER"));
        QCOMPARE(value(m_path, "PRAGMA freelist_count"), 0);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("ZODidozode.mdb")});
    }

    // The build's tool makes the empty catalogue, and never replaces one that holds the user's rows.
    void buildToolKeepsACatalogueWithRows()
    {
        const QString tool = QStringLiteral(QUILLARY_BINARY_DIR "/src/make_catalogue");
        QCOMPARE(QProcess::execute(tool, {kSchema, m_path}), 0);
        QCOMPARE(value(m_path, "SELECT count(*) FROM Quillary"), 0);
        QVERIFY(exec(m_path, "INSERT INTO Quillary (FileName) VALUES ('KEEP.ME')"));
        QCOMPARE(QProcess::execute(tool, {kSchema, m_path}), 0);
        QCOMPARE(value(m_path, "SELECT FileName FROM Quillary"), "KEEP.ME");
        QVERIFY(exec(m_path, "DELETE FROM Quillary; DROP TRIGGER QuillarySearchOnInsert"));
        QCOMPARE(QProcess::execute(tool, {kSchema, m_path}), 0); // empty: made afresh
        QCOMPARE(value(m_path, "SELECT count(*) FROM sqlite_schema WHERE type = 'trigger'"), 6);
    }
};

QTEST_MAIN(DatabaseTest)
#include "tst_db.moc"
