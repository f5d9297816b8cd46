#pragma once
// The order in which a disc's entries are listed: by name, letter case ignored, as a file manager
// shows them. Names are UTF-8; names equal but for case keep a fixed order (their bytes decide).

#include <string_view>

namespace NameOrder {

// Negative, zero or positive as a sorts before, with or after b, letter case ignored.
int compareIgnoringCase(std::string_view a, std::string_view b);

// The listing order: compareIgnoringCase, and the bytes for names equal but for case.
bool less(std::string_view a, std::string_view b);

// The listing order of names held on the disc as raw bytes and listed as text (TextForms::appendFileName):
// compareIgnoringCase on the texts, then the raw bytes, which differ where the texts do not (a name in
// Latin-1 and the same name in UTF-8).
bool lessByText(std::string_view textA, std::string_view rawA, std::string_view textB, std::string_view rawB);

} // namespace NameOrder
