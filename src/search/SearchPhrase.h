#pragma once
// The search phrase as the user typed it becomes the phrase searched for: leading and trailing blanks
// (space characters) are removed, and nothing else is changed. The window's search box and the
// command line give the same phrase to the same search.

#include <QString>

namespace SearchPhrase {

// The text without leading and trailing blanks; tabs and other white space stay.
QString TrimBlanks(const QString &text);

} // namespace SearchPhrase
