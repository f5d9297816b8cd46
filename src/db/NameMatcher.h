#pragma once
// The rule a catalogue search matches file names by, as the catalogue's query sees it: the query asks it
// about each candidate name, and for the literal runs it looks up in the search index.

#include <QtGlobal>

#include <string>
#include <string_view>
#include <vector>

class NameMatcher
{
public:
    virtual ~NameMatcher() = default;
    // Whether the name (UTF-8, not folded yet) matches.
    virtual bool matches(std::string_view utf8Name) const = 0;
    // The same for a name of the catalogue's case-folded copy.
    virtual bool matchesFolded(std::string_view foldedName) const = 0;
    // True when every name matches.
    virtual bool matchesEverything() const = 0;
    // Runs of literal folded characters, each at least minCharacters long, that every matching name
    // contains.
    virtual std::vector<std::string> literalRuns(qsizetype minCharacters) const = 0;
    // The rule as a folded phrase that a name contains, in which "%" stands for any run of characters,
    // "_" for any one character and every other character for itself; empty when the rule is not one.
    virtual std::string wildcardPhrase() const { return {}; }
};
