#include "search/SearchResultModel.h"

#include "catalogue/TextForms.h"

#include <algorithm>
#include <cstring>
#include <limits>

// Each row is stored as six fields, each a length (7 bits a byte, high bit set when more bytes
// follow) followed by that many bytes of UTF-8.

namespace {

size_t lengthSize(size_t length)
{
    size_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

char *putLength(char *out, size_t length)
{
    while (length >= 0x80) {
        *out++ = static_cast<char>(0x80 | (length & 0x7F));
        length >>= 7;
    }
    *out++ = static_cast<char>(length);
    return out;
}

const char *getLength(const char *in, size_t *length)
{
    size_t value = 0;
    int shift = 0;
    unsigned char byte;
    do {
        byte = static_cast<unsigned char>(*in++);
        value |= static_cast<size_t>(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    *length = value;
    return in;
}

} // namespace

SearchResultModel::~SearchResultModel() = default;

int SearchResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_published;
}

QVariant SearchResultModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_published)
        return {};
    if (role == Qt::DisplayRole)
        return TextForms::shownUtf8(field(index.row(), index.column()));
    return {};
}

void SearchResultModel::publishRows()
{
    const int held = static_cast<int>(std::min<qint64>(heldRows(), std::numeric_limits<int>::max()));
    if (held <= m_published)
        return;
    if (m_growing && m_published > 0 && held - m_published < m_published / 2)
        return;
    beginInsertRows(QModelIndex(), m_published, held - 1);
    m_published = held;
    endInsertRows();
}

void SearchResultModel::clear()
{
    beginResetModel();
    m_blocks.clear();
    m_blockUsed = kBlockSize;
    m_rowStart.clear();
    m_rowStart.shrink_to_fit();
    m_published = 0;
    endResetModel();
}

void SearchResultModel::reserve(qint64 rows)
{
    if (rows > 0)
        m_rowStart.reserve(m_rowStart.size() + static_cast<size_t>(rows));
}

char *SearchResultModel::allocate(size_t bytes)
{
    if (bytes > kBlockSize) {
        // An outsized row gets a block of its own; the next row starts a fresh block.
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(bytes));
        m_blockUsed = kBlockSize;
        return m_blocks.back().get();
    }
    if (bytes > kBlockSize - m_blockUsed) {
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
        m_blockUsed = 0;
    }
    char *at = m_blocks.back().get() + m_blockUsed;
    m_blockUsed += bytes;
    return at;
}

void SearchResultModel::appendRow(const std::array<std::string_view, ListColumns::kCount> &texts)
{
    size_t bytes = 0;
    for (std::string_view text : texts)
        bytes += lengthSize(text.size()) + text.size();
    char *out = allocate(bytes);
    m_rowStart.push_back(out);
    for (std::string_view text : texts) {
        out = putLength(out, text.size());
        if (!text.empty())
            std::memcpy(out, text.data(), text.size());
        out += text.size();
    }
}

std::string_view SearchResultModel::field(qint64 row, int column) const
{
    if (row < 0 || row >= heldRows() || column < 0 || column >= ListColumns::kCount)
        return {};
    const char *in = m_rowStart[static_cast<size_t>(row)];
    size_t length = 0;
    for (int c = 0;; ++c) {
        in = getLength(in, &length);
        if (c == column)
            return std::string_view(in, length);
        in += length;
    }
}

QString SearchResultModel::text(qint64 row, int column) const
{
    return TextForms::fromUtf8(field(row, column));
}
