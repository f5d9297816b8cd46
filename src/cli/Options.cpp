#include "cli/Options.h"

#include "catalogue/TextForms.h"
#include "cli/Output.h"

#include <QRegularExpression>

#include <getopt.h>

#include <vector>

namespace Cli {

namespace {

const QStringList kCommands = {
    QStringLiteral("search"),      QStringLiteral("add"),        QStringLiteral("discs"),
    QStringLiteral("export"),      QStringLiteral("check"),      QStringLiteral("remove"),
    QStringLiteral("rename"),      QStringLiteral("duplicates"), QStringLiteral("verify"),
    QStringLiteral("fingerprint"), QStringLiteral("init"),       QStringLiteral("copy")};

// An argument as typed (Qt's own decoding of the command line, and QFile::decodeName, would drop a
// U+FEFF that begins a search phrase, a file name or a label).
QString argumentText(const char *argument)
{
    return TextForms::fromUtf8(argument);
}

// "1500", "4K", "700M", "2G" (K = 1024 bytes): the number of bytes.
std::optional<qint64> parseSize(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,15})([KMG]?)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2).toUpper();
    const int shift = unit == u"K" ? 10 : unit == u"M" ? 20 : unit == u"G" ? 30 : 0;
    return match.captured(1).toLongLong() << shift;
}

const char kCatalogueOption[] =
    "  -c, --catalogue=FILE   use the catalogue FILE instead of the one the window\n"
    "                           uses (the program never creates a catalogue file), or\n"
    "                           the catalogue on a PostgreSQL server: a connection URI\n"
    "                           (postgresql://HOST/DATABASE) or string (service=NAME)\n";
const char kHelpOption[] = "  -h, --help             display this help and exit\n";
const char kFormatOption[] = "  -f, --format=FORMAT    text (the default: the stored path, one line per\n"
                             "                           file), csv (RFC 4180 with a header row) or json\n"
                             "                           (one object per line, sizes as numbers)\n";

} // namespace

std::optional<Options> ParseCommandLine(int argc, char **argv)
{
    static const option kLongOptions[] = {{"catalogue", required_argument, nullptr, 'c'},
                                          {"format", required_argument, nullptr, 'f'},
                                          {"label", required_argument, nullptr, 'l'},
                                          {"disc", required_argument, nullptr, 'd'},
                                          {"again", no_argument, nullptr, 'A'},
                                          {"min-size", required_argument, nullptr, 'm'},
                                          {"max-size", required_argument, nullptr, 'M'},
                                          {"replace", no_argument, nullptr, 'R'},
                                          {"content", no_argument, nullptr, 'C'},
                                          {"upgrade", no_argument, nullptr, 'U'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};

    // getopt_long reorders its argument vector: it works on a copy.
    std::vector<char *> args(argv, argv + argc);
    args.push_back(nullptr);
    Options options;
    opterr = 0;
    optind = 0; // also resets getopt's state
    int option;
    while ((option = getopt_long(argc, args.data(), ":c:f:l:d:hV", kLongOptions, nullptr)) != -1) {
        const QString value = optarg ? argumentText(optarg) : QString();
        switch (option) {
        case 'c':
            options.catalogue = value;
            break;
        case 'f':
            options.format = ParseFormat(value);
            if (!options.format) {
                UsageError(QStringLiteral("invalid format '%1' (text, csv or json)").arg(value));
                return std::nullopt;
            }
            break;
        case 'l':
            options.label = value;
            break;
        case 'd':
            options.disc = value;
            break;
        case 'A':
            options.again = true;
            break;
        case 'm':
        case 'M': {
            const std::optional<qint64> size = parseSize(value);
            if (!size) {
                UsageError(
                    QStringLiteral("invalid size '%1' (a number of bytes, or with K, M or G)").arg(value));
                return std::nullopt;
            }
            (option == 'm' ? options.minSize : options.maxSize) = size;
            break;
        }
        case 'R':
            options.replace = true;
            break;
        case 'C':
            options.content = true;
            break;
        case 'U':
            options.upgrade = true;
            break;
        case 'h':
            options.help = true;
            break;
        case 'V':
            options.version = true;
            break;
        case ':':
            UsageError(
                QStringLiteral("option '%1' requires an argument").arg(argumentText(args[optind - 1])));
            return std::nullopt;
        default:
            if (optopt != 0)
                UsageError(QStringLiteral("invalid option -- '%1'").arg(QChar(optopt)));
            else
                UsageError(QStringLiteral("unrecognized option '%1'").arg(argumentText(args[optind - 1])));
            return std::nullopt;
        }
    }
    const bool commandGiven = optind < argc;
    if (commandGiven)
        options.command = argumentText(args[optind]);
    for (int i = optind + 1; i < argc; ++i)
        options.arguments.append(argumentText(args[i]));
    if (!commandGiven) {
        if (options.help || options.version)
            return options;
        UsageError(QStringLiteral("no command given"));
        return std::nullopt;
    }
    if (!kCommands.contains(options.command)) {
        UsageError(QStringLiteral("unknown command '%1'").arg(options.command));
        return std::nullopt;
    }

    if (options.help || options.version)
        return options;

    // Each option belongs to the commands it makes sense for.
    auto refuse = [&](const char *name) {
        UsageError(QStringLiteral("option '--%1' does not apply to the command '%2'")
                       .arg(QLatin1StringView(name), options.command));
        return std::nullopt;
    };
    const bool listsRows =
        options.command == QLatin1StringView("search") || options.command == QLatin1StringView("export");
    const bool verify = options.command == QLatin1StringView("verify");
    if (options.format && !listsRows && options.command != QLatin1StringView("discs") &&
        options.command != QLatin1StringView("duplicates") && !verify)
        return refuse("format");
    if (verify && options.format == Format::Csv) {
        UsageError(QStringLiteral("verify prints text or json"));
        return std::nullopt;
    }
    if (options.content && options.command != QLatin1StringView("add") &&
        options.command != QLatin1StringView("duplicates"))
        return refuse("content");
    if (options.label && options.command != QLatin1StringView("add"))
        return refuse("label");
    if (options.minSize && options.command != QLatin1StringView("search"))
        return refuse("min-size");
    if (options.maxSize && options.command != QLatin1StringView("search"))
        return refuse("max-size");
    if (options.again && options.command != QLatin1StringView("add"))
        return refuse("again");
    if (options.replace && options.command != QLatin1StringView("add"))
        return refuse("replace");
    if (options.again && options.replace) {
        UsageError(QStringLiteral("--again and --replace cannot be given together"));
        return std::nullopt;
    }
    if (options.disc && !listsRows)
        return refuse("disc");
    if (options.upgrade && options.command != QLatin1StringView("check"))
        return refuse("upgrade");
    const bool named =
        options.command == QLatin1StringView("init") || options.command == QLatin1StringView("copy");
    if (options.catalogue && named)
        return refuse("catalogue");

    // And the arguments each command takes.
    const qsizetype count = options.arguments.size();
    if (options.command == QLatin1StringView("search") && count != 1) {
        UsageError(count == 0 ? QStringLiteral("search needs a PHRASE")
                              : QStringLiteral("search takes one PHRASE (quote a phrase that holds blanks)"));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("add") && count == 0) {
        UsageError(QStringLiteral("add needs at least one SOURCE"));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("remove") && count == 0) {
        UsageError(QStringLiteral("remove needs at least one DISC"));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("rename") && count != 2) {
        UsageError(QStringLiteral("rename takes a DISC and its NEWLABEL"));
        return std::nullopt;
    }
    if ((verify || options.command == QLatin1StringView("fingerprint")) && count != 2) {
        UsageError(QStringLiteral("%1 takes a DISC and the SOURCE to read it from").arg(options.command));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("init") && count != 1) {
        UsageError(QStringLiteral("init takes the catalogue server's connection URI or string"));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("copy") && count != 2) {
        UsageError(QStringLiteral("copy takes the catalogue to copy FROM and the empty catalogue TO"));
        return std::nullopt;
    }
    const bool takesArguments =
        listsRows || verify || named || options.command == QLatin1StringView("fingerprint") ||
        options.command == QLatin1StringView("add") || options.command == QLatin1StringView("remove") ||
        options.command == QLatin1StringView("rename");
    if (!takesArguments && count != 0) {
        UsageError(QStringLiteral("%1 takes no arguments").arg(options.command));
        return std::nullopt;
    }
    if (options.command == QLatin1StringView("export") && count != 0) {
        UsageError(QStringLiteral("export takes no arguments (choose a disc with --disc DISC)"));
        return std::nullopt;
    }
    return options;
}

QString HelpText(const QString &command)
{
    QString text;
    if (command.isEmpty()) {
        text = QStringLiteral(
            "Usage: quillary-cli [OPTION]... COMMAND [ARGUMENT]...\n"
            "Search and fill the Quillary disc catalogue from the terminal.\n"
            "\n"
            "Commands:\n"
            "  search PHRASE        list the catalogued files whose name contains PHRASE\n"
            "  add SOURCE...        catalogue each SOURCE (a mounted disc, a directory or a\n"
            "                         disc image file) as one disc\n"
            "  discs                list the catalogued discs: number, label, files, size, when\n"
            "                         added, identity and source\n"
            "  export               list the catalogued files, of every disc or of one\n"
            "  check                check the catalogue and bring its search index up to date\n"
            "  remove DISC...       take discs and their files out of the catalogue\n"
            "  rename DISC NEWLABEL give a disc another label\n"
            "  duplicates           list the files that lie on two or more discs\n"
            "  verify DISC SOURCE   read DISC again from SOURCE and compare it with the\n"
            "                         catalogue: files changed, missing, unreadable or new\n"
            "  fingerprint DISC SOURCE  read the files of DISC from SOURCE and store their\n"
            "                         content fingerprints\n"
            "  init SERVER          make the catalogue's tables in an empty database on a\n"
            "                         PostgreSQL server\n"
            "  copy FROM TO         copy a whole catalogue (a file or a server's) into an empty\n"
            "                         one\n"
            "\n"
            "Options:\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text +=
            QStringLiteral("  -V, --version          output version information and exit\n"
                           "\n"
                           "Run 'quillary-cli COMMAND --help' for the options of a command.\n"
                           "A DISC is a disc's number (see discs), or a label that names exactly one disc.\n"
                           "\n"
                           "Without --catalogue, the catalogue is the one the Quillary window uses.\n"
                           "A team shares one catalogue on a PostgreSQL server: --catalogue\n"
                           "postgresql://HOST/DATABASE (any libpq URI or connection string; passwords come\n"
                           "from ~/.pgpass, PGPASSWORD or a service file, never from this program).\n"
                           "Exit status is 0 on success and 2 on trouble; search exits with 1 when no\n"
                           "file matched, duplicates when there are none, add when a SOURCE was refused\n"
                           "as catalogued already (and none failed), verify when a file differs.\n");
    } else if (command == QLatin1StringView("search")) {
        text =
            QStringLiteral("Usage: quillary-cli search [OPTION]... PHRASE\n"
                           "List every catalogued file whose name contains PHRASE, in the order the files\n"
                           "were catalogued.\n"
                           "\n"
                           "The search is the window's: letter case is ignored in every alphabet, '%' in\n"
                           "PHRASE stands for any run of characters and '_' for any one character, and\n"
                           "blanks at either end of PHRASE are ignored. An empty PHRASE lists every file.\n"
                           "\n"
                           "Options:\n"
                           "  -d, --disc=DISC        only the files of DISC (its number, or a label that\n"
                           "                           names exactly one disc)\n"
                           "      --min-size=SIZE    only files of at least SIZE bytes (K, M or G after the\n"
                           "                           number: 1024, 1024^2, 1024^3 bytes)\n"
                           "      --max-size=SIZE    only files of at most SIZE bytes\n");
        text += QLatin1StringView(kFormatOption);
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral(
            "\nExit status is 0 if a file was found, 1 if none was, 2 if an error occurred.\n");
    } else if (command == QLatin1StringView("add")) {
        text = QStringLiteral(
            "Usage: quillary-cli add [OPTION]... SOURCE...\n"
            "Catalogue each SOURCE as one disc, as the window's \"List Files\" and \"Add to\n"
            "Database\" would: every regular file below it becomes one row; hidden names\n"
            "(a leading '.') and symbolic links are left out.\n"
            "\n"
            "A SOURCE is a mounted disc, a directory, or a disc image file (ISO 9660 with\n"
            "Joliet and Rock Ridge, or UDF) read without mounting it. The disc's label is\n"
            "the volume label for a mounted disc or an image, else the directory's name.\n"
            "A SOURCE that fails is reported and the next one is still catalogued. An\n"
            "image is catalogued without a directory that leads back into its tree (a\n"
            "damaged image) or lies deeper than a path can reach; that is reported too.\n"
            "The search index is brought up to date once more than 250,000 files wait\n"
            "for it (and by check); until then searches read those files from the table.\n"
            "Nothing is added to a catalogue that SQLite's integrity check finds damaged.\n"
            "\n"
            "A SOURCE already in the catalogue (a medium with the identity of a disc there,\n"
            "or without one, a disc with the same label and files) is refused, naming that\n"
            "disc, and the next SOURCE is still catalogued.\n"
            "\n"
            "Options:\n"
            "  -l, --label=LABEL      catalogue the files under LABEL instead\n"
            "      --again            catalogue a SOURCE already there as another disc\n"
            "      --replace          put the files in place of that disc's (or of the one disc\n"
            "                           with the label), in one transaction, and print the\n"
            "                           files added (+), removed (-) and changed (~)\n"
            "      --content          also read every file's bytes and store its content\n"
            "                           fingerprint (128-bit XXH3), in the same transaction as\n"
            "                           the disc's files; a file that cannot be read is\n"
            "                           reported and stored without one\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nOn a terminal, progress is shown on standard error (with --content: bytes\n"
                               "read of all, MB/s and the time left).\n"
                               "Exit status is 0 if every SOURCE was catalogued whole, 1 if a SOURCE was\n"
                               "refused as catalogued already and none failed, 2 otherwise.\n");
    } else if (command == QLatin1StringView("discs")) {
        text =
            QStringLiteral("Usage: quillary-cli discs [OPTION]...\n"
                           "List the catalogued discs in the order of their rows, one line each, separated\n"
                           "by tabs: number, label, files, total bytes, when added (UTC), identity and\n"
                           "source. Each disc stored is recorded with its own rows, so two discs with one\n"
                           "label are two lines. The identity is what the medium's volume descriptor gives\n"
                           "('-' for a directory). Rows no disc record claims are listed as discs made of\n"
                           "runs of rows with one label, with '-' for what is not known and the source\n"
                           "'unrecorded'.\n"
                           "\n"
                           "Options:\n"
                           "  -f, --format=FORMAT    text (the default), csv (with a header row) or json\n"
                           "                           (one object per disc)\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 on success, 2 if an error occurred.\n");
    } else if (command == QLatin1StringView("export")) {
        text = QStringLiteral("Usage: quillary-cli export [OPTION]...\n"
                              "List every catalogued file, or those of one disc, in the order they were\n"
                              "catalogued.\n"
                              "\n"
                              "Options:\n"
                              "  -d, --disc=DISC        only the files of DISC (its number, or a label that\n"
                              "                           names exactly one disc)\n");
        text += QLatin1StringView(kFormatOption);
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text +=
            QStringLiteral("\nExit status is 0 on success, 2 if an error occurred (also when DISC names no\n"
                           "disc or several: the candidates are listed).\n");
    } else if (command == QLatin1StringView("duplicates")) {
        text =
            QStringLiteral("Usage: quillary-cli duplicates [OPTION]...\n"
                           "List the files that lie on two or more discs: the same name and size. Each\n"
                           "group is a line with the size in bytes and the name, then one line per copy\n"
                           "with the disc's number ('-' for rows no disc record claims) and the stored\n"
                           "path, each after a tab; the biggest files come first.\n"
                           "\n"
                           "Options:\n"
                           "      --content          files with the same content fingerprint instead (see\n"
                           "                           add --content); each group's line then holds the\n"
                           "                           size and the fingerprint, its csv and json the\n"
                           "                           fingerprint too\n"
                           "  -f, --format=FORMAT    text (the default), csv (one row per copy: Size, File\n"
                           "                           Name, Disc, Label, Path) or json (one object per\n"
                           "                           group)\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 if duplicates were found, 1 if none were, 2 if an error\n"
                               "occurred.\n");
    } else if (command == QLatin1StringView("verify")) {
        text = QStringLiteral(
            "Usage: quillary-cli verify [OPTION]... DISC SOURCE\n"
            "Read DISC again from SOURCE (a mounted disc, a directory or a disc image file)\n"
            "and compare it with the catalogue. Each file is ok, changed (in size, in a time,\n"
            "or in content), missing, unreadable (an I/O error: the rest of that file is\n"
            "skipped and the next one read) or new. Only the differences are printed, one\n"
            "line each (what, a tab, the stored path), then a line with the counts.\n"
            "Content is compared where the disc has fingerprints (add --content,\n"
            "fingerprint); without them names, sizes and times are, and the summary says\n"
            "that content was not checked.\n"
            "\n"
            "Options:\n"
            "  -f, --format=FORMAT    text (the default) or json (one object per file\n"
            "                           checked: path, status, detail (what changed, or why\n"
            "                           it is unreadable), and whether its content was read)\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nOn a terminal, progress is shown on standard error.\n"
                               "Exit status is 0 if every file is ok, 1 if there are differences, 2 if an\n"
                               "error occurred.\n");
    } else if (command == QLatin1StringView("fingerprint")) {
        text = QStringLiteral(
            "Usage: quillary-cli fingerprint [OPTION]... DISC SOURCE\n"
            "Read the files of DISC, catalogued without their content, from SOURCE (a mounted\n"
            "disc, a directory or a disc image file) and store each file's content\n"
            "fingerprint (128-bit XXH3), all in one transaction. Only files whose stored path\n"
            "and size match are fingerprinted; the others, and files that cannot be read,\n"
            "are reported.\n"
            "\n"
            "Options:\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nOn a terminal, progress is shown on standard error.\n"
                               "Exit status is 0 if every file was fingerprinted, 2 otherwise.\n");
    } else if (command == QLatin1StringView("remove")) {
        text =
            QStringLiteral("Usage: quillary-cli remove [OPTION]... DISC...\n"
                           "Take each DISC and its files out of the catalogue, all in one transaction\n"
                           "that also brings the search index up to date; print one line per disc\n"
                           "removed. A DISC is a disc's number (see discs), or a label that names exactly\n"
                           "one disc; when one names no disc or several (they are listed), nothing is\n"
                           "removed.\n"
                           "\n"
                           "Options:\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 on success, 2 if an error occurred.\n");
    } else if (command == QLatin1StringView("rename")) {
        text =
            QStringLiteral("Usage: quillary-cli rename [OPTION]... DISC NEWLABEL\n"
                           "Give DISC the label NEWLABEL: the label of each of its files, the label part\n"
                           "of each stored path (\"LABEL: dir/file\") and its record, in one transaction.\n"
                           "A DISC is a disc's number (see discs), or a label that names exactly one disc.\n"
                           "\n"
                           "Options:\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 on success, 2 if an error occurred.\n");
    } else if (command == QLatin1StringView("check")) {
        text =
            QStringLiteral("Usage: quillary-cli check [OPTION]...\n"
                           "Check that the catalogue file holds a Quillary catalogue and that it is sound\n"
                           "(SQLite's integrity check), compare its search index with the table (and\n"
                           "build it afresh where it differs), bring the index fully up to date, and\n"
                           "correct the discs' counts of files and bytes where they differ from the rows.\n"
                           "On a server: that its indexes are valid, and every folded name the search\n"
                           "compares agrees with its name (those that do not are folded again).\n"
                           "\n"
                           "Options:\n"
                           "      --upgrade          bring the schema of a catalogue on a server that an\n"
                           "                           older Quillary made up to date, in one transaction\n");
        text += QLatin1StringView(kCatalogueOption);
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 if the catalogue is sound and its index up to date, 2\n"
                               "otherwise.\n");
    } else if (command == QLatin1StringView("init")) {
        text = QStringLiteral("Usage: quillary-cli init SERVER\n"
                              "Make the catalogue's tables, with their schema version, in a database on a\n"
                              "PostgreSQL server that holds none, in one transaction. SERVER is a libpq\n"
                              "connection URI (postgresql://[USER@]HOST[:PORT]/DATABASE?sslmode=require) or\n"
                              "connection string (service=NAME, host=... dbname=...). The database must be\n"
                              "in UTF-8, and the role may create the pg_trgm extension (its owner may).\n"
                              "A password is never stored: libpq takes it from ~/.pgpass, PGPASSWORD or a\n"
                              "service file.\n"
                              "\n"
                              "Options:\n");
        text += QLatin1StringView(kHelpOption);
        text += QStringLiteral("\nExit status is 0 on success, 2 if an error occurred.\n");
    } else if (command == QLatin1StringView("copy")) {
        text = QStringLiteral(
            "Usage: quillary-cli copy FROM TO\n"
            "Copy every disc and file of the catalogue FROM into the catalogue TO, which must\n"
            "be empty, in one transaction; then compare the discs and files of both. Each is\n"
            "a catalogue file or a catalogue on a PostgreSQL server (see --catalogue); a\n"
            "catalogue file is never created: copy the empty one shipped with Quillary.\n"
            "The discs keep their numbers, labels, times, sources and identities, and the\n"
            "files their content fingerprints.\n"
            "\n"
            "Options:\n");
        text += QLatin1StringView(kHelpOption);
        text +=
            QStringLiteral("\nOn a terminal, progress is shown on standard error.\n"
                           "Exit status is 0 on success, 2 if an error occurred (nothing is copied then).\n");
    }
    return text;
}

QString VersionText()
{
    return QStringLiteral("quillary-cli (Quillary) " QUILLARY_VERSION "\n");
}

} // namespace Cli
