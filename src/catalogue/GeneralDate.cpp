#include "catalogue/GeneralDate.h"

#include "testing/TestSeams.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QTime>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The locale's long time form without its time-zone part ("h:mm:ss AP t" becomes "h:mm:ss AP").
QString withoutTimeZone(const QString &format)
{
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result.append(c);
    }
    return result.simplified();
}

// One piece of a time format: fixed text, or a field of the time of day.
struct Piece
{
    enum Kind { Text, Hour24, Hour12, Minute, Second, Millisecond, AmPm } kind = Text;
    int width = 1;    // 1: no leading zero; 2 (or 3 for milliseconds): zero-padded
    QByteArray text;  // for Text
    int amPmCase = 0; // AmPm: 1 upper, -1 lower, 0 as the locale writes it
};

// Splits a QLocale time format into pieces, reading letters as QLocale::toString(QTime) does.
// Returns false for a format with anything else in it; the slow way is used then.
bool parseTimeFormat(const QString &format, std::vector<Piece> &pieces)
{
    pieces.clear();
    bool hasAmPm = false;
    QString text;
    const auto flushText = [&] {
        if (!text.isEmpty()) {
            pieces.push_back({Piece::Text, 1, text.toUtf8(), 0});
            text.clear();
        }
    };
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            // Quoted text; '' is a quote.
            ++i;
            if (i < n && format.at(i) == u'\'') {
                text += u'\'';
                ++i;
                continue;
            }
            while (i < n) {
                if (format.at(i) == u'\'') {
                    if (i + 1 < n && format.at(i + 1) == u'\'') {
                        text += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += format.at(i++);
            }
            continue;
        }
        if (!c.isLetter()) {
            text += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && format.at(i + run) == c)
            ++run;
        flushText();
        const char16_t letter = c.unicode();
        if (letter == u'h' || letter == u'H' || letter == u'm' || letter == u's') {
            if (run > 2)
                return false;
            const Piece::Kind kind = letter == u'h'   ? Piece::Hour12
                                     : letter == u'H' ? Piece::Hour24
                                     : letter == u'm' ? Piece::Minute
                                                      : Piece::Second;
            pieces.push_back({kind, int(run), {}, 0});
            i += run;
        } else if (letter == u'z') {
            pieces.push_back({Piece::Millisecond, run >= 3 ? 3 : 1, {}, 0});
            i += run;
        } else if (letter == u'a' || letter == u'A') {
            // "AP", "ap", "A", "a", and the mixed "Ap"/"aP" that keep the locale's own case.
            qsizetype used = 1;
            int letterCase = letter == u'A' ? 1 : -1;
            if (i + 1 < n && (format.at(i + 1) == u'p' || format.at(i + 1) == u'P')) {
                used = 2;
                if ((format.at(i + 1) == u'P') != (letter == u'A'))
                    letterCase = 0;
            }
            pieces.push_back({Piece::AmPm, 1, {}, letterCase});
            hasAmPm = true;
            i += used;
        } else {
            return false;
        }
    }
    flushText();
    // "h" counts from 1 to 12 only beside an AM/PM mark.
    if (!hasAmPm) {
        for (Piece &piece : pieces) {
            if (piece.kind == Piece::Hour12)
                piece.kind = Piece::Hour24;
        }
    }
    return true;
}

class Formatter
{
public:
    Formatter() { reset(QLocale::system()); }

    // Takes the formats of the locale the seam names, or the system's again once it names none.
    void follow(const std::optional<QLocale> &chosen)
    {
        if (chosen != m_chosen) {
            m_chosen = chosen;
            reset(chosen.value_or(QLocale::system()));
        }
    }

    std::size_t format(std::time_t seconds, char *out)
    {
        // Files written together share their times: the texts of the last two moments are kept whole
        // (a file's modification and creation times take turns).
        for (Moment &moment : m_moments) {
            if (moment.length > 0 && moment.seconds == seconds) {
                std::memcpy(out, moment.text, moment.length);
                return moment.length;
            }
        }
        const std::size_t length = formatAnew(seconds, out);
        Moment &older = m_moments[m_olderMoment];
        older.seconds = seconds;
        older.length = length;
        std::memcpy(older.text, out, length);
        m_olderMoment ^= 1;
        return length;
    }

private:
    void reset(const QLocale &locale)
    {
        tzset();
        m_locale = locale;
        m_dateFormat = m_locale.dateFormat(QLocale::ShortFormat);
        m_timeFormat = withoutTimeZone(m_locale.timeFormat(QLocale::LongFormat));
        m_fast = m_locale.zeroDigit() == u'0' && parseTimeFormat(m_timeFormat, m_pieces);
        m_am[0] = m_locale.amText().toUtf8();
        m_am[1] = m_locale.amText().toUpper().toUtf8();
        m_am[2] = m_locale.amText().toLower().toUtf8();
        m_pm[0] = m_locale.pmText().toUtf8();
        m_pm[1] = m_locale.pmText().toUpper().toUtf8();
        m_pm[2] = m_locale.pmText().toLower().toUtf8();
        for (Day &day : m_days)
            day = Day{};
        for (Moment &moment : m_moments)
            moment.length = 0;
    }

    std::size_t formatAnew(std::time_t seconds, char *out)
    {
        // localtime_r reads the zone once per process; plain localtime checks the zone file every call.
        std::tm parts{};
        if (localtime_r(&seconds, &parts) == nullptr)
            return 0;
        // Dates of the days met are kept, each day in a slot of its own across 44 years (a disc's
        // files may come from any number of days; a backup disc's, from decades apart).
        const long long dayKey = static_cast<long long>(parts.tm_year) * 1000 + parts.tm_yday;
        const long long dayNumber = static_cast<long long>(parts.tm_year) * 366 + parts.tm_yday;
        Day &day = m_days[static_cast<std::size_t>(dayNumber) % m_days.size()];
        if (day.key != dayKey) {
            const QDate date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
            day.text = m_locale.toString(date, m_dateFormat).toUtf8().left(GeneralDate::kMaxUtf8 / 2);
            day.key = dayKey;
        }
        const QByteArray &dayText = day.text;
        std::size_t length = static_cast<std::size_t>(dayText.size());
        std::memcpy(out, dayText.constData(), length);
        if (parts.tm_hour == 0 && parts.tm_min == 0 && parts.tm_sec == 0)
            return length;
        out[length++] = ' ';
        // A leap second (tm_sec 60) is shown as the last second of its minute.
        const int second = parts.tm_sec < 60 ? parts.tm_sec : 59;
        const std::size_t room = GeneralDate::kMaxUtf8 - length;
        return length + (m_fast ? formatTime(parts.tm_hour, parts.tm_min, second, out + length, room)
                                : slowTime(parts.tm_hour, parts.tm_min, second, out + length, room));
    }

    std::size_t formatTime(int hour, int minute, int second, char *out, std::size_t room) const
    {
        char buffer[GeneralDate::kMaxUtf8];
        std::size_t length = 0;
        const auto put = [&](const char *text, std::size_t size) {
            if (length + size <= sizeof buffer) {
                std::memcpy(buffer + length, text, size);
                length += size;
            }
        };
        const auto number = [&](int value, int width) {
            char digits[4];
            int count = 0;
            do {
                digits[count++] = char('0' + value % 10);
                value /= 10;
            } while (value > 0 && count < 4);
            while (count < width)
                digits[count++] = '0';
            for (int i = count - 1; i >= 0; --i)
                put(&digits[i], 1);
        };
        for (const Piece &piece : m_pieces) {
            switch (piece.kind) {
            case Piece::Text:
                put(piece.text.constData(), std::size_t(piece.text.size()));
                break;
            case Piece::Hour24:
                number(hour, piece.width);
                break;
            case Piece::Hour12:
                number(hour % 12 == 0 ? 12 : hour % 12, piece.width);
                break;
            case Piece::Minute:
                number(minute, piece.width);
                break;
            case Piece::Second:
                number(second, piece.width);
                break;
            case Piece::Millisecond:
                number(0, piece.width);
                break;
            case Piece::AmPm: {
                const QByteArray &mark = (hour < 12 ? m_am : m_pm)[piece.amPmCase == 0  ? 0
                                                                   : piece.amPmCase > 0 ? 1
                                                                                        : 2];
                put(mark.constData(), std::size_t(mark.size()));
                break;
            }
            }
        }
        const std::size_t copied = length < room ? length : room;
        std::memcpy(out, buffer, copied);
        return copied;
    }

    std::size_t slowTime(int hour, int minute, int second, char *out, std::size_t room) const
    {
        const QByteArray text = m_locale.toString(QTime(hour, minute, second), m_timeFormat).toUtf8();
        const std::size_t copied = std::size_t(text.size()) < room ? std::size_t(text.size()) : room;
        std::memcpy(out, text.constData(), copied);
        return copied;
    }

    std::optional<QLocale> m_chosen;
    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    bool m_fast = false;
    std::vector<Piece> m_pieces;
    QByteArray m_am[3];
    QByteArray m_pm[3];
    struct Day
    {
        long long key = -1;
        QByteArray text;
    };
    std::array<Day, 16384> m_days;
    struct Moment
    {
        std::time_t seconds = 0;
        std::size_t length = 0; // 0: nothing kept
        char text[GeneralDate::kMaxUtf8];
    };
    std::array<Moment, 2> m_moments;
    std::size_t m_olderMoment = 0;
};

Formatter &formatter()
{
    static Formatter instance;
    instance.follow(TestSeams::DateLocale());
    return instance;
}

} // namespace

QString GeneralDate::toText(std::time_t seconds)
{
    char text[kMaxUtf8];
    const std::size_t length = toUtf8(seconds, text);
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

std::size_t GeneralDate::toUtf8(std::time_t seconds, char *out)
{
    return formatter().format(seconds, out);
}
