#include "search/PhraseMatcher.h"

#include <QChar>

#include <array>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

constexpr std::array<char, 128> makeAsciiFold()
{
    std::array<char, 128> table{};
    for (int c = 0; c < 128; ++c)
        table[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}
constexpr std::array<char, 128> kAsciiFold = makeAsciiFold();

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF are not valid).
size_t decode(std::string_view text, size_t i, char32_t *codePoint)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!isContinuation(byte))
            return 0;
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

void encode(char32_t c, std::string &out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The position after the character that starts at i (text is valid UTF-8).
size_t nextCharacter(std::string_view text, size_t i)
{
    ++i;
    while (i < text.size() && isContinuation(static_cast<unsigned char>(text[i])))
        ++i;
    return i;
}

} // namespace

void SearchText::AppendFolded(std::string_view utf8, std::string &out)
{
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out.push_back(kAsciiFold[byte]);
            ++i;
            continue;
        }
        char32_t c = 0;
        const size_t length = decode(utf8, i, &c);
        if (length == 0) {
            out.append(kReplacement);
            ++i;
            continue;
        }
        encode(QChar::toCaseFolded(c), out);
        i += length;
    }
}

std::string SearchText::Folded(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    AppendFolded(utf8, out);
    return out;
}

std::string SearchText::Folded(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Folded(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

qsizetype SearchText::CharacterCount(std::string_view utf8)
{
    qsizetype count = 0;
    for (char c : utf8) {
        if (!isContinuation(static_cast<unsigned char>(c)))
            ++count;
    }
    return count;
}

PhraseMatcher::PhraseMatcher(const QString &phrase) : m_folded(SearchText::Folded(phrase))
{
    // Split the folded phrase at "%" into segments of pieces ("_" count, then a literal).
    Segment segment;
    Piece piece;
    auto endSegment = [&] {
        if (piece.anyCharacters > 0 || !piece.literal.empty())
            segment.push_back(std::move(piece));
        piece = Piece();
        if (!segment.empty())
            m_segments.push_back(std::move(segment));
        segment = Segment();
    };
    for (char c : m_folded) {
        if (c == '%') {
            endSegment();
        } else if (c == '_') {
            if (!piece.literal.empty()) {
                segment.push_back(std::move(piece));
                piece = Piece();
            }
            ++piece.anyCharacters;
        } else {
            piece.literal.push_back(c);
        }
    }
    endSegment();
}

std::vector<std::string> PhraseMatcher::literalRuns(qsizetype minCharacters) const
{
    std::vector<std::string> runs;
    for (const Segment &segment : m_segments) {
        for (const Piece &piece : segment) {
            if (SearchText::CharacterCount(piece.literal) >= minCharacters)
                runs.push_back(piece.literal);
        }
    }
    return runs;
}

bool PhraseMatcher::matchAt(const Segment &segment, std::string_view text, size_t at, size_t *end)
{
    size_t pos = at;
    for (const Piece &piece : segment) {
        for (int k = 0; k < piece.anyCharacters; ++k) {
            if (pos >= text.size())
                return false;
            pos = nextCharacter(text, pos);
        }
        if (!piece.literal.empty()) {
            if (text.size() - pos < piece.literal.size() ||
                text.compare(pos, piece.literal.size(), piece.literal) != 0)
                return false;
            pos += piece.literal.size();
        }
    }
    *end = pos;
    return true;
}

size_t PhraseMatcher::findSegment(const Segment &segment, std::string_view text, size_t from, size_t *end)
{
    const Piece &first = segment.front();
    if (first.anyCharacters == 0) {
        // Starts with a literal: try only where that literal occurs.
        size_t at = text.find(first.literal, from);
        while (at != std::string_view::npos) {
            if (matchAt(segment, text, at, end))
                return at;
            at = text.find(first.literal, at + 1);
        }
        return std::string_view::npos;
    }
    // Starts with "_": try every character position.
    for (size_t at = from; at < text.size(); at = nextCharacter(text, at)) {
        if (matchAt(segment, text, at, end))
            return at;
    }
    return std::string_view::npos;
}

bool PhraseMatcher::matchesFolded(std::string_view foldedName) const
{
    // Between segments stands "%", and the phrase is open at both ends: taking each segment's
    // first match after the previous one finds a match whenever there is one.
    size_t from = 0;
    for (const Segment &segment : m_segments) {
        size_t end = 0;
        if (findSegment(segment, foldedName, from, &end) == std::string_view::npos)
            return false;
        from = end;
    }
    return true;
}

bool PhraseMatcher::matches(std::string_view utf8Name) const
{
    if (m_segments.empty())
        return true;
    m_scratch.clear();
    SearchText::AppendFolded(utf8Name, m_scratch);
    return matchesFolded(m_scratch);
}
