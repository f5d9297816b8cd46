#pragma once
// Times as text in the general date form: the locale's short date, a blank and the locale's time with
// seconds (no time zone); a time of exactly midnight gives the date alone. Local time, in the system's
// locale (see TestSeams::DateLocale).

#include <QString>

#include <cstddef>
#include <ctime>

namespace GeneralDate {

// The text for a moment given in seconds since the epoch.
QString toText(std::time_t seconds);

// The same text in UTF-8, written to out (which holds kMaxUtf8 bytes); returns its length.
// The walker calls this for every file: the locale's formats are read once, a day's date is made
// once, and the time of day is put together from the format without going through QLocale.
inline constexpr std::size_t kMaxUtf8 = 256;
std::size_t toUtf8(std::time_t seconds, char *out);

} // namespace GeneralDate
