// quillary-cli init SERVER and quillary-cli copy FROM TO: a catalogue made on a server, and a whole
// catalogue copied between a file and a server.
#include "cli/Commands.h"

#include "cli/Output.h"
#include "settings/modConstant.h"

#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

namespace Cli {

int RunInit(const Options &options)
{
    const QString &name = options.arguments.constFirst();
    if (!CatalogueStore::NamesServer(name)) {
        Error(
            QStringLiteral("'%1' is no PostgreSQL server (postgresql://HOST/DATABASE or service=NAME): init "
                           "makes a catalogue on a server; a catalogue file is made by copying the empty one "
                           "shipped with Quillary")
                .arg(name));
        return kTrouble;
    }
    QString outcome;
    CDatabaseError error;
    if (!CatalogueStore::MakeOnServer(name, &outcome, &error)) {
        CatalogueError(QStringLiteral("No catalogue was made."), error, CatalogueStore::DisplayName(name),
                       CatalogueTask::Saving);
        return kTrouble;
    }
    OutputStream out;
    out.Append(outcome);
    out.EndLine();
    return out.Finish() ? kSuccess : kTrouble;
}

int RunCopy(const Options &options)
{
    const QString &from = options.arguments.at(0);
    const QString &to = options.arguments.at(1);
    for (const QString &name : {from, to}) {
        if (!CatalogueStore::NamesServer(name) && !QFileInfo(name).isFile()) {
            Error(name + QStringLiteral(": ") + modConstant::DatabaseMissingMessage());
            return kTrouble;
        }
    }
    if (from == to) {
        Error(QStringLiteral("FROM and TO are the same catalogue"));
        return kTrouble;
    }
    const std::unique_ptr<CatalogueStore> source = OpenCatalogue(from, false);
    if (!source)
        return kTrouble;
    const std::unique_ptr<CatalogueStore> target = OpenCatalogue(to, true);
    if (!target)
        return kTrouble;
    // Progress on standard error, on one line rewritten in place, only when it is a terminal.
    const bool shown = isatty(STDERR_FILENO) == 1;
    const auto progress = [&](qint64 rows) {
        if (!shown)
            return;
        const QByteArray line = "\r\033[K" + QStringLiteral("%1 files copied").arg(Grouped(rows)).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    };
    qint64 discs = 0;
    qint64 rows = 0;
    QString problem;
    const bool copied = CopyCatalogue(*source, *target, progress, &discs, &rows, &problem);
    if (shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    if (!copied) {
        Error(QStringLiteral("The catalogue was not copied: ") + problem);
        return kTrouble;
    }
    target->Tidy({});
    OutputStream out;
    out.Append(QStringLiteral("copied %1 discs and %2 files from '%3' to '%4'")
                   .arg(Grouped(discs), Grouped(rows), source->Name(), target->Name()));
    out.EndLine();
    return out.Finish() ? kSuccess : kTrouble;
}

} // namespace Cli
