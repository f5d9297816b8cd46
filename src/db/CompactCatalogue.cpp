#include "db/CompactCatalogue.h"

#include "db/CDatabase.h"
#include "db/CatalogueLog.h"

namespace {

enum AutoVacuum { kNone = 0, kFull = 1, kIncremental = 2 };

bool compact(CDatabase &db)
{
    qint64 freePages = 0;
    qint64 autoVacuum = 0;
    if (!db.QueryInteger("PRAGMA freelist_count", &freePages) ||
        !db.QueryInteger("PRAGMA auto_vacuum", &autoVacuum))
        return false;
    if (freePages == 0)
        return true; // nothing to give back: no rewrite at all
    switch (autoVacuum) {
    case kIncremental:
        // Moves the last pages into the free ones and cuts the file: work in proportion to the free
        // pages, not to the size of the catalogue.
        if (!db.Execute("PRAGMA incremental_vacuum"))
            return false;
        break;
    case kNone:
        // Rebuilds the file's content in place, under SQLite's own journal.
        if (!db.Execute("VACUUM"))
            return false;
        break;
    default:
        break; // full auto-vacuum gives free pages back at every commit
    }
    return db.QueryInteger("PRAGMA freelist_count", &freePages) && freePages == 0;
}

} // namespace

bool CatalogueCompaction::CompactCatalogue(const QString &path)
{
    CDatabase db(path);
    if (db.IsOpen() && compact(db))
        return true;
    qCInfo(lcCatalogue, "compaction of %s failed: %s", qUtf8Printable(path),
           qUtf8Printable(db.LastError().text));
    return false;
}
