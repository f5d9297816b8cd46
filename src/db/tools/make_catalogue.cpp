// Build step: makes the empty catalogue shipped beside the program from the schema file.
// Usage: make_catalogue <schema.sql> <output database>

#include "db/CatalogueFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: make_catalogue <schema.sql> <output database>\n");
        return 2;
    }
    // A catalogue that already holds rows is the user's: a rebuild never replaces it.
    if (QFileInfo::exists(args.at(2)) && CatalogueFile::HoldsRows(args.at(2))) {
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
