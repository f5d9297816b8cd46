#include "support/IsoImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

#include <cstring>

namespace {

// Runs a tool to its end, its output logged in dir: empty when it succeeded, else why not, with its
// last line of output.
QString run(const QString &dir, const QString &program, const QStringList &arguments)
{
    const QString log = dir + '/' + program + ".log";
    if (QStandardPaths::findExecutable(program).isEmpty())
        return program + " is not installed";
    QProcess process;
    // Output goes to a file: fuseiso's daemon must not keep a pipe of ours open.
    process.setStandardOutputFile(log);
    process.setStandardErrorFile(log, QIODevice::Append);
    process.start(program, arguments);
    if (!process.waitForFinished(-1))
        return program + " could not run: " + process.errorString();
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    QFile out(log);
    const QString text = out.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(out.readAll()) : QString();
    return program + " failed: " + text.trimmed().section('\n', -1);
}

} // namespace

IsoImage::IsoImage(const QString &label) : m_label(label)
{
    if (m_dir.isValid())
        QDir(m_dir.path()).mkpath("tree");
}

QString IsoImage::root() const
{
    return m_dir.path() + "/mnt/" + (m_label.trimmed().isEmpty() ? QString("disc") : m_label) + '/';
}

bool IsoImage::addFile(const QString &relativePath, const QByteArray &content, const QDateTime &modified)
{
    QFile file(sourceDir() + '/' + relativePath);
    return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size() && file.flush() &&
           (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
}

bool IsoImage::build()
{
    const QString error = run(m_dir.path(), "xorriso",
                              QStringList{"-as", "mkisofs", "-quiet"} + m_options +
                                  QStringList{"-V", m_label, "-o", imagePath(), sourceDir()});
    return error.isEmpty() || fail("cannot make a disc image: " + error);
}

bool IsoImage::buildAndMount()
{
    if (!build())
        return false;
    if (!QFileInfo::exists("/dev/fuse"))
        return fail("cannot mount a disc image: no /dev/fuse on this machine (FUSE unavailable)");
    const QString mountPoint = root().chopped(1);
    QDir().mkpath(mountPoint);
    const QString error = run(m_dir.path(), "fuseiso", {"-n", imagePath(), mountPoint});
    m_mounted = error.isEmpty();
    if (!m_mounted)
        QDir().rmdir(mountPoint);
    return m_mounted || fail("cannot mount a disc image with FUSE: " + error);
}

bool IsoImage::unmount()
{
    const QString mountPoint = root().chopped(1);
    // Lazily: a file a test still holds open on the disc does not keep it mounted.
    if (m_mounted && run(m_dir.path(), "fusermount", {"-u", "-z", mountPoint}).isEmpty()) {
        m_mounted = false;
        QDir().rmdir(mountPoint);
    }
    return !m_mounted;
}

bool IsoImage::makeDirectoryContainItself(const QByteArray &isoName)
{
    QFile image(imagePath());
    if (!image.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = image.readAll();
    int changed = 0;
    for (qsizetype block = 0; block + 2048 <= bytes.size(); block += 2048) {
        // A directory's block begins with its "." record (a name of the one byte 0), naming itself.
        auto *first = reinterpret_cast<uchar *>(bytes.data() + block);
        if (first[0] < 34 || first[32] != 1 || first[33] != 0 || !(first[25] & 2) ||
            qFromLittleEndian<quint32>(first + 2) != quint32(block / 2048))
            continue;
        for (std::size_t at = first[0]; at + 34 <= 2048 && first[at] != 0; at += first[at]) {
            uchar *record = first + at;
            if ((record[25] & 2) && record[32] == isoName.size() &&
                std::memcmp(record + 33, isoName.constData(), std::size_t(isoName.size())) == 0) {
                std::memcpy(record + 2, first + 2, 8); // the extent of ".", in both byte orders
                ++changed;
            }
        }
    }
    return changed > 0 && image.seek(0) && image.write(bytes) == bytes.size();
}
