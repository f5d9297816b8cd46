// The catalogue's connection wrapper, the shipped schema and the compaction, on real SQLite files.
#include "app/modFunction.h"
#include "db/CDatabase.h"
#include "db/CatalogueFile.h"
#include "db/CompactCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");

qint64 scalar(CDatabase &db, const QString &sql)
{
    QVariant v;
    if (!db.QueryValue(sql, &v))
        return -1;
    return v.toLongLong();
}

bool addRow(CDatabase &db, const QString &fileName, const QString &label = QStringLiteral("DISC01"))
{
    return db.ExecuteQuery(QStringLiteral("INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                                          "CreateDate, LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)"),
                           {label, fileName, label + QStringLiteral(": ") + fileName, QStringLiteral("1234"),
                            QStringLiteral("01/02/2003 04:05:06"), QStringLiteral("01/02/2003")});
}

// Fills the catalogue with rows, then deletes most of them, so the file has many free pages.
void fillAndThin(CDatabase &db, int rows)
{
    QVERIFY(db.BeginTrans());
    for (int i = 0; i < rows; ++i)
        QVERIFY(addRow(db, QStringLiteral("FILE%1.DAT").arg(i, 6, 10, QLatin1Char('0'))));
    QVERIFY(db.CommitTrans());
    QVERIFY(db.ExecuteQuery(QStringLiteral("DELETE FROM Quillary WHERE ID % 10 <> 0")));
    QVERIFY(scalar(db, QStringLiteral("PRAGMA freelist_count")) > 0);
}

ino_t inodeOf(const QString &path)
{
    struct stat st
    {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QStringList fileNames(CDatabase &db)
{
    QStringList names;
    CRecordset rs = db.GetRecordset(QStringLiteral("SELECT FileName FROM Quillary ORDER BY rowid"));
    while (rs.Next())
        names << rs.Value(0).toString();
    return names;
}

} // namespace

class DatabaseTest : public QObject
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
    }

    void cleanup()
    {
        // Every object has closed and removed its connection.
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
    }

    void shippedSchemaMakesTheTableWithIncrementalAutoVacuum()
    {
        QString error;
        QVERIFY2(CatalogueFile::CreateFromSchemaFile(m_path, kSchema, &error), qPrintable(error));
        CDatabase db;
        QVERIFY2(db.IsOpen(), qPrintable(db.LastError().text));
        QCOMPARE(scalar(db, QStringLiteral("PRAGMA auto_vacuum")), 2);
        QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
        CRecordset rs = db.GetRecordset(QStringLiteral("SELECT * FROM Quillary"));
        QVERIFY(rs.IsOpen());
        for (const char *column :
             {"ID", "CDLabel", "FileName", "FilePath", "FileSize", "CreateDate", "LastUpdateDate"})
            QVERIFY2(rs.FieldIndex(QString::fromLatin1(column)) >= 0, column);
    }

    // The file is opened without the right to create it: nothing appears where nothing was.
    void missingCatalogueStaysMissing()
    {
        {
            CDatabase byDefault; // DefaultDatabasePath() is empty
            QVERIFY(!byDefault.IsOpen());
            QCOMPARE(byDefault.LastError().primaryCode(), SQLITE_CANTOPEN);
            QVERIFY(!byDefault.BeginTrans());
            QVERIFY(!byDefault.GetRecordset(QStringLiteral("SELECT 1")).IsOpen());
            QVERIFY(!byDefault.Prepare(QStringLiteral("SELECT 1")).IsPrepared());

            CDatabase byPath(m_path);
            QVERIFY(!byPath.IsOpen());
            QCOMPARE(byPath.LastError().primaryCode(), SQLITE_CANTOPEN);
            QVERIFY(!byPath.ExecuteQuery(QStringLiteral("CREATE TABLE Quillary (x)")));
        }
        QVERIFY(!QFile::exists(m_path));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void fileThatIsNotADatabaseLeavesTheObjectClosed()
    {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray junk(8192, 'x');
        f.write(junk);
        f.close();
        {
            CDatabase db;
            QVERIFY(!db.IsOpen());
            QCOMPARE(db.LastError().primaryCode(), SQLITE_NOTADB);
            QVERIFY(!db.CommitTrans());
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), junk);
    }

    // "?", "#" and "%" in a directory name are part of the name, not of the URI.
    void pathWithUriCharacters()
    {
        const QString dir = m_dir->filePath(QStringLiteral("a?b#c%20d é"));
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + QStringLiteral("/ZODidozode.mdb");
        QVERIFY(CatalogueFile::CreateFromSchemaFile(path, kSchema));
        CDatabase db(path);
        QVERIFY2(db.IsOpen(), qPrintable(db.LastError().text));
        QVERIFY(addRow(db, QStringLiteral("X")));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("ZODidozode.mdb")});
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
    }

    void recordsetKnowsItsCountAndBindsValues()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase db;
        for (const char *name : {"README.TXT", "OLDREADME.DOC", "O'Brien.txt", "setup.exe"})
            QVERIFY(addRow(db, QString::fromUtf8(name)));

        CRecordset rs =
            db.GetRecordset(QStringLiteral("SELECT * FROM Quillary WHERE FileName LIKE '%' || ? || '%'"),
                            {QStringLiteral("readme")});
        QVERIFY2(rs.IsOpen(), qPrintable(rs.LastError().text));
        QCOMPARE(rs.RecordCount(), 2);
        QStringList seen;
        while (rs.Next())
            seen << rs.Value(QStringLiteral("filename")).toString();
        QCOMPARE(seen, (QStringList{QStringLiteral("README.TXT"), QStringLiteral("OLDREADME.DOC")}));
        QVERIFY(!rs.LastError().isSet());
        rs.Close();

        // An apostrophe is just a character of the value.
        CRecordset quote = db.GetRecordset(QStringLiteral("SELECT FileName FROM Quillary WHERE FileName = ?"),
                                           {QStringLiteral("O'Brien.txt")});
        QCOMPARE(quote.RecordCount(), 1);
        QVERIFY(quote.Next());
        QCOMPARE(quote.Value(0).toString(), QStringLiteral("O'Brien.txt"));
        QVERIFY(!quote.Next());
        QCOMPARE(quote.Value(QStringLiteral("NoSuchColumn")), QVariant());
        quote.Close();

        CRecordset none = db.GetRecordset(QStringLiteral("SELECT * FROM Quillary WHERE 0 = 1; "));
        QVERIFY(none.IsOpen());
        QCOMPARE(none.RecordCount(), 0);
        QVERIFY(!none.Next());
    }

    // The count and the rows come from one snapshot: rows another connection commits in between
    // are not half seen.
    void recordsetIsAConsistentSnapshot()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase reader;
        CDatabase writer;
        QVERIFY(addRow(writer, QStringLiteral("A")));
        CDatabase::SetBusyTimeout(100);
        {
            CRecordset rs = reader.GetRecordset(QStringLiteral("SELECT FileName FROM Quillary"));
            QCOMPARE(rs.RecordCount(), 1);
            CDatabase late; // its busy time-out is short
            QVERIFY(!addRow(late, QStringLiteral("B")));
            QCOMPARE(late.LastError().primaryCode(), SQLITE_BUSY);
            int rows = 0;
            while (rs.Next())
                ++rows;
            QCOMPARE(rows, 1);
        }
        // Closing the recordset ends its read transaction.
        CDatabase late;
        QVERIFY(addRow(late, QStringLiteral("B")));
    }

    void recordsetRefusesWhatIsNotAQuery()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase db;
        CRecordset rs = db.GetRecordset(QStringLiteral("INSERT INTO Quillary (FileName) VALUES ('X')"));
        QVERIFY(!rs.IsOpen());
        QVERIFY(rs.LastError().isSet());
        CRecordset two = db.GetRecordset(QStringLiteral("SELECT 1; DELETE FROM Quillary"));
        QVERIFY(!two.IsOpen());
        CRecordset bad = db.GetRecordset(QStringLiteral("SELECT * FROM NoSuchTable"));
        QVERIFY(!bad.IsOpen());
        QVERIFY(bad.LastError().text.contains(QStringLiteral("no such table")));
        QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM Quillary")), 0);
        QVERIFY(!db.InTransaction());
    }

    void rollbackLeavesTheTableAsItWasAndCommitIsSeenByOthers()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase db;
        QVERIFY(addRow(db, QStringLiteral("KEEP")));
        QVERIFY(db.BeginTrans());
        QVERIFY(db.InTransaction());
        QVERIFY(addRow(db, QStringLiteral("DROP")));
        QVERIFY(db.RollbackTrans());
        QVERIFY(!db.InTransaction());
        QCOMPARE(fileNames(db), QStringList{QStringLiteral("KEEP")});

        QVERIFY(db.BeginTrans());
        CStatement insert = db.Prepare(QStringLiteral("INSERT INTO Quillary (FileName) VALUES (?)"));
        QVERIFY(insert.IsPrepared());
        QVERIFY(insert.Execute({QStringLiteral("ONE")}));
        QCOMPARE(insert.RowsAffected(), 1);
        QVERIFY(insert.Execute({QStringLiteral("TWO")}));
        QVERIFY(db.CommitTrans());
        CDatabase other;
        QCOMPARE(fileNames(other),
                 (QStringList{QStringLiteral("KEEP"), QStringLiteral("ONE"), QStringLiteral("TWO")}));
    }

    void refusedStatementReportsSQLitesCode()
    {
        QVERIFY(CatalogueFile::CreateFromScript(m_path, QStringLiteral("CREATE TABLE Quillary (FileName TEXT "
                                                                       "CHECK (FileName <> 'BAD'));")));
        CDatabase db;
        CStatement insert = db.Prepare(QStringLiteral("INSERT INTO Quillary (FileName) VALUES (?)"));
        QVERIFY(db.BeginTrans());
        QVERIFY(insert.Execute({QStringLiteral("GOOD")}));
        QVERIFY(!insert.Execute({QStringLiteral("BAD")}));
        QCOMPARE(insert.LastError().code, SQLITE_CONSTRAINT_CHECK);
        QVERIFY(db.InTransaction()); // only the statement was undone
        QVERIFY(db.CommitTrans());
        QCOMPARE(fileNames(db), QStringList{QStringLiteral("GOOD")});
    }

    // Compaction keeps every row and gives the free pages back, in the shipped incremental mode and
    // in a catalogue made without auto-vacuum.
    void compactionShrinksAndKeepsEveryRow_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("incremental") << QString();
        QTest::newRow("no auto-vacuum")
            << QStringLiteral("CREATE TABLE Quillary (ID INTEGER PRIMARY KEY, CDLabel, FileName, FilePath, "
                              "FileSize, CreateDate, LastUpdateDate);");
    }
    void compactionShrinksAndKeepsEveryRow()
    {
        QFETCH(QString, script);
        QVERIFY(script.isEmpty() ? CatalogueFile::CreateFromSchemaFile(m_path, kSchema)
                                 : CatalogueFile::CreateFromScript(m_path, script));
        QStringList before;
        {
            CDatabase db;
            fillAndThin(db, 20000);
            before = fileNames(db);
        }
        const qint64 sizeBefore = QFileInfo(m_path).size();
        QVERIFY(CatalogueCompaction::CompactCatalogue());
        QVERIFY(QFileInfo(m_path).size() < sizeBefore / 2);
        CDatabase db;
        QCOMPARE(scalar(db, QStringLiteral("PRAGMA freelist_count")), 0);
        QCOMPARE(fileNames(db), before);
        QCOMPARE(before.size(), 2000);
        QVariant check;
        QVERIFY(db.QueryValue(QStringLiteral("PRAGMA integrity_check"), &check));
        QCOMPARE(check.toString(), QStringLiteral("ok"));
        // No file is left beside the catalogue.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("ZODidozode.mdb")});
    }

    void compactionWithNothingToReclaimRewritesNothing()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        {
            CDatabase db;
            QVERIFY(addRow(db, QStringLiteral("A")));
        }
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        QVERIFY(CatalogueCompaction::CompactCatalogue());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    // The file is compacted where it is: a connection that stays open across the compaction keeps
    // writing into the same catalogue and none of its rows is lost.
    void compactionUnderAnotherOpenConnectionLosesNothing()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase other;
        fillAndThin(other, 20000);
        QVERIFY(addRow(other, QStringLiteral("BEFORE"), QStringLiteral("OTHER")));
        const ino_t idBefore = inodeOf(m_path);
        QVERIFY(CatalogueCompaction::CompactCatalogue());
        QCOMPARE(inodeOf(m_path), idBefore); // the same file, not a copy put in its place
        for (int i = 0; i < 100; ++i)
            QVERIFY(addRow(other, QStringLiteral("AFTER%1").arg(i), QStringLiteral("OTHER")));

        CDatabase fresh;
        QCOMPARE(scalar(fresh, QStringLiteral("SELECT count(*) FROM Quillary WHERE CDLabel = 'OTHER'")), 101);
        QCOMPARE(scalar(fresh, QStringLiteral("SELECT count(*) FROM Quillary")), 2101);
        QCOMPARE(scalar(fresh, QStringLiteral("PRAGMA freelist_count")), 0);
    }

    // A reader in the middle of its work keeps the compaction from running: false, and the catalogue
    // is untouched and usable.
    void compactionThatCannotRunReportsFalseOnly()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        qint64 freeBefore = 0;
        {
            CDatabase db;
            fillAndThin(db, 5000);
            freeBefore = scalar(db, QStringLiteral("PRAGMA freelist_count"));
        }
        CDatabase::SetBusyTimeout(100);
        {
            CDatabase reader;
            CRecordset rs = reader.GetRecordset(QStringLiteral("SELECT * FROM Quillary"));
            QVERIFY(rs.Next());
            QVERIFY(!CatalogueCompaction::CompactCatalogue());
        }
        CDatabase db;
        QCOMPARE(scalar(db, QStringLiteral("PRAGMA freelist_count")), freeBefore);
        QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM Quillary")), 500);

        // No catalogue at all: false, and nothing is created.
        QVERIFY(!CatalogueCompaction::CompactCatalogue(m_dir->filePath(QStringLiteral("none.mdb"))));
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("none.mdb"))));
        QVERIFY(!CatalogueCompaction::CompactCatalogue(QString()));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_MAIN(DatabaseTest)
#include "tst_db.moc"
