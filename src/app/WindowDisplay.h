#pragma once
// Keeps the window's labels, bars and list views cheap to update during a long command.
// Values are recorded at once but reach the widgets at most every 50 ms, at a yield; new rows reach
// the list views less often as the views grow (a view lays out all its rows whenever rows are added),
// every 100 ms at 200,000 rows shown in all the views together. flush() makes every widget show its exact
// value and every row (at a command's start, before a message box, at the command's end).

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QLabel;
class QProgressBar;
class BatchedTableModel;

class WindowDisplay
{
public:
    WindowDisplay();

    // A label shows at most the first TextForms::kShownLength characters of the text.
    void setText(QLabel *label, const QString &text);
    // Counts beyond a bar's int range are held at its end.
    void setBarRange(QProgressBar *bar, qint64 minimum, qint64 maximum);
    void setBarValue(QProgressBar *bar, qint64 value);
    void watchModel(BatchedTableModel *model);

    // Pushes every pending value to its widget and publishes new rows now.
    void flush();
    // The command's yield: when 50 ms have passed since the last push, has the command give its
    // values (makeValues, when given: a command that makes its texts only when they are shown) and
    // pushes them; then lets the window process its pending events.
    void yield(const std::function<void()> &makeValues = {});

private:
    static constexpr qint64 kIntervalMs = 50;

    void pushValues();
    void publishRows();
    bool rowsDue() const;

    struct BarState
    {
        bool rangeSet = false;
        int minimum = 0;
        int maximum = 0;
        bool valueSet = false;
        int value = 0;
    };
    QHash<QLabel *, QString> m_texts;
    QHash<QProgressBar *, BarState> m_bars;
    QList<BatchedTableModel *> m_models;
    QElapsedTimer m_sincePush;
    QElapsedTimer m_sinceRows;
};
