#include "support/IsoImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Runs a tool to its end; false with its last output lines in *message when it fails.
bool runTool(const QString &program, const QStringList &arguments, const QString &outputFile,
             QString *message, int timeoutMs = 120000)
{
    QProcess process;
    // Output goes to a file: a daemonising tool must not keep a pipe of ours open.
    process.setStandardOutputFile(outputFile);
    process.setStandardErrorFile(outputFile, QIODevice::Append);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(30000)) {
        *message = program + " could not be started: " + process.errorString();
        return false;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *message = program + " did not finish within " + QString::number(timeoutMs / 1000) + " s";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        QFile out(outputFile);
        QString text;
        if (out.open(QIODevice::ReadOnly))
            text = QString::fromLocal8Bit(out.readAll()).trimmed();
        const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
        *message = program + " failed (exit code " + QString::number(process.exitCode()) +
                   "): " + lines.mid(qMax(0, int(lines.size()) - 3)).join(" / ");
        return false;
    }
    return true;
}

// A mount point is mounted when it lies on another device than its parent directory.
bool isMountPoint(const QString &path)
{
    struct stat self
    {};
    struct stat parent
    {};
    const QByteArray p = QFile::encodeName(path);
    const QByteArray up = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(p.constData(), &self) != 0 || ::stat(up.constData(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev;
}

} // namespace

IsoImage::IsoImage(const QString &label) : m_label(label)
{
    if (m_dir.isValid()) {
        QDir(m_dir.path()).mkpath("tree");
        QDir(m_dir.path()).mkpath("mnt");
    }
}

IsoImage::~IsoImage()
{
    unmount();
}

QString IsoImage::sourceDir() const
{
    return m_dir.path() + "/tree";
}

QString IsoImage::imagePath() const
{
    return m_dir.path() + "/disc.iso";
}

QString IsoImage::mountPoint() const
{
    QString name = m_mountName;
    if (name.isEmpty())
        name = m_label;
    if (name.trimmed().isEmpty() || name.contains('/') || name == "." || name == "..")
        name = "disc";
    return m_dir.path() + "/mnt/" + name;
}

QString IsoImage::root() const
{
    return mountPoint() + "/";
}

bool IsoImage::fail(const QString &reason)
{
    m_skipReason = reason;
    return false;
}

bool IsoImage::addFile(const QString &relativePath, const QByteArray &content, const QDateTime &modified)
{
    const QString path = sourceDir() + "/" + relativePath;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(content) != content.size())
        return false;
    if (modified.isValid() && !file.setFileTime(modified, QFileDevice::FileModificationTime))
        return false;
    file.close();
    return true;
}

bool IsoImage::addDirectory(const QString &relativePath)
{
    return QDir().mkpath(sourceDir() + "/" + relativePath);
}

QString IsoImage::toolsUnavailableReason()
{
    QStringList missing;
    for (const char *tool : {"xorriso", "fuseiso", "fusermount"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    if (!missing.isEmpty())
        return "cannot mount a disc image: " + missing.join(", ") +
               " not installed (packages xorriso, fuseiso, fuse)";
    if (!QFileInfo::exists("/dev/fuse"))
        return "cannot mount a disc image: no /dev/fuse on this machine (FUSE unavailable)";
    return {};
}

bool IsoImage::build()
{
    if (!m_dir.isValid())
        return fail("cannot make a disc image: no temporary directory");
    if (QStandardPaths::findExecutable("xorriso").isEmpty())
        return fail("cannot make a disc image: xorriso not installed");
    QStringList args{"-as", "mkisofs", "-quiet", "-R", "-J", "-V", m_label};
    args << m_extraArgs << "-o" << imagePath() << sourceDir();
    QString message;
    if (!runTool("xorriso", args, m_dir.path() + "/xorriso.log", &message))
        return fail("cannot make a disc image: " + message);
    m_built = true;
    return true;
}

bool IsoImage::mount()
{
    if (m_mounted)
        return true;
    if (!m_built)
        return fail("cannot mount a disc image: it was not built");
    const QString tools = toolsUnavailableReason();
    if (!tools.isEmpty())
        return fail(tools);
    if (!QDir().mkpath(mountPoint()))
        return fail("cannot mount a disc image: cannot make the mount point " + mountPoint());
    QString message;
    // -n: no ~/.mtab.fuseiso, so the user's home stays untouched.
    if (!runTool("fuseiso", {"-n", imagePath(), mountPoint()}, m_dir.path() + "/fuseiso.log", &message,
                 30000)) {
        QDir().rmdir(mountPoint());
        return fail("cannot mount a disc image with FUSE: " + message);
    }
    // fuseiso returns once mounted; give a slow machine a moment anyway.
    QElapsedTimer waited;
    waited.start();
    while (!isMountPoint(mountPoint()) && waited.elapsed() < 10000)
        QThread::msleep(20);
    if (!isMountPoint(mountPoint())) {
        QDir().rmdir(mountPoint());
        return fail("cannot mount a disc image with FUSE: fuseiso reported success but nothing is "
                    "mounted on " +
                    mountPoint());
    }
    m_mounted = true;
    m_skipReason.clear();
    return true;
}

bool IsoImage::buildAndMount()
{
    return build() && mount();
}

bool IsoImage::unmount()
{
    if (!m_mounted)
        return true;
    const QString log = m_dir.path() + "/fusermount.log";
    QString message;
    QElapsedTimer waited;
    waited.start();
    // A file still open on the disc (a test's own QDirIterator, say) makes it busy for a moment.
    while (isMountPoint(mountPoint()) && waited.elapsed() < 5000) {
        runTool("fusermount", {"-u", mountPoint()}, log, &message, 30000);
        if (isMountPoint(mountPoint()))
            QThread::msleep(50);
    }
    if (isMountPoint(mountPoint()))
        runTool("fusermount", {"-u", "-z", mountPoint()}, log, &message, 30000);
    if (isMountPoint(mountPoint()))
        return false;
    m_mounted = false;
    QDir().rmdir(mountPoint());
    return true;
}
