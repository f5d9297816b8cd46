// Build step: makes the empty catalogue shipped beside the program from the schema file.
// Usage: make_catalogue <schema.sql> <output database>

#include "db/CatalogueFile.h"

#include <QCoreApplication>
#include <QString>

#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>

namespace {
// True when the file is a catalogue whose table Quillary is empty (or missing).
bool holdsNoRows(const QString &path)
{
    sqlite3 *db = nullptr;
    bool empty = false;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        const int rc = sqlite3_prepare_v2(db, "SELECT 1 FROM Quillary LIMIT 1", -1, &stmt, nullptr);
        if (rc == SQLITE_OK)
            empty = sqlite3_step(stmt) == SQLITE_DONE;
        else
            empty = sqlite3_errcode(db) == SQLITE_ERROR; // no such table: not a catalogue yet
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return empty;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: make_catalogue <schema.sql> <output database>\n");
        return 2;
    }
    // A catalogue that already holds rows is the user's: a rebuild never replaces it.
    if (QFileInfo::exists(args.at(2)) && !holdsNoRows(args.at(2))) {
        std::printf("make_catalogue: keeping %s, which holds catalogued files\n", qPrintable(args.at(2)));
        return 0;
    }
    QString error;
    if (!CatalogueFile::CreateFromSchemaFile(args.at(2), args.at(1), &error)) {
        std::fprintf(stderr, "make_catalogue: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
