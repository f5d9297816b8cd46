#include "cli/Progress.h"

#include "cli/Output.h"

#include <cstdio>

#include <unistd.h>

namespace Cli {

namespace {

// "850 MB", "1.2 GB" (decimal units, as the rate).
QString amount(std::uint64_t bytes)
{
    if (bytes >= 1000000000)
        return QStringLiteral("%1 GB").arg(bytes / 1e9, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / 1e6, 0, 'f', bytes >= 10000000 ? 0 : 1);
}

} // namespace

Progress::Progress() : m_shown(isatty(STDERR_FILENO) == 1) {}

void Progress::startDisc(const QString &label)
{
    m_label = label;
    m_listed = 0;
    m_total = 0;
    m_clock.start();
    m_lastShown = -1000;
}

void Progress::startReading(std::uint64_t totalBytes)
{
    m_bytes = 0;
    m_totalBytes = totalBytes;
    m_readingSince = m_clock.elapsed();
    m_lastShown = -1000;
}

void Progress::startSaving(qint64 total)
{
    m_total = total;
    m_lastShown = -1000;
}

void Progress::clear()
{
    if (m_shown && m_lineShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_lineShown = false;
    }
}

void Progress::done(const QString &text)
{
    show(text, true);
    if (m_shown) {
        std::fputc('\n', stderr);
        m_lineShown = false;
    }
}

void Progress::fileListed(const clsFile &, qint64 key)
{
    m_listed = key + 1;
    if ((m_listed & 255) == 0)
        showListing(false);
}

void Progress::contentRead(std::uint64_t bytes)
{
    m_bytes += bytes;
    if (!m_shown || m_clock.elapsed() - m_lastShown < 100)
        return;
    const double seconds = qMax<qint64>(1, m_clock.elapsed() - m_readingSince) / 1000.0;
    const double rate = m_bytes / seconds;
    QString text = QStringLiteral("reading %1 of %2, %3 MB/s")
                       .arg(amount(m_bytes), amount(m_totalBytes))
                       .arg(rate / 1e6, 0, 'f', 0);
    if (rate > 0 && m_totalBytes > m_bytes) {
        const auto left = static_cast<qint64>((m_totalBytes - m_bytes) / rate);
        text += QStringLiteral(", %1:%2 left").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    show(text, false);
}

void Progress::RecordDone(qint32 savedCount)
{
    if ((savedCount & 255) == 0)
        show(QStringLiteral("saving %1 of %2 files").arg(Grouped(savedCount), Grouped(m_total)), false);
}

void Progress::Working()
{
    show(QStringLiteral("updating the search index"), false);
}

void Progress::showListing(bool always)
{
    const double seconds = qMax<qint64>(1, m_clock.elapsed()) / 1000.0;
    show(QStringLiteral("%1 files (%2 files/s)")
             .arg(Grouped(m_listed), Grouped(static_cast<qint64>(m_listed / seconds))),
         always);
}

void Progress::show(const QString &text, bool always)
{
    if (!m_shown)
        return;
    const qint64 now = m_clock.elapsed();
    if (!always && now - m_lastShown < 100)
        return;
    m_lastShown = now;
    const QByteArray line = "\r\033[K" + (m_label + QStringLiteral(": ") + text).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    m_lineShown = true;
}

} // namespace Cli
