// quillary-cli on a catalogue kept on a real PostgreSQL server, which this test starts in a temporary
// directory as an unprivileged user (Debian's postgresql package), listening on a socket there only.
#include "support/CatalogueFiles.h"
#include "support/PostgresServer.h"

#include <QtTest>

namespace {

const QString kProgram = QStringLiteral(QUILLARY_BINARY_DIR "/quillary-cli");
const QString kEmptyCatalogue = QStringLiteral(QUILLARY_BINARY_DIR "/shipped/ZODidozode.mdb");

struct Run
{
    int status = -1;
    QByteArray out;
    QString err;
};

Run run(const QStringList &arguments)
{
    QProcess process;
    process.start(kProgram, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError())};
}

// n empty files below dir, spread over folders, named after stem.
void makeTree(const QString &dir, int n, const QString &stem)
{
    for (int i = 0; i < n; ++i) {
        const QString folder = dir + QStringLiteral("/f%1").arg(i / 1000);
        if (i % 1000 == 0)
            QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/%1%2.dat").arg(stem).arg(i));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(i % 7, 'x'));
    }
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PostgresServer> m_server;
    int m_databases = 0;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A new catalogue on the server (init run as the user runs it); its connection string.
    QString newServerCatalogue()
    {
        const QString database = QStringLiteral("catalogue%1").arg(++m_databases);
        m_server->psql(QStringLiteral("CREATE DATABASE %1").arg(database));
        const QString uri = m_server->connection(database);
        const Run made = run({"init", uri});
        return made.status == 0 ? uri : QString();
    }
    QString newFileCatalogue(const QString &name)
    {
        QFile::copy(kEmptyCatalogue, path(name));
        QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner);
        return path(name);
    }
    qint64 count(const QString &uri, const QString &sql)
    {
        return m_server->psql(sql, uri.section(QStringLiteral("dbname="), 1).section(' ', 0, 0)).toLongLong();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString why;
        m_server = PostgresServer::Start(m_dir.path(), &why, {QStringLiteral("fsync=off")});
        if (!m_server)
            QSKIP(qPrintable(why));
    }

    // The same discs on both engines give the same rows for every phrase, in the same order; a copy
    // file -> server -> file gives the same rows and discs again.
    void sameRowsAsCatalogueFile()
    {
        const QStringList stems{"readme", "setup",   "Ärger", "straße",   "Москва",      "École",
                                "日本語", "Ωmega",   "ǅemal", "data_1",   "100%",        "O'Brien",
                                "naïve",  "ΣΊΣΥΦΟΣ", "über",  "𐐀deseret", "back\\slash", "tab\tname"};
        const QStringList extensions{".txt", ".DOC", ".jpg", "", ".tar.gz"};
        const QString tree = path("names");
        for (int i = 0; i < 1500; ++i) {
            const QString stem = stems[i % stems.size()],
                          more = i % 4 ? ' ' + stems[i * 7 % 13].toUpper() : QString();
            const QString folder = tree + QStringLiteral("/d%1").arg(i % 9);
            QDir().mkpath(folder);
            QFile file(folder + '/' + QStringList{stem, stem.toUpper(), stem.toLower()}[i % 3] + more +
                       (i % 5 ? QString::number(i % 101) : QString()) + extensions[i / 16 % 5]);
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray(i % 13, 'x'));
        }
        const QString file = newFileCatalogue("same.mdb");
        const QString server = newServerCatalogue();
        QVERIFY(!server.isEmpty());
        // On the server the first disc's names go under the index (check); the second's wait for theirs.
        for (const QString &catalogue : {file, server}) {
            QCOMPARE(run({"add", "-c", catalogue, tree, "--label", "ONE"}).status, 0);
            QVERIFY(run({"check", "-c", catalogue}).out.contains("search index: "));
            QCOMPARE(run({"add", "-c", catalogue, tree + "/d3", "--label", "TWO"}).status, 0);
        }
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_waiting"), qint64(1));
        const QStringList phrases{"",      "straße",  "STRASSE", "москва",   "école", "日本",    "本語 ",
                                  "ωmega", "ǆemal",   "data_1",  "data\\_1", "100%",  "σίσυφοσ", "ÜBER",
                                  "𐐨de",   "me%txt",  "r_a_m",   "_",        "%",     "%%_%",    "ab",
                                  "é",     "back\\s", "\\",      "file1",    "ÄRGER", "%2.t_t",  "one-",
                                  "zzz",   "b\tn",    "'",       "o'b%1_"};
        const auto samePhrases = [&] {
            for (const QString &phrase : phrases) {
                const Run onFile = run({"search", "-c", file, "--format=csv", phrase});
                const Run onServer = run({"search", "-c", server, "--format=csv", phrase});
                QVERIFY2(onFile.status == 0 || onFile.status == 1, qPrintable(onFile.err));
                QCOMPARE(onServer.status, onFile.status);
                QCOMPARE(onServer.err, QString());
                QVERIFY2(onServer.out == onFile.out, qPrintable(phrase));
            }
        };
        samePhrases();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(run({"check", "-c", server}).out.contains("search index: brought up to date"));
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_waiting"), qint64(0));
        samePhrases();
        if (QTest::currentTestFailed())
            return;
        // A disc replaced by fewer files, and by more, keeps its place in the table's order.
        for (const QString &catalogue : {file, server}) {
            QCOMPARE(run({"add", "-c", catalogue, "--replace", tree + "/d5", "--label", "ONE"}).status, 0);
            QCOMPARE(run({"add", "-c", catalogue, "--replace", tree, "--label", "TWO"}).status, 0);
            QCOMPARE(run({"add", "-c", catalogue, "--again", "--content", tree + "/d3", "--label", "THREE"})
                         .status,
                     0);
        }
        for (const QStringList &command :
             {QStringList{"export"}, QStringList{"export", "--disc", "TWO"}, QStringList{"duplicates"},
              QStringList{"search", "--disc", "2", "ärger"}, QStringList{"search", "ärger"},
              QStringList{"search", "readme1"}, QStringList{"duplicates", "--content"},
              QStringList{"export", "--format=csv"}, QStringList{"verify", "THREE", tree + "/d3"}}) {
            // The discs were added to each catalogue at its own time.
            const auto withoutTimes = [](const QByteArray &out) {
                return QString::fromUtf8(out).replace(QRegularExpression("added [0-9T:-]+Z"), "added T");
            };
            QCOMPARE(withoutTimes(run(QStringList{"-c", server} + command).out),
                     withoutTimes(run(QStringList{"-c", file} + command).out));
        }

        // file -> server -> file: the same rows, and the same discs (number, label, time, source).
        const QString middle = newServerCatalogue();
        const QString back = newFileCatalogue("back.mdb");
        QCOMPARE(run({"copy", file, middle}).status, 0);
        const Run copied = run({"copy", middle, back});
        QCOMPARE(copied.status, 0);
        const qint64 files = run({"export", "-c", file}).out.count('\n');
        QVERIFY2(copied.out.startsWith("copied 3 discs and "), copied.out.constData());
        for (const char *command : {"export", "discs"})
            QCOMPARE(run({command, "-c", back, "--format=json"}).out,
                     run({command, "-c", file, "--format=json"}).out);
        QCOMPARE(CatalogueFiles::discProblems(back), QString());
        // Into a catalogue that is not empty, nothing is copied.
        const Run refused = run({"copy", file, middle});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("is not empty"), qPrintable(refused.err));
        QCOMPARE(count(middle, "SELECT count(*) FROM quillary_file"), files);
    }

    // Two processes add at once: both succeed, each disc's rows whole and in a run of their own. A
    // reader meanwhile sees whole discs only, also through the index while check brings names into it;
    // a medium added twice at once is stored once.
    void concurrentAddsAndReaders()
    {
        const QString server = newServerCatalogue();
        QVERIFY(!server.isEmpty());
        const int n = 20000;
        makeTree(path("a"), n, "a");
        makeTree(path("b"), n, "b");
        QProcess first, second;
        first.start(kProgram, {"add", "-c", server, path("a")});
        second.start(kProgram, {"add", "-c", server, path("b"), path("a")});
        while (first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) {
            const Run read = run({"export", "-c", server});
            QCOMPARE(read.status, 0);
            const qint64 rows = read.out.count('\n');
            QVERIFY2(rows % n == 0, qPrintable(QString::number(rows)));
            const Run found = run({"search", "-c", server, "dat"}); // every name, through the index
            QVERIFY2(found.out.count('\n') % n == 0, qPrintable(found.err));
            const Run checked = run({"check", "-c", server});
            QVERIFY2(checked.status == 0 && !checked.out.contains("rebuilt"), checked.out.constData());
            first.waitForFinished(1); // takes note of the processes' ends
            second.waitForFinished(1);
        }
        QVERIFY(first.exitStatus() == QProcess::NormalExit && second.exitStatus() == QProcess::NormalExit);
        // a/ is stored by the process that comes to it first; the other finds it stored already, or
        // being stored (it waits for that), and refuses it.
        QCOMPARE(QSet<int>({first.exitCode(), second.exitCode()}), QSet<int>({0, 1}));
        QVERIFY(
            (first.exitCode() ? first : second).readAllStandardError().contains("already in the catalogue"));
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_disc"), qint64(2));
        QCOMPARE(count(server, "SELECT count(*) FROM (SELECT disc FROM quillary_file GROUP BY disc HAVING "
                               "count(*) = 20000 AND max(id) - min(id) = 19999) AS t"),
                 qint64(2));
        QCOMPARE(run({"export", "-c", server}).out.count('\n'), 2 * n);
        QCOMPARE(run({"search", "-c", server, "dat"}).out.count('\n'), 2 * n);
        QVERIFY(!run({"check", "-c", server}).out.contains("rebuilt"));
    }

    // A role that may only read can search and export, and is refused add before any disc is read,
    // with a message that says why; a role with the rights the README grants to add can add.
    void rolesAndRights()
    {
        const QString server = newServerCatalogue();
        QVERIFY(!server.isEmpty());
        makeTree(path("small"), 10, "s");
        QCOMPARE(run({"add", "-c", server, path("small")}).status, 0);
        const QString database = server.section(QStringLiteral("dbname="), 1);
        m_server->psql("CREATE ROLE reader LOGIN; CREATE ROLE adder LOGIN", database);
        m_server->psql(
            "GRANT SELECT ON quillary_schema, quillary_disc, quillary_file, quillary_name, quillary_waiting, "
            "quillary_fingerprint TO reader, adder; "
            "GRANT INSERT ON quillary_disc, quillary_file, quillary_name, quillary_waiting, "
            "quillary_fingerprint "
            "TO adder; GRANT DELETE ON quillary_waiting TO adder; "
            "GRANT UPDATE ON SEQUENCE quillary_file_id TO adder",
            database);
        const QString asReader = QString(server).replace("user=quillary", "user=reader");
        const QString asAdder = QString(server).replace("user=quillary", "user=adder");
        QCOMPARE(run({"search", "-c", asReader, "s1"}).out, QByteArray("small: f0/s1.dat\n"));
        QCOMPARE(run({"export", "-c", asReader}).status, 0);
        makeTree(path("more"), 10, "m");
        const Run refused = run({"add", "-c", asReader, path("more")});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("Your role on the server may not change the catalogue") &&
                     refused.err.contains("the role reader may not add") &&
                     refused.err.contains("Nothing was added"),
                 qPrintable(refused.err));
        QCOMPARE(run({"add", "-c", asAdder, path("more")}).status, 0);
        const Run removing = run({"remove", "-c", asAdder, "more"});
        QCOMPARE(removing.status, 2);
        QVERIFY2(removing.err.contains("may not change the catalogue") &&
                     removing.err.contains("permission denied"),
                 qPrintable(removing.err));
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_file"), qint64(20));
        // A database without a catalogue, and a password never shown.
        m_server->psql("CREATE DATABASE plain");
        const Run none = run({"search", "-c", m_server->connection("plain") + " password=secret", "x"});
        QCOMPARE(none.status, 2);
        QVERIFY2(none.err.contains("holds no Quillary catalogue") && !none.err.contains("secret"),
                 qPrintable(none.err));
        const QString socket = m_server->connection("plain").section("host=", 1).section(' ', 0, 0);
        const Run uri = run({"discs", "-c", "postgresql://quillary:secret@/plain?host=" + socket});
        QCOMPARE(uri.status, 2);
        QVERIFY2(uri.err.contains("postgresql://quillary:***@/plain") && !uri.err.contains("secret"),
                 qPrintable(uri.err));
    }

    // A schema newer than the program's is refused; an older one is refused until check --upgrade has
    // brought it up to date, in one transaction, with the rights of the roles that could read it. check
    // then compares the index's names with the rows.
    void schemaVersions()
    {
        const QString server = newServerCatalogue();
        QVERIFY(!server.isEmpty());
        makeTree(path("old"), 30, "o");
        QCOMPARE(run({"add", "-c", server, path("old")}).status, 0);
        const QByteArray found = run({"search", "-c", server, "o1"}).out;
        QCOMPARE(found.count('\n'), 11);
        const QString database = server.section(QStringLiteral("dbname="), 1);
        m_server->psql("UPDATE quillary_schema SET version = version + 1", database);
        Run newer = run({"search", "-c", server, "x"});
        QCOMPARE(newer.status, 2);
        QVERIFY2(newer.err.contains("made by a newer Quillary"), qPrintable(newer.err));
        // The first schema: no fingerprints, the names under an index on quillary_file.
        m_server->psql("DROP TABLE quillary_fingerprint, quillary_name, quillary_waiting; CREATE INDEX "
                       "quillary_file_name_folded ON quillary_file USING gin (name_folded gin_trgm_ops); "
                       "UPDATE quillary_schema SET version = 1; CREATE ROLE old_reader LOGIN; GRANT SELECT "
                       "ON quillary_schema, quillary_disc, quillary_file TO old_reader",
                       database);
        for (const QStringList &command : {QStringList{"search", "x"}, QStringList{"check"}}) {
            const Run older = run(command + QStringList{"-c", server});
            QCOMPARE(older.status, 2);
            QVERIFY2(older.err.contains("check --upgrade"), qPrintable(older.err));
        }
        const Run upgraded = run({"check", "--upgrade", "-c", server});
        QVERIFY2(upgraded.status == 0, qPrintable(upgraded.err));
        QVERIFY2(upgraded.out.contains("schema: upgraded from version 1 to 3"), upgraded.out.constData());
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_name"), qint64(30));
        QCOMPARE(run({"search", "-c", server, "o1"}).out, found);
        QCOMPARE(run({"search", "-c", QString(server).replace("user=quillary", "user=old_reader"), "o1"}).out,
                 found);
        QCOMPARE(run({"duplicates", "--content", "-c", server}).status, 1); // the table is there
        QVERIFY(run({"check", "--upgrade", "-c", server}).out.contains("up to date"));

        m_server->psql(
            "DELETE FROM quillary_name WHERE id = (SELECT min(id) FROM quillary_name); INSERT INTO "
            "quillary_name VALUES (999999, 'o1 ghost')",
            database);
        const Run mended = run({"check", "-c", server});
        QVERIFY2(mended.out.contains("search index: rebuilt (1 names in the index were of no row, 1 names "
                                     "were missing from the index)"),
                 mended.out.constData());
        QCOMPARE(run({"search", "-c", server, "o1"}).out, found);
    }

    // The server stops while discs are being added: what was committed stays, whole, nothing of the disc
    // in progress is kept, and the add says so with exit status 2.
    void serverStoppedDuringAdd()
    {
        const QString server = newServerCatalogue();
        QVERIFY(!server.isEmpty());
        makeTree(path("first"), 100, "x");
        makeTree(path("big1"), 60000, "y");
        makeTree(path("big2"), 60000, "z");
        QProcess add;
        add.start(kProgram, {"add", "-c", server, path("first"), path("big1"), path("big2")});
        QTRY_VERIFY_WITH_TIMEOUT(count(server, "SELECT count(*) FROM quillary_disc") >= 1, 120000);
        m_server->stop(QStringLiteral("immediate"));
        QVERIFY(add.waitForFinished(120000));
        QCOMPARE(add.exitCode(), 2);
        const QString err = QString::fromUtf8(add.readAllStandardError());
        QVERIFY2(
            err.contains("The file list could not be saved") &&
                (err.contains("connection to the catalogue server") || err.contains("could not be reached")),
            qPrintable(err));
        QString why;
        QVERIFY2(m_server->start(&why), qPrintable(why));
        const Run discs = run({"discs", "-c", server, "--format=csv"});
        QCOMPARE(discs.status, 0);
        const QList<QByteArray> lines = discs.out.split('\n');
        QVERIFY(lines.size() >= 3); // the header, at least the first disc, the empty end
        QVERIFY(lines[1].startsWith("1,first,100,"));
        qint64 files = 100;
        for (int i = 2; i + 1 < lines.size(); ++i) {
            QVERIFY(lines[i].contains(",60000,")); // a disc committed before the stop is whole
            files += 60000;
        }
        QCOMPARE(count(server, "SELECT count(*) FROM quillary_file"), files);
        QVERIFY(files < 120100); // the stop came before the last disc was stored
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
