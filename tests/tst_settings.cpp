// The settings file and the catalogue's default location.
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QStringEncoder>
#include <QtTest>

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
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
}

// Runs work on a thread of its own; when it has not ended within 10 s, opens the FIFO at path for
// writing (so that a read blocked on it gets its end of file) and reports the hang.
bool endsInTime(const std::function<void()> &work, const QString &path)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    const bool inTime = thread->wait(QDeadlineTimer(10'000));
    while (!thread->wait(QDeadlineTimer(10)))
        if (const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
            ::close(fd);
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
        QFile::remove(m_ini);
    }

    // A value reads back as written, cut to 259 characters; a line break in it cannot add a key.
    void valueReadsBack()
    {
        QCOMPARE(read(), QString()); // no file yet
        const std::pair<QString, QString> values[] = {{"", ""},
                                                      {QString(300, 'v'), QString(259, 'v')},
                                                      {QString(300, QChar(0xe9)), QString(259, QChar(0xe9))},
                                                      {"a\nSaveLastSetting=1", "a"}};
        for (const auto &[value, readBack] : values) {
            write(value);
            QCOMPARE(read(), readBack);
        }
        QCOMPARE(read("SaveLastSetting"), QString());
    }

    // The value is read from the first matching key of the section, names ignoring case, spaces
    // trimmed. Other sections, keys, comments, blank lines and line endings stay byte for byte.
    void writeLeavesEveryOtherByteAlone_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("old"); // the value read before the write
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("replace in place") << QByteArray("; my comment\r\n[Other]\r\nkey = a\\b\r\n\r\n"
                                                        "[quillary]\r\n  dbpath = old  \r\n; keep\r\nX=1\r\n")
                                          << "old"
                                          << QByteArray("; my comment\r\n[Other]\r\nkey = a\\b\r\n\r\n"
                                                        "[quillary]\r\nDBPATH=néw\r\n; keep\r\nX=1\r\n");
        QTest::newRow("add key at end of section")
            << QByteArray("[QUILLARY]\nX=1\n; note\n\n[Next]\nDBPATH=other\n") << ""
            << QByteArray("[QUILLARY]\nX=1\n; note\nDBPATH=néw\n\n[Next]\nDBPATH=other\n");
        QTest::newRow("section at end without line break")
            << QByteArray("[OTHER]\nDBPATH=v") << ""
            << QByteArray("[OTHER]\nDBPATH=v\n[QUILLARY]\nDBPATH=néw\n");
        QTest::newRow("last line of section without line break")
            << QByteArray("[QUILLARY]\nX=1") << "" << QByteArray("[QUILLARY]\nX=1\nDBPATH=néw\n");
        QTest::newRow("only the first matching key") << QByteArray("[QUILLARY]\nDBPATH=1\nDBPATH=2\n") << "1"
                                                     << QByteArray("[QUILLARY]\nDBPATH=néw\nDBPATH=2\n");
        // CR, LF and CR LF all end a line; each line keeps its own, a new line takes the most common one.
        QTest::newRow("CR only, added") << QByteArray("[QUILLARY]\rX=1\r[B]\ry=2") << ""
                                        << QByteArray("[QUILLARY]\rX=1\rDBPATH=néw\r[B]\ry=2");
        QTest::newRow("CR only, new section")
            << QByteArray("[A]\rk=v") << "" << QByteArray("[A]\rk=v\r[QUILLARY]\rDBPATH=néw\r");
        QTest::newRow("mixed endings kept") << QByteArray("[QUILLARY]\nDBPATH=old\r\nX=1\r[B]\r\n") << "old"
                                            << QByteArray("[QUILLARY]\nDBPATH=néw\r\nX=1\r[B]\r\n");
        QTest::newRow("new line takes the common ending")
            << QByteArray("[QUILLARY]\r\nX=1\r\nY=2\n\r\n") << ""
            << QByteArray("[QUILLARY]\r\nX=1\r\nY=2\nDBPATH=néw\r\n\r\n");
        // A file with a byte-order mark is read and written in its own UTF-16.
        for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
            const auto utf16 = [encoding](const char *text) {
                return QByteArray(QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(QString(text)));
            };
            const QByteArray tag = encoding == QStringConverter::Utf16LE ? "UTF-16LE" : "UTF-16BE";
            QTest::newRow((tag + ", replaced").constData())
                << utf16("; Grüße\r\n[QUILLARY]\r\nDBPATH=/alt/ü\r\n") << "/alt/ü"
                << utf16("; Grüße\r\n[QUILLARY]\r\nDBPATH=néw\r\n");
            QTest::newRow((tag + ", added").constData())
                << utf16("[QUILLARY]\r\nX=ü\r\n") << "" << utf16("[QUILLARY]\r\nX=ü\r\nDBPATH=néw\r\n");
        }
    }
    void writeLeavesEveryOtherByteAlone()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, old);
        QFETCH(QByteArray, after);
        writeAll(m_ini, before);
        QCOMPARE(read(), old);
        write("néw");
        QCOMPARE(readAll(m_ini), after);
        QCOMPARE(read(), QString("néw"));
    }

    // Only a regular file of sane size is read or written; anything else counts as missing when read and
    // as unwritable when written (silently), without a wait.
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
        struct stat before, after;
        QVERIFY(::lstat(name.constData(), &before) == 0);
        QString value = "<not read>";
        QVERIFY(endsInTime(
            [&] {
                value = read();
                write("y");
            },
            m_ini));
        QCOMPARE(value, QString());
        QVERIFY(::lstat(name.constData(), &after) == 0);
        QVERIFY(after.st_ino == before.st_ino && after.st_mode == before.st_mode);
        if (kind == "huge file")
            QCOMPARE(readAll(m_ini), huge);
        QVERIFY(kind != "directory" || QDir().rmdir(m_ini));
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
        write("new");
        QCOMPARE(QFileInfo(m_ini).symLinkTarget(), target);
        QCOMPARE(readAll(target), QByteArray("[QUILLARY]\nDBPATH=new\n"));
        struct stat info;
        QVERIFY(::stat(name.constData(), &info) == 0);
        QCOMPARE(QString::asprintf("%u:%u %o", info.st_uid, info.st_gid, info.st_mode & 07777),
                 QString("65534:65534 2640"));
        QFile::remove(target);
    }

    // Whether the copy keeps its files beside the program is settled at the first call and kept: a
    // portable copy whose catalogue is deleted has none (until it is back), its settings stay beside
    // it. The catalogue and the settings file are joined to the program's directory with exactly one
    // '/', even to a directory that ends in one (a program in "/"). A directory of that name does not
    // count: tst_install.
    void defaultDatabasePath()
    {
        TestSeams::ProgramDirectory() = m_dir.path() + '/';
        const QString beside = m_dir.path() + "//ZODidozode.mdb";
        writeAll(beside, "");
        QCOMPARE(modFunction::DefaultDatabasePath(), beside);
        QVERIFY(QFile::remove(beside));
        QCOMPARE(modFunction::DefaultDatabasePath(), QString());
        QCOMPARE(modFunction::SettingsFilePath(), m_dir.path() + "//Quillary.ini");
        writeAll(beside, "");
        QCOMPARE(modFunction::DefaultDatabasePath(), beside);
        TestSeams::ProgramDirectory() = QString();
    }

private:
    QString read(const char *k = "DBPATH") const { return modFunction::ReadIniValue(m_ini, "QUILLARY", k); }
    void write(const QString &value, const char *key = "DBPATH") const
    {
        modFunction::WriteIniValue(m_ini, "QUILLARY", key, value);
    }

    QTemporaryDir m_dir;
    const QString m_ini = m_dir.filePath("Quillary.ini");
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
