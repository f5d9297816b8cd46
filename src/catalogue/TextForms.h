#pragma once
// Texts of file names and catalogue cells: how names from the file system become text without
// loss, and how much of a text the window shows.

#include <QString>

#include <string>
#include <string_view>

namespace TextForms {

// UTF-8 as text, a leading U+FEFF kept (QString::fromUtf8 drops it as a byte-order mark, but a
// file name may begin with one).
QString fromUtf8(std::string_view utf8);

// Whether a name from the file system is valid UTF-8.
bool isUtf8(std::string_view bytes);
// Appends a name from the file system to out in UTF-8, without loss: a valid UTF-8 name as it is,
// any other byte for byte as Latin-1 (what old discs most often hold), so two different names of
// that kind stay two different texts.
void appendFileName(std::string &out, std::string_view bytes);

// The most characters of one text that a list view's cell or a label shows: laying out a text of
// megabytes would freeze the window for seconds.
inline constexpr qsizetype kShownLength = 1000;
// The text when it is at most kShownLength characters long, else its first kShownLength and "…".
QString shown(const QString &text);
// The same for UTF-8, decoding only the part that is shown.
QString shownUtf8(std::string_view utf8);

} // namespace TextForms
