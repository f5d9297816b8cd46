#include "settings/modFunction.h"

#include "settings/ProgramFiles.h"
#include "settings/modConstant.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <optional>

// The profile format is kept by hand: QSettings rewrites the whole file, escapes backslashes and
// reorders keys, where other sections, keys and comments must stay byte for byte.

namespace {

constexpr int kMaxValueLength = 259;

QString &programDirectoryOverride()
{
    static QString directory;
    return directory;
}

struct Line
{
    qsizetype begin = 0; // first byte of the line
    qsizetype end = 0;   // one past the last byte before the line break
    qsizetype next = 0;  // first byte of the following line
};

QList<Line> splitLines(const QByteArray &data)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype nl = data.indexOf('\n', pos);
        Line line;
        line.begin = pos;
        if (nl < 0) {
            line.end = data.size();
            line.next = data.size();
        } else {
            line.end = (nl > pos && data[nl - 1] == '\r') ? nl - 1 : nl;
            line.next = nl + 1;
        }
        lines.append(line);
        pos = line.next;
    }
    return lines;
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

} // namespace

QString modFunction::ReadIniValue(const QString &filePath, const QString &section, const QString &key)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
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

    QByteArray data;
    {
        QFile file(filePath);
        if (file.exists() && !file.open(QIODevice::ReadOnly))
            return;
        if (file.isOpen())
            data = file.readAll();
    }
    const QByteArray eol = data.contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    const QByteArray entry = key.toUtf8() + '=' + safeValue.toUtf8();
    const QList<Line> lines = splitLines(data);
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
        if (!data.isEmpty() && !data.endsWith('\n'))
            data += eol;
        data += '[' + section.toUtf8() + ']' + eol + entry + eol;
    }

    QSaveFile out(filePath);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write(data);
    out.commit();
}

QString modFunction::ProgramDirectory()
{
    if (!programDirectoryOverride().isEmpty())
        return programDirectoryOverride();
    return QCoreApplication::applicationDirPath();
}

void modFunction::SetProgramDirectoryForTesting(const QString &directory)
{
    programDirectoryOverride() = directory;
}

QString modFunction::SettingsFilePath()
{
    return ProgramFiles::SettingsFilePath(ProgramDirectory());
}

QString modFunction::DefaultDatabasePath()
{
    const QString path = ProgramFiles::CataloguePath(ProgramDirectory());
    return QFileInfo(path).isFile() ? path : QString();
}
