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
    // As for the window's catalogue, only a regular file counts.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        Error(path + QStringLiteral(": ") + modConstant::DatabaseMissingMessage());
        return {};
    }
    return path;
}

std::unique_ptr<Catalogue> OpenCatalogue(const QString &path, bool forWriting)
{
    auto db = std::make_unique<Catalogue>(path);
    if (!db->Open(SqliteConnection::Access::ReadWrite) && !forWriting) {
        const int code = db->LastError().primaryCode();
        if (code == SQLITE_READONLY || code == SQLITE_PERM || code == SQLITE_CANTOPEN) {
            auto readOnly = std::make_unique<Catalogue>(path);
            if (readOnly->Open(SqliteConnection::Access::ReadOnly))
                return readOnly;
        }
    }
    if (!db->IsOpen()) {
        CatalogueError(QString(), db->LastError(), path,
                       forWriting ? CatalogueTask::Saving : CatalogueTask::Reading);
        return nullptr;
    }
    return db;
}

std::unique_ptr<Catalogue> OpenCatalogue(const Options &options, bool forWriting, QString *path)
{
    *path = CataloguePath(options);
    return path->isEmpty() ? nullptr : OpenCatalogue(*path, forWriting);
}

void CatalogueError(const QString &what, const CDatabaseError &error, const QString &path, CatalogueTask task)
{
    const QString reason = DescribeCatalogueError(error, path, task);
    Error(what.isEmpty() ? reason : what + QStringLiteral(" ") + reason);
}

} // namespace Cli
