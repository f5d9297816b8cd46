#include "db/CatalogueCheck.h"

#include "db/CatalogueIndex.h"

#include <QElapsedTimer>

#include <utility>

bool CatalogueCheck::IsCatalogue(CDatabase &db, CDatabaseError *error)
{
    // The columns every command reads or writes; preparing the statement is enough.
    const SqliteStatement probe =
        db.Prepare("SELECT CDLabel, FileName, FilePath, FileSize, CreateDate, LastUpdateDate FROM Quillary");
    if (!probe.isValid())
        *error = db.LastError();
    return probe.isValid();
}

namespace {

// Asked by SQLite every few thousand steps of the check: nonzero ends it.
int overBudget(void *budget)
{
    const auto *clock = static_cast<const std::pair<QElapsedTimer, int> *>(budget);
    return clock->second >= 0 && clock->first.hasExpired(clock->second) ? 1 : 0;
}

} // namespace

bool CatalogueCheck::Integrity(CDatabase &db, QStringList *problems, CDatabaseError *error, int budgetMs)
{
    std::pair<QElapsedTimer, int> budget{QElapsedTimer(), budgetMs};
    budget.first.start();
    sqlite3_progress_handler(db.Handle(), 10000, &overBudget, &budget);
    // The single row "ok", or one row per problem found.
    SqliteStatement integrity = db.Prepare("PRAGMA integrity_check");
    int rc = SQLITE_ERROR;
    if (integrity.isValid()) {
        while ((rc = integrity.step()) == SQLITE_ROW) {
            const std::string_view line = integrity.text(0);
            if (line != "ok")
                problems->append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        }
        if (rc != SQLITE_DONE)
            *error = SqliteError(db.Handle());
    } else {
        *error = db.LastError();
    }
    integrity = SqliteStatement();
    sqlite3_progress_handler(db.Handle(), 0, nullptr, nullptr);
    // A file too damaged for the check to finish is damaged all the same.
    if (rc != SQLITE_DONE && error->primaryCode() == SQLITE_CORRUPT) {
        problems->append(error->text);
        return true;
    }
    return rc == SQLITE_DONE;
}

CatalogueCheck::Index CatalogueCheck::CompleteIndex(CDatabase &db, CDatabaseError *error, QString *finding)
{
    // All in one write transaction: no other program's rows come in between reading what the index
    // covers and bringing it up to date, and none can lock the schema away from the reading.
    if (!db.BeginTrans()) {
        *error = db.LastError();
        return Index::Failed;
    }
    const auto covers = [&](const CatalogueIndex::Status &status) {
        qint64 highest = 0;
        return status.usable && status.sound && status.changed == 0 &&
               db.QueryInteger("SELECT coalesce(max(rowid), 0) FROM Quillary", &highest) &&
               status.watermark >= highest;
    };
    const CatalogueIndex::Status found = CatalogueIndex::Examine(db.Handle());
    Index outcome = Index::UpToDate;
    if (found.absent) {
        outcome = Index::None;
    } else if (!found.usable && found.missing.isEmpty()) {
        outcome = Index::NotUsed;
    } else {
        // The whole index against the table: one changed behind the program's back is built afresh,
        // since searches would believe it.
        const CatalogueIndex::Verdict verdict =
            found.usable ? CatalogueIndex::Verify(db.Handle(), finding) : CatalogueIndex::Verdict::Agrees;
        if (verdict == CatalogueIndex::Verdict::Failed) {
            *error = SqliteError(db.Handle());
            outcome = Index::Failed;
        } else if (verdict == CatalogueIndex::Verdict::Disagrees) {
            outcome = CatalogueIndex::Rebuild(db.Handle(), {}, error) ? Index::Rebuilt : Index::Failed;
        } else if (!covers(found)) {
            outcome =
                CatalogueIndex::Refresh(db.Handle(), {}, error) ? Index::BroughtUpToDate : Index::Failed;
        }
        if (outcome != Index::Failed && outcome != Index::UpToDate &&
            !covers(CatalogueIndex::Examine(db.Handle()))) {
            *error = db.LastError().isSet()
                         ? db.LastError()
                         : CDatabaseError{QStringLiteral("the search index still differs from the table"),
                                          SQLITE_CORRUPT};
            outcome = Index::Failed;
        }
    }
    if (outcome != Index::Failed && !db.CommitTrans()) {
        *error = db.LastError();
        outcome = Index::Failed;
    }
    if (db.InTransaction())
        db.RollbackTrans();
    return outcome;
}
