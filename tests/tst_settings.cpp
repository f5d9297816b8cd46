// The settings file and the catalogue's default location.
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Runs work on a thread of its own; when it has not ended within 10 s, opens the FIFO at path for
// writing (so that a read blocked on it gets its end of file) and reports the hang.
bool endsInTime(const std::function<void()> &work, const QString &path)
{
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread thread([&] {
        work();
        const std::lock_guard lock(mutex);
        done = true;
        ended.notify_one();
    });
    std::unique_lock lock(mutex);
    const bool inTime = ended.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
    while (!ended.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; })) {
        lock.unlock();
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        lock.lock();
    }
    lock.unlock();
    thread.join();
    return inTime;
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
        // CR, LF and CR LF all end a line; each line keeps its own, a new line takes the most common one.
        QTest::newRow("CR only, replaced") << QByteArray("[A]\rk=v\r[QUILLARY]\rDBPATH=old\rX=1\r")
                                           << QByteArray("[A]\rk=v\r[QUILLARY]\rDBPATH=new\rX=1\r");
        QTest::newRow("CR only, added")
            << QByteArray("[QUILLARY]\rX=1\r[B]\ry=2") << QByteArray("[QUILLARY]\rX=1\rDBPATH=new\r[B]\ry=2");
        QTest::newRow("CR only, new section")
            << QByteArray("[A]\rk=v") << QByteArray("[A]\rk=v\r[QUILLARY]\rDBPATH=new\r");
        QTest::newRow("mixed endings kept") << QByteArray("[QUILLARY]\nDBPATH=old\r\nX=1\r[B]\r\n")
                                            << QByteArray("[QUILLARY]\nDBPATH=new\r\nX=1\r[B]\r\n");
        QTest::newRow("new line takes the common ending")
            << QByteArray("[QUILLARY]\r\nX=1\r\nY=2\n\r\n")
            << QByteArray("[QUILLARY]\r\nX=1\r\nY=2\nDBPATH=new\r\n\r\n");
    }
    void writeLeavesEveryOtherByteAlone()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeAll(m_ini, before);
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "new");
        QCOMPARE(readAll(m_ini), after);
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), QString("new"));
    }

    // A file with a byte-order mark is read and written in its own UTF-16.
    void utf16FileStaysUtf16_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::newRow("little-endian") << int(QStringConverter::Utf16LE);
        QTest::newRow("big-endian") << int(QStringConverter::Utf16BE);
    }
    void utf16FileStaysUtf16()
    {
        QFETCH(int, encoding);
        auto utf16 = [encoding](const QString &text) {
            QStringEncoder encoder(QStringConverter::Encoding(encoding), QStringConverter::Flag::WriteBom);
            return QByteArray(encoder(text));
        };
        writeAll(m_ini, utf16("; Grüße\r\n[QUILLARY]\r\nDBPATH=/alt/ü\r\n"));
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH"), QString("/alt/ü"));
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "/neu/é");
        modFunction::WriteIniValue(m_ini, "QUILLARY", "SaveLastSetting", "1");
        QCOMPARE(readAll(m_ini), utf16("; Grüße\r\n[QUILLARY]\r\nDBPATH=/neu/é\r\nSaveLastSetting=1\r\n"));
        QCOMPARE(modFunction::ReadIniValue(m_ini, "QUILLARY", "SaveLastSetting"), QString("1"));
    }

    // Only a regular file of sane size is read or written; anything else counts as missing when read and
    // as unwritable when written, without a wait.
    void onlyARegularFileOfSaneSize_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"fifo", "link to /dev/zero", "directory", "huge file"})
            QTest::newRow(kind) << QString(kind);
    }
    void onlyARegularFileOfSaneSize()
    {
        QFETCH(QString, kind);
        const QByteArray huge = "[QUILLARY]\nDBPATH=x\n" + QByteArray(2 << 20, ';');
        const QByteArray name = QFile::encodeName(m_ini);
        if (kind == "fifo")
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        else if (kind == "directory")
            QVERIFY(QDir().mkpath(m_ini));
        else if (kind == "huge file")
            writeAll(m_ini, huge);
        else
            QVERIFY(QFile::link("/dev/zero", m_ini));
        struct stat before;
        QVERIFY(::lstat(name.constData(), &before) == 0);
        QString read = "<not read>";
        QVERIFY(endsInTime(
            [&] {
                read = modFunction::ReadIniValue(m_ini, "QUILLARY", "DBPATH");
                modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "y");
            },
            m_ini));
        QCOMPARE(read, QString());
        struct stat after;
        QVERIFY(::lstat(name.constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        if (kind == "huge file")
            QCOMPARE(readAll(m_ini), huge);
        if (kind == "directory")
            QVERIFY(QDir().rmdir(m_ini));
    }

    // A rewrite keeps the file's owner, group and permissions, and a link to it stays a link.
    void rewriteKeepsOwnerModeAndLink()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString target = m_dir.filePath("elsewhere.ini");
        writeAll(target, "[QUILLARY]\nDBPATH=old\n");
        const QByteArray name = QFile::encodeName(target);
        QVERIFY(::chown(name.constData(), 65534, 65534) == 0 && ::chmod(name.constData(), 02640) == 0);
        QVERIFY(QFile::link(target, m_ini));
        modFunction::WriteIniValue(m_ini, "QUILLARY", "DBPATH", "new");
        QCOMPARE(QFileInfo(m_ini).symLinkTarget(), target);
        QCOMPARE(readAll(target), QByteArray("[QUILLARY]\nDBPATH=new\n"));
        struct stat info;
        QVERIFY(::stat(name.constData(), &info) == 0);
        QCOMPARE(QString::asprintf("%u:%u %o", info.st_uid, info.st_gid, info.st_mode & 07777),
                 QString("65534:65534 2640"));
        QFile::remove(target);
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
        TestSeams::ProgramDirectory() = m_dir.path();
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
        TestSeams::ProgramDirectory() = m_dir.path() + '/';
        QCOMPARE(modFunction::SettingsFilePath(), m_dir.path() + "//Quillary.ini");
        QCOMPARE(modFunction::DefaultDatabasePath(), m_dir.path() + "//ZODidozode.mdb");
        TestSeams::ProgramDirectory() = QString();
    }

private:
    QTemporaryDir m_dir;
    QString m_ini;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
