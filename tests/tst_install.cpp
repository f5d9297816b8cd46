// Installing Quillary: the install rules, the Debian package, and where an installed copy and a
// portable copy keep their catalogue and settings. The installed program runs as an ordinary user
// (nobody, when the tests run as root) with an empty home. To press OK in it, this test program
// starts itself again as that user in the role of the installed program: it points the program
// directory at the installed bin directory, starts up as main() does and drives the real window.
#include "app/frmZIDovidovarar.h"
#include "settings/ProgramFiles.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "support/CatalogueFiles.h"
#include "support/InstalledFiles.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Set (to the installed bin directory) for the copy of this program that plays the installed program.
const char kChildProgramDir[] = "TST_INSTALL_PROGRAM_DIR";

constexpr uid_t kNobody = 65534;
const QString kShipped = QStringLiteral("share/quillary/ZODidozode.mdb");
const QString kScanFirst = QStringLiteral("Please scan a CD and then save the file list to the database.");

const QStringList kInstalledFiles = InstalledFiles::all();

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QStringList &command, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        const QString &workingDirectory = QString())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDirectory);
    p.start(command.first(), command.mid(1));
    const bool ended = p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
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

// What find prints for the entries under root, sorted; with kDetails, every entry with its size,
// time and mode, so that any write shows.
QStringList find(const QString &root, const QStringList &expression)
{
    QStringList lines =
        QString::fromUtf8(run(QStringList{"find", root} + expression).out).split('\n', Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}
const QStringList kDetails{"-printf", "%P %s %T@ %m\n"};

// One "key=value" line of what the installed program saw.
QString seen(const QString &key, QString value)
{
    return key + '=' + value.replace('\n', "\\n");
}

// An ordinary user's empty home, and the environment a desktop session would give them.
struct Home
{
    QString path, dataDir, configDir; // the home, where the catalogue and the settings file belong
    QProcessEnvironment env;
};

// In the role of the installed program (run as the ordinary user): starts up as main() does, then
// searches, tries to save and presses OK, printing what it sees as seen() lines.
int runAsInstalledProgram()
{
    const auto say = [](const QString &key, const QString &value) {
        std::puts(qPrintable(seen(key, value)));
    };
    TestSeams::ProgramDirectory() = qEnvironmentVariable(kChildProgramDir);
    say("prepared", QString::number(int(modFunction::PrepareUserCatalogue().outcome)));
    TestSeams::MessageBox() = [&](QWidget *, const QString &text) { say("message", text); };
    TestSeams::EndProgram() = [&] { say("ended", "1"); };
    frmZIDovidovarar w;
    w.show();
    say("databasePath", w.findChild<QLineEdit *>("txtDatabasepath")->text());
    w.findChild<QToolButton *>("cmdSearch")->click(); // an empty phrase lists the whole catalogue
    w.findChild<QPushButton *>("cmdAddToDB")->click();
    w.findChild<QPushButton *>("cmdOK")->click();
    return 0;
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_root;
    QString m_prefix, m_incomplete; // an install, and one without its shipped catalogue
    QString m_asProgram;            // a copy of this test program that the ordinary user can reach
    int m_homes = 0;

    // xdg: "unset", "set" (to folders in the home) or "relative" (which counts as unset)
    Home makeHome(uid_t uid, const QString &xdg)
    {
        Home h;
        h.path = m_root.filePath(QStringLiteral("home%1").arg(++m_homes));
        const QString runtime = h.path + "/runtime";
        for (const QString &dir : {h.path, runtime})
            if (!QDir().mkpath(dir) || ::chmod(QFile::encodeName(dir).constData(), 0700) != 0 ||
                (::geteuid() == 0 && ::chown(QFile::encodeName(dir).constData(), uid, uid) != 0))
                qFatal("cannot make a home for its user");
        h.env.insert("HOME", h.path);
        h.env.insert("XDG_RUNTIME_DIR", runtime);
        h.env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const char *name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                h.env.insert(name, qEnvironmentVariable(name));
        const QString base = xdg == "set" ? h.path + "/" : QString();
        if (xdg != "unset") {
            h.env.insert("XDG_DATA_HOME", base + "my data");
            h.env.insert("XDG_CONFIG_HOME", base + "my settings");
        }
        h.dataDir = h.path + (xdg == "set" ? "/my data" : "/.local/share") + "/quillary";
        h.configDir = h.path + (xdg == "set" ? "/my settings" : "/.config") + "/quillary";
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
        QDeadlineTimer deadline(120000);
        while (!QFileInfo(home.configDir).isDir() && p.state() != QProcess::NotRunning &&
               !deadline.hasExpired())
            p.waitForFinished(50);
        QTest::qWait(500); // a moment of the running window, to see it does not fall over
        const QByteArray failure =
            p.state() != QProcess::Running
                ? "ended early: " + p.errorString().toUtf8() + '\n' + p.readAllStandardError()
            : QFileInfo(home.configDir).isDir() ? QByteArray()
                                                : "never loaded its window";
        p.terminate();
        if (!p.waitForFinished(60000))
            p.kill(); // and the destructor waits for it
        return failure;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The ordinary user must reach the install and the homes below it.
        QVERIFY(::chmod(QFile::encodeName(m_root.path()).constData(), 0755) == 0);
        m_prefix = m_root.filePath("prefix");
        m_incomplete = m_root.filePath("incomplete");
        m_asProgram = m_root.filePath("tst_install");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_asProgram));
        for (const QString &prefix : {m_prefix, m_incomplete}) {
            const Run r = run({QUILLARY_CMAKE_COMMAND, "--install", QUILLARY_BINARY_DIR, "--prefix", prefix});
            QVERIFY2(r.exitCode == 0, (r.out + r.err).constData());
        }
        QVERIFY(QFile::remove(m_incomplete + '/' + kShipped));
    }

    void installPutsEveryFileInPlace()
    {
        QCOMPARE(find(m_prefix, {"-type", "f", "-printf", "%P\n"}), kInstalledFiles);
        // The menu entry starts the program by the name it has in bin/ and shows the installed icon;
        // the metainfo names that entry.
        const char desktop[] = "/share/applications/org.quillary.Quillary.desktop";
        const char metainfo[] = "/share/metainfo/org.quillary.Quillary.metainfo.xml";
        for (const auto &[file, text] :
             {std::pair{desktop, "\nExec=quillary\n"},
              {desktop, "\nIcon=org.quillary.Quillary\n"},
              {metainfo, "<id>org.quillary.Quillary</id>"},
              {metainfo, "<launchable type=\"desktop-id\">org.quillary.Quillary.desktop"}})
            QVERIFY2(readFile(m_prefix + file).contains(text), text);
        QCOMPARE(readFile(m_prefix + "/share/icons/hicolor/scalable/apps/org.quillary.Quillary.svg"),
                 readFile(QUILLARY_SOURCE_DIR "/resources/icons/disc.svg"));
        // The shipped catalogue is an empty one, even when the build's own catalogue holds discs.
        QCOMPARE(CatalogueFiles::value(m_prefix + '/' + kShipped, "SELECT COUNT(*) FROM Quillary"),
                 QVariant(qint64(0)));
        // desktop-file-validate and appstreamcli accept the desktop entry and the metainfo.
        for (const QStringList &command : {QStringList{"desktop-file-validate", desktop},
                                           QStringList{"appstreamcli", "validate", "--no-net", metainfo}}) {
            if (QStandardPaths::findExecutable(command.first()).isEmpty())
                QSKIP(qPrintable(command.first() + " is not installed (scripts/quillary.sh installs it)"));
            const Run r = run(QStringList(command.mid(0, command.size() - 1)) << m_prefix + command.last());
            QVERIFY2(r.exitCode == 0, (r.out + r.err).constData());
        }
    }

    // Started as an ordinary user with an empty home, the installed program finds no catalogue
    // beside itself, copies the shipped one into the user's data folder, keeps what the user saved
    // there on the next start (this test program in its role), and on OK writes its settings into the
    // user's configuration folder. Without a shipped catalogue it still starts, makes no catalogue of
    // its own, and its commands give the database-missing message. Nothing under the prefix changes.
    void installedCopyKeepsFilesInUserFolders_data()
    {
        QTest::addColumn<uint>("uid");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<bool>("shipped");
        QTest::newRow("XDG variables unset") << uint(kNobody) << "unset" << true;
        QTest::newRow("XDG variables set") << uint(kNobody) << "set" << true;
        QTest::newRow("XDG variables relative") << uint(kNobody) << "relative" << true;
        QTest::newRow("another user") << uint(65533) << "unset" << true;
        QTest::newRow("no shipped catalogue") << uint(kNobody) << "unset" << false;
    }
    void installedCopyKeepsFilesInUserFolders()
    {
        QFETCH(uint, uid);
        QFETCH(QString, xdg);
        QFETCH(bool, shipped);
        const QString prefix = shipped ? m_prefix : m_incomplete;
        const Home home = makeHome(uid, xdg);
        const QStringList before = find(prefix, kDetails);
        const QString catalogue = home.dataDir + "/ZODidozode.mdb",
                      settings = home.configDir + "/Quillary.ini";
        const QString dbPath = shipped ? catalogue : QString();
        const auto prepared =
            shipped ? ProgramFiles::Preparation::AlreadyThere : ProgramFiles::Preparation::NothingShipped;

        const QByteArray failure = startAndStopInstalledProgram(prefix, uid, home);
        QVERIFY2(failure.isEmpty(), failure.constData());
        QStringList files{settings},
            lines{seen("prepared", QString::number(int(prepared))), seen("databasePath", dbPath)};
        if (shipped) {
            QCOMPARE(readFile(catalogue), readFile(prefix + '/' + kShipped));
            QVERIFY(QFileInfo(catalogue).permissions() & QFile::WriteOwner);
            QVERIFY(::geteuid() != 0 || QFileInfo(catalogue).ownerId() == uid);
            QVERIFY(CatalogueFiles::exec(catalogue,
                                         "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                                         "CreateDate, LastUpdateDate) VALUES ('DISC01', 'kept.txt', "
                                         "'DISC01: kept.txt', '1', '', '')"));
            files << catalogue;
            lines << seen("message", kScanFirst); // the search finds the saved disc; the save wants a scan
        } else {
            lines << QStringList(2, seen("message", modConstant::DatabaseMissingMessage()));
        }
        QProcessEnvironment env = home.env;
        env.insert(kChildProgramDir, prefix + "/bin");
        const Run r = run(asUser(uid, {m_asProgram}), env, home.path);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts), lines << "ended=1");
        QCOMPARE(CatalogueFiles::value(catalogue, "SELECT FileName FROM Quillary"),
                 shipped ? QVariant(QString("kept.txt")) : QVariant());
        QCOMPARE(readFile(settings), "[QUILLARY]\nDBPATH=" + dbPath.toUtf8() + "\nSaveLastSetting=0\n");
        QVERIFY(::geteuid() != 0 || QFileInfo(settings).ownerId() == uid);
        QCOMPARE(QFileInfo::exists(home.dataDir), shipped);
        QCOMPARE(find(prefix, kDetails), before);
        files.sort();
        QCOMPARE(find(home.path, {"-name", "ZODidozode*", "-o", "-name", "Quillary*"}), files);
    }

    // A copy with the catalogue or the settings file beside its executable (the build directory is
    // one) keeps using that folder, even with a shipped catalogue where an install would have one; a
    // directory of that name does not count as the file.
    void portableCopyUsesFilesBesideIt_data()
    {
        QTest::addColumn<QString>("beside");
        QTest::addColumn<bool>("portable");
        QTest::newRow("build directory") << QString() << true;
        QTest::newRow("catalogue") << "ZODidozode.mdb" << true;
        QTest::newRow("settings") << "Quillary.ini" << true;
        QTest::newRow("directory named like the catalogue") << "ZODidozode.mdb/" << false;
    }
    void portableCopyUsesFilesBesideIt()
    {
        QFETCH(QString, beside);
        QFETCH(bool, portable);
        const QString copy = m_root.filePath(QTest::currentDataTag());
        const QString bin = beside.isEmpty() ? QUILLARY_BINARY_DIR : copy + "/bin";
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(copy + "/share/quillary") &&
                QFile::copy(m_prefix + '/' + kShipped, copy + '/' + kShipped));
        if (!beside.isEmpty())
            QVERIFY(beside.endsWith('/') ? QDir().mkpath(bin + '/' + beside)
                                         : QFile(bin + '/' + beside).open(QIODevice::WriteOnly));
        qputenv("XDG_DATA_HOME", (copy + "/user-data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (copy + "/user-config").toLocal8Bit());
        const ProgramFiles::Layout layout = ProgramFiles::LayoutOf(bin);
        QCOMPARE(ProgramFiles::PrepareUserCatalogue(layout).outcome,
                 portable ? ProgramFiles::Preparation::Portable : ProgramFiles::Preparation::Copied);
        QCOMPARE(ProgramFiles::CataloguePath(layout),
                 (portable ? bin : copy + "/user-data/quillary") + "/ZODidozode.mdb");
        QCOMPARE(ProgramFiles::SettingsFilePath(layout),
                 (portable ? bin : copy + "/user-config/quillary") + "/Quillary.ini");
        QCOMPARE(QFileInfo::exists(copy + "/user-data") || QFileInfo::exists(copy + "/user-config"),
                 !portable);
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

        const QString control = QString::fromUtf8(
            run({"dpkg-deb", "-f", deb, "Package", "Version", "Architecture", "Depends"}).out);
        QVERIFY2(
            control.startsWith(QStringLiteral("Package: quillary\nVersion: %1\nArchitecture: %2\nDepends: ")
                                   .arg(QUILLARY_VERSION, arch)),
            qPrintable(control));
        for (const char *dependency : {"libqt6widgets6", "libsqlite3-0", "libmount1", "libqt6svg6"})
            QVERIFY2(control.contains(dependency), qPrintable(control));

        // Every installed file, owned by root, executable only in bin/.
        QStringList files =
            QString::fromUtf8(run({"dpkg-deb", "-c", deb}).out).split('\n').filter(QRegularExpression("^-"));
        files.replaceInStrings(QRegularExpression("^(\\S+) (\\S+) .* \\./usr/(.*)$"), "\\3 \\1 \\2").sort();
        QStringList expected;
        for (const QString &file : kInstalledFiles)
            expected << file + (file.startsWith("bin/") ? " -rwxr-xr-x" : " -rw-r--r--") + " root/root";
        QCOMPARE(files, expected);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildProgramDir))
        return runAsInstalledProgram();
    InstallTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_install.moc"
