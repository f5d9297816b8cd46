#include "search/SearchCommand.h"

#include "db/Catalogue.h"
#include "search/CatalogueSearch.h"

QString SearchCommand::FailureText() const
{
    return DescribeCatalogueError(m_failure, m_path, CatalogueTask::Reading);
}

SearchCommand::Outcome SearchCommand::Run(const QString &path, const QString &phrase)
{
    m_path = path;
    m_read = 0;
    m_failure = {};
    // One connection for the search, closed when it ends.
    Catalogue db(path);
    if (!db.Open()) {
        m_failure = db.LastError();
        return Outcome::Failed;
    }
    CatalogueSearch search(db.Handle());
    if (!search.find(phrase)) {
        m_failure = search.error();
        return Outcome::Failed;
    }
    const qint64 total = search.count();
    if (total == 0)
        return Outcome::NothingFound;
    m_observer.RowsFound(total);
    qint64 lastYield = 1;
    for (qint64 n = 1; n <= total; ++n) {
        if (!search.next()) {
            m_failure = search.error();
            return Outcome::Failed;
        }
        m_observer.RowRead(n, {search.field(0), search.field(1), search.field(2), search.field(3),
                               search.field(4), search.field(5)});
        m_read = n;
        if (n - lastYield == 50) {
            m_observer.Yield(n, search.field(ListColumns::FileName));
            lastYield = n;
        }
    }
    m_observer.Yield(total, search.field(ListColumns::FileName));
    return Outcome::Listed;
}
