#include "catalogue/GeneralDate.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <array>

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

class Formatter
{
public:
    Formatter() { reset(); }

    void reset()
    {
        m_locale = QLocale::system();
        m_dateFormat = m_locale.dateFormat(QLocale::ShortFormat);
        m_timeFormat = withoutTimeZone(m_locale.timeFormat(QLocale::LongFormat));
        m_dayKey = -1;
        for (Slot &slot : m_slots)
            slot = Slot{};
    }

    const QByteArray &format(std::time_t seconds)
    {
        Slot &slot = m_slots[static_cast<std::size_t>(seconds) % m_slots.size()];
        if (slot.filled && slot.seconds == seconds)
            return slot.text;

        // localtime_r reads the zone once per process; plain localtime checks the zone file every call.
        std::tm parts{};
        if (localtime_r(&seconds, &parts) == nullptr) {
            slot.text.clear();
        } else {
            const long long dayKey = static_cast<long long>(parts.tm_year) * 1000 + parts.tm_yday;
            if (dayKey != m_dayKey) {
                const QDate date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
                m_dayText = m_locale.toString(date, m_dateFormat).toUtf8();
                m_dayKey = dayKey;
            }
            slot.text = m_dayText;
            if (parts.tm_hour != 0 || parts.tm_min != 0 || parts.tm_sec != 0) {
                // A leap second (tm_sec 60) is shown as the last second of its minute.
                const QTime time(parts.tm_hour, parts.tm_min, qMin(parts.tm_sec, 59));
                slot.text.append(' ');
                slot.text.append(m_locale.toString(time, m_timeFormat).toUtf8());
            }
        }
        slot.seconds = seconds;
        slot.filled = true;
        return slot.text;
    }

private:
    struct Slot
    {
        bool filled = false;
        std::time_t seconds = 0;
        QByteArray text;
    };
    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    long long m_dayKey = -1;
    QByteArray m_dayText;
    std::array<Slot, 64> m_slots;
};

Formatter &formatter()
{
    static Formatter instance;
    return instance;
}

} // namespace

QString GeneralDate::toText(std::time_t seconds)
{
    return QString::fromUtf8(toUtf8(seconds));
}

const QByteArray &GeneralDate::toUtf8(std::time_t seconds)
{
    return formatter().format(seconds);
}

void GeneralDate::resetForTesting()
{
    formatter().reset();
}
