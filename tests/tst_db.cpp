// The catalogue's connection wrapper and the compaction, on real SQLite files.
#include "settings/modFunction.h"
#include "db/CDatabase.h"
#include "db/CatalogueFile.h"
#include "db/CompactCatalogue.h"

#include <QSqlDatabase>
#include <QtTest>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
// 20,000 rows of which every tenth is kept: a catalogue with many free pages.
const QString kThinned =
    QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                   "INSERT INTO Quillary (FileName) SELECT printf('FILE%06d.DAT', i) FROM n;"
                   "DELETE FROM Quillary WHERE ID % 10 <> 0;");

qint64 scalar(CDatabase &db, const QString &sql)
{
    QVariant v;
    return db.QueryValue(sql, &v) ? v.toLongLong() : -1;
}

// The file names in the order they were added; the recordset's count must match the rows it gives.
QStringList fileNames(CDatabase &db)
{
    QStringList names;
    CRecordset rs = db.GetRecordset(QStringLiteral("SELECT FileName FROM Quillary ORDER BY ID; "));
    while (rs.Next())
        names << rs.Value(QStringLiteral("filename")).toString();
    return rs.RecordCount() == names.size() ? names : QStringList{QStringLiteral("count differs")};
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        modFunction::SetProgramDirectoryForTesting(m_dir->path());
        m_path = m_dir->filePath(QStringLiteral("ZODidozode.mdb"));
        CDatabase::SetBusyTimeout(5000);
    }

    void cleanup() { QCOMPARE(QSqlDatabase::connectionNames(), QStringList()); }

    // Another program holding the catalogue's lock: the wait keeps the window's events going and
    // gives up after the busy time-out.
    void lockWaitKeepsTheWindowGoing()
    {
        QVERIFY(CatalogueFile::CreateFromSchemaFile(m_path, kSchema));
        CDatabase other(m_path);
        QVERIFY(other.BeginTrans());
        CDatabase::SetBusyTimeout(300);
        CDatabase db(m_path);
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!db.BeginTrans());
        QVERIFY(waited.elapsed() >= 250 && ticks > 0);
        QVERIFY(other.RollbackTrans());
    }

    // Compaction keeps every row and gives the free pages back, in the shipped incremental mode and in
    // a catalogue made without auto-vacuum. The file is compacted where it is: a connection open across
    // the compaction keeps writing into the same catalogue and loses none of its rows. An open recordset
    // holds its snapshot and keeps the compaction from running: false, and the catalogue is untouched.
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
        CDatabase other;
        QVERIFY(other.ExecuteScript(kThinned));
        QStringList rows = fileNames(other);
        const qint64 freePages = scalar(other, QStringLiteral("PRAGMA freelist_count"));
        const qint64 sizeBefore = QFileInfo(m_path).size();
        CDatabase::SetBusyTimeout(100);
        {
            CRecordset rs = other.GetRecordset(QStringLiteral("SELECT * FROM Quillary"));
            QVERIFY(!CatalogueCompaction::CompactCatalogue());
        }
        QVERIFY(freePages > 0 && scalar(other, QStringLiteral("PRAGMA freelist_count")) == freePages);

        QVERIFY(CatalogueCompaction::CompactCatalogue());
        QVERIFY(QFileInfo(m_path).size() < sizeBefore / 2);
        for (int i = 0; i < 100; ++i) {
            rows << QStringLiteral("AFTER%1").arg(i);
            QVERIFY(other.ExecuteQuery(QStringLiteral("INSERT INTO Quillary (FileName) VALUES (?)"),
                                       {rows.last()}));
        }
        CDatabase fresh;
        QCOMPARE(fileNames(fresh), rows);
        QCOMPARE(scalar(fresh, QStringLiteral("PRAGMA freelist_count")), 0);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("ZODidozode.mdb")});
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_MAIN(DatabaseTest)
#include "tst_db.moc"
