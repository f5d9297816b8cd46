// The settings file and the catalogue's default location.
#include "settings/modFunction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}
} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_ini = m_dir.filePath(QStringLiteral("Quillary.ini"));
        QFile::remove(m_ini);
    }

    void missingFileSectionOrKeyReadsEmpty()
    {
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "SaveLastSetting"), QString());
        writeAll(m_ini, "[OTHER]\nSaveLastSetting=1\n");
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "SaveLastSetting"), QString());
        writeAll(m_ini, "[QUILLARY]\nDBPATH=x\n");
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "SaveLastSetting"), QString());
    }

    void firstWritesCreateFileAndSection()
    {
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "/opt/q/ZODidozode.mdb");
        modFunction::WriteIniValue(m_ini, "QUILLARY", "SaveLastSetting", "0");
        QCOMPARE(readAll(m_ini), QByteArray("[QUILLARY]\nDBPATH=/opt/q/ZODidozode.mdb\nSaveLastSetting=0\n"));
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), QString("/opt/q/ZODidozode.mdb"));
    }

    // Other sections, keys, comments, blank lines and line endings stay byte for byte.
    void writeLeavesEveryOtherByteAlone_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("replace in place") << QByteArray("; my comment\r\n[Other]\r\nkey = a\\b\r\n\r\n"
                                                        "[quillary]\r\n  dbpath = old  \r\n; keep\r\nX=1\r\n")
                                          << QByteArray("; my comment\r\n[Other]\r\nkey = a\\b\r\n\r\n"
                                                        "[quillary]\r\nDBPATH=new\r\n; keep\r\nX=1\r\n");
        QTest::newRow("add key at end of section")
            << QByteArray("[QUILLARY]\nX=1\n; note\n\n[Next]\nY=2\n")
            << QByteArray("[QUILLARY]\nX=1\n; note\nDBPATH=new\n\n[Next]\nY=2\n");
        QTest::newRow("section at end without line break")
            << QByteArray("[A]\nk=v") << QByteArray("[A]\nk=v\n[QUILLARY]\nDBPATH=new\n");
        QTest::newRow("last line of section without line break")
            << QByteArray("[QUILLARY]\nX=1") << QByteArray("[QUILLARY]\nX=1\nDBPATH=new\n");
        QTest::newRow("only the first matching key") << QByteArray("[QUILLARY]\nDBPATH=1\nDBPATH=2\n")
                                                     << QByteArray("[QUILLARY]\nDBPATH=new\nDBPATH=2\n");
    }
    void writeLeavesEveryOtherByteAlone()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeAll(m_ini, before);
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "new");
        QCOMPARE(readAll(m_ini), after);
    }

    void emptyValueReadsBackEmpty()
    {
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "");
        QCOMPARE(readAll(m_ini), QByteArray("[QUILLARY]\nDBPATH=\n"));
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), QString());
    }

    void longValueIsCutTo259()
    {
        const QString value(300, QLatin1Char('v'));
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", value);
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), value.left(259));
        const QString nonAscii(300, QChar(0x00e9));
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", nonAscii);
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), nonAscii.left(259));
    }

    void lineBreakInValueCannotAddKeys()
    {
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "a\nSaveLastSetting=1");
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), QString("a"));
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "SaveLastSetting"), QString());
    }

    void unwritableFileFailsSilently()
    {
        const QString inDirectory = m_dir.filePath("sub");
        QVERIFY(QDir().mkpath(inDirectory));
        modFunction::WriteIniValue(inDirectory, "QUILLARY", "DBPATH", "x"); // a directory, not a file
        QVERIFY(QFileInfo(inDirectory).isDir());
    }

    void defaultDatabasePath()
    {
        modFunction::SetProgramDirectoryForTesting(m_dir.path());
        const QString expected = m_dir.path() + "/ZODidozode.mdb";
        QCOMPARE(modFunction::DefaultDatabasePath(), QString());
        QVERIFY(QDir().mkpath(expected)); // a directory of that name is not the catalogue
        QCOMPARE(modFunction::DefaultDatabasePath(), QString());
        QVERIFY(QDir().rmdir(expected));
        writeAll(expected, "");
        QCOMPARE(modFunction::DefaultDatabasePath(), expected);
        QFile::remove(expected);
        QCOMPARE(modFunction::DefaultDatabasePath(), QString()); // tested anew on every call

        // Joined with exactly one '/', even for a directory that ends in one (a program in "/").
        writeAll(expected, "");
        modFunction::SetProgramDirectoryForTesting(m_dir.path() + '/');
        QCOMPARE(modFunction::SettingsFilePath(), m_dir.path() + "//Quillary.ini");
        QCOMPARE(modFunction::DefaultDatabasePath(), m_dir.path() + "//ZODidozode.mdb");
        modFunction::SetProgramDirectoryForTesting(QString());
    }

private:
    QTemporaryDir m_dir;
    QString m_ini;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
