#pragma once
// The tool's commands, one file each, and the catalogue they share.

#include "catalogue/clsFileColl.h"
#include "cli/Options.h"
#include "db/Catalogue.h"
#include "db/CatalogueStore.h"
#include "scan/DiscTree.h"

#include <QString>

#include <memory>

namespace Cli {

// The catalogue the options name: --catalogue FILE or a catalogue server's connection text, else the
// one the window uses. When a file is not a regular file that exists, writes the window's
// database-missing message and returns empty.
QString CataloguePath(const Options &options);

// Opens the catalogue a path or connection text names (see CatalogueStore::Open). On failure writes
// why and returns null.
std::unique_ptr<CatalogueStore> OpenCatalogue(const QString &path, bool forWriting,
                                              CatalogueStore::Access access = CatalogueStore::Access::Read);

// The catalogue the options name, open, with its name for messages in *path: CataloguePath, then
// OpenCatalogue.
std::unique_ptr<CatalogueStore> OpenCatalogue(const Options &options, bool forWriting, QString *path);

// The catalogue failure in the user's words.
void CatalogueError(const QString &what, const CDatabaseError &error, const QString &path,
                    CatalogueTask task);

int RunSearch(const Options &options);
int RunAdd(const Options &options);
int RunDiscs(const Options &options);
int RunExport(const Options &options);
int RunCheck(const Options &options);
int RunRemove(const Options &options);
int RunDuplicates(const Options &options);
int RunRename(const Options &options);
int RunInit(const Options &options);
int RunCopy(const Options &options);
int RunVerify(const Options &options);
int RunFingerprint(const Options &options);

// "LABEL: dir/file: cannot be read: Input/output error" for a file whose bytes could not be read.
QString UnreadableText(const clsFileColl &files, const DiscFile &file, int error);

} // namespace Cli
