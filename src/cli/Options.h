#pragma once
// The command line: a command, its arguments and the options, in the usual GNU form (options may
// come before or after the command, "--name=value" or "--name value", "--" ends the options).

#include "cli/RowWriter.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Cli {

struct Options
{
    // "search", "add", "discs", "export", "check", "remove", "rename", "duplicates", "init", "copy"; empty
    // for --help or --version alone
    QString command;
    QStringList arguments; // what follows the command
    std::optional<QString> catalogue;
    std::optional<Format> format;
    std::optional<QString> label;
    std::optional<QString> disc;
    std::optional<qint64> minSize; // search: files of at least this many bytes
    std::optional<qint64> maxSize; // search: files of at most this many bytes
    bool again = false;            // add: store a medium already catalogued as another disc
    bool replace = false;          // add: replace the rows of the disc already catalogued
    bool upgrade = false;          // check: bring an older schema on a server up to date
    bool content = false;          // add: read every file's bytes for its fingerprint; duplicates: by them
    bool help = false;
    bool version = false;
};

// Reads argv. On a command line that makes no sense, says why on standard error and returns nothing.
std::optional<Options> ParseCommandLine(int argc, char **argv);

// The --help text of the program (empty command) or of one command; empty for an unknown command.
QString HelpText(const QString &command);
QString VersionText();

} // namespace Cli
