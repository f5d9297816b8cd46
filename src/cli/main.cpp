// quillary-cli: the catalogue from the terminal.
#include "cli/Commands.h"
#include "cli/Output.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The program's directory (where the window's catalogue lies) and the locale's date formats
    // come through Qt.
    QCoreApplication app(argc, argv);
    const std::optional<Cli::Options> options = Cli::ParseCommandLine(argc, argv);
    if (!options)
        return Cli::kTrouble;
    if (options->help || options->version) {
        Cli::OutputStream out;
        out.Append(options->help ? Cli::HelpText(options->command) : Cli::VersionText());
        return out.Finish() ? Cli::kSuccess : Cli::kTrouble;
    }
    const QString &command = options->command;
    if (command == QLatin1StringView("search"))
        return Cli::RunSearch(*options);
    if (command == QLatin1StringView("add"))
        return Cli::RunAdd(*options);
    if (command == QLatin1StringView("discs"))
        return Cli::RunDiscs(*options);
    if (command == QLatin1StringView("export"))
        return Cli::RunExport(*options);
    if (command == QLatin1StringView("duplicates"))
        return Cli::RunDuplicates(*options);
    if (command == QLatin1StringView("remove"))
        return Cli::RunRemove(*options);
    if (command == QLatin1StringView("rename"))
        return Cli::RunRename(*options);
    if (command == QLatin1StringView("init"))
        return Cli::RunInit(*options);
    if (command == QLatin1StringView("copy"))
        return Cli::RunCopy(*options);
    if (command == QLatin1StringView("verify"))
        return Cli::RunVerify(*options);
    if (command == QLatin1StringView("fingerprint"))
        return Cli::RunFingerprint(*options);
    return Cli::RunCheck(*options);
}
