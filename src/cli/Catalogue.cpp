// Finding and opening the catalogue for every command.
#include "cli/Commands.h"

#include "cli/Output.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"

#include <QFileInfo>

namespace Cli {

QString CataloguePath(const Options &options)
{
    if (!options.catalogue) {
        // The window's catalogue; an installed copy first gives its user the shipped empty one, as the
        // window does at its start (a copy of a file: nothing is created).
        modFunction::PrepareUserCatalogue();
        const QString path = modFunction::DefaultDatabasePath();
        if (path.isEmpty())
            Error(modConstant::DatabaseMissingMessage());
        return path;
    }
    const QString &path = *options.catalogue;
    if (CatalogueStore::NamesServer(path))
        return path;
    // As for the window's catalogue, only a regular file counts.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        Error(path + QStringLiteral(": ") + modConstant::DatabaseMissingMessage());
        return {};
    }
    return path;
}

std::unique_ptr<CatalogueStore> OpenCatalogue(const QString &path, bool forWriting,
                                              CatalogueStore::Access access)
{
    if (forWriting && access == CatalogueStore::Access::Read)
        access = CatalogueStore::Access::Write;
    CDatabaseError error;
    std::unique_ptr<CatalogueStore> db = CatalogueStore::Open(path, access, &error);
    if (!db)
        CatalogueError(QString(), error, CatalogueStore::DisplayName(path),
                       forWriting ? CatalogueTask::Saving : CatalogueTask::Reading);
    return db;
}

std::unique_ptr<CatalogueStore> OpenCatalogue(const Options &options, bool forWriting, QString *path)
{
    const QString name = CataloguePath(options);
    if (name.isEmpty())
        return nullptr;
    std::unique_ptr<CatalogueStore> db = OpenCatalogue(name, forWriting);
    *path = db ? db->Name() : name;
    return db;
}

void CatalogueError(const QString &what, const CDatabaseError &error, const QString &path, CatalogueTask task)
{
    const QString reason = DescribeCatalogueError(error, path, task);
    Error(what.isEmpty() ? reason : what + QStringLiteral(" ") + reason);
}

} // namespace Cli
