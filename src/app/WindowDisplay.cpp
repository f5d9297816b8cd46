#include "app/WindowDisplay.h"

#include "catalogue/ListColumns.h"
#include "catalogue/TextForms.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <limits>

WindowDisplay::WindowDisplay()
{
    m_sincePush.start();
    m_sinceRows.start();
}

void WindowDisplay::setText(QLabel *label, const QString &text)
{
    m_texts.insert(label, TextForms::shown(text));
}

namespace {
int barNumber(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max()));
}
} // namespace

void WindowDisplay::setBarRange(QProgressBar *bar, qint64 minimum, qint64 maximum)
{
    BarState &state = m_bars[bar];
    state.rangeSet = true;
    state.minimum = barNumber(minimum);
    state.maximum = barNumber(maximum);
}

void WindowDisplay::setBarValue(QProgressBar *bar, qint64 value)
{
    BarState &state = m_bars[bar];
    state.valueSet = true;
    state.value = barNumber(value);
}

void WindowDisplay::watchModel(BatchedTableModel *model)
{
    if (!m_models.contains(model))
        m_models.append(model);
}

void WindowDisplay::flush()
{
    pushValues();
    publishRows();
}

void WindowDisplay::yield(const std::function<void()> &makeValues)
{
    if (m_sincePush.elapsed() >= kIntervalMs) {
        if (makeValues)
            makeValues();
        pushValues();
        if (rowsDue())
            publishRows();
    }
    QCoreApplication::processEvents();
}

void WindowDisplay::pushValues()
{
    for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it) {
        if (it.key()->text() != it.value())
            it.key()->setText(it.value());
    }
    m_texts.clear();
    for (auto it = m_bars.cbegin(); it != m_bars.cend(); ++it) {
        QProgressBar *bar = it.key();
        const BarState &state = it.value();
        if (state.rangeSet)
            bar->setRange(state.minimum, state.maximum);
        if (state.valueSet) {
            // A value outside the range is held at its nearer end, as a bar shows it.
            bar->setValue(qBound(bar->minimum(), state.value, bar->maximum()));
        }
    }
    m_bars.clear();
    m_sincePush.restart();
}

void WindowDisplay::publishRows()
{
    for (BatchedTableModel *model : std::as_const(m_models))
        model->publishRows();
    m_sinceRows.restart();
}

bool WindowDisplay::rowsDue() const
{
    // Laying the rows out takes a view some 30 ns a row: one more interval per 200,000 rows shown keeps
    // that near a tenth of the command's time at most, however long the list grows.
    constexpr qint64 kRowsPerInterval = 200'000;
    qint64 shown = 0;
    for (const BatchedTableModel *model : m_models)
        shown += model->rowCount();
    return m_sinceRows.elapsed() >= kIntervalMs * (kRowsPerInterval + shown) / kRowsPerInterval;
}
