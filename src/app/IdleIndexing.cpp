#include "app/IdleIndexing.h"

#include "db/CompactCatalogue.h"
#include "settings/modFunction.h"

#include <algorithm>
#include <utility>

namespace {
constexpr int kStepMs = 30;
constexpr int kSettleMs = 100;         // after a command: its last repaints and the user's next click first
constexpr int kRetryWhileBusyMs = 200; // a command of the window runs
// Another program holds or reads the catalogue: tried again after a wait that grows to a limit, so a
// long reader costs next to nothing and the work goes on soon after it is done.
constexpr int kRetryLockedFirstMs = 100;
constexpr int kRetryLockedLimitMs = 1600;
constexpr int kLetGoMs = 50; // the work committed so far: another program may write first
} // namespace

IdleIndexing::IdleIndexing(std::function<bool()> busy, QObject *context) : m_busy(std::move(busy))
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, context, [this] { step(); });
}

void IdleIndexing::schedule()
{
    m_timer.start(kSettleMs);
}

void IdleIndexing::pause()
{
    if (m_upkeep) {
        m_upkeep.reset();
        m_timer.start(kRetryWhileBusyMs);
    }
}

void IdleIndexing::step()
{
    if (m_busy()) {
        m_timer.start(kRetryWhileBusyMs);
        return;
    }
    if (!m_upkeep) {
        const QString path = modFunction::DefaultDatabasePath();
        if (path.isEmpty())
            return;
        m_upkeep = std::make_unique<CatalogueIndex::Upkeep>(path);
    }
    switch (m_upkeep->step(kStepMs)) {
    case CatalogueIndex::Step::More:
        m_retryLockedMs = 0;
        m_timer.start(m_upkeep->holdsCatalogue() ? 0 : kLetGoMs);
        return;
    case CatalogueIndex::Step::Busy:
        m_retryLockedMs =
            m_retryLockedMs == 0 ? kRetryLockedFirstMs : std::min(2 * m_retryLockedMs, kRetryLockedLimitMs);
        m_timer.start(m_retryLockedMs);
        return;
    case CatalogueIndex::Step::UpToDate:
    case CatalogueIndex::Step::Failed:
        m_upkeep.reset();
        m_retryLockedMs = 0;
        // The index work frees pages as it merges: the catalogue is compacted once it is done (which
        // costs next to nothing when there is nothing to give back).
        CatalogueCompaction::CompactCatalogue(modFunction::DefaultDatabasePath());
        return;
    }
}
