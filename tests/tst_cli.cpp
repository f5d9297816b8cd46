// quillary-cli run as a user runs it: the built program on real catalogue files, its output read
// back and compared with what the catalogue layer itself reads and stores.
#include "catalogue/GeneralDate.h"
#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "db/Sqlite.h"
#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "search/CatalogueSearch.h"
#include "search/PhraseMatcher.h"
#include "search/SearchPhrase.h"
#include "settings/modConstant.h"
#include "support/CatalogueFiles.h"
#include "support/IsoImage.h"

#include <QtTest>

namespace {

const QString kSchema = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const QString kProgram = QStringLiteral(QUILLARY_BINARY_DIR "/quillary-cli");

struct Run
{
    int status = -1;
    QByteArray out;
    QString err;
    QStringList messages() const { return err.split(QStringLiteral("quillary-cli: "), Qt::SkipEmptyParts); }
    QByteArray said() const { return QByteArray::number(status) + ' ' + out; } // status and output
};

Run run(const QStringList &arguments, const QString &program = kProgram, const QString &workingDirectory = {})
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError())};
}

// The run failed, printing nothing but one message for each part, in order, holding that part.
void checkFailed(const Run &result, const QStringList &parts)
{
    QCOMPARE(result.said(), QByteArray("2 "));
    QVERIFY2(result.err.startsWith("quillary-cli: ") && result.messages().size() == parts.size(),
             qPrintable(result.err));
    for (qsizetype i = 0; i < parts.size(); ++i)
        QVERIFY2(result.messages()[i].contains(parts[i]), qPrintable(result.err));
}

using Row = QStringList; // the six texts in the order of the list's columns

// The rows next() steps through, six texts each as field(column) gives them.
QList<Row> rowsOf(const auto &next, const auto &field)
{
    QList<Row> result;
    while (next()) {
        result << Row();
        for (int c = 0; c < 6; ++c) {
            const auto text = field(c); // UTF-8, a leading U+FEFF kept
            result.last() << TextForms::fromUtf8(std::string_view(text.data(), size_t(text.size())));
        }
    }
    return result;
}

// Every row of the catalogue as the list shows it, in table order, optionally of one disc.
QList<Row> catalogueRows(const QString &path, const QString &label = QString())
{
    SqliteConnection db(path, SqliteConnection::Access::ReadOnly);
    SqliteStatement rows(db.handle(),
                         "SELECT FileName, CDLabel, FilePath, FileSize, LastUpdateDate, CreateDate "
                         "FROM Quillary WHERE ?1 IS NULL OR CDLabel = ?1 ORDER BY ID");
    if (!label.isNull())
        rows.bind(1, label);
    return rowsOf([&] { return rows.step() == SQLITE_ROW; }, [&](int c) { return rows.text(c); });
}

// What the window's search lists for the phrase.
QList<Row> searchRows(const QString &path, const QString &phrase)
{
    SqliteConnection db(path, SqliteConnection::Access::ReadOnly);
    CatalogueSearch search(db.handle());
    if (!search.find(phrase))
        return {{QStringLiteral("search failed")}};
    return rowsOf([&] { return search.next(); }, [&](int c) { return search.field(c); });
}

// RFC 4180 records: each field quoted (doubled quotes inside) or plain, ended by a comma or CR LF.
QList<Row> parseCsv(const QByteArray &bytes)
{
    static const QRegularExpression field(
        QStringLiteral("\\G(?:\"((?:[^\"]|\"\")*)\"|([^\",\r\n]*))(,|\r\n)"));
    QList<Row> rows{Row()};
    for (const QRegularExpressionMatch &m : field.globalMatch(QString::fromUtf8(bytes))) {
        rows.last() << m.captured(1).replace(QStringLiteral("\"\""), QStringLiteral("\"")) + m.captured(2);
        if (m.captured(3) != u",")
            rows << Row();
    }
    rows.removeLast(); // what follows the last CR LF is no record
    return rows;
}

const Row kHeader{"File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"};

// One object a line, each line ended by a line feed.
QList<Row> parseJson(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n'); // the last one empty
    QJsonObject object;
    const auto next = [&] {
        if (lines.size() <= 1)
            return false;
        // U+FEFF as an escape: Qt's parser drops it where it begins a string.
        object = QJsonDocument::fromJson(lines.takeFirst().replace("\xEF\xBB\xBF", "\\ufeff")).object();
        return true;
    };
    // Sizes are numbers, a blank one null.
    return rowsOf(next, [&](int c) {
        const QJsonValue value = object.value(kHeader[c]);
        if (c == 3 && value.isDouble())
            return QByteArray::number(value.toInteger());
        if (c == 3 && value.isNull())
            return QByteArray(" ");
        return value.toString(QStringLiteral("<missing>")).toUtf8();
    });
}

// The program prints the expected rows in every format (text gives the path alone).
void checkFormats(const QStringList &command, const QList<Row> &expected, int status)
{
    QString paths;
    for (const Row &row : expected)
        paths += row[2] + u'\n';
    const Run text = run(command), csv = run(QStringList{"--format=csv"} + command),
              json = run(QStringList{"-f", "json"} + command);
    QCOMPARE(QList<int>({text.status, csv.status, json.status}), QList<int>(3, status));
    QCOMPARE(QString::fromUtf8(text.out), paths);
    QList<Row> csvRows = parseCsv(csv.out);
    if (command.contains("export")) { // and each file's fingerprint: none here
        for (Row &row : csvRows)
            QCOMPARE(row.takeLast(), &row == &csvRows.first() ? "Fingerprint" : "");
    }
    QCOMPARE(csvRows, QList<Row>{kHeader} + expected);
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
    void RecordStarting(qint32, const clsFile &) override {}
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
        return CatalogueFile::CreateFromSchemaFile(m_dir.filePath(name), kSchema) ? m_dir.filePath(name) : "";
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A catalogue of awkward names on three discs (the last row a first disc's): half of it indexed, half
        // added afterwards, so the search reads both through the index and from the table.
        m_catalogue = newCatalogue("search.mdb");
        QList<QStringList> files = {
            {"DISC01", "O'Brien.txt"},    {"DISC01", "100%.doc"},           {"DISC01", "a_b.txt"},
            {"DISC02", "Ärger.txt"},      {"DISC02", "ÄRGER2.TXT"},         {"DISC02", "Привет мир.mp3"},
            {"DISC02", "ПРИВЕТ.doc"},     {"DISC03", "say \"hi\", ok.txt"}, {"DISC03", "two\nlines.txt"},
            {"DISC03", "  padded  .txt"}, {"DISC03", "plain.txt"},          {"DISC01", "axb.txt"}};
        // U+FEFF leading a name (a QString made from UTF-8 would drop it).
        files.insert(files.size() - 1, {"DISC03", QStringLiteral("\uFEFFmarked.txt")});
        SqliteConnection db(m_catalogue);
        SqliteStatement insert(db.handle(),
                               "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                               "CreateDate, LastUpdateDate) VALUES (?1, ?2, ?1 || ': dir/' || ?2, "
                               "?3, '1/2/2020', '3/4/2021 10:11:12')");
        for (qsizetype i = 0; i < files.size(); ++i) {
            insert.bind(1, files[i][0]);
            insert.bind(2, files[i][1]);
            insert.bind(3, QString::number(100 * (i + 1)));
            QVERIFY(insert.run());
            if (i == files.size() / 2)
                QVERIFY(CatalogueIndex::Refresh(db.handle()));
        }
    }

    // The program lists exactly what the window's search lists, in every format, with the exit status
    // telling whether it found anything.
    void search_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<int>("count"); // a check of its own that the reference is right
        QTest::newRow("apostrophe") << "o'brien" << 1;
        QTest::newRow("percent") << "a%b" << 2;
        QTest::newRow("underscore") << "a_b" << 2;
        QTest::newRow("non-Latin, case ignored") << "привет" << 2;
        QTest::newRow("blanks trimmed at the ends only") << " d  .t " << 1;
        QTest::newRow("empty: everything") << "" << 13;
        // U+FEFF is a character of the phrase like any other, also where it begins the phrase.
        QTest::newRow("U+FEFF alone") << QStringLiteral("\uFEFF") << 1;
        QTest::newRow("U+FEFF leading") << QStringLiteral("\uFEFFm ") << 1;
        QTest::newRow("no match") << "zzz" << 0;
    }
    void search()
    {
        QFETCH(QString, phrase);
        QFETCH(int, count);
        const QList<Row> expected = searchRows(m_catalogue, SearchPhrase::TrimBlanks(phrase));
        QCOMPARE(expected.size(), count);
        checkFormats({"--catalogue", m_catalogue, "search", "--", phrase}, expected, count ? 0 : 1);
    }

    void exportAndDiscs()
    {
        checkFormats({"export", "-c", m_catalogue, "--disc", "DISC02"}, catalogueRows(m_catalogue, "DISC02"),
                     0);
        // Everything, while a save in progress elsewhere is not seen until it commits.
        SqliteConnection writer(m_catalogue);
        QVERIFY(writer.exec("BEGIN IMMEDIATE; INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) "
                            "SELECT 'DISC04', FileName, FilePath, FileSize FROM Quillary"));
        checkFormats({"export", "-c", m_catalogue}, catalogueRows(m_catalogue), 0);
        QVERIFY(writer.exec("ROLLBACK"));
        // Rows no disc record claims: runs of consecutive rows with one label, each a disc.
        QCOMPARE(run({"discs", "-c", m_catalogue}).said(),
                 QByteArray("0 -\tDISC01\t3\t600\t-\t-\tunrecorded\n-\tDISC02\t4\t2200\t-\t-\tunrecorded\n"
                            "-\tDISC03\t5\t5000\t-\t-\tunrecorded\n-\tDISC01\t1\t1300\t-\t-\tunrecorded\n"));
        // A table without row IDs, another tool's, in its own order.
        const QString noRowIds = m_dir.filePath("norowid.mdb");
        QVERIFY(CatalogueFile::CreateFromScript(
            noRowIds,
            "CREATE TABLE Quillary (CDLabel, FileName, FilePath PRIMARY KEY, FileSize, CreateDate, "
            "LastUpdateDate) WITHOUT ROWID; INSERT INTO Quillary VALUES ('D', 'b', 'D: b', '2', '', 'x'), "
            "('D', 'a', 'D: a', '1', '', '');"));
        checkFormats({"export", "-c", noRowIds},
                     {{"a", "D", "D: a", "1", "", ""}, {"b", "D", "D: b", "2", "x", ""}}, 0);
        QCOMPARE(run({"discs", "-c", noRowIds}).said(), QByteArray("0 -\tD\t2\t3\t-\t-\tunrecorded\n"));
    }

    // An image read again: untouched, every file is ok; made again with one byte of a file changed, a
    // file cut short, one removed and one added, exactly those four are reported. The fingerprints
    // stored are xxhsum's; duplicates by content find a copy on another disc, not a file of the same
    // name and size with other bytes.
    void contentOfAnImage()
    {
        const QString catalogue = newCatalogue("content.mdb");
        IsoImage image("VERIFY");
        const QDateTime when = QDateTime::currentDateTime().addDays(-3);
        QByteArray big(3 << 20, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 % 251);
        QVERIFY(image.addFile("same.txt", "unchanged", when) && image.addFile("DATA/byte.bin", big, when) &&
                image.addFile("DATA/cut.bin", big, when) && image.addFile("gone.txt", "removed", when) &&
                image.addFile("empty", {}, when));
        if (!image.build())
            QSKIP(qPrintable(image.skipReason()));
        QCOMPARE(run({"add", "-c", catalogue, "--content", image.imagePath()}).said(), "0 ");

        if (!QStandardPaths::findExecutable("xxhsum").isEmpty()) {
            const QStringList names = {"same.txt", "DATA/byte.bin", "DATA/cut.bin", "gone.txt", "empty"};
            QProcess xxhsum;
            xxhsum.setWorkingDirectory(image.sourceDir());
            xxhsum.start("xxhsum", QStringList{"-H128"} + names);
            QVERIFY(xxhsum.waitForFinished() && xxhsum.exitCode() == 0);
            QStringList expected, stored;
            for (const QByteArray &line : xxhsum.readAllStandardOutput().split('\n')) {
                if (!line.isEmpty())
                    expected << "VERIFY: " + line.mid(34) + ' ' + line.left(32);
            }
            for (const QByteArray &line : run({"export", "-c", catalogue, "-f", "json"}).out.split('\n')) {
                const QJsonObject file = QJsonDocument::fromJson(line).object();
                if (!file.isEmpty())
                    stored << file["Path"].toString() + ' ' + file["Fingerprint"].toString();
            }
            expected.sort();
            stored.sort();
            QCOMPARE(stored, expected);
        }
        const Run untouched = run({"verify", "-c", catalogue, "1", image.imagePath()});
        QCOMPARE(untouched.status, 0);
        QVERIFY2(untouched.out.endsWith(": 5 files: 5 ok, 0 changed, 0 missing, 0 unreadable, 0 new; content "
                                        "compared for 5 files\n"),
                 untouched.out);

        QFile byte(image.sourceDir() + "/DATA/byte.bin"), cut(image.sourceDir() + "/DATA/cut.bin");
        QVERIFY(byte.open(QIODevice::ReadWrite) && byte.seek(1000000) && byte.write("\xff", 1) == 1 &&
                byte.flush() && byte.setFileTime(when, QFileDevice::FileModificationTime));
        byte.close();
        QVERIFY(cut.resize(100000) && QFile::remove(image.sourceDir() + "/gone.txt") &&
                image.addFile("new.txt", "added", when));
        QVERIFY(image.build());
        const Run changed = run({"verify", "-c", catalogue, "1", image.imagePath()});
        QCOMPARE(changed.status, 1);
        QStringList lines = QString::fromUtf8(changed.out).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(
            lines.last().endsWith(
                ": 6 files: 2 ok, 2 changed, 1 missing, 0 unreadable, 1 new; content compared for 3 files"),
            qPrintable(lines.last()));
        lines.removeLast();
        QCOMPARE(lines, QStringList({"missing\tVERIFY: gone.txt", "changed (content)\tVERIFY: DATA/byte.bin",
                                     "changed (size)\tVERIFY: DATA/cut.bin", "new\tVERIFY: new.txt"}));
        QCOMPARE(run({"verify", "-c", catalogue, "-f", "json", "1", image.imagePath()}).out.count('\n'), 6);
        // Replaced without its content read, the disc has no fingerprints (its files may hold other bytes
        // now); fingerprint gives them again.
        QCOMPARE(run({"add", "-c", catalogue, "--replace", image.imagePath()}).status, 0);
        QVERIFY(run({"verify", "-c", catalogue, "1", image.imagePath()})
                    .said()
                    .endsWith(": 5 files: 5 ok, 0 changed, 0 missing, 0 unreadable, 0 new; content was not "
                              "checked (the disc has no fingerprints)\n"));
        QVERIFY(run({"fingerprint", "-c", catalogue, "1", image.imagePath()})
                    .said()
                    .endsWith(": 5 of 5 files fingerprinted\n"));
        QVERIFY(run({"verify", "-c", catalogue, "1", image.imagePath()}).said().startsWith("0 "));

        const QString copies = m_dir.filePath("copies");
        QVERIFY(QDir().mkpath(copies));
        for (const auto &[name, content] :
             {std::pair{"copy.txt", "unchanged"}, std::pair{"same.txt", "UNCHANGED"}}) {
            QFile file(copies + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == 9);
        }
        QCOMPARE(run({"add", "-c", catalogue, "--content", copies}).said(), "0 ");
        const QJsonObject group =
            QJsonDocument::fromJson(run({"duplicates", "-c", catalogue, "--content", "-f", "json"}).out)
                .object();
        QCOMPARE(group["size"].toInt(), 9);
        QCOMPARE(group["copies"].toArray().size(), 2);
        QCOMPARE(group["copies"][0]["path"].toString(), "VERIFY: same.txt");
        QCOMPARE(group["copies"][1]["path"].toString(), "copies: copy.txt");
        QVERIFY(run({"duplicates", "-c", catalogue}).out.contains("copies: same.txt")); // by name and size
    }

    // A file that fails with EIO while it is read (from a FUSE file system of the tests') is reported
    // unreadable, and the files after it are still read and compared.
    void verifyGoesOnPastAnUnreadableFile()
    {
#ifndef QUILLARY_EIO_FS
        QSKIP("built without libfuse3-dev, so without the tests' FUSE file system");
#else
        if (qEnvironmentVariableIsEmpty("QUILLARY_PRIVATE_MOUNTS") || !QFileInfo::exists("/dev/fuse"))
            QSKIP("a FUSE file system is mounted only in a private mount namespace (root, unshare) with "
                  "/dev/fuse");
        const QString source = m_dir.filePath("damaged"), mount = m_dir.filePath("mnt/DAMAGED");
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(mount));
        for (const auto &[name, bytes] :
             {std::pair{"a.txt", 5}, std::pair{"unreadable.bin", 1 << 20}, std::pair{"z.txt", 300000}}) {
            QFile file(source + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, 'q')) == bytes);
        }
        QProcess fs;
        fs.start(QUILLARY_EIO_FS, {source, mount, "-f", "-s"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mount + "/z.txt"), 10000);
        const QString catalogue = newCatalogue("damaged.mdb");
        QCOMPARE(run({"add", "-c", catalogue, "--content", mount}).said(), "0 ");
        QFile marker(source + "/.fail"); // from now on unreadable.bin cannot be read
        QVERIFY(marker.open(QIODevice::WriteOnly));
        const Run verified = run({"verify", "-c", catalogue, "DAMAGED", mount});
        fs.terminate();
        QVERIFY(fs.waitForFinished());
        QCOMPARE(verified.status, 1);
        QStringList lines = QString::fromUtf8(verified.out).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(lines.takeLast().endsWith(
            ": 3 files: 2 ok, 0 changed, 0 missing, 1 unreadable, 0 new; content compared for 3 files"));
        QCOMPARE(lines, QStringList{"unreadable (Input/output error)\tDAMAGED: unreadable.bin"});
#endif
    }

    // The exact bytes of the quoting, for a name with every character that needs it.
    void quoting()
    {
        const QString path = newCatalogue("quoting.mdb");
        QVERIFY(SqliteConnection(path).exec("INSERT INTO Quillary (FileName, CDLabel, FilePath, FileSize, "
                                            "CreateDate, LastUpdateDate) VALUES ('a\"b,c' || char(10) || 'd' "
                                            "|| char(1) || 'e\\', CAST(x'41ff42' AS TEXT), 'D: x', '1', ' ', "
                                            "NULL)"));
        const QByteArray csv = run({"export", "-c", path, "-f", "csv"}).out;
        QCOMPARE(csv.mid(csv.indexOf("\r\n") + 2), QByteArray("\"a\"\"b,c\nd\x01"
                                                              "e\\\",A\xff"
                                                              "B,D: x,1,, ,\r\n"));
        QCOMPARE(
            run({"export", "-c", path, "-f", "json"}).out,
            QByteArray("{\"File Name\":\"a\\\"b,c\\u000ad\\u0001e\\\\\",\"CD-Label\":\"A\xEF\xBF\xBD"
                       "B\",\"Path\":\"D: x\",\"FileSize\":1,\"Last Updated\":\"\",\"Created\":\" \"}\n"));
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString missing = m_dir.filePath("missing.mdb"), noTable = m_dir.filePath("notable.mdb");
        QVERIFY(CatalogueFile::CreateFromScript(noTable, "CREATE TABLE Other (x);"));
        const QString missingText = modConstant::DatabaseMissingMessage().replace("\r\n", "\n");
        for (const QStringList &command :
             {QStringList{"search", "x"}, {"add", m_dir.path()}, {"discs"}, {"export"}, {"check"}})
            QTest::addRow("%s: missing catalogue", qPrintable(command[0]))
                << command + QStringList{"-c", missing} << missingText;
        QTest::newRow("a directory is no catalogue")
            << QStringList{"discs", "-c", m_dir.path()} << missingText;
        QTest::newRow("not a database") << QStringList{"search", "x", "-c", kSchema} << "is not a catalogue";
        QTest::newRow("no table") << QStringList{"export", "-c", noTable} << "has no table 'Quillary'";
        // The commands that fail on the catalogue say why in the same words.
        const QString empty = m_dir.filePath("empty.mdb"), noState = m_dir.filePath("nostate.mdb");
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
        QVERIFY(QFile::copy(newCatalogue("state.mdb"), noState) &&
                SqliteConnection(noState).exec("DROP TABLE QuillarySearchState"));
        for (const QStringList &command : {QStringList{"search", "x"}, {"add", m_dir.path()}, {"check"}})
            QTest::addRow("%s: empty file", qPrintable(command[0]))
                << command + QStringList{"-c", empty}
                << "The file '" + empty + "' is empty: it is not a Quillary catalogue.";
        QTest::newRow("add: a table of the index dropped")
            << QStringList{"add", m_dir.path(), "-c", noState}
            << "search index of the catalogue '" + noState +
                   "' is incomplete: it has no table 'QuillarySearchState'";
        QTest::newRow("unknown disc")
            << QStringList{"export", "-c", m_catalogue, "--disc", "DISC9"} << "DISC9";
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
        checkFailed(run(arguments), {message});
        QVERIFY(!QFile::exists(m_dir.filePath("missing.mdb"))); // nothing creates a catalogue
    }

    // Without --catalogue the program takes the window's catalogue beside it, and never makes one.
    void windowsCatalogue()
    {
        QTemporaryDir programDir;
        const QString program = programDir.filePath("quillary-cli"),
                      beside = programDir.filePath(modConstant::kDatabaseFileName);
        QVERIFY(QFile::copy(kProgram, program));
        checkFailed(run({"search", "x"}, program),
                    {modConstant::DatabaseMissingMessage().replace("\r\n", "\n")});
        QVERIFY(!QFile::exists(beside) && QFile::copy(m_catalogue, beside));
        QCOMPARE(run({"search", "ärger"}, program).said(),
                 QByteArray("0 DISC02: dir/Ärger.txt\nDISC02: dir/ÄRGER2.TXT\n"));
    }

    // Every argument is taken as typed: a U+FEFF that begins the catalogue's file name, a source or a
    // label is part of it, not a byte-order mark to drop.
    void leadingFeffKept()
    {
        const QString feff(QChar(0xFEFF)), catalogue = feff + "marked.mdb", disc = feff + "disc";
        QVERIFY(QFile::copy(newCatalogue("unmarked.mdb"), m_dir.filePath(catalogue)));
        QVERIFY(QDir(m_dir.path()).mkpath(disc) &&
                QFile(m_dir.filePath(disc + "/f.txt")).open(QIODevice::WriteOnly));
        const auto runHere = [&](const QStringList &arguments) {
            return run(arguments, kProgram, m_dir.path());
        };
        QCOMPARE(runHere({"add", "-c", catalogue, disc}).said(), QByteArray("0 "));
        QCOMPARE(runHere({"add", "--catalogue=" + catalogue, "--label", feff + "label", disc}).said(),
                 QByteArray("0 "));
        const Run discs = runHere({"discs", "-c", catalogue});
        QCOMPARE(discs.status, 0);
        const QStringList lines = QString::fromUtf8(discs.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QStringList fields = lines[i].split('\t');
            QVERIFY(fields.size() == 7 && !fields[4].isEmpty());
            fields.removeAt(4); // when it was added
            QCOMPARE(fields, QStringList({QString::number(i + 1), feff + (i ? "label" : "disc"), "1", "0",
                                          "-", "directory " + m_dir.filePath(disc)}));
        }
    }

    // add stores what the window's "List Files" and "Add to Database" store: for a directory (labelled
    // by its name), a mounted disc (the label the window shows), an image file (the rows of the image
    // mounted, with the times it records) and a UDF image (labelled by --label). A source that fails is
    // reported and the next one is still stored; output is quiet but for the failures.
    void add()
    {
        IsoImage disc("Disc 01");
        for (const QString &file : QStringList{"README.TXT", "Ärger/Übersicht.txt", "Привет/файл.doc",
                                               ".hidden", "Dir/.secret/x.txt", "Dir/sub/deep.bin"})
            QVERIFY(disc.addFile(file, file.toUtf8()));
        for (int i = 0; i <= 100; ++i)
            QVERIFY(disc.addFile(QString("MANY/f%1.dat").arg(i, 3, 10, QChar('0')), QByteArray(i, 'x')));
        const QDateTime midnight(QDate(2020, 1, 2), QTime(0, 0));
        const QString tree = disc.sourceDir(), empty = m_dir.filePath("empty"), gone = m_dir.filePath("gone");
        QVERIFY(disc.addFile("Dir/midnight.txt", "m", midnight) && QDir().mkpath(empty));
        QVERIFY(QFile::link("..", tree + "/Dir/loop") && QFile::link("README.TXT", tree + "/link.txt"));
        if (!disc.buildAndMount())
            QSKIP(qPrintable(disc.skipReason()));
        const QString damaged = m_dir.filePath("damaged.iso"), udf = m_dir.filePath("udf.iso");
        QVERIFY(QFile::copy(disc.imagePath(), damaged) && QFile(damaged).resize(18 * 2048));

        const QString windows = newCatalogue("window.mdb"), cli = newCatalogue("cli.mdb");
        QVERIFY(windowSave(windows, tree, "tree"));
        QCOMPARE(catalogueRows(windows).size(), 106);
        const QString label = modFunction::GetVolumeLabel(disc.root());
        QVERIFY(windowSave(windows, disc.root(), label) && windowSave(windows, disc.root(), label));
        checkFailed(run({"add", "-c", cli, "--again", gone, empty, tree + '/', damaged, m_catalogue,
                         disc.imagePath(), disc.root()}),
                    {gone + ": ", "no files", "'" + damaged + "' is damaged: ",
                     "'" + m_catalogue + "' is not a disc image (ISO 9660 or UDF)."});
        if (!QStandardPaths::findExecutable("genisoimage").isEmpty()) {
            QVERIFY(run({"-input-charset", "utf-8", "-udf", "-o", udf, tree}, "genisoimage").status == 0);
            QCOMPARE(run({"add", "-c", cli, "--label", "OTHER", udf}).said(), QByteArray("0 "));
            QVERIFY(windowSave(windows, disc.root(), "OTHER"));
        }
        QCOMPARE(catalogueRows(cli), catalogueRows(windows));
        const QString dateOnly = GeneralDate::toText(midnight.toSecsSinceEpoch());
        QVERIFY(catalogueRows(cli).contains(
            Row{"midnight.txt", "Disc 01", "Disc 01: Dir/midnight.txt", "1", dateOnly, dateOnly}));

        // On a terminal (script gives it one) the disc's progress is shown, ending in its count.
        if (!QStandardPaths::findExecutable("script").isEmpty()) {
            const Run terminal =
                run({"-qec", "'" + kProgram + "' add --again -c '" + cli + "' '" + tree + "'", "/dev/null"},
                    "script");
            QCOMPARE(terminal.status, 0);
            QVERIFY2(terminal.out.endsWith("\r\x1b[Ktree: 106 files added\r\n"), terminal.out.constData());
        }
    }

    // A disc is never said to be added to a damaged catalogue: catalogues with bytes overwritten here and
    // there, which SQLite's own check calls damaged, are refused before anything is written, whether
    // or not the save's statements would have succeeded.
    void addRefusesADamagedCatalogue()
    {
        const QString sound = newCatalogue("sound.mdb"), tree = m_dir.filePath("small");
        QVERIFY(QDir().mkpath(tree + "/sub"));
        for (const char *file : {"a.txt", "sub/b.txt"}) {
            QFile f(tree + '/' + QString::fromUtf8(file));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
        }
        for (int disc = 1; disc <= 40; ++disc)
            QCOMPARE(run({"add", "-c", sound, "--label", QString("DISC%1").arg(disc), tree}).status, 0);
        QVERIFY(CatalogueFiles::exec(sound,
                                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                     "WHERE i < 3000) INSERT INTO Quillary (CDLabel, FileName, FilePath) "
                                     "SELECT 'BULK', 'file' || i || '.txt', 'BULK: file' || i FROM n"));
        QCOMPARE(run({"check", "-c", sound}).status, 0);
        QFile original(sound);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();
        const qsizetype pageSize = 4096;
        QVERIFY(bytes.size() > 20 * pageSize);

        QRandomGenerator random(18);
        int damagedSeen = 0;
        for (int attempt = 0; attempt < 400 && damagedSeen < 12; ++attempt) {
            QByteArray mutated = bytes;
            const qsizetype page = 1 + random.bounded(mutated.size() / pageSize - 1);
            const qsizetype at = page * pageSize + random.bounded(pageSize - 8);
            for (int i = 0; i < 8; ++i)
                mutated[at + i] = char(random.bounded(256));
            const QString path = m_dir.filePath(QString("damaged%1.mdb").arg(attempt));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(mutated) == mutated.size());
            file.close();
            if (CatalogueFiles::value(path, "PRAGMA integrity_check").toString() == "ok")
                continue;
            ++damagedSeen;
            const Run added = run({"add", "-c", path, "--label", "NEW", tree});
            QVERIFY2(added.status == 2 && added.out.isEmpty() && added.err.contains(path),
                     qPrintable(QString("%1: %2").arg(attempt).arg(added.err)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == mutated, qPrintable(QString("written to: %1").arg(attempt)));
        }
        QCOMPARE(damagedSeen, 12);
    }

    // An image holding a directory that contains itself (a damaged image): the rest of it is stored, the
    // directory left out is named, and the status says the image was not stored whole.
    // Each disc added is a disc of its own, with its number, its source and the identity its volume
    // descriptor gives: two images with one label are two discs (also for export --disc LABEL, which
    // takes both). A catalogue made before discs were recorded (rows only) lists its rows as runs of
    // one label and takes new discs, which are then listed in row order among them; csv and json say
    // the same.
    void discs()
    {
        QList<std::shared_ptr<IsoImage>> images;
        for (int i = 0; i < 2; ++i) {
            images << std::make_shared<IsoImage>("ISOIMAGE");
            images[i]->setFileSystems({"-R", "-J", "-volset", QString("SET%1").arg(i)});
            for (int f = 0; f <= i; ++f)
                QVERIFY(images[i]->addFile(QString("F%1.TXT").arg(f), QByteArray(10 * (f + 1), 'x')));
            if (!images[i]->build())
                QSKIP(qPrintable(images[i]->skipReason()));
        }
        QFile schema(kSchema);
        QVERIFY(schema.open(QIODevice::ReadOnly));
        QString script = QString::fromUtf8(schema.readAll());
        const qsizetype from = script.indexOf("-- ===== Discs"), to = script.indexOf("-- ===== Search index");
        QVERIFY(from > 0 && to > from);
        const QString older = m_dir.filePath("older.mdb");
        QVERIFY(CatalogueFile::CreateFromScript(older, script.remove(from, to - from)));
        QVERIFY(CatalogueFiles::exec(older,
                                     "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) VALUES "
                                     "('OLD', 'a', 'OLD: a', '1'), ('OLD', 'b', 'OLD: b', ' '), "
                                     "('ISOIMAGE', 'c', 'ISOIMAGE: c', '4')"));
        QCOMPARE(run({"discs", "-c", older}).said(),
                 QByteArray("0 -\tOLD\t2\t1\t-\t-\tunrecorded\n-\tISOIMAGE\t1\t4\t-\t-\tunrecorded\n"));

        QCOMPARE(run({"add", "-c", older, images[0]->imagePath(), images[1]->imagePath()}).said(), "0 ");
        QVERIFY(
            CatalogueFiles::exec(older, "INSERT INTO Quillary (CDLabel, FileName) VALUES ('LATER', 'd')"));
        QCOMPARE(CatalogueFiles::discProblems(older), QString());
        const Run json = run({"discs", "-c", older, "--format", "json"});
        QCOMPARE(json.status, 0);
        QList<QJsonObject> discs;
        for (const QByteArray &line : json.out.split('\n')) {
            if (!line.isEmpty())
                discs << QJsonDocument::fromJson(line).object();
        }
        QCOMPARE(discs.size(), 5);
        const auto figures = [](const QJsonObject &disc) {
            return QVariantList{disc["number"].toVariant(),     disc["label"].toString(),
                                disc["files"].toInteger(),      disc["bytes"].toInteger(),
                                disc["source_kind"].toString(), disc["source"].toVariant()};
        };
        const QVariant null = QVariant::fromValue(nullptr);
        QCOMPARE(figures(discs[0]), QVariantList({null, "OLD", 2, 1, "unrecorded", null}));
        QCOMPARE(figures(discs[1]), QVariantList({null, "ISOIMAGE", 1, 4, "unrecorded", null}));
        QCOMPARE(figures(discs[2]), QVariantList({1, "ISOIMAGE", 1, 10, "image", images[0]->imagePath()}));
        QCOMPARE(figures(discs[3]), QVariantList({2, "ISOIMAGE", 2, 30, "image", images[1]->imagePath()}));
        QCOMPARE(figures(discs[4]), QVariantList({null, "LATER", 1, 0, "unrecorded", null}));
        QVERIFY(discs[0]["added"].isNull() && discs[0]["identity"].isNull());
        for (int i : {2, 3}) {
            QVERIFY2(discs[i]["identity"].toString().startsWith("iso9660 UUID=") &&
                         discs[i]["identity"].toString().endsWith(QString(" VOLUME_SET_ID=SET%1").arg(i - 2)),
                     qPrintable(discs[i]["identity"].toString()));
            QVERIFY(QDateTime::fromString(discs[i]["added"].toString(), Qt::ISODate).isValid());
        }

        // The text and csv forms of the same discs.
        const QList<Row> csv = parseCsv(run({"discs", "-c", older, "-f", "csv"}).out);
        QCOMPARE(csv.size(), 6);
        QCOMPARE(csv[0],
                 Row({"Number", "Label", "Files", "Bytes", "Added", "Identity", "Source Kind", "Source"}));
        QCOMPARE(csv[1], Row({"", "OLD", "2", "1", "", "", "unrecorded", ""}));
        QCOMPARE(csv[4], Row({"2", "ISOIMAGE", "2", "30", discs[3]["added"].toString(),
                              discs[3]["identity"].toString(), "image", images[1]->imagePath()}));
        const QList<QByteArray> text = run({"discs", "-c", older}).out.split('\n');
        QCOMPARE(text[3], ("2\tISOIMAGE\t2\t30\t" + discs[3]["added"].toString() + '\t' +
                           discs[3]["identity"].toString() + "\timage " + images[1]->imagePath())
                              .toUtf8());
        QCOMPARE(run({"export", "-c", older, "--disc", "2"}).said(),
                 "0 ISOIMAGE: F0.TXT\nISOIMAGE: F1.TXT\n");
        checkFailed(run({"export", "-c", older, "--disc", "ISOIMAGE"}), {"'ISOIMAGE' names 3 discs: "});

        // Discs recorded without counts (by an older build) are counted when listed, and check stores
        // their counts; so it does for counts that a row deleted by another program made wrong.
        const QByteArray listed = run({"discs", "-c", older}).out;
        QVERIFY(CatalogueFiles::exec(older, "ALTER TABLE QuillaryDiscRows DROP COLUMN Files; ALTER TABLE "
                                            "QuillaryDiscRows DROP COLUMN Bytes"));
        QCOMPARE(run({"discs", "-c", older}).out, listed);
        const auto checked = [&](const char *ranges) {
            const Run check = run({"check", "-c", older});
            return check.status == 0 && check.out.startsWith("integrity: ok\nsearch index: ") &&
                   check.out.endsWith(QByteArray("\ndiscs: the files of ") + ranges +
                                      " ranges of rows counted again\n");
        };
        QVERIFY(checked("2"));
        QCOMPARE(run({"discs", "-c", older}).out, listed);
        QVERIFY(CatalogueFiles::exec(older, "DELETE FROM Quillary WHERE FileName = 'F1.TXT'"));
        QVERIFY(checked("1"));
        QVERIFY(run({"discs", "-c", older}).out.contains("\n2\tISOIMAGE\t1\t10\t"));
        QCOMPARE(CatalogueFiles::discProblems(older), QString());
    }

    // remove and rename, each in one transaction, leave the search (the window's, and the program's in
    // every form) equal to a brute-force reading of the table, with the search index up to date and the
    // record of the discs sound; a DISC is a number or a label that names exactly one disc, else nothing
    // is changed and the candidates are named. search and export --disc take exactly one disc's rows.
    void removeAndRename()
    {
        const QString catalogue = newCatalogue("discs.mdb");
        QVERIFY(CatalogueFiles::exec(catalogue,
                                     "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) "
                                     "VALUES ('OLD', 'old1.txt', 'OLD: old1.txt', '1'), ('OLD', "
                                     "'Ärger.doc', 'OLD: Ärger.doc', '2')"));
        const auto makeDisc = [&](const QString &name, int files) {
            const QString dir = m_dir.filePath("tree-" + name);
            QVERIFY(QDir().mkpath(dir + "/sub"));
            for (int i = 0; i < files; ++i) {
                QFile file(dir + (i % 2 ? "/sub/" : "/") + QString("%1-file%2.txt").arg(name).arg(i));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(i, 'x')) == i);
            }
        };
        for (const auto &[name, files] : {std::pair{"one", 40}, std::pair{"two", 30}, std::pair{"three", 20}})
            makeDisc(name, files);
        QCOMPARE(run({"add", "-c", catalogue, "--label", "SAME", m_dir.filePath("tree-one")}).said(), "0 ");
        {
            SqliteConnection db(catalogue);
            QVERIFY(CatalogueIndex::Refresh(db.handle())); // the rows so far indexed, the later ones not
        }
        QCOMPARE(run({"add", "-c", catalogue, "--label", "SAME", m_dir.filePath("tree-two")}).said(), "0 ");
        QCOMPARE(run({"add", "-c", catalogue, "--label", "OTHER", m_dir.filePath("tree-three")}).said(),
                 "0 ");

        const QStringList phrases = {"", "file1", "ÄRGER", "%2.t_t", "one-", "zzz"};
        const auto searchesEqualTheTable = [&] {
            for (const QString &phrase : phrases) {
                QList<Row> expected;
                const PhraseMatcher matcher(phrase);
                for (const Row &row : catalogueRows(catalogue)) {
                    if (matcher.matches(row[0].toStdString()))
                        expected << row;
                }
                QCOMPARE(searchRows(catalogue, phrase), expected);
                QCOMPARE(parseCsv(run({"search", "-c", catalogue, "-f", "csv", "--", phrase}).out).mid(1),
                         expected);
            }
            QCOMPARE(CatalogueFiles::discProblems(catalogue), QString());
        };
        searchesEqualTheTable();

        // Names that do not name exactly one disc change nothing.
        const QByteArray before = run({"export", "-c", catalogue, "-f", "csv"}).out;
        checkFailed(run({"remove", "-c", catalogue, "OTHER", "SAME"}),
                    {"'SAME' names 2 discs: disc 1 'SAME' (directory " + m_dir.filePath("tree-one")});
        checkFailed(run({"rename", "-c", catalogue, "9", "X"}), {"no disc '9'"});
        checkFailed(run({"remove", "-c", catalogue, "OLD", "NONE"}), {"no disc 'NONE'"});
        QCOMPARE(run({"export", "-c", catalogue, "-f", "csv"}).out, before);

        // One disc's rows.
        const auto discRows = [&](const QString &label) { return catalogueRows(catalogue, label); };
        checkFormats({"export", "-c", catalogue, "--disc", "OTHER"}, discRows("OTHER"), 0);
        checkFormats({"export", "-c", catalogue, "--disc", "OLD"}, discRows("OLD"), 0);
        QCOMPARE(parseCsv(run({"export", "-c", catalogue, "-f", "csv", "--disc", "2"}).out).size(), 31);
        QList<Row> twoFile1;
        for (const Row &row :
             parseCsv(run({"export", "-c", catalogue, "-f", "csv", "--disc", "2"}).out).mid(1)) {
            if (PhraseMatcher("file1").matches(row[0].toStdString()))
                twoFile1 << row.mid(0, kHeader.size()); // without the fingerprint
        }
        QCOMPARE(twoFile1.size(), 11);
        checkFormats({"search", "-c", catalogue, "--disc", "2", "file1"}, twoFile1, 0);

        // Removed: the rows of disc 1 (indexed) and of the unrecorded OLD rows; the other disc named SAME
        // is then the only one.
        const auto added = [&](int number) {
            return CatalogueFiles::value(
                       catalogue, QString("SELECT Added FROM QuillaryDisc WHERE Number = %1").arg(number))
                .toString()
                .toUtf8();
        };
        const QByteArray removedSaid = "0 removed disc 1 'SAME' (directory " +
                                       m_dir.filePath("tree-one").toUtf8() + ", added " + added(1) +
                                       "): 40 files\nremoved the unrecorded disc 'OLD' (rows 1-2): 2 files\n";
        QCOMPARE(run({"remove", "-c", catalogue, "1", "OLD"}).said(), removedSaid);
        QCOMPARE(CatalogueFiles::value(catalogue, "SELECT count(*) FROM Quillary"), 50);
        searchesEqualTheTable();
        QCOMPARE(run({"check", "-c", catalogue}).said(), "0 integrity: ok\nsearch index: up to date\n");

        // Renamed: the label and the label part of every stored path.
        QCOMPARE(run({"rename", "-c", catalogue, "SAME", "New: Label"}).said(),
                 "0 renamed disc 2 'SAME' (directory " + m_dir.filePath("tree-two").toUtf8() + ", added " +
                     added(2) + ") to 'New: Label': 30 files\n");
        const QList<Row> renamed = discRows("New: Label");
        QCOMPARE(renamed.size(), 30);
        for (const Row &row : renamed)
            QVERIFY2(row[1] == "New: Label" &&
                         (row[2] == "New: Label: " + row[0] || row[2] == "New: Label: sub/" + row[0]),
                     qPrintable(row[2]));
        QCOMPARE(discRows("SAME"), QList<Row>());
        QVERIFY(run({"discs", "-c", catalogue}).out.startsWith("2\tNew: Label\t30\t435\t"));
        searchesEqualTheTable();
        QCOMPARE(run({"check", "-c", catalogue}).said(), "0 integrity: ok\nsearch index: up to date\n");
    }

    // add refuses a medium catalogued already (an image by its identity, a directory by its label and
    // files), names the disc there and goes on with the other sources: exit 1 when only refusals
    // happened, 2 when a source failed. --again stores it as another disc; --replace puts the files in
    // place of that disc's rows, in one transaction, keeping its number, and says what changed.
    void addRefusesWhatIsCatalogued()
    {
        IsoImage image("RESCUE");
        QVERIFY(image.addFile("BOOT.BIN", "boot"));
        if (!image.build())
            QSKIP(qPrintable(image.skipReason()));
        const QString tree = m_dir.filePath("refused-tree"), gone = m_dir.filePath("gone");
        QVERIFY(QDir().mkpath(tree + "/sub"));
        const auto write = [&](const QString &name, const QByteArray &content) {
            QFile file(tree + '/' + name);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        QVERIFY(write("same.txt", "1") && write("changed.txt", "22") && write("sub/gone.txt", "333"));
        const QString catalogue = newCatalogue("refused.mdb");
        QCOMPARE(run({"add", "-c", catalogue, image.imagePath()}).said(), "0 ");
        QCOMPARE(run({"add", "-c", catalogue, "--label", "TREE", tree}).said(), "0 ");
        const QList<Row> before = catalogueRows(catalogue);

        const auto refusal = [&](const QString &source, const QString &disc) {
            return source + ": already in the catalogue as " + disc;
        };
        const QString first = "disc 1 'RESCUE' (image " + image.imagePath();
        const QString second = "disc 2 'TREE' (directory " + tree;
        const Run refused = run({"add", "-c", catalogue, "--label", "TREE", tree, image.imagePath()});
        QCOMPARE(refused.said(), "1 ");
        QCOMPARE(refused.messages().size(), 2);
        QVERIFY2(refused.messages()[0].startsWith(refusal(tree, second)), qPrintable(refused.err));
        QVERIFY2(refused.messages()[1].startsWith(refusal(image.imagePath(), first)),
                 qPrintable(refused.err));
        checkFailed(run({"add", "-c", catalogue, image.imagePath(), gone}),
                    {refusal(image.imagePath(), first), gone});
        QCOMPARE(catalogueRows(catalogue), before);

        QCOMPARE(run({"add", "-c", catalogue, "--again", image.imagePath()}).said(), "0 ");
        QCOMPARE(CatalogueFiles::value(catalogue,
                                       "SELECT count(DISTINCT Identity) || ' of ' || count(*) FROM "
                                       "QuillaryDisc WHERE Identity IS NOT NULL"),
                 "1 of 2");

        // The tree rewritten: a file added, one gone, one changed in size; the same one unchanged.
        QVERIFY(QFile::remove(tree + "/sub/gone.txt") && write("changed.txt", "4444") &&
                write("new.txt", ""));
        // The summary names the disc as it was found (added at its first add).
        const QString added =
            CatalogueFiles::value(catalogue, "SELECT Added FROM QuillaryDisc WHERE Number = 2").toString();
        const Run replaced = run({"add", "-c", catalogue, "--replace", "--label", "TREE", tree});
        QCOMPARE(replaced.status, 0);
        QCOMPARE(replaced.err, QString());
        QCOMPARE(QString::fromUtf8(replaced.out),
                 tree + ": replaced " + second + ", added " + added +
                     "): 1 added, 1 removed, 1 changed\n+ TREE: new.txt\n- TREE: sub/gone.txt\n~ TREE: "
                     "changed.txt\n");
        // Disc 2 holds exactly what a fresh add of the tree stores; the other discs are as they were.
        const QString fresh = newCatalogue("fresh.mdb");
        QCOMPARE(run({"add", "-c", fresh, "--label", "TREE", tree}).said(), "0 ");
        QCOMPARE(parseCsv(run({"export", "-c", catalogue, "--disc", "2", "-f", "csv"}).out),
                 parseCsv(run({"export", "-c", fresh, "-f", "csv"}).out));
        QCOMPARE(catalogueRows(catalogue, "RESCUE").size(), 2);
        QCOMPARE(CatalogueFiles::discProblems(catalogue), QString());
        const QList<QByteArray> discs = run({"discs", "-c", catalogue}).out.split('\n');
        QVERIFY2(discs.size() == 4 && discs[0].startsWith("1\tRESCUE\t1\t4\t") &&
                     discs[1].startsWith("2\tTREE\t3\t5\t") && discs[2].startsWith("3\tRESCUE\t1\t4\t"),
                 discs.join('|').constData());
        // Unchanged files are refused again; --again and --replace do not go together.
        QCOMPARE(run({"add", "-c", catalogue, "--label", "TREE", tree}).status, 1);
        QCOMPARE(run({"add", "-c", catalogue, "--again", "--replace", tree}).status, 2);
        // The rows replaced are noted by the index's triggers; check finds the index sound.
        QCOMPARE(run({"check", "-c", catalogue}).said(),
                 "0 integrity: ok\nsearch index: brought up to date\n");
    }

    // duplicates: files of the same name and size on two or more discs (a disc no record claims
    // included), grouped, biggest first; copies on one disc alone are none; exit 1 when there are none.
    void duplicates()
    {
        const QString catalogue = newCatalogue("duplicates.mdb");
        QCOMPARE(run({"duplicates", "-c", catalogue}).said(), "1 ");
        QVERIFY(CatalogueFiles::exec(
            catalogue, "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) VALUES "
                       "('A', 'big.iso', 'A: big.iso', '5000'), ('A', 'same.txt', 'A: same.txt', '10'), "
                       "('A', 'twice.txt', 'A: twice.txt', '1'), ('A', 'twice.txt', 'A: d/twice.txt', '1'), "
                       "('B', 'big.iso', 'B: big.iso', '5000'), ('B', 'same.txt', 'B: same.txt', '11'), "
                       "('A', 'same.txt', 'A: e/same.txt', '10')"));
        const QString tree = m_dir.filePath("dup-tree");
        QVERIFY(QDir().mkpath(tree));
        QFile file(tree + "/same.txt");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("0123456789") == 10);
        file.close();
        QCOMPARE(run({"add", "-c", catalogue, "--label", "C", tree}).said(), "0 ");
        QCOMPARE(run({"duplicates", "-c", catalogue}).said(),
                 "0 5000\tbig.iso\n\t-\tA: big.iso\n\t-\tB: big.iso\n10\tsame.txt\n\t-\tA: same.txt\n\t-\tA: "
                 "e/same.txt\n\t1\tC: same.txt\n");
        const QJsonObject first =
            QJsonDocument::fromJson(run({"duplicates", "-c", catalogue, "-f", "json"}).out.split('\n')[1])
                .object();
        QCOMPARE(first["size"].toInteger(), 10);
        QCOMPARE(first["copies"].toArray().last().toObject()["disc"].toInteger(), 1);
        QVERIFY(first["copies"].toArray().first().toObject()["disc"].isNull());
        QCOMPARE(parseCsv(run({"duplicates", "-c", catalogue, "-f", "csv"}).out).size(), 6);
        // Once one copy of big.iso is gone, it is no duplicate.
        QCOMPARE(run({"remove", "-c", catalogue, "B"}).status, 0);
        QVERIFY(!run({"duplicates", "-c", catalogue}).out.contains("big.iso"));
    }

    // search --min-size and --max-size: bounds in bytes, K, M and G counting 1024, 1024^2 and 1024^3.
    void searchBySize()
    {
        const QString catalogue = newCatalogue("sizes.mdb");
        QVERIFY(CatalogueFiles::exec(
            catalogue, "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize) VALUES "
                       "('S', 'a', 'S: a', '1023'), ('S', 'b', 'S: b', '1024'), ('S', 'c', 'S: c', "
                       "'1025'), ('S', 'd', 'S: d', '3221225472'), ('S', 'e', 'S: e', ' ')"));
        QCOMPARE(run({"search", "-c", catalogue, "--max-size", "1K", ""}).said(), "0 S: a\nS: b\nS: e\n");
        QCOMPARE(run({"search", "-c", catalogue, "--min-size=1k", "--max-size", "2M", ""}).said(),
                 "0 S: b\nS: c\n");
        QCOMPARE(run({"search", "-c", catalogue, "--min-size", "3G", ""}).said(), "0 S: d\n");
        QCOMPARE(run({"search", "-c", catalogue, "--min-size", "3G", "a"}).said(), "1 ");
        const QJsonObject row =
            QJsonDocument::fromJson(run({"search", "-c", catalogue, "-f", "json", "d"}).out).object();
        QCOMPARE(row["FileSize"].toInteger(), 3221225472);
        QVERIFY(QJsonDocument::fromJson(run({"search", "-c", catalogue, "-f", "json", "e"}).out)
                    .object()["FileSize"]
                    .isNull());
        for (const char *size : {"1T", "-1", "K", "1.5M"})
            QCOMPARE(run({"search", "-c", catalogue, "--max-size", size, "a"}).status, 2);
        QCOMPARE(run({"export", "-c", catalogue, "--min-size", "1"}).status, 2);
    }

    void add_imageWithALoop_storesTheRest()
    {
        IsoImage disc("LOOPS");
        disc.setFileSystems({"-R"});
        QVERIFY(disc.addFile("a.txt", "1") && disc.addFile("sub/loop/c.txt", "22") &&
                disc.addFile("sub/zz/d.txt", "333"));
        if (!disc.build())
            QSKIP(qPrintable(disc.skipReason()));
        QVERIFY(disc.makeDirectoryContainItself("LOOP"));
        const QString cli = newCatalogue("loop.mdb");
        checkFailed(
            run({"add", "-c", cli, disc.imagePath()}),
            {"'" + disc.imagePath() + "' is listed without 'sub/loop/', which leads back to a directory"});
        QStringList stored;
        for (const Row &row : catalogueRows(cli))
            stored << row[2] + ' ' + row[3];
        QCOMPARE(stored, QStringList({"LOOPS: a.txt 1", "LOOPS: sub/zz/d.txt 3"}));
    }

    // After the searches, which found the catalogue half indexed. A catalogue made without the index, and
    // one whose table has no ID column of its own for the index, are searched by reading every name.
    void check()
    {
        for (const char *index : {"brought up to date", "up to date"})
            QCOMPARE(run({"check", "-c", m_catalogue}).said(),
                     "0 integrity: ok\nsearch index: " + QByteArray(index) + '\n');
        QFile schema(kSchema);
        QVERIFY(schema.open(QIODevice::ReadOnly));
        const QString script = QString::fromUtf8(schema.readAll()),
                      end = QStringLiteral("-- ===== Search index"), noIndex = m_dir.filePath("noindex.mdb"),
                      noKey = m_dir.filePath("nokey.mdb");
        QVERIFY(script.contains(end) && script.contains("ID INTEGER PRIMARY KEY,"));
        QVERIFY(CatalogueFile::CreateFromScript(noIndex, script.left(script.indexOf(end))));
        QVERIFY(CatalogueFile::CreateFromScript(noKey,
                                                QString(script).replace("ID INTEGER PRIMARY KEY,", "ID,")));
        QCOMPARE(run({"check", "-c", noIndex}).said(),
                 "0 integrity: ok\nsearch index: none (every search reads all names)\n");
        QCOMPARE(run({"check", "-c", noKey}).said(),
                 "0 integrity: ok\nsearch index: not used, the table Quillary has no ID column of its own "
                 "(every search reads all names)\n");
    }

    // check fails, naming the catalogue and saying what is wrong with it, where another program holds
    // the catalogue, where it is no catalogue at all (which an empty file is not either, though SQLite
    // opens one) and where a part of its search index is missing. SQLite's reason follows in
    // parentheses when it has one.
    void checkSaysWhy_data()
    {
        QTest::addColumn<QString>("setUp"); // run on a new catalogue holding a row
        QTest::addColumn<QString>("lock");  // held by another connection meanwhile
        QTest::addColumn<bool>("integrityChecked");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty file") << QString() << QString() << false
                                    << "The file '%1' is empty: it is not a Quillary catalogue.";
        QTest::newRow("no table Quillary")
            << "DROP TABLE Quillary; CREATE TABLE Other (x);" << QString() << false
            << "The file '%1' is not a Quillary catalogue: it has no table 'Quillary'.";
        QTest::newRow("a table of the index dropped")
            << "DROP TABLE QuillarySearchState;" << QString() << true
            << "The search index of the catalogue '%1' is incomplete: it has no table 'QuillarySearchState'.";
        QTest::newRow("the index's data dropped")
            << "DROP TABLE QuillarySearchTrigram_data;" << QString() << true
            << "The search index of the catalogue '%1' is incomplete: it has no table "
               "'QuillarySearchTrigram_data'.";
        QTest::newRow("a trigger of the index dropped")
            << "DROP TRIGGER QuillarySearchOnUpdate;" << QString() << true
            << "The search index of the catalogue '%1' is incomplete: it has no trigger "
               "'QuillarySearchOnUpdate'.";
        QTest::newRow("another program writes")
            << QString() << "BEGIN IMMEDIATE" << true << "The catalogue '%1' is locked by another program.";
        QTest::newRow("another program commits")
            << QString() << "BEGIN EXCLUSIVE" << false << "The catalogue '%1' is locked by another program.";
    }
    void checkSaysWhy()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, lock);
        QFETCH(bool, integrityChecked);
        QFETCH(QString, message);
        const QString path = newCatalogue(QStringLiteral("check%1.mdb").arg(QTest::currentDataTag()));
        QVERIFY(SqliteConnection(path).exec("INSERT INTO Quillary (FileName) VALUES ('a.txt')"));
        if (QByteArray(QTest::currentDataTag()) == "empty file")
            QVERIFY(QFile(path).resize(0));
        QVERIFY(setUp.isEmpty() || SqliteConnection(path).exec(setUp.toUtf8().constData()));
        SqliteConnection other(path);
        QVERIFY(lock.isEmpty() || (other.exec(lock.toUtf8().constData()) &&
                                   other.exec("INSERT INTO Quillary (FileName) VALUES ('b.txt')")));
        const Run check = run({"check", "-c", path});
        QCOMPARE(check.said(), QByteArray(integrityChecked ? "2 integrity: ok\n" : "2 "));
        QCOMPARE(check.messages().size(), 1);
        QVERIFY2(check.err.contains(message.arg(path)) && !check.err.contains("not an error"),
                 qPrintable(check.err));
    }

    // An index changed behind the program's back is never believed: searches read the names instead,
    // and check finds even what a search cannot see cheaply (a trigram row swapped for another name under
    // the same count) and builds the index afresh.
    void checkRebuildsAnAlteredIndex_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("finding");
        QTest::addColumn<bool>("seenBySearch");
        QTest::newRow("trigram index emptied")
            << "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram) VALUES ('delete-all')"
            << QByteArray("it was changed by another program") << true;
        QTest::newRow("folded names changed") << "UPDATE QuillarySearchFold SET Name = 'z' WHERE ID % 3 = 0"
                                              << QByteArray("it was changed") << true;
        QTest::newRow("trigram row swapped")
            << "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rowid, Name) SELECT 'delete', ID, "
               "Name "
               "FROM QuillarySearchFold WHERE ID = 2; INSERT INTO QuillarySearchTrigram (rowid, Name) VALUES "
               "(2, "
               "'zzzz')"
            << QByteArray("its trigram index did not match the names") << false;
    }
    void checkRebuildsAnAlteredIndex()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, finding);
        QFETCH(bool, seenBySearch);
        const QString catalogue = m_dir.filePath(QString("altered-%1.mdb").arg(QTest::currentDataTag()));
        QVERIFY(QFile::copy(m_catalogue, catalogue));
        QCOMPARE(run({"check", "-c", catalogue}).status, 0);
        QVERIFY(CatalogueFiles::exec(catalogue, change));
        const QList<Row> all = catalogueRows(catalogue);
        for (const QString phrase : {"%", "txt", "ärger", "100%"}) {
            if (!seenBySearch)
                break;
            QList<Row> expected;
            const PhraseMatcher matcher(phrase);
            for (const Row &row : all) {
                if (matcher.matches(row[0].toStdString()))
                    expected << row;
            }
            checkFormats({"search", "-c", catalogue, "--", phrase}, expected, expected.isEmpty() ? 1 : 0);
        }
        const Run checked = run({"check", "-c", catalogue});
        QVERIFY2(checked.said().startsWith("0 integrity: ok\nsearch index: rebuilt (" + finding),
                 checked.said().constData());
        QCOMPARE(run({"check", "-c", catalogue}).said(), "0 integrity: ok\nsearch index: up to date\n");
    }

    void help()
    {
        for (const QString &command : QStringList{"", "search", "add", "discs", "export", "check"}) {
            const Run help = run(command.isEmpty() ? QStringList{"--help"} : QStringList{command, "--help"});
            QVERIFY(help.status == 0 && help.out.startsWith("Usage: quillary-cli ") && help.err.isEmpty());
        }
        QVERIFY(run({"--version"}).out.startsWith("quillary-cli (Quillary) "));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
