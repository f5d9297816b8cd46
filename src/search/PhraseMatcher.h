#pragma once
// Matching a file name against the search phrase the way the catalogue's search does it:
// the phrase may appear anywhere in the name, "%" in it stands for any run of characters and
// "_" for any one character, and letter case is ignored in every alphabet.
//
// Both sides are compared in their case-folded form (every character replaced by its simple
// Unicode case fold), as UTF-8. SQLite's own LIKE folds only ASCII letters, so it cannot do this.

#include "db/NameMatcher.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

class PhraseMatcher : public NameMatcher
{
public:
    explicit PhraseMatcher(const QString &phrase);

    // Whether the name contains the phrase. The name is folded first; names of the catalogue's
    // folded copy are already folded and go to matchesFolded().
    bool matches(std::string_view utf8Name) const override;
    bool matchesFolded(std::string_view foldedName) const override;

    // True when the phrase is empty or only "%": every name matches.
    bool matchesEverything() const override { return m_segments.empty(); }

    // The runs of literal characters of the folded phrase (the text between wildcards) that are at
    // least minCharacters long.
    std::vector<std::string> literalRuns(qsizetype minCharacters) const override;
    std::string wildcardPhrase() const override { return m_folded; }

private:
    // A piece is a number of "_" followed by a literal (which may be empty at a segment's end).
    struct Piece
    {
        int anyCharacters = 0;
        std::string literal;
    };
    // The text between two "%": its pieces in order.
    using Segment = std::vector<Piece>;

    // Where the segment first matches at or after from; npos when it does not.
    static size_t findSegment(const Segment &segment, std::string_view text, size_t from, size_t *end);
    static bool matchAt(const Segment &segment, std::string_view text, size_t at, size_t *end);

    std::string m_folded;
    std::vector<Segment> m_segments;
    mutable std::string m_scratch;
};
