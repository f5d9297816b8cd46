#include "db/CompactCatalogue.h"

#include "settings/modFunction.h"
#include "db/CDatabase.h"

namespace {

enum AutoVacuum { kNone = 0, kFull = 1, kIncremental = 2 };

} // namespace

bool CatalogueCompaction::CompactCatalogue()
{
    return CompactCatalogue(modFunction::DefaultDatabasePath());
}

bool CatalogueCompaction::CompactCatalogue(const QString &path)
{
    if (path.isEmpty())
        return false;
    CDatabase db(path);
    if (!db.IsOpen())
        return false;
    QVariant freePages;
    QVariant autoVacuum;
    if (!db.QueryValue(QStringLiteral("PRAGMA freelist_count"), &freePages) ||
        !db.QueryValue(QStringLiteral("PRAGMA auto_vacuum"), &autoVacuum))
        return false;
    if (freePages.toLongLong() == 0)
        return true; // nothing to give back: no rewrite at all
    switch (autoVacuum.toInt()) {
    case kIncremental:
        // Moves the last pages into the free ones and cuts the file: work in proportion to the
        // free pages, not to the size of the catalogue.
        if (!db.ExecuteScript(QStringLiteral("PRAGMA incremental_vacuum")))
            return false;
        break;
    case kNone:
        // Rebuilds the file's content in place, under SQLite's own journal.
        if (!db.ExecuteScript(QStringLiteral("VACUUM")))
            return false;
        break;
    default:
        break; // full auto-vacuum gives free pages back at every commit
    }
    return db.QueryValue(QStringLiteral("PRAGMA freelist_count"), &freePages) && freePages.toLongLong() == 0;
}
