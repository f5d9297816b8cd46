#pragma once
// Times as text in the general date form: the locale's short date, a blank and the locale's time with
// seconds (no time zone); a time of exactly midnight gives the date alone. Local time.

#include <QByteArray>
#include <QString>

#include <ctime>

namespace GeneralDate {

// The text for a moment given in seconds since the epoch.
QString toText(std::time_t seconds);

// The same text in UTF-8. The reference stays valid until the next call; the formats of the locale
// are read once, and the date of a day and the text of a second are kept, so a walk that meets the
// same times again and again does not format them again.
const QByteArray &toUtf8(std::time_t seconds);

// Rereads the locale's formats and forgets every kept text (for tests that change the locale).
void resetForTesting();

} // namespace GeneralDate
