// The search tab: searching the catalogue by a phrase and clearing the result; the search index.
#include "app/frmZIDovidovarar.h"
#include "db/CatalogueFile.h"
#include "db/CatalogueIndex.h"
#include "search/CatalogueSearch.h"
#include "search/SearchResultModel.h"
#include "settings/modConstant.h"
#include "support/CatalogueFiles.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const QString kSchemaFile = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const char *const kPlainTable = "CREATE TABLE Quillary (ID, CDLabel, FileName, FilePath, FileSize, "
                                "CreateDate, LastUpdateDate)";
const char *const kKeyedTable = "CREATE TABLE Quillary (ID, CDLabel, FileName PRIMARY KEY, FilePath, "
                                "FileSize, CreateDate, LastUpdateDate) WITHOUT ROWID";

// A catalogue made as the build makes it (with the search index) or by a script.
struct Catalogue
{
    explicit Catalogue(const QString &path, const char *script = "") : path(path)
    {
        if (*script ? CatalogueFile::CreateFromScript(path, script)
                    : CatalogueFile::CreateFromSchemaFile(path, kSchemaFile))
            connection = SqliteConnection(path);
        db = connection.handle();
    }
    bool exec(const QString &s) { return connection.exec(qUtf8Printable(s)); }
    bool add(QStringList names, int numbered = 0) // files of disc DISC01, then file1.txt, file2.txt, ...
    {
        for (int i = 1; i <= numbered; ++i)
            names.append(QStringLiteral("file%1.txt").arg(i));
        for (QString &n : names)
            n = QString("(NULL, 'DISC01', '%1', 'DISC01: %1', 9, 'old', 'new')").arg(n.replace('\'', "''"));
        return exec("INSERT INTO Quillary VALUES " + names.join(','));
    }
    // The names a search must find, in the table's order, by a comparison of its own: the phrase as a
    // regular expression ("%" any run of characters, "_" any one) that ignores letter case in every alphabet.
    QStringList bruteForce(const QString &phrase) const
    {
        const QString pattern = QRegularExpression::escape(phrase).replace("\\%", ".*").replace('_', '.');
        return CatalogueFiles::value(path, "SELECT group_concat(FileName, char(10)) FROM Quillary")
            .toString()
            .split('\n')
            .filter(QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption |
                                                    QRegularExpression::DotMatchesEverythingOption));
    }
    QString path;
    SqliteConnection connection;
    sqlite3 *db = nullptr;
};

// The names CatalogueSearch reads for the phrase, and any mismatch with its count or the way expected.
QStringList searchNames(sqlite3 *db, const QString &phrase, CatalogueSearch::Method how)
{
    CatalogueSearch search(db);
    QStringList names;
    for (bool found = search.find(phrase); found && search.next();)
        names.append(QString::fromUtf8(search.field(ListColumns::FileName)));
    if (names.size() != search.count() || (search.method() != how && phrase != "%"))
        names << QStringLiteral("(counted %1) ").arg(search.count()) + search.error().text;
    return names;
}

} // namespace

class tst_Search : public QObject
{
    Q_OBJECT

    template <class T> T *get(const char *name) const { return w->findChild<T *>(QLatin1String(name)); }
    QString path() const { return dir->filePath(modConstant::kDatabaseFileName); }
    void run(const QString &phrase) // and check that the window is idle after it
    {
        get<QLineEdit>("txtSearchList")->setText(phrase);
        messages.clear();
        yields = 0;
        w->cmdSearch_Click();
        QVERIFY(get<QToolButton>("cmdSearch")->isEnabled() && w->windowTitle() == modConstant::kAppTitle &&
                w->cursor() != Qt::WaitCursor);
    }
    QAbstractItemModel *list() const { return get<QTreeView>("lvwFileSearch")->model(); }
    QString row(int r, int cells = 6) const // the row's first cells
    {
        QStringList texts;
        for (int c = 0; c < cells; ++c)
            texts.append(list()->index(r, c).data().toString());
        return texts.join(" | ");
    }
    // The tab as the user sees it: the names listed, both labels, the bar's value and maximum.
    QString tab() const
    {
        const auto *bar = get<QProgressBar>("pgbrFileSearch");
        const QString labels =
            get<QLabel>("lblFileSearchMsg")->text() + " | " + get<QLabel>("lblFileSerached")->text();
        QStringList names;
        for (int r = 0; r < list()->rowCount(); ++r)
            names += list()->index(r, 0).data().toString();
        return names.join(',') + " | " + labels + QString::asprintf(" | %d/%d", bar->value(), bar->maximum());
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<frmZIDovidovarar> w;
    QStringList messages;
    QString atMessage;                // the tab and the pointer's shape when the last message was shown
    std::function<void(int)> onYield; // called with the number of yields so far
    int yields = 0;

private Q_SLOTS:
    void init() // a window of its own, on a program directory of its own
    {
        w.reset();
        atMessage.clear();
        dir = std::make_unique<QTemporaryDir>();
        TestSeams::ProgramDirectory() = dir->path();
        // A portable copy, its settings file beside it, whatever catalogue the test then puts there.
        QVERIFY(QFile(dir->filePath("Quillary.ini")).open(QIODevice::WriteOnly));
        w = std::make_unique<frmZIDovidovarar>();
        onYield = [](int) {};
        TestSeams::MessageBox() = [this](QWidget *, const QString &text) {
            messages.append(text);
            atMessage = tab() + ' ' + QString::number(w->cursor().shape());
        };
        TestSeams::AfterSearchYield() = [this] { onYield(++yields); };
    }

    // Also: a search yields after rows 51, 101, ... and once at the end; a search asked for while one
    // runs (its button is disabled, its handler still reachable) starts nothing.
    void listsReplacesAndClears()
    {
        QVERIFY(Catalogue(path()).add({"report.doc", "other.txt", "REPORT2.DOC"}, 50));
        auto *clear = get<QPushButton>("cmdClearList");
        const QString range = tab().section('/', -1); // the bar's maximum
        get<QLineEdit>("txtSearchList")->setText("abc");
        clear->click(); // without rows
        QCOMPARE(tab() + get<QLineEdit>("txtSearchList")->text(), " |  | Files Found: 0 | 0/" + range);
        run("report");
        QCOMPARE(row(0), "report.doc | DISC01 | DISC01: report.doc | 9 | new | old");
        QCOMPARE(tab(), "report.doc,REPORT2.DOC | REPORT2.DOC | Files Found: 2 | 2/2");
        run("other"); // replaces the list
        QCOMPARE(tab(), "other.txt | other.txt | Files Found: 1 | 1/1");
        run("file"); // 50 rows
        QCOMPARE(yields, 1);
        onYield = [&](int n) {
            if (n == 1) {
                get<QLineEdit>("txtSearchList")->setText("report");
                w->cmdSearch_Click();
            }
        };
        run("x"); // 51 rows
        QCOMPARE(QString::number(yields) + messages.join('|') + row(0, 1) + row(50, 1),
                 "2other.txtfile50.txt");
        QCOMPARE(tab().section(" | ", 1), "file50.txt | Files Found: 51 | 51/51");
        // Clear List while a search yields; the search then goes on with the rows found after it.
        onYield = [&](int n) {
            if (n == 1)
                clear->click();
        };
        run("   "); // only blanks: the whole catalogue, in the table's order
        QCOMPARE(tab(), "file49.txt,file50.txt | file50.txt | Files Found: 53 | 53/53");
        clear->click(); // with rows: the bar's range stays
        QCOMPARE(tab(), " |  | Files Found: 0 | 0/53");
    }

    // After a search listed a row, the catalogue or the window is changed and another search lists
    // nothing new. The message begins as given and holds its detail (after "*").
    void searchListingNothingNew_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("message");
        QTest::newRow("no match") << "" << QStringLiteral("Files with search criteria not found.");
        QTest::newRow("missing") << "remove" << modConstant::DatabaseMissingMessage();
        const QString failed = QStringLiteral("The catalogue could not be searched.\r\n");
        QTest::newRow("not a database") << "copy" << failed + "*not a database";
        QTest::newRow("no table") << "CREATE TABLE Other (A)" << failed + "*no such table: Quillary";
    }
    void searchListingNothingNew()
    {
        QFETCH(QString, change);
        QFETCH(QString, message);
        Catalogue catalogue(path());
        QVERIFY(catalogue.add({}, 2000) && CatalogueIndex::Refresh(catalogue.db));
        run("file1999");
        w->setCursor(Qt::CrossCursor); // whatever the pointer was: a missing catalogue leaves it
        const auto pointer = change == "remove" ? Qt::CrossCursor : Qt::ArrowCursor;
        if (change == "remove" || change == "copy") // the schema's text is not a database
            QVERIFY(QFile::remove(path()) && (change == "remove" || QFile::copy(kSchemaFile, path())));
        else if (change.startsWith("CREATE"))
            QVERIFY(CatalogueFile::CreateFromScript(path(), change));
        run(change.isEmpty() ? "nothing like it" : "file");
        const QString shown = messages.join('\n');
        QVERIFY2(messages.size() == 1 && shown.startsWith(message.section('*', 0, 0)) &&
                     shown.contains(message.section('*', 1)),
                 qPrintable(shown));
        // The list kept; no match empties it, the bar's range kept.
        const QString after = change.isEmpty() ? " |  | Files Found: 0 | 0/1"
                                               : "file1999.txt | file1999.txt | Files Found: 1 | 1/1";
        QCOMPARE(tab(), after);
        QCOMPARE(atMessage, after + ' ' + QString::number(pointer));
        QCOMPARE(w->cursor().shape(), pointer);
        QCOMPARE(QFile::exists(path()), change != "remove"); // nothing made in its place
    }

    void indexAgreesWithBruteForce()
    {
        // A few thousand names from several alphabets, with the letter case varied.
        const QStringList stems{"readme", "setup",   "Ärger", "straße",  "Москва", "École",
                                "日本語", "Ωmega",   "ǅemal", "data_1",  "100%",   "O'Brien",
                                "naïve",  "ΣΊΣΥΦΟΣ", "über",  "𐐀deseret"};
        const QStringList extensions{".txt", ".DOC", ".jpg", "", ".tar.gz"};
        QStringList names;
        for (int i = 0; i < 3000; ++i) {
            const QString stem = stems[i % 16], more = i % 4 ? ' ' + stems[i * 7 % 13].toUpper() : QString();
            names.append(QStringList{stem, stem.toUpper(), stem.toLower()}[i % 3] + more +
                         (i % 5 ? QString::number(i % 101) : QString()) + extensions[i / 16 % 5]);
        }
        const QStringList phrases{"straße", "STRASSE", "москва",   "école", "日本",    "本語 ",  "ωmega",
                                  "ǆemal",  "data_1",  "data\\_1", "100%",  "σίσυφοσ", "ÜBER",   "𐐨de",
                                  "me%txt", "r_a_m",   "_",        "%",     "renamed", "замена", "o'b%1_"};
        // The build's catalogue, and the table alone or keyed by name without row IDs as another tool
        // might have written it (read in its own order).
        Catalogue indexed(dir->filePath("i.db")), plain(dir->filePath("p.db"), kPlainTable),
            keyed(dir->filePath("k.db"), kKeyedTable);
        QStringList unique = names;
        unique.removeDuplicates();
        QVERIFY(keyed.add(unique) && indexed.add(names.mid(0, 2500)) && plain.add(names.mid(0, 2500)));
        QVERIFY(CatalogueIndex::Refresh(indexed.db) && !CatalogueIndex::Refresh(plain.db));
        QVERIFY(indexed.add(names.mid(2500)) && plain.add(names.mid(2500))); // not indexed yet
        // Another tool changes rows without bringing the index up to date; Refresh catches up.
        const QStringList edits{
            "", // only rows added since the index was brought up to date
            "UPDATE Quillary SET FileName = 'RENAMED ' || FileName WHERE rowid % 97 = 0; "
            "DELETE FROM Quillary WHERE rowid % 89 = 0; UPDATE Quillary SET FileName = NULL WHERE rowid = 5; "
            "INSERT INTO Quillary (rowid, FileName) VALUES (89, 'ЗАМЕНА.txt')",
            "refresh"}; // CatalogueIndex::Refresh()
        for (const QString &edit : edits) {
            QVERIFY(edit == "refresh" ? CatalogueIndex::Refresh(indexed.db)
                                      : indexed.exec(edit) && plain.exec(edit));
            for (const QString &phrase : std::as_const(phrases)) {
                const QStringList expected = indexed.bruteForce(phrase);
                QCOMPARE(searchNames(indexed.db, phrase, CatalogueSearch::Method::Index), expected);
                QCOMPARE(searchNames(plain.db, phrase, CatalogueSearch::Method::Scan), expected);
                QCOMPARE(searchNames(keyed.db, phrase, CatalogueSearch::Method::TwoPass),
                         keyed.bruteForce(phrase));
            }
        }
    }

    // An index altered by another program (each change below leaves a file that passes SQLite's own
    // integrity check) is not trusted: the search reads every name and is exact. An index whose table
    // another program rewrote for the most part is still used, noting the rows changed. Either way the
    // next refresh builds the index afresh, and the search trusts it again.
    void indexAlteredOrOutOfDate_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("changed"); // rows the index notes as changed; -1: not trusted
        QTest::newRow("folded names emptied") << "DELETE FROM QuillarySearchFold" << -1;
        QTest::newRow("noted IDs not whole numbers")
            << "DROP TABLE QuillarySearchDirty; CREATE TABLE QuillarySearchDirty (ID TEXT PRIMARY KEY); "
               "UPDATE Quillary SET FileName = 'RENAMED.txt' WHERE rowid = 7"
            << -1;
        QTest::newRow("text watermark") << "UPDATE QuillarySearchState SET Watermark = 'high'" << -1;
        QTest::newRow("negative watermark") << "UPDATE QuillarySearchState SET Watermark = -5" << -1;
        QTest::newRow("two watermarks") << "INSERT INTO QuillarySearchState VALUES (3)" << -1;
        QTest::newRow("a few names changed, one deleted")
            << "UPDATE Quillary SET FileName = 'Ærø ' || FileName WHERE rowid % 100 = 0; DELETE FROM "
               "Quillary "
               "WHERE rowid = 7"
            << 31;
        QTest::newRow("table rewritten")
            << "UPDATE Quillary SET FileName = 'Ærø ' || FileName WHERE rowid % 3 <> 0" << 2000;
        // Changes to the index itself, which no note records: its guard tells.
        QTest::newRow("trigram index emptied")
            << "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram) VALUES ('delete-all')" << -1;
        QTest::newRow("trigram rows taken out")
            << "INSERT INTO QuillarySearchTrigram (QuillarySearchTrigram, rowid, Name) SELECT 'delete', ID, "
               "Name "
               "FROM QuillarySearchFold WHERE ID % 75 = 0"
            << -1;
        QTest::newRow("trigram row added")
            << "INSERT INTO QuillarySearchTrigram (rowid, Name) VALUES (9999, 'x')" << -1;
        QTest::newRow("folded names changed")
            << "UPDATE QuillarySearchFold SET Name = 'z' WHERE ID % 75 = 0" << -1;
        QTest::newRow("folded names deleted") << "DELETE FROM QuillarySearchFold WHERE ID % 75 = 0" << -1;
        QTest::newRow("guard dropped") << "DROP TABLE QuillarySearchGuard" << -1;
        QTest::newRow("catalogue made before the guard") << "DROP TRIGGER QuillarySearchGuardOnUpdate; DROP "
                                                            "TRIGGER QuillarySearchGuardOnDelete; DROP TABLE "
                                                            "QuillarySearchGuard"
                                                         << -1;
    }
    void indexAlteredOrOutOfDate()
    {
        QFETCH(QString, change);
        QFETCH(int, changed);
        Catalogue catalogue(path());
        QVERIFY(catalogue.add({"readme.txt", "RENAMED.doc"}, 2998) && CatalogueIndex::Refresh(catalogue.db));
        QVERIFY(catalogue.exec(change));
        const CatalogueIndex::Status before = CatalogueIndex::Examine(catalogue.db);
        QCOMPARE(before.sound ? before.changed : -1, changed);
        using enum CatalogueSearch::Method;
        for (const auto method : {changed < 0 ? Scan : Index, Index}) {
            for (const QString phrase : {"file12", "renamed", "%", "readme", "ærø file12", "ÆRØ%99.txt"})
                QCOMPARE(searchNames(catalogue.db, phrase, method), catalogue.bruteForce(phrase));
            QVERIFY(CatalogueIndex::Refresh(catalogue.db));
            const CatalogueIndex::Status after = CatalogueIndex::Examine(catalogue.db);
            QVERIFY(after.sound && after.changed == 0 && after.watermark == 3000);
        }
    }

    // The window's index work goes a step at a time and never holds another program off: a step that
    // meets a writer changes nothing and says so; steps keep their work in a transaction of their own,
    // committed when the work is paused or done, and searches meanwhile are exact.
    void indexUpkeepStepsAndGivesWay()
    {
        Catalogue catalogue(path());
        QVERIFY(catalogue.add({"readme.txt"}, 20000));
        auto watermark = [&] { return CatalogueIndex::Examine(catalogue.db).watermark; };
        auto exact = [&] {
            return searchNames(catalogue.db, "file1999", CatalogueSearch::Method::Index) ==
                   catalogue.bruteForce("file1999");
        };
        using enum CatalogueIndex::Step;
        CatalogueIndex::Upkeep upkeep(path());
        QVERIFY(catalogue.exec("BEGIN IMMEDIATE"));
        QCOMPARE(upkeep.step(50), Busy);
        QVERIFY(catalogue.exec("COMMIT") && !upkeep.holdsCatalogue());
        QCOMPARE(upkeep.step(0), More); // the budget is spent at once: a few hundred rows
        QVERIFY(upkeep.holdsCatalogue() && watermark() == 0 && exact());
        upkeep.pause();
        const qint64 partly = watermark();
        QVERIFY2(partly > 0 && partly < 20001 && exact(), qPrintable(QString::number(partly)));
        int steps = 0;
        while (upkeep.step(5) == More)
            QVERIFY(++steps < 100000);
        QVERIFY(!upkeep.holdsCatalogue() && watermark() == 20001 && exact());
        QCOMPARE(upkeep.step(5), UpToDate);
    }

    // A catalogue written by another tool may hold a name of megabytes: the window shows only its start,
    // so the search keeps the window's gaps as short as for ordinary names. The stored text stays whole.
    void hugeNameKeepsTheWindowResponsive()
    {
        const QString huge = "huge" + QString(5 << 20, 'x');
        QVERIFY(Catalogue(path()).add({"before.txt", huge, "after.txt"}));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // The longest time between two turns of the event loop, from the search's start until it has been
        // shown (a timer of 10 ms fires at every turn that takes longer).
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        const auto measure = [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        };
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, measure);
        clock.start();
        tick.start(10);
        run("huge");
        QTest::qWait(300);
        measure();
        QVERIFY2(longest < 1000, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(longest)));
        // The cells and the label show the first 1,000 characters; the list keeps the whole text.
        const QString shown = huge.left(1000) + QChar(0x2026);
        QCOMPARE(list()->index(0, 0).data().toString(), shown);
        QCOMPARE(list()->index(0, 2).data().toString(), ("DISC01: " + huge).left(1000) + QChar(0x2026));
        QCOMPARE(get<QLabel>("lblFileSearchMsg")->text(), shown);
        QCOMPARE(qobject_cast<SearchResultModel *>(list())->text(0, ListColumns::FileName), huge);
    }
};

QTEST_MAIN(tst_Search)
#include "tst_search.moc"
