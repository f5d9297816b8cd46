#include "catalogue/clsFile.h"

#include "catalogue/GeneralDate.h"
#include "catalogue/TextForms.h"

#include <QByteArray>
#include <QFile>
#include <QHash>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// Disc labels, each kept once for every record that names it. A scan uses one label for all its
// records, so the table stays tiny; ids never change, so records need no updating.
class LabelTable
{
public:
    LabelTable()
    {
        m_utf8.emplace_back();
        m_texts.emplace_back();
        m_ids.insert(QByteArray(), 0);
    }

    quint32 idOf(std::string_view utf8)
    {
        const QByteArray key = QByteArray::fromRawData(utf8.data(), static_cast<qsizetype>(utf8.size()));
        const auto found = m_ids.constFind(key);
        if (found != m_ids.cend())
            return found.value();
        const QByteArray owned(utf8.data(), static_cast<qsizetype>(utf8.size()));
        const auto id = static_cast<quint32>(m_utf8.size());
        m_utf8.push_back(owned);
        m_texts.push_back(TextForms::fromUtf8(view(owned)));
        m_ids.insert(owned, id);
        return id;
    }

    quint32 idOf(const QString &label)
    {
        // The walker hands the same label for every file of a scan.
        if (m_lastValid && label == m_lastText)
            return m_lastId;
        const QByteArray utf8 = label.toUtf8();
        m_lastId = idOf(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
        m_lastText = label;
        m_lastValid = true;
        return m_lastId;
    }

    std::string_view utf8(quint32 id) const
    {
        const QByteArray &text = m_utf8[id];
        return {text.constData(), static_cast<std::size_t>(text.size())};
    }
    const QString &text(quint32 id) const { return m_texts[id]; }

private:
    std::vector<QByteArray> m_utf8;
    std::vector<QString> m_texts;
    QHash<QByteArray, quint32> m_ids;
    bool m_lastValid = false;
    QString m_lastText;
    quint32 m_lastId = 0;
};

LabelTable &labels()
{
    static LabelTable table;
    return table;
}

constexpr std::string_view kLabelSeparator = ": ";

} // namespace

clsFile::SharedDirectory::SharedDirectory(std::string_view text)
    : m_block(static_cast<Block *>(::operator new(sizeof(Block) + text.size())))
{
    new (m_block) Block{{1}, static_cast<quint32>(text.size())};
    if (!text.empty())
        std::memcpy(reinterpret_cast<char *>(m_block + 1), text.data(), text.size());
}

clsFile::SharedDirectory::SharedDirectory(const SharedDirectory &other) noexcept : m_block(other.m_block)
{
    if (m_block)
        m_block->references.fetch_add(1, std::memory_order_relaxed);
}

clsFile::SharedDirectory &clsFile::SharedDirectory::operator=(SharedDirectory other) noexcept
{
    std::swap(m_block, other.m_block);
    return *this;
}

clsFile::SharedDirectory::~SharedDirectory()
{
    if (m_block && m_block->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_block->~Block();
        ::operator delete(m_block);
    }
}

std::string_view clsFile::SharedDirectory::text() const
{
    if (!m_block)
        return {};
    return {reinterpret_cast<const char *>(m_block + 1), m_block->length};
}

clsFile::clsFile(const clsFile &other)
    : m_directory(other.m_directory), m_length(other.m_length), m_label(other.m_label), m_flags(other.m_flags)
{
    if (other.m_text) {
        const std::size_t bytes = other.heapBytes();
        m_text = std::make_unique_for_overwrite<char[]>(bytes);
        std::memcpy(m_text.get(), other.m_text.get(), bytes);
    }
}

clsFile &clsFile::operator=(const clsFile &other)
{
    if (this != &other) {
        clsFile copy(other);
        *this = std::move(copy);
    }
    return *this;
}

std::size_t clsFile::heapBytes() const
{
    if (!m_text)
        return 0;
    std::size_t bytes = 0;
    for (int i = 0; i < PieceCount; ++i) {
        if (i == Name && (m_flags & NameEndsPath))
            continue;
        if (i == Create && (m_flags & CreateIsUpdate))
            continue;
        bytes += m_length[i];
    }
    return bytes;
}

std::string_view clsFile::piece(Piece which) const
{
    if (which == Name && (m_flags & NameEndsPath)) {
        const std::string_view path = piece(Path);
        return path.substr(path.size() - m_length[Name]);
    }
    if (which == Create && (m_flags & CreateIsUpdate))
        return piece(Update);
    if (!m_text)
        return {};
    std::size_t offset = 0;
    for (int i = 0; i < which; ++i) {
        if (i == Name && (m_flags & NameEndsPath))
            continue;
        offset += m_length[i];
    }
    return {m_text.get() + offset, m_length[which]};
}

QString clsFile::text(Piece which) const
{
    return TextForms::fromUtf8(piece(which));
}

void clsFile::storeScanned(quint32 labelId, std::string_view name, std::string_view relativePath,
                           std::string_view size, std::string_view update, std::string_view create,
                           SharedDirectory directory)
{
    unsigned char flags = PathAfterLabel;
    std::array<quint32, PieceCount> length{};
    length[Name] = static_cast<quint32>(name.size());
    length[Path] = static_cast<quint32>(relativePath.size());
    length[Size] = static_cast<quint32>(size.size());
    length[Update] = static_cast<quint32>(update.size());
    length[Create] = static_cast<quint32>(create.size());
    const bool nameEndsPath = relativePath.ends_with(name);
    if (nameEndsPath)
        flags |= NameEndsPath;
    const bool sameTimes = create == update;
    if (sameTimes)
        flags |= CreateIsUpdate;

    std::size_t bytes = (nameEndsPath ? 0 : name.size()) + relativePath.size() + size.size() + update.size() +
                        (sameTimes ? 0 : create.size());
    std::unique_ptr<char[]> text;
    if (bytes > 0) {
        text = std::make_unique_for_overwrite<char[]>(bytes);
        char *out = text.get();
        const auto put = [&out](std::string_view part) {
            if (!part.empty())
                std::memcpy(out, part.data(), part.size());
            out += part.size();
        };
        if (!nameEndsPath)
            put(name);
        put(relativePath);
        put(size);
        put(update);
        if (!sameTimes)
            put(create);
    }
    m_text = std::move(text);
    m_directory = std::move(directory);
    m_length = length;
    m_label = labelId;
    m_flags = flags;
}

void clsFile::store(const Pieces &pieces)
{
    const quint32 labelId = labels().idOf(pieces.label);
    const std::string_view label = labels().utf8(labelId);
    std::string_view path = pieces.path;
    const bool afterLabel = path.size() >= label.size() + kLabelSeparator.size() && path.starts_with(label) &&
                            path.substr(label.size()).starts_with(kLabelSeparator);
    if (afterLabel) {
        storeScanned(labelId, pieces.name, path.substr(label.size() + kLabelSeparator.size()), pieces.size,
                     pieces.update, pieces.create, {});
        return;
    }
    // A path of another form is kept whole.
    storeScanned(labelId, pieces.name, path, pieces.size, pieces.update, pieces.create, {});
    m_flags &= static_cast<unsigned char>(~PathAfterLabel);
}

QString clsFile::CDLabelName() const
{
    return labels().text(m_label);
}
QString clsFile::FileName() const
{
    return text(Name);
}
QString clsFile::FileSize() const
{
    return text(Size);
}
QString clsFile::CreateDate() const
{
    return text(Create);
}
QString clsFile::LastUpdateDate() const
{
    return text(Update);
}

std::string_view clsFile::relativePath(std::string &buffer) const
{
    if (!m_directory)
        return piece(Path);
    buffer.assign(m_directory.text());
    buffer += piece(Path);
    return buffer;
}

QString clsFile::FilePath() const
{
    if (!(m_flags & PathAfterLabel))
        return text(Path);
    std::string joined;
    const std::string_view relative = relativePath(joined);
    const QString &label = labels().text(m_label);
    QString result;
    result.reserve(label.size() + 2 + static_cast<qsizetype>(relative.size()));
    result += label;
    result += QLatin1String(kLabelSeparator.data(), static_cast<qsizetype>(kLabelSeparator.size()));
    result += TextForms::fromUtf8(relative);
    return result;
}

std::string_view clsFile::CDLabelNameUtf8() const
{
    return labels().utf8(m_label);
}

std::string_view clsFile::FilePathUtf8(std::string &buffer) const
{
    if (!(m_flags & PathAfterLabel))
        return piece(Path);
    buffer.assign(labels().utf8(m_label));
    buffer += kLabelSeparator;
    buffer += m_directory.text();
    buffer += piece(Path);
    return buffer;
}

void clsFile::setAll(const QString &strCDLabelName, const QString &strFileName, const QString &strFilePath,
                     const QString &strFileSize, const QString &strCreateDate,
                     const QString &strLastUpdateDate)
{
    const QByteArray label = strCDLabelName.toUtf8();
    const QByteArray name = strFileName.toUtf8();
    const QByteArray path = strFilePath.toUtf8();
    const QByteArray size = strFileSize.toUtf8();
    const QByteArray create = strCreateDate.toUtf8();
    const QByteArray update = strLastUpdateDate.toUtf8();
    store({view(label), view(name), view(path), view(size), view(update), view(create)});
}

bool clsFile::SetFileInformation(const QString &root, const QString &relativePath, const QString &label)
{
    QString relative = relativePath;
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    QByteArray full = QFile::encodeName(root);
    if (!full.endsWith('/'))
        full.append('/');
    full.append(QFile::encodeName(relative));
    const QByteArray relativeUtf8 = relative.toUtf8();
    return SetFileInformationAt(AT_FDCWD, full.constData(), view(relativeUtf8), label);
}

bool clsFile::SetFileInformationAt(int dirFd, const char *name, std::string_view relativePath,
                                   const QString &label, int *error)
{
    struct statx info;
    const unsigned int wanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, wanted, &info) != 0) {
        if (error)
            *error = errno;
        return false;
    }
    if (!(info.stx_mask & STATX_TYPE) || !S_ISREG(info.stx_mode)) {
        if (error)
            *error = EINVAL;
        return false;
    }

    // A file system without birth times (every disc format) gives none, or on some an epoch zero.
    const bool hasBirth =
        (info.stx_mask & STATX_BTIME) && (info.stx_btime.tv_sec != 0 || info.stx_btime.tv_nsec != 0);
    const std::time_t modified = static_cast<std::time_t>(info.stx_mtime.tv_sec);
    SetFileInformationFrom(relativePath, label, info.stx_size, modified,
                           hasBirth ? static_cast<std::time_t>(info.stx_btime.tv_sec) : modified);
    return true;
}

void clsFile::SetFileInformationFrom(std::string_view relativePath, const QString &label, quint64 size,
                                     std::time_t modified, std::time_t created)
{
    char sizeText[24];
    const auto sizeEnd = std::to_chars(sizeText, sizeText + sizeof sizeText, size).ptr;

    char update[GeneralDate::kMaxUtf8];
    char create[GeneralDate::kMaxUtf8];
    const std::size_t updateLength = GeneralDate::toUtf8(modified, update);
    std::size_t createLength = updateLength;
    if (created == modified)
        std::memcpy(create, update, updateLength);
    else
        createLength = GeneralDate::toUtf8(created, create);

    const std::size_t slash = relativePath.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
    // The files of a directory come one after another: their records share its text.
    thread_local SharedDirectory lastDirectory;
    SharedDirectory directory;
    if (slash != std::string_view::npos) {
        const std::string_view directoryText = relativePath.substr(0, slash + 1);
        if (lastDirectory.text() != directoryText)
            lastDirectory = SharedDirectory(directoryText);
        directory = lastDirectory;
    }
    const std::string_view afterDirectory = directory ? fileName : relativePath;
    storeScanned(labels().idOf(label), fileName, afterDirectory,
                 std::string_view(sizeText, static_cast<std::size_t>(sizeEnd - sizeText)),
                 std::string_view(update, updateLength), std::string_view(create, createLength),
                 std::move(directory));
}
