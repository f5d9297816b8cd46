#include "settings/modFunction.h"

#include "settings/ProgramFiles.h"
#include "settings/modConstant.h"
#include "testing/TestSeams.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The profile format is kept by hand: QSettings rewrites the whole file, escapes backslashes and
// reorders keys, where other sections, keys and comments must stay byte for byte.

// Where a setting that could not be stored leaves a trace (off by default; QT_LOGGING_RULES=
// "quillary.settings.info=true" shows it).
Q_LOGGING_CATEGORY(lcSettings, "quillary.settings", QtWarningMsg)

namespace {

constexpr int kMaxValueLength = 259;
// A settings file holds a few lines; anything bigger is not one.
constexpr qint64 kMaxFileSize = qint64(1) << 20;

struct FdCloser
{
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

enum class Found { File, Missing, Unusable };

// Reads the settings file whole. Only a regular file of at most kMaxFileSize bytes is read: it is
// opened without waiting (a FIFO would block until someone writes to it) and checked before any byte
// is read (a link to a device could give bytes without end). info receives the file's status.
Found readSettingsFile(const QByteArray &path, QByteArray *data, struct stat *info)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Found::Missing : Found::Unusable;
    const FdCloser closer{fd};
    if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode) || info->st_size > kMaxFileSize)
        return Found::Unusable;
    // The file may grow while it is read: reading stops once it is too big.
    data->clear();
    std::array<char, 65536> chunk;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Found::Unusable;
        if (got == 0)
            return Found::File;
        data->append(chunk.data(), got);
        if (data->size() > kMaxFileSize)
            return Found::Unusable;
    }
}

// The settings file as text. A file that starts with a UTF-16 byte-order mark is kept in that
// encoding, as the profile functions of other systems keep it; the lines are worked on in UTF-8.
struct SettingsText
{
    QByteArray utf8;
    std::optional<QStringConverter::Encoding> utf16; // Utf16LE or Utf16BE
    QByteArray oddByte; // a UTF-16 file's last byte when its size is odd, kept as it was
};

SettingsText decodeSettings(const QByteArray &data)
{
    SettingsText text;
    if (data.startsWith("\xFF\xFE"))
        text.utf16 = QStringConverter::Utf16LE;
    else if (data.startsWith("\xFE\xFF"))
        text.utf16 = QStringConverter::Utf16BE;
    if (!text.utf16) {
        text.utf8 = data;
        return text;
    }
    QByteArrayView units = QByteArrayView(data).sliced(2);
    if (units.size() % 2 != 0) {
        text.oddByte = units.last(1).toByteArray();
        units.chop(1);
    }
    QStringDecoder decoder(*text.utf16,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    text.utf8 = QString(decoder(units)).toUtf8();
    return text;
}

QByteArray encodeSettings(const SettingsText &text)
{
    if (!text.utf16)
        return text.utf8;
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QStringEncoder encoder(*text.utf16, QStringConverter::Flag::Stateless | QStringConverter::Flag::WriteBom);
    return QByteArray(encoder(QString(decoder(text.utf8)))) + text.oddByte;
}

struct Line
{
    qsizetype begin = 0; // first byte of the line
    qsizetype end = 0;   // one past the last byte before the line break
    qsizetype next = 0;  // first byte of the following line
};

// CR, LF and CR LF each end a line.
QList<Line> splitLines(const QByteArray &data)
{
    QList<Line> lines;
    qsizetype pos = 0;
    const qsizetype size = data.size();
    while (pos < size) {
        Line line;
        line.begin = pos;
        qsizetype i = pos;
        while (i < size && data[i] != '\n' && data[i] != '\r')
            ++i;
        line.end = i;
        if (i == size)
            line.next = size;
        else if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            line.next = i + 2;
        else
            line.next = i + 1;
        lines.append(line);
        pos = line.next;
    }
    return lines;
}

// The line ending that most lines of the file have (LF when there is none, or on a tie with it).
QByteArray dominantEnding(const QByteArray &data, const QList<Line> &lines)
{
    std::array<qsizetype, 3> counts{}; // LF, CR LF, CR
    for (const Line &line : lines) {
        const qsizetype length = line.next - line.end;
        if (length == 2)
            ++counts[1];
        else if (length == 1)
            ++counts[data[line.end] == '\n' ? 0 : 2];
    }
    if (counts[1] > counts[0] && counts[1] >= counts[2])
        return QByteArrayLiteral("\r\n");
    if (counts[2] > counts[0] && counts[2] > counts[1])
        return QByteArrayLiteral("\r");
    return QByteArrayLiteral("\n");
}

QString lineText(const QByteArray &data, const Line &line)
{
    return QString::fromUtf8(data.constData() + line.begin, line.end - line.begin);
}

// The section name of a "[name]" line, if it is one.
std::optional<QString> sectionName(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() < 2 || !t.startsWith(u'[') || !t.endsWith(u']'))
        return std::nullopt;
    return t.mid(1, t.size() - 2).trimmed();
}

// The key of a "key=value" line, if it is one (comments and blank lines are not).
std::optional<QString> keyName(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    return t.left(eq).trimmed();
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Location
{
    qsizetype sectionLine = -1;   // index of the section's header line
    qsizetype keyLine = -1;       // index of the key's line within the section
    qsizetype lastEntryLine = -1; // last non-blank line of the section
};

Location locate(const QByteArray &data, const QList<Line> &lines, const QString &section, const QString &key)
{
    Location loc;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = lineText(data, lines[i]);
        if (const auto name = sectionName(text)) {
            if (inSection)
                break; // only the first section of that name is used
            if (sameName(*name, section)) {
                inSection = true;
                loc.sectionLine = i;
                loc.lastEntryLine = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!text.trimmed().isEmpty())
            loc.lastEntryLine = i;
        if (const auto k = keyName(text); k && sameName(*k, key)) {
            loc.keyLine = i;
            break;
        }
    }
    return loc;
}

// Writes over the file in place, for when a replacement could not keep the file's owner: the new
// bytes first, then the file cut to their length.
bool writeInPlace(const QString &filePath, const QByteArray &data)
{
    const int fd =
        ::open(QFile::encodeName(filePath).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const FdCloser closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t put =
            ::pwrite(fd, data.constData() + written, std::size_t(data.size() - written), written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        written += put;
    }
    return ::ftruncate(fd, data.size()) == 0 && ::fsync(fd) == 0;
}

// Replaces the file at once (a link's target is written and the link stays). The new file gets the
// old one's owner, group and permissions (existing: its status); where that owner cannot be given
// to it, the old file is written over in place instead. Failures are silent.
bool writeSettingsFile(const QString &filePath, const QByteArray &data, const struct stat *existing)
{
    if (data.size() > kMaxFileSize)
        return false; // it could never be read back
    QSaveFile out(filePath);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (existing) {
        const int fd = out.handle();
        if (fd < 0 || ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
            out.cancelWriting();
            return writeInPlace(filePath, data);
        }
        // After the owner: changing the owner clears the set-user and set-group bits.
        if (::fchmod(fd, existing->st_mode & 07777) != 0) {
            out.cancelWriting();
            return false;
        }
    }
    out.write(data);
    return out.commit();
}

} // namespace

QString modFunction::ReadIniValue(const QString &filePath, const QString &section, const QString &key)
{
    QByteArray raw;
    struct stat info;
    if (readSettingsFile(QFile::encodeName(filePath), &raw, &info) != Found::File)
        return {};
    const QByteArray data = decodeSettings(raw).utf8;
    const QList<Line> lines = splitLines(data);
    const Location loc = locate(data, lines, section, key);
    if (loc.keyLine < 0)
        return {};
    const QString text = lineText(data, lines[loc.keyLine]);
    return text.mid(text.indexOf(u'=') + 1).trimmed().left(kMaxValueLength);
}

void modFunction::WriteIniValue(const QString &filePath, const QString &section, const QString &key,
                                const QString &value)
{
    // A line break in a value would start a new line of its own: the value ends at the first one.
    QString safeValue = value;
    const qsizetype brk = safeValue.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (brk >= 0)
        safeValue.truncate(brk);

    QByteArray raw;
    struct stat info;
    const Found found = readSettingsFile(QFile::encodeName(filePath), &raw, &info);
    if (found == Found::Unusable) {
        qCInfo(lcSettings, "%s is not a settings file that can be written: %s not stored",
               qUtf8Printable(filePath), qUtf8Printable(key));
        return;
    }
    SettingsText text = decodeSettings(raw);
    QByteArray &data = text.utf8;
    const QList<Line> lines = splitLines(data);
    const QByteArray eol = dominantEnding(data, lines);
    const QByteArray entry = key.toUtf8() + '=' + safeValue.toUtf8();
    const Location loc = locate(data, lines, section, key);

    if (loc.keyLine >= 0) {
        const Line &line = lines[loc.keyLine];
        data.replace(line.begin, line.end - line.begin, entry);
    } else if (loc.sectionLine >= 0) {
        const Line &after = lines[loc.lastEntryLine];
        QByteArray insertion = entry + eol;
        if (after.next == after.end) // the file ends without a line break
            insertion.prepend(eol);
        data.insert(after.next, insertion);
    } else {
        if (!data.isEmpty() && !data.endsWith('\n') && !data.endsWith('\r'))
            data += eol;
        data += '[' + section.toUtf8() + ']' + eol + entry + eol;
    }
    if (!writeSettingsFile(filePath, encodeSettings(text), found == Found::File ? &info : nullptr))
        qCInfo(lcSettings, "%s could not be written: %s not stored", qUtf8Printable(filePath),
               qUtf8Printable(key));
}

QString modFunction::ProgramDirectory()
{
    if (!TestSeams::ProgramDirectory().isEmpty())
        return TestSeams::ProgramDirectory();
    return QCoreApplication::applicationDirPath();
}

namespace {

struct CopyState
{
    ProgramFiles::Layout layout;
    QString copyFailure; // why the last copy of the shipped catalogue failed, if it did
};

// Kept with the program directory it was settled for: the program has one for its whole run.
CopyState &thisCopy()
{
    static std::optional<CopyState> state;
    const QString directory = modFunction::ProgramDirectory();
    if (!state || state->layout.programDirectory != directory)
        state = CopyState{ProgramFiles::LayoutOf(directory), {}};
    return *state;
}

} // namespace

QString modFunction::SettingsFilePath()
{
    return ProgramFiles::SettingsFilePath(thisCopy().layout);
}

QString modFunction::DefaultDatabasePath()
{
    const QString path = ProgramFiles::CataloguePath(thisCopy().layout);
    return QFileInfo(path).isFile() ? path : QString();
}

ProgramFiles::Prepared modFunction::PrepareUserCatalogue()
{
    CopyState &copy = thisCopy();
    const ProgramFiles::Prepared prepared = ProgramFiles::PrepareUserCatalogue(copy.layout);
    copy.copyFailure =
        prepared.outcome == ProgramFiles::Preparation::CopyFailed ? prepared.failure : QString();
    return prepared;
}

QString modFunction::CatalogueProblem()
{
    if (!DefaultDatabasePath().isEmpty())
        return {};
    if (thisCopy().copyFailure.isEmpty())
        return modConstant::DatabaseMissingMessage();
    const ProgramFiles::Prepared again = PrepareUserCatalogue();
    if (!DefaultDatabasePath().isEmpty())
        return {};
    return again.outcome == ProgramFiles::Preparation::CopyFailed
               ? modConstant::CatalogueNotMadeMessage(ProgramFiles::CataloguePath(thisCopy().layout),
                                                      again.failure)
               : modConstant::DatabaseMissingMessage();
}
