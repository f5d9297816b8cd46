#include "db/CatalogueHealth.h"

#include <QElapsedTimer>

namespace {

// Asked by SQLite every few thousand steps of the check: nonzero ends it.
int overBudget(void *clock)
{
    const auto *check = static_cast<const std::pair<QElapsedTimer, int> *>(clock);
    return check->first.hasExpired(check->second) ? 1 : 0;
}

} // namespace

CatalogueHealth::Verdict CatalogueHealth::Check(sqlite3 *db, int budgetMs, QString *problem)
{
    std::pair<QElapsedTimer, int> clock{QElapsedTimer(), budgetMs};
    clock.first.start();
    sqlite3_progress_handler(db, 10000, &overBudget, &clock);
    // The single row "ok", or one row per problem found.
    SqliteStatement integrity(db, "PRAGMA integrity_check");
    Verdict verdict = Verdict::Unknown;
    if (integrity.isValid()) {
        const int rc = integrity.step();
        if (rc == SQLITE_ROW && integrity.text(0) == "ok") {
            verdict = Verdict::Sound;
        } else if (rc == SQLITE_ROW) {
            const std::string_view first = integrity.text(0);
            *problem = QString::fromUtf8(first.data(), static_cast<qsizetype>(first.size()))
                           .remove(QStringLiteral("*** in database main ***"))
                           .simplified();
            verdict = Verdict::Damaged;
        } else if ((sqlite3_errcode(db) & 0xFF) == SQLITE_CORRUPT) {
            *problem = QString::fromUtf8(sqlite3_errmsg(db));
            verdict = Verdict::Damaged;
        }
    }
    integrity = SqliteStatement();
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    return verdict;
}
