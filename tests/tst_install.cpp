// Installing Quillary: the install rules, the Debian package, and where an installed copy and a
// portable copy keep their catalogue and settings. The installed program runs as an ordinary user
// (nobody, when the tests run as root) with an empty home. To press OK in it, this test program
// starts itself again as that user in the role of the installed program: it points the program
// directory at the installed bin directory, starts up as main() does and drives the real window.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "settings/ProgramFiles.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Set in the environment of the copy of this program that plays the installed program.
const char kChildMode[] = "TST_INSTALL_AS_PROGRAM";
const char kChildProgramDir[] = "TST_INSTALL_PROGRAM_DIR";

const QString kNothingFound = QStringLiteral("Files with search criteria not found.");
const QString kScanFirst = QStringLiteral("Please scan a CD and then save the file list to the database.");
constexpr uid_t kNobody = 65534;
constexpr uid_t kAnotherUser = 65533;

// Every file an install puts under its prefix.
const QStringList kInstalledFiles = {
    "bin/quillary",
    "bin/quillary-cli",
    "share/applications/org.quillary.Quillary.desktop",
    "share/doc/quillary/changelog.gz",
    "share/doc/quillary/copyright",
    "share/icons/hicolor/scalable/apps/org.quillary.Quillary.svg",
    "share/man/man1/quillary-cli.1.gz",
    "share/man/man1/quillary.1.gz",
    "share/metainfo/org.quillary.Quillary.metainfo.xml",
    "share/quillary/ZODidozode.mdb",
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QStringList &command, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        const QString &workingDirectory = QString())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDirectory);
    p.start(command.first(), command.mid(1));
    Run r;
    if (p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// The command as run by an ordinary user: through setpriv when the tests run as root, else as the
// (ordinary) user running them.
QStringList asUser(uid_t uid, const QStringList &command)
{
    if (::geteuid() != 0)
        return command;
    return QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(uid),
                       QStringLiteral("--regid=%1").arg(uid), "--clear-groups", "--"} +
           command;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(data);
}

// The regular files under a directory, relative to it, sorted.
QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Everything under a directory with its size, time and permissions: any write shows.
QStringList snapshot(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo fi(it.next());
        entries << QStringLiteral("%1 %2 %3 %4")
                       .arg(QDir(root).relativeFilePath(fi.filePath()))
                       .arg(fi.size())
                       .arg(fi.lastModified().toMSecsSinceEpoch())
                       .arg(int(fi.permissions()));
    }
    entries.sort();
    return entries;
}

// Runs SQL on a catalogue; the result's first column of the first row, or "error: ...".
QString sql(const QString &path, const char *statement)
{
    sqlite3 *db = nullptr;
    QString result;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, statement, -1, &stmt, nullptr) == SQLITE_OK) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW)
                result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
            else if (rc != SQLITE_DONE)
                result = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            result = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
    } else {
        result = QStringLiteral("error: cannot open");
    }
    sqlite3_close(db);
    return result;
}

// An ordinary user's empty home, and the environment a desktop session would give them.
struct Home
{
    QString path;
    QString dataDir;   // where the user's catalogue belongs
    QString configDir; // where the user's settings file belongs
    QProcessEnvironment env;
};

// In the role of the installed program (run as the ordinary user): starts up as main() does, then
// searches, tries to save and presses OK, printing what it saw as "key=value" lines.
int runAsInstalledProgram()
{
    TestSeams::ProgramDirectory() = qEnvironmentVariable(kChildProgramDir);
    const auto prepared = ProgramFiles::PrepareUserCatalogue(modFunction::ProgramDirectory());
    QStringList lines{QStringLiteral("prepared=%1").arg(int(prepared))};
    TestSeams::MessageBox() = [&lines](QWidget *, const QString &text) {
        lines << "message=" + text.toUtf8().toPercentEncoding();
    };
    bool ended = false;
    TestSeams::EndProgram() = [&ended] { ended = true; };
    {
        frmZIDovidovarar w;
        w.show();
        lines << "databasePath=" +
                     w.findChild<QLineEdit *>("txtDatabasepath")->text().toUtf8().toPercentEncoding();
        w.findChild<QToolButton *>("cmdSearch")->click(); // an empty phrase lists the whole catalogue
        w.findChild<QPushButton *>("cmdAddToDB")->click();
        w.findChild<QPushButton *>("cmdOK")->click();
    }
    lines << QStringLiteral("ended=%1").arg(ended ? 1 : 0);
    std::fputs(qPrintable(lines.join('\n') + '\n'), stdout);
    return 0;
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_root;
    QString m_prefix;
    QString m_asProgram; // a copy of this test program that the ordinary user can reach
    int m_homes = 0;

    bool install(const QString &prefix)
    {
        const Run r = run({QUILLARY_CMAKE_COMMAND, "--install", QUILLARY_BINARY_DIR, "--prefix", prefix});
        if (r.exitCode != 0)
            qWarning("cmake --install failed:\n%s%s", r.out.constData(), r.err.constData());
        return r.exitCode == 0;
    }

    // xdg: "unset", "set" (to folders in the home) or "relative" (which counts as unset)
    Home makeHome(uid_t uid, const QString &xdg)
    {
        Home h;
        h.path = m_root.filePath(QStringLiteral("home%1").arg(++m_homes));
        const QString runtime = h.path + "/runtime";
        if (!QDir().mkpath(runtime) ||
            !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            qFatal("cannot make a home");
        if (::geteuid() == 0) {
            for (const QString &dir : {h.path, runtime})
                if (::chown(QFile::encodeName(dir).constData(), uid, uid) != 0)
                    qFatal("cannot give a home to its user");
        }
        h.env.insert("PATH", "/usr/local/bin:/usr/bin:/bin");
        h.env.insert("HOME", h.path);
        h.env.insert("XDG_RUNTIME_DIR", runtime);
        h.env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                h.env.insert(name, qEnvironmentVariable(name));
        if (xdg == "relative") {
            h.env.insert("XDG_DATA_HOME", "my data");
            h.env.insert("XDG_CONFIG_HOME", "my settings");
        }
        if (xdg == "set") {
            h.env.insert("XDG_DATA_HOME", h.path + "/my data");
            h.env.insert("XDG_CONFIG_HOME", h.path + "/my settings");
            h.dataDir = h.path + "/my data/quillary";
            h.configDir = h.path + "/my settings/quillary";
        } else {
            h.dataDir = h.path + "/.local/share/quillary";
            h.configDir = h.path + "/.config/quillary";
        }
        return h;
    }

    // Starts the installed program as the user and stops it once its window has loaded (loading
    // reads the settings, which makes the user's settings folder). Returns what went wrong, if anything.
    QByteArray startAndStopInstalledProgram(const QString &prefix, uid_t uid, const Home &home)
    {
        QProcess p;
        p.setProcessEnvironment(home.env);
        p.setWorkingDirectory(home.path);
        const QStringList command = asUser(uid, {prefix + "/bin/quillary"});
        p.start(command.first(), command.mid(1));
        QByteArray failure;
        if (!p.waitForStarted(60000))
            return "did not start: " + p.errorString().toUtf8();
        QDeadlineTimer deadline(120000);
        while (!QFileInfo(home.configDir).isDir() && p.state() == QProcess::Running && !deadline.hasExpired())
            p.waitForFinished(50);
        QTest::qWait(500); // a moment of the running window, to see it does not fall over
        if (p.state() != QProcess::Running)
            failure = "ended early:\n" + p.readAllStandardError();
        else if (!QFileInfo(home.configDir).isDir())
            failure = "never loaded its window";
        p.terminate();
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(60000);
        }
        return failure;
    }

    struct Seen
    {
        QString failure; // the output of a run that did not end well
        QMap<QString, QString> values;
        QStringList messages;
    };

    // Runs this test program as the user in the role of the installed program.
    Seen runWindowAsInstalledProgram(const QString &programDir, uid_t uid, const Home &home)
    {
        QProcessEnvironment env = home.env;
        env.insert(kChildMode, "1");
        env.insert(kChildProgramDir, programDir);
        const Run r = run(asUser(uid, {m_asProgram}), env, home.path);
        Seen seen;
        if (r.exitCode != 0)
            seen.failure = QString::fromUtf8(r.out + r.err);
        for (const QByteArray &line : r.out.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq <= 0)
                continue;
            const QString key = QString::fromUtf8(line.left(eq));
            const QString value = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(eq + 1)));
            if (key == "message")
                seen.messages << value;
            else
                seen.values.insert(key, value);
        }
        return seen;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The ordinary user must reach the install and the homes below it.
        QVERIFY(QFile::setPermissions(m_root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                         QFile::ReadGroup | QFile::ExeGroup |
                                                         QFile::ReadOther | QFile::ExeOther));
        m_prefix = m_root.filePath("prefix");
        m_asProgram = m_root.filePath("tst_install");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_asProgram));
        QVERIFY(install(m_prefix));
    }

    void installPutsEveryFileInPlace()
    {
        QCOMPARE(filesUnder(m_prefix), kInstalledFiles);
        for (const QString &file : kInstalledFiles) {
            const QFileInfo fi(m_prefix + '/' + file);
            QVERIFY2(fi.permissions() & QFile::ReadOther, qPrintable(file));
            QCOMPARE(bool(fi.permissions() & QFile::ExeOther), file.startsWith("bin/"));
        }
        // The menu entry starts the program by the name it has in bin/ and shows the installed icon;
        // the metainfo names that entry.
        const QByteArray desktop = readFile(m_prefix + "/share/applications/org.quillary.Quillary.desktop");
        QVERIFY(desktop.contains("\nExec=quillary\n"));
        QVERIFY(desktop.contains("\nIcon=org.quillary.Quillary\n"));
        const QByteArray metainfo = readFile(m_prefix + "/share/metainfo/org.quillary.Quillary.metainfo.xml");
        QVERIFY(metainfo.contains("<id>org.quillary.Quillary</id>"));
        QVERIFY(
            metainfo.contains("<launchable type=\"desktop-id\">org.quillary.Quillary.desktop</launchable>"));
        QCOMPARE(readFile(m_prefix + "/share/icons/hicolor/scalable/apps/org.quillary.Quillary.svg"),
                 readFile(QUILLARY_SOURCE_DIR "/resources/icons/disc.svg"));
        // The shipped catalogue is an empty one, even when the build's own catalogue holds discs.
        QCOMPARE(sql(m_prefix + "/share/quillary/ZODidozode.mdb", "SELECT COUNT(*) FROM Quillary"),
                 QString("0"));
    }

    void validatorsAcceptDesktopEntryAndMetainfo_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("desktop entry")
            << QStringList{"desktop-file-validate", "share/applications/org.quillary.Quillary.desktop"};
        QTest::newRow("metainfo") << QStringList{"appstreamcli", "validate", "--no-net",
                                                 "share/metainfo/org.quillary.Quillary.metainfo.xml"};
    }
    void validatorsAcceptDesktopEntryAndMetainfo()
    {
        QFETCH(QStringList, command);
        if (QStandardPaths::findExecutable(command.first()).isEmpty())
            QSKIP(qPrintable(command.first() + " is not installed (scripts/quillary.sh installs it)"));
        command.last() = m_prefix + '/' + command.last();
        const Run r = run(command);
        QVERIFY2(r.exitCode == 0, (r.out + r.err).constData());
    }

    // Started as an ordinary user with an empty home, the installed program finds no catalogue
    // beside itself, copies the shipped one into the user's data folder, keeps what the user saved
    // there on the next start, and on OK writes its settings into the user's configuration folder.
    // Nothing under the prefix changes.
    void installedCopyKeepsFilesInUserFolders_data()
    {
        QTest::addColumn<uint>("uid");
        QTest::addColumn<QString>("xdg");
        QTest::newRow("XDG variables unset") << uint(kNobody) << "unset";
        QTest::newRow("XDG variables set") << uint(kNobody) << "set";
        QTest::newRow("XDG variables relative") << uint(kNobody) << "relative";
        QTest::newRow("another user") << uint(kAnotherUser) << "unset";
    }
    void installedCopyKeepsFilesInUserFolders()
    {
        QFETCH(uint, uid);
        QFETCH(QString, xdg);
        const Home home = makeHome(uid, xdg);
        const QStringList before = snapshot(m_prefix);
        const QString catalogue = home.dataDir + "/ZODidozode.mdb";

        const QByteArray failure = startAndStopInstalledProgram(m_prefix, uid, home);
        QVERIFY2(failure.isEmpty(), failure.constData());
        QCOMPARE(readFile(catalogue), readFile(m_prefix + "/share/quillary/ZODidozode.mdb"));
        const QFileInfo copy(catalogue);
        QVERIFY(copy.permissions() & QFile::WriteOwner);
        if (::geteuid() == 0)
            QCOMPARE(copy.ownerId(), uid);

        // A disc the user saved stays: the next start does not copy over it.
        QCOMPARE(sql(catalogue,
                     "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, "
                     "LastUpdateDate) VALUES ('DISC01', 'kept.txt', 'DISC01: kept.txt', '1', '', '')"),
                 QString());
        const Seen seen = runWindowAsInstalledProgram(m_prefix + "/bin", uid, home);
        QVERIFY2(seen.failure.isEmpty(), qPrintable(seen.failure));
        QCOMPARE(seen.values.value("prepared"),
                 QString::number(int(ProgramFiles::Preparation::AlreadyThere)));
        QCOMPARE(seen.values.value("databasePath"), catalogue);
        QCOMPARE(seen.messages, QStringList{kScanFirst}); // the search found the saved disc
        QCOMPARE(seen.values.value("ended"), QString("1"));
        QCOMPARE(sql(catalogue, "SELECT FileName FROM Quillary"), QString("kept.txt"));

        QCOMPARE(readFile(home.configDir + "/Quillary.ini"),
                 "[QUILLARY]\nDBPATH=" + catalogue.toUtf8() + "\nSaveLastSetting=0\n");
        if (::geteuid() == 0)
            QCOMPARE(QFileInfo(home.configDir + "/Quillary.ini").ownerId(), uid);
        QCOMPARE(snapshot(m_prefix), before);
        QStringList expected{QDir(home.path).relativeFilePath(catalogue),
                             QDir(home.path).relativeFilePath(home.configDir + "/Quillary.ini")};
        expected.sort();
        QCOMPARE(filesUnder(home.path).filter(QRegularExpression("(ZODidozode|Quillary)")), expected);
    }

    // Without the shipped catalogue the program still starts, makes no catalogue of its own, and
    // its commands give the database-missing message.
    void missingShippedCatalogueGivesMessage()
    {
        const QString prefix = m_root.filePath("incomplete");
        QVERIFY(install(prefix));
        QVERIFY(QFile::remove(prefix + "/share/quillary/ZODidozode.mdb"));
        const QStringList before = snapshot(prefix);
        const Home home = makeHome(kNobody, "unset");

        const QByteArray failure = startAndStopInstalledProgram(prefix, kNobody, home);
        QVERIFY2(failure.isEmpty(), failure.constData());
        const Seen seen = runWindowAsInstalledProgram(prefix + "/bin", kNobody, home);
        QVERIFY2(seen.failure.isEmpty(), qPrintable(seen.failure));
        QCOMPARE(seen.values.value("prepared"),
                 QString::number(int(ProgramFiles::Preparation::NothingShipped)));
        QCOMPARE(seen.values.value("databasePath"), QString());
        QCOMPARE(seen.messages, QStringList(2, modConstant::DatabaseMissingMessage())); // search, then save
        QCOMPARE(readFile(home.configDir + "/Quillary.ini"),
                 QByteArray("[QUILLARY]\nDBPATH=\nSaveLastSetting=0\n"));
        QVERIFY(!QFileInfo::exists(home.dataDir));
        QCOMPARE(filesUnder(home.path).filter("ZODidozode"), QStringList());
        QCOMPARE(snapshot(prefix), before);
    }

    // A copy with the catalogue or the settings file beside its executable keeps using that folder,
    // even with a shipped catalogue where an install would have one; a directory of that name does
    // not count as the file.
    void portableCopyUsesFilesBesideIt_data()
    {
        QTest::addColumn<QString>("beside");
        QTest::addColumn<bool>("portable");
        QTest::newRow("catalogue") << "ZODidozode.mdb" << true;
        QTest::newRow("settings") << "Quillary.ini" << true;
        QTest::newRow("directory named like the catalogue") << "ZODidozode.mdb/" << false;
    }
    void portableCopyUsesFilesBesideIt()
    {
        QFETCH(QString, beside);
        QFETCH(bool, portable);
        const QString copy = m_root.filePath("copy-") + QTest::currentDataTag();
        const QString bin = copy + "/bin";
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(copy + "/share/quillary"));
        const QString shipped = copy + "/share/quillary/ZODidozode.mdb";
        QVERIFY(QFile::copy(m_prefix + "/share/quillary/ZODidozode.mdb", shipped));
        if (beside.endsWith('/'))
            QVERIFY(QDir().mkpath(bin + '/' + beside));
        else if (beside == "Quillary.ini")
            writeFile(bin + '/' + beside, "[QUILLARY]\nSaveLastSetting=1\n");
        else
            QVERIFY(QFile::copy(shipped, bin + '/' + beside));
        qputenv("XDG_DATA_HOME", (copy + "/user-data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (copy + "/user-config").toLocal8Bit());
        TestSeams::ProgramDirectory() = bin;

        const auto prepared = ProgramFiles::PrepareUserCatalogue(modFunction::ProgramDirectory());
        QCOMPARE(prepared,
                 portable ? ProgramFiles::Preparation::Portable : ProgramFiles::Preparation::Copied);
        const QString catalogue =
            portable ? bin + "/ZODidozode.mdb" : copy + "/user-data/quillary/ZODidozode.mdb";
        const QString settings =
            portable ? bin + "/Quillary.ini" : copy + "/user-config/quillary/Quillary.ini";
        const bool hasCatalogue = beside == "ZODidozode.mdb" || !portable;
        int ended = 0;
        TestSeams::EndProgram() = [&ended] { ++ended; };
        {
            frmZIDovidovarar w;
            QCOMPARE(w.findChild<QLineEdit *>("txtDatabasepath")->text(),
                     hasCatalogue ? catalogue : QString());
            w.findChild<QPushButton *>("cmdOK")->click();
        }
        QCOMPARE(ended, 1);
        const QByteArray dbPath = "DBPATH=" + (hasCatalogue ? catalogue.toUtf8() : QByteArray()) + "\n";
        QCOMPARE(readFile(settings), beside == "Quillary.ini"
                                         ? "[QUILLARY]\nSaveLastSetting=1\n" + dbPath
                                         : "[QUILLARY]\n" + dbPath + "SaveLastSetting=0\n");
        if (portable)
            QVERIFY(!QFileInfo::exists(copy + "/user-data") && !QFileInfo::exists(copy + "/user-config"));
        TestSeams::ProgramDirectory() = QString();

        // The build directory is such a copy: its program uses the catalogue the build put beside it.
        QVERIFY(ProgramFiles::IsPortable(QUILLARY_BINARY_DIR));
        QCOMPARE(ProgramFiles::CataloguePath(QUILLARY_BINARY_DIR),
                 QString(QUILLARY_BINARY_DIR "/ZODidozode.mdb"));
        QCOMPARE(ProgramFiles::SettingsFilePath(QUILLARY_BINARY_DIR),
                 QString(QUILLARY_BINARY_DIR "/Quillary.ini"));
    }

    // The package is built from the same install rules, with the files in /usr and the
    // dependencies computed from the program.
    void packageHoldsTheInstall()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "file"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString(tool) + " is not installed (scripts/quillary.sh installs it)"));
        QTemporaryDir out;
        const Run cpack = run({QUILLARY_CPACK_COMMAND, "--config", QUILLARY_BINARY_DIR "/CPackConfig.cmake",
                               "-G", "DEB", "-B", out.path()});
        QVERIFY2(cpack.exitCode == 0, (cpack.out + cpack.err).constData());
        const QString arch = QString::fromUtf8(run({"dpkg", "--print-architecture"}).out.trimmed());
        const QString deb = out.filePath(QStringLiteral("quillary_%1_%2.deb").arg(QUILLARY_VERSION, arch));
        QVERIFY2(QFileInfo(deb).isFile(), qPrintable(QDir(out.path()).entryList().join(' ')));

        const Run fields = run({"dpkg-deb", "-f", deb, "Package", "Version", "Architecture", "Depends"});
        QCOMPARE(fields.exitCode, 0);
        const QString control = QString::fromUtf8(fields.out);
        QVERIFY2(control.startsWith(QStringLiteral("Package: quillary\nVersion: %1\nArchitecture: %2\n")
                                        .arg(QUILLARY_VERSION, arch)),
                 qPrintable(control));
        for (const char *dependency : {"libqt6widgets6", "libsqlite3-0", "libmount1", "libqt6svg6"})
            QVERIFY2(control.contains(dependency), qPrintable(control));

        const Run contents = run({"dpkg-deb", "-c", deb});
        QCOMPARE(contents.exitCode, 0);
        QStringList files;
        for (const QString &line : QString::fromUtf8(contents.out).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('d'))
                continue;
            const QStringList columns = line.simplified().split(' ');
            QCOMPARE(columns.value(1), QString("root/root"));
            QCOMPARE(columns.value(0),
                     QString(columns.last().startsWith("./usr/bin/") ? "-rwxr-xr-x" : "-rw-r--r--"));
            files << columns.last();
        }
        QStringList expected;
        for (const QString &file : kInstalledFiles)
            expected << "./usr/" + file;
        files.sort();
        QCOMPARE(files, expected);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildMode))
        return runAsInstalledProgram();
    InstallTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_install.moc"
