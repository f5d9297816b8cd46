// quillary-cli run as a user runs it: the built program on real catalogue files, its output read
// back and compared with what the catalogue layer itself reads and stores.
#include "catalogue/GeneralDate.h"
#include "catalogue/clsFileColl.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "db/Sqlite.h"
#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "search/CatalogueSearch.h"
#include "search/SearchPhrase.h"
#include "settings/modConstant.h"
#include "support/CatalogueFiles.h"
#include "support/IsoImage.h"

#include <QtTest>

#include <unistd.h>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const QString kProgram = QStringLiteral(QUILLARY_BINARY_DIR "/quillary-cli");

struct Run
{
    int status = -1;
    QByteArray out;
    QString err;
};

Run run(const QStringList &arguments, const QString &program = kProgram)
{
    QProcess process;
    process.start(program, arguments);
    process.closeWriteChannel();
    Run result;
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

using Row = QStringList; // the six texts in the order of the list's columns

// Every row of the catalogue as the list shows it, in table order, optionally of one disc.
QList<Row> catalogueRows(const QString &path, const QString &label = QString())
{
    SqliteConnection db(path, SqliteConnection::Access::ReadOnly);
    SqliteStatement rows(db.handle(),
                         "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate "
                         "FROM Quillary WHERE ?1 IS NULL OR CDLabel = ?1 ORDER BY ID");
    if (!label.isNull())
        rows.bind(1, label);
    QList<Row> result;
    while (rows.step() == SQLITE_ROW) {
        Row row;
        for (int c = 0; c < 6; ++c)
            row << QString::fromUtf8(rows.text(c));
        result << row;
    }
    return result;
}

// What the window's search lists for the phrase.
QList<Row> searchRows(const QString &path, const QString &phrase)
{
    SqliteConnection db(path, SqliteConnection::Access::ReadOnly);
    CatalogueSearch search(db.handle());
    QList<Row> result;
    if (!search.find(phrase))
        return {{QStringLiteral("search failed")}};
    while (search.next()) {
        Row row;
        for (int c = 0; c < 6; ++c)
            row << QString::fromUtf8(search.field(c));
        result << row;
    }
    return result;
}

// RFC 4180 records: fields split at commas outside quotes, lines at CR LF outside quotes.
QList<Row> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<Row> rows;
    Row row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"')
                field += text.at(++i);
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row << field;
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

QList<Row> parseJson(const QByteArray &bytes)
{
    QList<Row> rows;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        Row row;
        for (const char *key : {"File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"})
            row << (object.contains(QLatin1StringView(key)) ? object.value(QLatin1StringView(key)).toString()
                                                            : QStringLiteral("<missing>"));
        rows << row;
    }
    return rows;
}

// The rows the program printed in a format, as rows of six texts (text gives the path alone).
void checkFormats(const QStringList &command, const QList<Row> &expected, int status)
{
    QStringList paths;
    for (const Row &row : expected)
        paths << row[2];
    const Run text = run(command);
    QCOMPARE(text.status, status);
    QCOMPARE(QString::fromUtf8(text.out), paths.isEmpty() ? QString() : paths.join(u'\n') + u'\n');
    const Run csv = run(QStringList{"--format=csv"} + command);
    QCOMPARE(csv.status, status);
    const Row header{"File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"};
    QCOMPARE(parseCsv(csv.out), QList<Row>{header} + expected);
    const Run json = run(QStringList{"-f", "json"} + command);
    QCOMPARE(json.status, status);
    QCOMPARE(parseJson(json.out), expected);
}

// Observes a walk and a save without showing anything.
struct Quiet : ScanObserver, SaveObserver
{
    void directoryListed(const QString &) override {}
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &, qint64) override {}
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override {}
    void yield() override {}
    void RecordStarting(qint32, const QString &) override {}
    void RecordDone(qint32) override {}
};

// The window's "List Files" of the disc at root, labelled as given, then its "Add to Database".
bool windowSave(const QString &catalogue, const QString &root, const QString &label)
{
    Quiet quiet;
    clsFileColl files;
    DirectoryWalker walker(files, quiet);
    walker.setLabel(label);
    walker.ScanDirectory(root);
    return files.Count() > 0 && CatalogueSave(quiet).SaveFileList(catalogue, files);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_catalogue;

    QString newCatalogue(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        return CatalogueFile::CreateFromSchemaFile(path, kSchema) ? path : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFileInfo(kProgram).isExecutable());
        // A catalogue of awkward names on three discs (the last row a first disc's): half of it indexed, half
        // added afterwards, so the search reads both through the index and from the table.
        m_catalogue = newCatalogue("search.mdb");
        QVERIFY(!m_catalogue.isEmpty());
        const QList<QStringList> files = {
            {"DISC01", "O'Brien.txt"},    {"DISC01", "100%.doc"},           {"DISC01", "a_b.txt"},
            {"DISC02", "Ärger.txt"},      {"DISC02", "ÄRGER2.TXT"},         {"DISC02", "Привет мир.mp3"},
            {"DISC02", "ПРИВЕТ.doc"},     {"DISC03", "say \"hi\", ok.txt"}, {"DISC03", "two\nlines.txt"},
            {"DISC03", "  padded  .txt"}, {"DISC03", "plain.txt"},          {"DISC01", "axb.txt"}};
        SqliteConnection db(m_catalogue);
        SqliteStatement insert(db.handle(), "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                                            "CreateDate, LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)");
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QString &label = files[i][0];
            const QString &name = files[i][1];
            insert.bind(1, label);
            insert.bind(2, name);
            insert.bind(3, label + ": dir/" + name);
            insert.bind(4, QString::number(100 * (i + 1)));
            insert.bind(5, QStringLiteral("1/2/2020"));
            insert.bind(6, QStringLiteral("3/4/2021 10:11:12"));
            QVERIFY(insert.run());
            if (i == files.size() / 2)
                QVERIFY(CatalogueIndex::Refresh(db.handle()));
        }
    }

    // The program lists exactly what the window's search lists, in every format.
    void search_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<int>("count"); // a check of its own that the reference is right
        QTest::newRow("apostrophe") << "o'brien" << 1;
        QTest::newRow("percent wildcard") << "a%b" << 2;
        QTest::newRow("underscore wildcard") << "a_b" << 2;
        QTest::newRow("literal percent found by wildcard") << "100%" << 1;
        QTest::newRow("non-Latin, case ignored") << "привет" << 2;
        QTest::newRow("umlaut, case ignored") << "ärger" << 2;
        QTest::newRow("blanks at the ends trimmed") << "  plain  " << 1;
        QTest::newRow("blanks inside kept") << "d  .t" << 1;
        QTest::newRow("quotes and comma") << "\"hi\"," << 1;
        QTest::newRow("line break") << "two\nl" << 1;
        QTest::newRow("empty: everything") << "" << 12;
        QTest::newRow("no match") << "zzz" << 0;
    }
    void search()
    {
        QFETCH(QString, phrase);
        QFETCH(int, count);
        const QList<Row> expected = searchRows(m_catalogue, SearchPhrase::TrimBlanks(phrase));
        QCOMPARE(expected.size(), count);
        checkFormats({"--catalogue", m_catalogue, "search", "--", phrase}, expected, count > 0 ? 0 : 1);
    }

    // A table without row IDs is searched in its own order, every name compared.
    void searchTableWithoutRowIds()
    {
        const QString path = m_dir.filePath("norowid.mdb");
        QVERIFY(CatalogueFile::CreateFromScript(
            path,
            "CREATE TABLE Quillary (CDLabel TEXT, FileName TEXT, FilePath TEXT PRIMARY KEY, FileSize TEXT, "
            "CreateDate TEXT, LastUpdateDate TEXT) WITHOUT ROWID; INSERT INTO Quillary VALUES ('D', 'b.txt', "
            "'D: b.txt', '1', '', ''), ('D', 'a.doc', 'D: a.doc', '2', '', '');"));
        for (const QString &phrase : QStringList{"", ".", "doc", "zzz"}) {
            const QList<Row> expected = searchRows(path, phrase);
            QCOMPARE(expected.size(), phrase == "zzz" ? 0 : phrase == "doc" ? 1 : 2);
            checkFormats({"search", "-c", path, phrase}, expected, expected.isEmpty() ? 1 : 0);
        }
    }

    void exportAndDiscs()
    {
        checkFormats({"export", "-c", m_catalogue}, catalogueRows(m_catalogue), 0);
        checkFormats({"export", "-c", m_catalogue, "--disc", "DISC02"}, catalogueRows(m_catalogue, "DISC02"),
                     0);
        const Run unknown = run({"export", "-c", m_catalogue, "--disc", "DISC9"});
        QCOMPARE(unknown.status, 2);
        QVERIFY(unknown.out.isEmpty() && unknown.err.contains("DISC9"));

        // A save in progress elsewhere is not seen until it commits.
        {
            SqliteConnection writer(m_catalogue);
            QVERIFY(
                writer.exec("BEGIN IMMEDIATE; INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) "
                            "SELECT 'DISC04', FileName, FilePath, FileSize FROM Quillary"));
            checkFormats({"export", "-c", m_catalogue}, catalogueRows(m_catalogue), 0);
            QVERIFY(writer.exec("ROLLBACK"));
        }

        const Run discs = run({"discs", "-c", m_catalogue});
        QCOMPARE(discs.status, 0);
        QCOMPARE(discs.out, QByteArray("DISC01\t4\t1800\nDISC02\t4\t2200\nDISC03\t4\t3800\n"));
    }

    // The exact bytes of the quoting, for a name with every character that needs it.
    void quoting()
    {
        const QString path = newCatalogue("quoting.mdb");
        QVERIFY(CatalogueFiles::exec(path, "INSERT INTO Quillary (FileName, CDLabel, FilePath, FileSize, "
                                           "CreateDate, LastUpdateDate) VALUES ('a\"b,c' || char(10) || 'd' "
                                           "|| char(1) || 'e\\', CAST(x'41ff42' AS TEXT), 'D: x', '1', ' ', "
                                           "NULL)"));
        const QByteArray csvRow = "\"a\"\"b,c\nd\x01"
                                  "e\\\",A\xff"
                                  "B,D: x,1,, \r\n";
        const Run csv = run({"export", "-c", path, "-f", "csv"});
        QCOMPARE(csv.out.mid(csv.out.indexOf("\r\n") + 2), csvRow);
        const QByteArray jsonRow =
            "{\"File Name\":\"a\\\"b,c\\u000ad\\u0001e\\\\\",\"CD-Label\":\"A\xEF\xBF\xBD"
            "B\",\"Path\":\"D: x\",\"FileSize\":\"1\",\"Last Updated\":\"\",\"Created\":\" \"}\n";
        const Run json = run({"export", "-c", path, "-f", "json"});
        QCOMPARE(json.out, jsonRow);
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString missing = m_dir.filePath("missing.mdb");
        const QString notCatalogue = m_dir.filePath("notes.txt");
        QFile notes(notCatalogue);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write(QByteArray(4096, 'x')) > 0);
        const QString noTable = m_dir.filePath("notable.mdb");
        QVERIFY(CatalogueFile::CreateFromScript(noTable, "CREATE TABLE Other (x);"));
        const QString missingText = "Database file could not be found.\nPlease specify the file path of "
                                    "'ZODidozode.mdb'.";
        for (const QString &command : QStringList{"search", "add", "discs", "export", "check"}) {
            QStringList arguments{command, "-c", missing};
            if (command == "search" || command == "add")
                arguments << m_dir.path();
            QTest::addRow("%s: missing catalogue", qPrintable(command)) << arguments << missingText;
        }
        QTest::newRow("a directory is no catalogue")
            << QStringList{"discs", "-c", m_dir.path()} << missingText;
        QTest::newRow("not a database")
            << QStringList{"search", "x", "-c", notCatalogue} << "is not a catalogue";
        QTest::newRow("no table") << QStringList{"export", "-c", noTable} << "has no table 'Quillary'";
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"find", "x"} << "unknown command 'find'";
        QTest::newRow("unknown option")
            << QStringList{"search", "--fast", "x"} << "unrecognized option '--fast'";
        QTest::newRow("bad format") << QStringList{"export", "--format", "xml"} << "invalid format 'xml'";
        QTest::newRow("option of another command")
            << QStringList{"search", "x", "--label", "L"} << "'--label' does not apply";
        QTest::newRow("two phrases") << QStringList{"search", "a", "b"} << "one PHRASE";
        QTest::newRow("add without source") << QStringList{"add"} << "at least one SOURCE";
    }
    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run result = run(arguments);
        QCOMPARE(result.status, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.startsWith("quillary-cli: ") && result.err.contains(message),
                 qPrintable(result.err));
        QVERIFY(!QFile::exists(m_dir.filePath("missing.mdb"))); // nothing creates a catalogue
    }

    // Without --catalogue the program takes the window's catalogue beside it, and never makes one.
    void windowsCatalogue()
    {
        QTemporaryDir programDir;
        const QString program = programDir.filePath("quillary-cli");
        QVERIFY(QFile::copy(kProgram, program));
        const Run missing = run({"search", "x"}, program);
        QCOMPARE(missing.status, 2);
        QCOMPARE(missing.err,
                 "quillary-cli: " + modConstant::DatabaseMissingMessage().replace("\r\n", "\n") + "\n");
        QVERIFY(!QFile::exists(programDir.filePath(modConstant::kDatabaseFileName)));

        QVERIFY(QFile::copy(m_catalogue, programDir.filePath(modConstant::kDatabaseFileName)));
        const Run found = run({"search", "ärger"}, program);
        QCOMPARE(found.status, 0);
        QCOMPARE(found.out, QByteArray("DISC02: dir/Ärger.txt\nDISC02: dir/ÄRGER2.TXT\n"));
    }

    // add stores what the window's save stores for the walker's list of the same tree; a source that
    // fails is reported and the next one is still stored.
    void addDirectory()
    {
        QTemporaryDir disc;
        const QString root = disc.filePath("MY DISC");
        for (const QString &file :
             QStringList{"a.txt", "Ärger/ölfaß.TXT", "SUB/deep/x.bin", ".hidden", "SUB/.h/y", "Привет.doc"}) {
            QVERIFY(QDir().mkpath(QFileInfo(root + "/" + file).path()));
            QFile f(root + "/" + file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file.toUtf8()) > 0);
        }
        QVERIFY(QFile::link(root, root + "/SUB/loop"));
        QVERIFY(QFile::link(root + "/a.txt", root + "/link.txt"));
        const QString notImage = disc.filePath("notes.txt");
        QFile notes(notImage);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a disc") > 0);

        // The window's way: the walker's list of the tree saved by the save.
        const QString windows = newCatalogue("window.mdb");
        for (const QString &label : QStringList{"MY DISC", "OTHER"})
            QVERIFY(windowSave(windows, root, label));
        QCOMPARE(catalogueRows(windows).size(), 8);

        const QString cli = newCatalogue("cli.mdb");
        const Run plain = run({"add", "-c", cli, disc.filePath("gone"), notImage, root});
        QCOMPARE(plain.status, 2);
        QVERIFY(plain.out.isEmpty());
        const QStringList messages = plain.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(messages.size(), 2); // quiet otherwise: no progress without a terminal
        QVERIFY(messages[0].startsWith("quillary-cli: " + disc.filePath("gone") + ": "));
        QCOMPARE(messages[1], "quillary-cli: '" + notImage + "' is not a disc image (ISO 9660 or UDF).");
        const Run labelled = run({"add", "--label=OTHER", "-c", cli, root + "/"});
        QCOMPARE(labelled.status, 0);
        QVERIFY(labelled.err.isEmpty());
        QCOMPARE(catalogueRows(cli), catalogueRows(windows));

        // On a terminal (script gives it one) the disc's progress is shown, ending in its count.
        if (!QStandardPaths::findExecutable("script").isEmpty()) {
            QStringList words;
            for (QString word : QStringList{kProgram, "add", "-c", m_dir.filePath("tty.mdb"), root})
                words << "'" + word.replace("'", "'\\''") + "'";
            QVERIFY(!newCatalogue("tty.mdb").isEmpty());
            const Run terminal = run({"-qec", words.join(' '), "/dev/null"}, "script");
            QCOMPARE(terminal.status, 0);
            QVERIFY2(terminal.out.endsWith("\r\x1b[KMY DISC: 4 files added\r\n"), terminal.out.constData());
        }

        // A tree without files adds nothing and says so.
        QVERIFY(QDir().mkpath(disc.filePath("empty")));
        const Run empty = run({"add", "-c", cli, disc.filePath("empty")});
        QCOMPARE(empty.status, 2);
        QVERIFY(empty.err.contains("no files"));
        QCOMPARE(catalogueRows(cli).size(), 8);
    }

    // An image file added directly gives the rows the window stores for the same image mounted, with the
    // times the image records; a damaged image and a file that is no image are reported, and the next
    // source is still stored.
    void addImage()
    {
        IsoImage disc("Disc 01");
        for (const QString &file : QStringList{"README.TXT", "Ärger/Übersicht.txt", "Привет/файл.doc",
                                               ".hidden", "Dir/.secret/x.txt", "Dir/sub/deep.bin"})
            QVERIFY(disc.addFile(file, file.toUtf8()));
        for (int i = 0; i <= 100; ++i)
            QVERIFY(
                disc.addFile(QStringLiteral("MANY/f%1.dat").arg(i, 3, 10, QChar(u'0')), QByteArray(i, 'x')));
        const QDateTime midnight(QDate(2020, 1, 2), QTime(0, 0));
        QVERIFY(disc.addFile("Dir/midnight.txt", "m", midnight));
        QVERIFY(QFile::link("..", disc.sourceDir() + "/Dir/loop") &&
                QFile::link("README.TXT", disc.sourceDir() + "/link.txt"));
        if (!disc.buildAndMount())
            QSKIP(qPrintable(disc.skipReason()));
        const QString windows = newCatalogue("window-image.mdb");
        QVERIFY(windowSave(windows, disc.root(), modFunction::GetVolumeLabel(disc.root())));
        QCOMPARE(catalogueRows(windows).size(), 106);

        const QString damaged = m_dir.filePath("damaged.iso");
        QVERIFY(QFile::copy(disc.imagePath(), damaged) && QFile(damaged).resize(18 * 2048));
        const QString notImage = m_dir.filePath("search.mdb");
        const QString fromImage = newCatalogue("image.mdb");
        const Run added = run({"add", "-c", fromImage, damaged, notImage, disc.imagePath()});
        QCOMPARE(added.status, 2);
        const QStringList messages = added.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(messages.size(), 2);
        QVERIFY2(messages[0].startsWith("quillary-cli: '" + damaged + "' is damaged: "),
                 qPrintable(messages[0]));
        QCOMPARE(messages[1], "quillary-cli: '" + notImage + "' is not a disc image (ISO 9660 or UDF).");
        QCOMPARE(catalogueRows(fromImage), catalogueRows(windows));
        const QString dateOnly = GeneralDate::toText(midnight.toSecsSinceEpoch());
        QVERIFY(catalogueRows(fromImage).contains(
            Row{"midnight.txt", "Disc 01", "Disc 01: Dir/midnight.txt", "1", dateOnly, dateOnly}));

        // The mounted disc added by the tool: the label the window shows for it, the same rows.
        const QString fromMount = newCatalogue("mounted.mdb");
        QCOMPARE(run({"add", "-c", fromMount, disc.root()}).status, 0);
        QCOMPARE(catalogueRows(fromMount), catalogueRows(windows));
    }

    // A UDF image: its own label, names, sizes; --label overrides it.
    void addUdfImage()
    {
        if (QStandardPaths::findExecutable("genisoimage").isEmpty())
            QSKIP("genisoimage is not installed");
        QTemporaryDir tree;
        for (const auto &[file, size] :
             QList<QPair<QString, int>>{{"A long name, no 8.3.text", 10}, {"Ünïcode/deep/x.bin", 70000}}) {
            QVERIFY(QDir().mkpath(QFileInfo(tree.filePath(file)).path()));
            QFile f(tree.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, 'u')) == size);
        }
        const QString udf = m_dir.filePath("udf.iso");
        QProcess make;
        make.start("genisoimage",
                   {"-quiet", "-input-charset", "utf-8", "-udf", "-V", "UDFDISC", "-o", udf, tree.path()});
        QVERIFY(make.waitForFinished(120000) && make.exitCode() == 0);
        const QString path = newCatalogue("udf.mdb");
        QCOMPARE(run({"add", "-c", path, udf}).status, 0);
        QCOMPARE(run({"add", "-c", path, "--label", "RENAMED", udf}).status, 0);
        QStringList summary;
        for (const Row &row : catalogueRows(path))
            summary << row.mid(0, 4).join('|');
        QCOMPARE(summary,
                 QStringList({"A long name, no 8.3.text|UDFDISC|UDFDISC: A long name, no 8.3.text|10",
                              "x.bin|UDFDISC|UDFDISC: Ünïcode/deep/x.bin|70000",
                              "A long name, no 8.3.text|RENAMED|RENAMED: A long name, no 8.3.text|10",
                              "x.bin|RENAMED|RENAMED: Ünïcode/deep/x.bin|70000"}));
    }

    void check()
    {
        const QString path = newCatalogue("check.mdb");
        QVERIFY(CatalogueFiles::exec(
            path, "INSERT INTO Quillary (CDLabel, FileName) VALUES ('D', 'a'), ('D', 'b')"));
        const Run first = run({"check", "-c", path});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, QByteArray("integrity: ok\nsearch index: brought up to date\n"));
        SqliteConnection db(path, SqliteConnection::Access::ReadOnly);
        const CatalogueIndex::Status status = CatalogueIndex::Examine(db.handle());
        QVERIFY(status.sound && status.watermark == 2 && status.changed == 0);
        QCOMPARE(run({"check", "-c", path}).out, QByteArray("integrity: ok\nsearch index: up to date\n"));
    }

    void help()
    {
        for (const QString &command : QStringList{"", "search", "add", "discs", "export", "check"}) {
            const Run help = run(command.isEmpty() ? QStringList{"--help"} : QStringList{command, "--help"});
            QCOMPARE(help.status, 0);
            QVERIFY(help.out.startsWith("Usage: quillary-cli ") && help.err.isEmpty());
        }
        QVERIFY(run({"--version"}).out.startsWith("quillary-cli (Quillary) "));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
