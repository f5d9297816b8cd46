#include "db/CatalogueCheck.h"

#include "db/CatalogueIndex.h"

bool CatalogueCheck::IsCatalogue(CDatabase &db, CDatabaseError *error)
{
    // The columns every command reads or writes; preparing the statement is enough.
    const SqliteStatement probe =
        db.Prepare("SELECT CDLabel, FileName, FilePath, FileSize, CreateDate, LastUpdateDate FROM Quillary");
    if (!probe.isValid())
        *error = db.LastError();
    return probe.isValid();
}

bool CatalogueCheck::Integrity(CDatabase &db, QStringList *problems, CDatabaseError *error)
{
    // The single row "ok", or one row per problem found.
    SqliteStatement integrity = db.Prepare("PRAGMA integrity_check");
    if (!integrity.isValid()) {
        *error = db.LastError();
        return false;
    }
    int rc;
    while ((rc = integrity.step()) == SQLITE_ROW) {
        const std::string_view line = integrity.text(0);
        if (line != "ok")
            problems->append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }
    if (rc != SQLITE_DONE) {
        *error = SqliteError(db.Handle());
        return false;
    }
    return true;
}

CatalogueCheck::Index CatalogueCheck::CompleteIndex(CDatabase &db, CDatabaseError *error)
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
    } else if (!covers(found)) {
        outcome = Index::BroughtUpToDate;
        if (!CatalogueIndex::Refresh(db.Handle(), {}, error)) {
            outcome = Index::Failed;
        } else if (!covers(CatalogueIndex::Examine(db.Handle()))) {
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
