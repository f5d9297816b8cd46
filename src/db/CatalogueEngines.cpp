// The engines behind CatalogueStore: which one a name opens, and making a catalogue on a server. Kept
// apart from CatalogueStore so that a program that opens only catalogue files (the window) does not link
// the PostgreSQL client library.
#include "db/Catalogue.h"
#include "db/CatalogueStore.h"
#include "db/Postgres.h"
#include "db/ServerCatalogue.h"

bool CatalogueStore::MakeOnServer(const QString &name, QString *outcome, CDatabaseError *error)
{
    return ServerCatalogue::Initialise(name, outcome, error);
}

QString CatalogueStore::DisplayName(const QString &name)
{
    return NamesServer(name) ? PgDisplayName(name) : name;
}

std::unique_ptr<CatalogueStore> CatalogueStore::Open(const QString &name, Access access,
                                                     CDatabaseError *error)
{
    if (NamesServer(name))
        return ServerCatalogue::Connect(name, access, error);
    auto db = std::make_unique<Catalogue>(name);
    // A command that only reads opens the file for reading and writing all the same where it can (so
    // that SQLite can finish a writer's interrupted transaction), and read-only where it cannot.
    if (!db->Open(SqliteConnection::Access::ReadWrite) && access == Access::Read) {
        const int code = db->LastError().primaryCode();
        if (code == SQLITE_READONLY || code == SQLITE_PERM || code == SQLITE_CANTOPEN) {
            auto readOnly = std::make_unique<Catalogue>(name);
            if (readOnly->Open(SqliteConnection::Access::ReadOnly))
                return readOnly;
        }
    }
    if (!db->IsOpen()) {
        *error = db->LastError();
        return nullptr;
    }
    return db;
}
