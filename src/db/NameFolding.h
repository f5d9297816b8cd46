#pragma once
// The folded form of a file name: every character replaced by its simple Unicode case fold, as
// UTF-8. The search compares names in this form, so letter case is ignored in every alphabet, and
// the catalogue's search index keeps the names in it.

#include <QString>

#include <string>
#include <string_view>

namespace SearchText {

// Appends the case-folded form of UTF-8 text to out. A byte that does not belong to a valid UTF-8
// sequence becomes U+FFFD, so the result is always valid UTF-8.
void AppendFolded(std::string_view utf8, std::string &out);
std::string Folded(std::string_view utf8);
std::string Folded(const QString &text);

// The number of characters (code points) of valid UTF-8 text.
qsizetype CharacterCount(std::string_view utf8);

} // namespace SearchText
