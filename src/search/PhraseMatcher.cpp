#include "search/PhraseMatcher.h"

#include "db/NameFolding.h"

namespace {

// The position after the character that starts at i (text is valid UTF-8).
size_t nextCharacter(std::string_view text, size_t i)
{
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
        ++i;
    return i;
}

} // namespace

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
