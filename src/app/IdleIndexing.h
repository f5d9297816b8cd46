#pragma once
// Brings the catalogue's search index up to date while the window has nothing else to do: after a
// save, and for rows another program added, in steps short enough that input never waits long. A
// command pauses the work before it starts; the work goes on once the window is idle again. Once the
// index is up to date, the catalogue is compacted.

#include "db/CatalogueIndex.h"

#include <QTimer>

#include <functional>
#include <memory>

class IdleIndexing
{
public:
    // busy tells whether a command of the window runs; the timer's events go through context.
    IdleIndexing(std::function<bool()> busy, QObject *context);

    // Starts (or goes on with) the work shortly, once the window has shown what the last command left.
    void schedule();
    // Commits what is done and lets go of the catalogue.
    void pause();

private:
    void step();

    std::function<bool()> m_busy;
    QTimer m_timer;
    std::unique_ptr<CatalogueIndex::Upkeep> m_upkeep;
    int m_retryLockedMs = 0; // the last wait for another program, 0 when there was none
};
