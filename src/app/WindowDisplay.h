#pragma once
// Keeps the window's labels, bars and list views cheap to update during a long command.
// Values are recorded at once but reach the widgets at most every 50 ms, at a yield; new rows reach
// the list views less often as the views grow (a view lays out all its rows whenever rows are added),
// every 100 ms at 200,000 rows. flush() makes every widget show its exact value and every row (before
// a message box, at a command's end).

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

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
    // The command's yield: pushes pending values when 50 ms have passed since the last push,
    // then lets the window process its pending events.
    void yield();
    // Whether the next yield pushes the values (so a command can make its texts just before).
    bool pushDue() const { return m_sincePush.elapsed() >= m_intervalMs; }

    // The interval between two pushes (tests may shorten it).
    void setInterval(int milliseconds) { m_intervalMs = milliseconds; }

private:
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
    int m_intervalMs = 50;
};
