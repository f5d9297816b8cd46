// Build step: makes the empty catalogue shipped beside the program from the schema file.
// Usage: make_catalogue <schema.sql> <output database>

#include "db/CatalogueFile.h"

#include <QCoreApplication>
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
    QString error;
    if (!CatalogueFile::CreateFromSchemaFile(args.at(2), args.at(1), &error)) {
        std::fprintf(stderr, "make_catalogue: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
