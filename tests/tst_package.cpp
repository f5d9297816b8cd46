// The README's package and run commands as its reader runs them: `sh scripts/quillary.sh package`, then
// `sh scripts/quillary.sh run`, in a fresh copy of the sources, where nothing has been built yet. The copy
// holds the files git tracks, as they are in the working tree: a change is tried before it is committed, and
// a file git does not know is left out, as a clone leaves it out. Each command builds Quillary from nothing
// (a Release build for the package, the developer's build for the run), so this test takes minutes; it runs
// alone and only outside the sanitizer build (see CMakeLists.txt).
#include "support/InstalledFiles.h"

#include <QtTest>

#include <unistd.h>

#include <cstdio>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray output; // standard output and standard error, as they came
};

Run run(const QStringList &command, const QString &workingDirectory = QString(), int timeoutMs = 120000)
{
    QProcess p;
    p.setWorkingDirectory(workingDirectory);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.first(), command.mid(1));
    const bool ended = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, p.readAll()};
}

// The last lines of a long output, for a failure message (Qt Test cuts a long one short).
QByteArray tail(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    return lines.mid(qMax(0, lines.size() - 5)).join('\n');
}

} // namespace

class PackageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString copy() const { return m_dir.filePath("quillary"); }

    // A home of its own for a window started offscreen.
    QProcessEnvironment windowEnvironment() const
    {
        const QString home = m_dir.filePath("home");
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_RUNTIME_DIR", home + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("XDG_DATA_HOME");
        env.remove("XDG_CONFIG_HOME");
        return env;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the package command installs the Debian packages it needs, which takes root");
        for (const char *tool : {"dpkg-deb", "git"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString(tool) + " is not installed"));
        QVERIFY(m_dir.isValid());
        const Run listed = run({"git", "-C", QUILLARY_SOURCE_DIR, "ls-files", "-z"});
        if (listed.exitCode != 0)
            QSKIP(qPrintable("the sources are no git checkout, so their files are not known: " +
                             listed.output.trimmed()));
        qsizetype copied = 0;
        for (const QByteArray &name : listed.output.split('\0')) {
            const QString file = QFile::decodeName(name), from = QUILLARY_SOURCE_DIR "/" + file;
            if (file.isEmpty() || !QFileInfo(from).isFile()) // deleted, not yet committed
                continue;
            QVERIFY(QDir().mkpath(QFileInfo(copy() + '/' + file).path()));
            QVERIFY2(QFile::copy(from, copy() + '/' + file), qPrintable(file)); // with its permissions
            ++copied;
        }
        QVERIFY(copied > 0);
    }

    void packageCommandOnFreshCopy()
    {
        QElapsedTimer took;
        took.start();
        const Run package = run({"sh", "scripts/quillary.sh", "package"}, copy(), -1);
        qInfo("sh scripts/quillary.sh package took %lld s", took.elapsed() / 1000);
        if (package.exitCode != 0)
            std::fwrite(package.output.constData(), 1, size_t(package.output.size()), stdout);
        QVERIFY2(package.exitCode == 0, tail(package.output).constData());

        // The package it leaves in the folder holds every file an install puts in place, the two
        // programs among them.
        const QString arch = QString::fromUtf8(run({"dpkg", "--print-architecture"}).output.trimmed());
        const QString deb = copy() + QStringLiteral("/quillary_%1_%2.deb").arg(QUILLARY_VERSION, arch);
        QVERIFY2(QFileInfo(deb).isFile(), qPrintable(QDir(copy()).entryList(QDir::Files).join(' ')));
        const Run contents = run({"dpkg-deb", "-c", deb});
        QCOMPARE(contents.exitCode, 0);
        QStringList files = QString::fromUtf8(contents.output).split('\n').filter(QRegularExpression("^-"));
        files.replaceInStrings(QRegularExpression("^.* \\./usr/"), QString());
        files.sort();
        QCOMPARE(files, InstalledFiles::all());

        // And the programs in it run.
        const QString unpacked = m_dir.filePath("unpacked");
        QCOMPARE(run({"dpkg-deb", "-x", deb, unpacked}).exitCode, 0);
        const Run version = run({unpacked + "/usr/bin/quillary-cli", "--version"});
        QCOMPARE(version.output, QByteArray("quillary-cli (Quillary) " QUILLARY_VERSION "\n"));
        // The window starts (offscreen, in a home of its own) and stays up until it is ended.
        QProcess window;
        window.setProcessEnvironment(windowEnvironment());
        window.setProcessChannelMode(QProcess::MergedChannels);
        window.start(unpacked + "/usr/bin/quillary", QStringList());
        QVERIFY2(window.waitForStarted() && !window.waitForFinished(3000), window.readAll().constData());
        window.terminate();
        QVERIFY(window.waitForFinished(60000));
    }

    // The run command builds the developer's tree (build/) and starts the window from it, with the
    // empty catalogue beside it; the window stays up until it is ended.
    void runCommandOnFreshCopy()
    {
        QProcess command;
        command.setWorkingDirectory(copy());
        command.setProcessEnvironment(windowEnvironment());
        command.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer took;
        took.start();
        command.start("sh", {"scripts/quillary.sh", "run"});
        QVERIFY(command.waitForStarted());
        // The script ends by becoming the window program.
        const QString window = copy() + "/build/quillary";
        const QString exe = QStringLiteral("/proc/%1/exe").arg(command.processId());
        while (!QFileInfo::exists(window) ||
               QFileInfo(exe).canonicalFilePath() != QFileInfo(window).canonicalFilePath()) {
            QVERIFY2(!command.waitForFinished(1000), tail(command.readAll()).constData());
            QVERIFY2(took.elapsed() < 3000 * 1000, "the run command built for more than 50 minutes");
        }
        qInfo("sh scripts/quillary.sh run took %lld s to start the window", took.elapsed() / 1000);
        QVERIFY(QFileInfo(copy() + "/build/ZODidozode.mdb").isFile());
        QVERIFY2(!command.waitForFinished(3000), tail(command.readAll()).constData());
        command.terminate();
        QVERIFY(command.waitForFinished(60000));
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
