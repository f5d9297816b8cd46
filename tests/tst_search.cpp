// The search tab: searching the catalogue by a phrase and clearing the result; the search index.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "app/modConstant.h"
#include "app/modFunction.h"
#include "db/CatalogueFile.h"
#include "search/CatalogueIndex.h"
#include "search/CatalogueSearch.h"
#include "search/SearchHooks.h"
#include "search/SearchResultModel.h"
#include "support/IsoImage.h"
#include "support/WindowTestAccess.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <sqlite3.h>

#include <functional>

namespace {

const QString kSchemaFile = QStringLiteral(QUILLARY_SOURCE_DIR "/src/db/catalogue.sql");
const QString kCaption = QStringLiteral("Quillary - File Search in progress...");
const QString kNothingFound = QStringLiteral("Files with search criteria not found.");
const QString kFailed = QStringLiteral("The catalogue could not be searched.");

struct Row
{
    QString fileName;
    QString label = QStringLiteral("DISC01");
    QString path;
    QString size = QStringLiteral("123");
    QString created = QStringLiteral("01/02/2003 04:05:06");
    QString updated = QStringLiteral("02/03/2004 05:06:07");
};

// A catalogue made as the build makes it (with the search index) or, as another tool might
// have written it, with the table alone.
enum class Kind { Indexed, PlainTable };

class Catalogue
{
public:
    Catalogue(const QString &path, Kind kind) : m_path(path)
    {
        QString error;
        if (kind == Kind::Indexed) {
            m_ok = CatalogueFile::CreateFromSchemaFile(path, kSchemaFile, &error);
        } else {
            m_ok = CatalogueFile::CreateFromScript(
                path,
                QStringLiteral("CREATE TABLE Quillary (CDLabel TEXT, FileName TEXT, FilePath TEXT, "
                               "FileSize TEXT, CreateDate TEXT, LastUpdateDate TEXT);"),
                &error);
        }
        if (!m_ok)
            qWarning("catalogue not made: %s", qPrintable(error));
        m_ok = m_ok && sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE,
                                       nullptr) == SQLITE_OK;
    }
    ~Catalogue() { sqlite3_close(m_db); }
    bool ok() const { return m_ok; }
    sqlite3 *handle() const { return m_db; }

    bool exec(const QString &sql)
    {
        char *message = nullptr;
        const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK)
            qWarning("%s: %s", qPrintable(sql), message);
        sqlite3_free(message);
        return rc == SQLITE_OK;
    }

    bool add(const QList<Row> &rows)
    {
        exec(QStringLiteral("BEGIN"));
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(m_db,
                           "INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, CreateDate, "
                           "LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)",
                           -1, &stmt, nullptr);
        bool ok = stmt != nullptr;
        for (const Row &row : rows) {
            const QString path =
                row.path.isEmpty() ? row.label + QStringLiteral(": ") + row.fileName : row.path;
            const QByteArray values[] = {row.label.toUtf8(), row.fileName.toUtf8(), path.toUtf8(),
                                         row.size.toUtf8(),  row.created.toUtf8(),  row.updated.toUtf8()};
            for (int i = 0; i < 6; ++i)
                sqlite3_bind_text(stmt, i + 1, values[i].constData(), int(values[i].size()),
                                  SQLITE_TRANSIENT);
            ok = ok && sqlite3_step(stmt) == SQLITE_DONE;
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        exec(QStringLiteral("COMMIT"));
        return ok;
    }
    bool addNames(const QStringList &names)
    {
        QList<Row> rows;
        for (const QString &name : names) {
            Row row;
            row.fileName = name;
            rows.append(row);
        }
        return add(rows);
    }

    // Every (rowid, FileName) in row order.
    QList<QPair<qint64, QString>> names() const
    {
        QList<QPair<qint64, QString>> result;
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(m_db, "SELECT rowid, FileName FROM Quillary ORDER BY rowid", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            if (sqlite3_column_type(stmt, 1) == SQLITE_NULL)
                continue;
            result.append({sqlite3_column_int64(stmt, 0),
                           QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)),
                                             sqlite3_column_bytes(stmt, 1))});
        }
        sqlite3_finalize(stmt);
        return result;
    }

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
    bool m_ok = false;
};

// A plain comparison to check the search against: fold both sides with Qt's own case folding
// and match "%phrase%" code point by code point, by dynamic programming.
bool bruteForceMatch(const QString &name, const QString &phrase)
{
    const QList<uint> text = name.toCaseFolded().toUcs4();
    QList<uint> pattern{uint('%')};
    pattern += phrase.toCaseFolded().toUcs4();
    pattern.append(uint('%'));
    // can[j]: the first i characters of text match the first j of pattern.
    QList<bool> can(pattern.size() + 1, false);
    can[0] = true;
    for (qsizetype j = 0; j < pattern.size() && pattern[j] == '%'; ++j)
        can[j + 1] = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QList<bool> next(pattern.size() + 1, false);
        for (qsizetype j = 0; j < pattern.size(); ++j) {
            if (pattern[j] == '%')
                next[j + 1] = next[j] || can[j + 1];
            else if (can[j] && (pattern[j] == '_' || pattern[j] == text[i]))
                next[j + 1] = true;
        }
        can = next;
    }
    return can[pattern.size()];
}

QStringList searchNames(sqlite3 *db, const QString &phrase, CatalogueSearch::Method *method = nullptr)
{
    CatalogueSearch search(db);
    QStringList names;
    if (!search.find(phrase)) {
        qWarning("search failed: %s", qPrintable(search.errorText()));
        return {QStringLiteral("<failed>")};
    }
    if (method)
        *method = search.method();
    while (search.next()) {
        const std::string_view name = search.field(ListColumns::FileName);
        names.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    if (names.size() != search.count())
        names.append(QStringLiteral("<count %1 but %2 read>").arg(search.count()).arg(names.size()));
    return names;
}

QStringList bruteForceNames(const Catalogue &catalogue, const QString &phrase)
{
    QStringList names;
    for (const auto &[id, name] : catalogue.names()) {
        if (bruteForceMatch(name, phrase))
            names.append(name);
    }
    return names;
}

// The window with its search tab, on a program directory of its own.
struct SearchWindow
{
    SearchWindow()
    {
        modFunction::SetProgramDirectoryForTesting(dir.path());
        window = std::make_unique<frmZIDovidovarar>();
        phrase = window->findChild<QLineEdit *>(QStringLiteral("txtSearchList"));
        search = window->findChild<QToolButton *>(QStringLiteral("cmdSearch"));
        clear = window->findChild<QPushButton *>(QStringLiteral("cmdClearList"));
        list = window->findChild<QTreeView *>(QStringLiteral("lvwFileSearch"));
        fileLabel = window->findChild<QLabel *>(QStringLiteral("lblFileSearchMsg"));
        countLabel = window->findChild<QLabel *>(QStringLiteral("lblFileSerached"));
        bar = window->findChild<QProgressBar *>(QStringLiteral("pgbrFileSearch"));
        quillary::SetMessageHandler([this](QWidget *, const QString &text) {
            messages.append(text);
            if (onMessage)
                onMessage();
        });
        SearchHooks::AfterYield() = [this] { ++yields; };
    }
    ~SearchWindow()
    {
        quillary::SetMessageHandler({});
        SearchHooks::AfterYield() = {};
    }
    QString databasePath() const { return dir.filePath(modConstant::kDatabaseFileName); }

    void run(const QString &text)
    {
        phrase->setText(text);
        messages.clear();
        yields = 0;
        window->cmdSearch_Click();
    }
    int rows() const { return list->model()->rowCount(); }
    QString cell(int row, int column) const { return list->model()->index(row, column).data().toString(); }
    QString key(int row) const
    {
        return list->model()->index(row, 0).data(SearchResultModel::KeyRole).toString();
    }
    QStringList listedNames() const
    {
        QStringList names;
        for (int r = 0; r < rows(); ++r)
            names.append(cell(r, 0));
        return names;
    }
    bool idle() const
    {
        return !window->blnBusy() && search->isEnabled() && window->windowTitle() == modConstant::kAppTitle &&
               window->cursor().shape() != Qt::WaitCursor;
    }

    QTemporaryDir dir;
    std::unique_ptr<frmZIDovidovarar> window;
    QLineEdit *phrase = nullptr;
    QToolButton *search = nullptr;
    QPushButton *clear = nullptr;
    QTreeView *list = nullptr;
    QLabel *fileLabel = nullptr;
    QLabel *countLabel = nullptr;
    QProgressBar *bar = nullptr;
    QStringList messages;
    std::function<void()> onMessage;
    int yields = 0;
};

QStringList numberedNames(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names.append(QStringLiteral("file%1.txt").arg(i));
    return names;
}

} // namespace

class tst_Search : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void phraseRules_data();
    void phraseRules();
    void boundPhraseCannotChangeTheStatement();
    void listsRowsWithKeysColumnsAndLabels();
    void yieldsEveryFiftyRowsAndAtTheEnd_data();
    void yieldsEveryFiftyRowsAndAtTheEnd();
    void noMatchEmptiesTheListBeforeTheMessage();
    void missingCatalogueLeavesTheTabAlone();
    void failuresAreReportedAndTheWindowIsIdle_data();
    void failuresAreReportedAndTheWindowIsIdle();
    void failureWhileListingKeepsTheRowsListed();
    void refusedWhileAnotherCommandRuns();
    void clearList();
    void clearListDuringASearch();
    void indexAgreesWithBruteForce();
    void refreshCatchesUpWithOtherWriters();
    void findsTheFilesOfASavedDisc();
};

void tst_Search::phraseRules_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QStringList>("expected");

    const QList<QPair<const char *, Kind>> kinds{{"indexed", Kind::Indexed}, {"plain", Kind::PlainTable}};
    for (const auto &[kindName, kind] : kinds) {
        auto row = [&](const char *name, const QString &phrase, const QStringList &expected) {
            QTest::addRow("%s %s", kindName, name) << int(kind) << phrase << expected;
        };
        row("underscore", QStringLiteral("a_c"), {QStringLiteral("abc.txt")});
        row("percent", QStringLiteral("a%z"), {QStringLiteral("alphabetz.doc")});
        row("apostrophe", QStringLiteral("O'Brien"), {QStringLiteral("O'Brien letters.doc")});
        row("umlaut", QStringLiteral("ärger"), {QStringLiteral("Ärger.txt")});
        row("cyrillic", QStringLiteral("москва"), {QStringLiteral("Москва.doc")});
        row("accent", QStringLiteral("école"), {QStringLiteral("ÉCOLE.PDF")});
        row("ascii case", QStringLiteral("readme"),
            {QStringLiteral("README.TXT"), QStringLiteral("oldReadMe.doc")});
        row("blanks trimmed", QStringLiteral("  readme  "),
            {QStringLiteral("README.TXT"), QStringLiteral("oldReadMe.doc")});
        row("inner blank kept", QStringLiteral("letters.d"), {QStringLiteral("O'Brien letters.doc")});
        row("inner blank no match", QStringLiteral("n let ters"), {});
        row("underscore is one character", QStringLiteral("m_nchen"), {QStringLiteral("München.jpg")});
        row("short non-ascii", QStringLiteral("日本"), {QStringLiteral("日本語.txt")});
        row("three non-ascii", QStringLiteral("本語."), {QStringLiteral("日本語.txt")});
        row("double quote", QStringLiteral("\"q\""), {QStringLiteral("say \"q\".txt")});
        row("tab is not a blank", QStringLiteral("\treadme"), {});
    }
}

void tst_Search::phraseRules()
{
    QFETCH(int, kind);
    QFETCH(QString, phrase);
    QFETCH(QStringList, expected);

    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind(kind));
    QVERIFY(catalogue.ok());
    QVERIFY(catalogue.addNames({"abc.txt", "alphabetz.doc", "O'Brien letters.doc", "Ärger.txt", "Москва.doc",
                                "ÉCOLE.PDF", "README.TXT", "oldReadMe.doc", "München.jpg", "日本語.txt",
                                "say \"q\".txt", "zzz.bin"}));
    CatalogueIndex::Refresh(catalogue.handle());

    w.run(phrase);
    if (expected.isEmpty()) {
        QCOMPARE(w.messages, QStringList{kNothingFound});
    } else {
        QCOMPARE(w.messages, QStringList());
        QCOMPARE(w.listedNames(), expected);
    }
    QVERIFY(w.idle());
}

void tst_Search::boundPhraseCannotChangeTheStatement()
{
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.ok());
    QVERIFY(catalogue.addNames({"a.txt", "b.txt"}));
    for (const QString &phrase :
         {QStringLiteral("x' OR '1'='1"), QStringLiteral("'; DROP TABLE Quillary; --"),
          QStringLiteral("\" OR \"a\""), QStringLiteral("NEAR(a b)")}) {
        w.run(phrase);
        QCOMPARE(w.messages, QStringList{kNothingFound});
        QVERIFY(w.idle());
    }
    QCOMPARE(catalogue.names().size(), 2);
}

void tst_Search::listsRowsWithKeysColumnsAndLabels()
{
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.ok());
    QVERIFY(catalogue.add(
        {Row{"report.doc", "DISC01", "DISC01: DOCS/report.doc", "2048", "01/01/2001", "02/02/2002 10:11:12"},
         Row{"other.txt", "DISC01", "", "123", "01/02/2003 04:05:06", "02/03/2004 05:06:07"},
         Row{"REPORT2.DOC", "DISC02", "DISC02: report2.doc", " ", " ", " "}}));

    w.run(QStringLiteral("report"));
    QCOMPARE(w.rows(), 2);
    QCOMPARE(w.key(0), QStringLiteral("KEY1"));
    QCOMPARE(w.key(1), QStringLiteral("KEY2"));
    const QStringList first{"report.doc",          "DISC01",    "DISC01: DOCS/report.doc", "2048",
                            "02/02/2002 10:11:12", "01/01/2001"};
    for (int c = 0; c < 6; ++c)
        QCOMPARE(w.cell(0, c), first[c]);
    QCOMPARE(w.cell(1, 5), QStringLiteral(" ")); // a stored blank shows as a blank
    QCOMPARE(w.fileLabel->text(), QStringLiteral("REPORT2.DOC"));
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 2"));
    QCOMPARE(w.bar->maximum(), 2);
    QCOMPARE(w.bar->value(), 2);
    QVERIFY(w.idle());

    // A second search replaces the list, numbering again from KEY1.
    w.run(QStringLiteral("other"));
    QCOMPARE(w.listedNames(), QStringList{"other.txt"});
    QCOMPARE(w.key(0), QStringLiteral("KEY1"));
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 1"));
    QCOMPARE(w.bar->maximum(), 1);

    // The empty phrase lists the whole catalogue, in the table's order.
    w.run(QStringLiteral("   "));
    QCOMPARE(w.listedNames(), (QStringList{"report.doc", "other.txt", "REPORT2.DOC"}));
    QCOMPARE(w.key(2), QStringLiteral("KEY3"));
}

void tst_Search::yieldsEveryFiftyRowsAndAtTheEnd_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("yields");
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("50") << 50 << 1;
    QTest::newRow("51") << 51 << 2;
    QTest::newRow("100") << 100 << 2;
    QTest::newRow("101") << 101 << 3;
    QTest::newRow("1000") << 1000 << 20;
}

void tst_Search::yieldsEveryFiftyRowsAndAtTheEnd()
{
    QFETCH(int, rows);
    QFETCH(int, yields);
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.ok());
    QVERIFY(catalogue.addNames(numberedNames(rows)));
    QVERIFY(catalogue.addNames({"other.dat"}));
    w.run(QStringLiteral("file"));
    QCOMPARE(w.rows(), rows);
    QCOMPARE(w.yields, yields);
    QCOMPARE(w.key(rows - 1), QStringLiteral("KEY%1").arg(rows));
}

void tst_Search::noMatchEmptiesTheListBeforeTheMessage()
{
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.ok());
    QVERIFY(catalogue.addNames(numberedNames(5)));
    w.run(QStringLiteral("file"));
    QCOMPARE(w.rows(), 5);
    QCOMPARE(w.bar->maximum(), 5);

    bool checked = false;
    w.onMessage = [&] {
        checked = true;
        QCOMPARE(w.rows(), 0);
        QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 0"));
        QCOMPARE(w.fileLabel->text(), QString());
        QCOMPARE(w.bar->value(), 0);
        QCOMPARE(w.bar->maximum(), 5); // the range is not touched
        QCOMPARE(w.window->windowTitle(), kCaption);
        QVERIFY(w.window->blnBusy());
        QCOMPARE(w.window->cursor().shape(), Qt::ArrowCursor);
    };
    w.run(QStringLiteral("nothing like it"));
    QVERIFY(checked);
    QCOMPARE(w.messages, QStringList{kNothingFound});
    QVERIFY(w.idle());
}

void tst_Search::missingCatalogueLeavesTheTabAlone()
{
    SearchWindow w;
    {
        Catalogue catalogue(w.databasePath(), Kind::Indexed);
        QVERIFY(catalogue.ok());
        QVERIFY(catalogue.addNames(numberedNames(3)));
    }
    w.run(QStringLiteral("file2"));
    QCOMPARE(w.rows(), 1);
    QVERIFY(QFile::remove(w.databasePath()));

    bool checked = false;
    w.onMessage = [&] {
        checked = true;
        QCOMPARE(w.window->windowTitle(), kCaption);
        QCOMPARE(w.window->cursor().shape(), Qt::CrossCursor); // the pointer never changes
    };
    w.window->setCursor(Qt::CrossCursor); // whatever the pointer was stays
    w.run(QStringLiteral("file"));
    QVERIFY(checked);
    QCOMPARE(w.messages, QStringList{modConstant::DatabaseMissingMessage()});
    QCOMPARE(w.window->cursor().shape(), Qt::CrossCursor);
    QCOMPARE(w.listedNames(), QStringList{"file2.txt"});
    QCOMPARE(w.fileLabel->text(), QStringLiteral("file2.txt"));
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 1"));
    QCOMPARE(w.bar->value(), 1);
    QVERIFY(!w.window->blnBusy());
    QVERIFY(w.search->isEnabled());
    QCOMPARE(w.window->windowTitle(), modConstant::kAppTitle);
    QVERIFY(!QFile::exists(w.databasePath())); // nothing made in its place
}

void tst_Search::failuresAreReportedAndTheWindowIsIdle_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("detail");
    QTest::newRow("not a database") << QByteArray(4096, 'x') << QString() << QStringLiteral("not a database");
    QTest::newRow("no table") << QByteArray() << QStringLiteral("CREATE TABLE Other (A TEXT);")
                              << QStringLiteral("no such table: Quillary");
    QTest::newRow("missing column") << QByteArray()
                                    << QStringLiteral("CREATE TABLE Quillary (FileName TEXT, FilePath TEXT);")
                                    << QStringLiteral("no such column");
}

void tst_Search::failuresAreReportedAndTheWindowIsIdle()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, sql);
    QFETCH(QString, detail);
    SearchWindow w;
    {
        Catalogue good(w.databasePath(), Kind::Indexed);
        QVERIFY(good.addNames({"kept.txt"}));
    }
    w.run(QStringLiteral("kept"));
    QCOMPARE(w.rows(), 1);
    QVERIFY(QFile::remove(w.databasePath()));
    if (sql.isEmpty()) {
        QFile file(w.databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else {
        QVERIFY(CatalogueFile::CreateFromScript(w.databasePath(), sql));
    }

    w.run(QStringLiteral("kept"));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages.first().startsWith(kFailed + QStringLiteral("\r\n")), qPrintable(w.messages.first()));
    QVERIFY2(w.messages.first().contains(detail), qPrintable(w.messages.first()));
    QVERIFY(w.idle());
    QCOMPARE(w.listedNames(), QStringList{"kept.txt"});
}

void tst_Search::failureWhileListingKeepsTheRowsListed()
{
    SearchWindow w;
    {
        Catalogue catalogue(w.databasePath(), Kind::Indexed);
        QList<Row> rows;
        for (const QString &name : numberedNames(2000))
            rows.append(Row{name, "DISC01", "DISC01: " + QString(300, 'p') + name, "1", "2", "3"});
        QVERIFY(catalogue.add(rows));
        QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    }
    // The file is cut short under the search once it has begun listing.
    SearchHooks::AfterYield() = [&] {
        if (++w.yields == 1)
            QVERIFY(QFile::resize(w.databasePath(), 3 * 4096));
    };
    w.run(QStringLiteral("file"));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages.first().startsWith(kFailed + QStringLiteral("\r\n")), qPrintable(w.messages.first()));
    QVERIFY(w.rows() >= 51 && w.rows() < 2000);
    QCOMPARE(w.fileLabel->text(), w.cell(w.rows() - 1, 0));
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: %1").arg(w.rows()));
    QVERIFY(w.idle());
}

void tst_Search::refusedWhileAnotherCommandRuns()
{
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.addNames({"a.txt"}));
    WindowTestAccess::setBusy(*w.window, true);
    w.run(QString());
    QCOMPARE(w.messages, QStringList());
    QCOMPARE(w.rows(), 0);
    QVERIFY(w.search->isEnabled());
    WindowTestAccess::setBusy(*w.window, false);
}

void tst_Search::clearList()
{
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.addNames(numberedNames(7)));

    // Without rows.
    w.phrase->setText(QStringLiteral("abc"));
    w.clear->click();
    QCOMPARE(w.rows(), 0);
    QCOMPARE(w.phrase->text(), QString());
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 0"));
    QCOMPARE(w.bar->value(), 0);

    // With rows: the bar's range stays.
    w.run(QStringLiteral("file"));
    QCOMPARE(w.rows(), 7);
    w.clear->click();
    QCOMPARE(w.rows(), 0);
    QCOMPARE(w.phrase->text(), QString());
    QCOMPARE(w.fileLabel->text(), QString());
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 0"));
    QCOMPARE(w.bar->value(), 0);
    QCOMPARE(w.bar->minimum(), 0);
    QCOMPARE(w.bar->maximum(), 7);
    QVERIFY(w.idle());

    // A search after clearing numbers from KEY1 again.
    w.run(QStringLiteral("file3"));
    QCOMPARE(w.key(0), QStringLiteral("KEY1"));
}

void tst_Search::clearListDuringASearch()
{
    // Clear List stays usable while a search yields; the search then goes on listing its rows.
    SearchWindow w;
    Catalogue catalogue(w.databasePath(), Kind::Indexed);
    QVERIFY(catalogue.addNames(numberedNames(200)));
    SearchHooks::AfterYield() = [&] {
        if (++w.yields == 1) {
            QVERIFY(w.window->blnBusy());
            w.clear->click();
            QCOMPARE(w.rows(), 0);
        }
    };
    w.run(QStringLiteral("file"));
    QCOMPARE(w.rows(), 149);
    QCOMPARE(w.key(0), QStringLiteral("KEY52"));
    QCOMPARE(w.cell(0, 0), QStringLiteral("file52.txt"));
    QCOMPARE(w.countLabel->text(), QStringLiteral("Files Found: 200"));
    QVERIFY(w.idle());
}

void tst_Search::indexAgreesWithBruteForce()
{
    // Names from several alphabets, with the letter case varied.
    const QStringList stems{"readme", "setup",   "Ärger", "straße",  "Москва", "École",
                            "日本語", "Ωmega",   "ǅemal", "data_1",  "100%",   "O'Brien",
                            "naïve",  "ΣΊΣΥΦΟΣ", "über",  "𐐀deseret"};
    const QStringList extensions{".txt", ".DOC", ".jpg", "", ".tar.gz"};
    QRandomGenerator random(20240607);
    auto randomName = [&] {
        QString name;
        const int parts = 1 + random.bounded(3);
        for (int p = 0; p < parts; ++p) {
            QString stem = stems[random.bounded(stems.size())];
            const int variant = random.bounded(3);
            if (variant == 1)
                stem = stem.toUpper();
            else if (variant == 2)
                stem = stem.toLower();
            name += (p ? QStringLiteral(" ") : QString()) + stem;
        }
        if (random.bounded(2))
            name += QString::number(random.bounded(100));
        return name + extensions[random.bounded(extensions.size())];
    };
    QStringList names;
    for (int i = 0; i < 3000; ++i)
        names.append(randomName());

    QTemporaryDir dir;
    Catalogue indexed(dir.filePath(QStringLiteral("indexed.db")), Kind::Indexed);
    Catalogue plain(dir.filePath(QStringLiteral("plain.db")), Kind::PlainTable);
    QVERIFY(indexed.ok() && plain.ok());
    QVERIFY(indexed.addNames(names.mid(0, 2500)) && plain.addNames(names.mid(0, 2500)));
    QVERIFY(CatalogueIndex::Refresh(indexed.handle()));
    // Another tool then adds, renames and deletes rows, without bringing the index up to date.
    QVERIFY(indexed.addNames(names.mid(2500)) && plain.addNames(names.mid(2500)));
    for (Catalogue *c : {&indexed, &plain}) {
        QVERIFY(c->exec(
            QStringLiteral("UPDATE Quillary SET FileName = 'RENAMED ' || FileName WHERE rowid % 97 = 0")));
        QVERIFY(c->exec(QStringLiteral("DELETE FROM Quillary WHERE rowid % 89 = 0")));
        QVERIFY(c->exec(
            QStringLiteral("INSERT INTO Quillary (rowid, FileName) VALUES (89, 'ЗАМЕНА readme.txt')")));
        QVERIFY(c->exec(QStringLiteral("UPDATE Quillary SET FileName = NULL WHERE rowid = 5")));
    }
    QVERIFY(CatalogueIndex::Examine(indexed.handle()).changed > 0);

    QStringList phrases{"readme",  "README", "straße",  "STRASSE", "москва",  "école",    "日本",
                        "日本語",  "本語 ",  "ωmega",   "ǆemal",   "data_1",  "data\\_1", "100%",
                        "o'brien", "naï",    "σίσυφοσ", "ÜBER",    "𐐨de",     "me%txt",   "r_a_m",
                        "_",       "%",      "a%b%c",   "ren",     "renamed", "замена",   "e 1",
                        ".tar.g",  "tx",     "x",       "q",       "\"",      "o'b%1_"};
    for (int i = 0; i < 60; ++i) { // pieces of names, in a varied case, some with wildcards
        const QString name = names[random.bounded(names.size())];
        const int from = random.bounded(name.size());
        QString piece = name.mid(from, 1 + random.bounded(8));
        if (i % 3 == 0)
            piece = piece.toUpper();
        if (i % 5 == 0 && piece.size() > 2)
            piece[1] = QLatin1Char('_');
        if (i % 7 == 0 && piece.size() > 3)
            piece.insert(2, QLatin1Char('%'));
        phrases.append(piece);
    }

    for (const QString &phrase : std::as_const(phrases)) {
        const QStringList expected = bruteForceNames(indexed, phrase);
        QCOMPARE(bruteForceNames(plain, phrase), expected);
        CatalogueSearch::Method method;
        QCOMPARE(searchNames(indexed.handle(), phrase, &method), expected);
        QVERIFY2(method == (phrase == QStringLiteral("%") ? CatalogueSearch::Method::Everything
                                                          : CatalogueSearch::Method::Index),
                 qPrintable(phrase));
        QCOMPARE(searchNames(plain.handle(), phrase, &method), expected);
        QVERIFY2(method == (phrase == QStringLiteral("%") ? CatalogueSearch::Method::Everything
                                                          : CatalogueSearch::Method::Scan),
                 qPrintable(phrase));
    }

    // Brought up to date, the index gives the same rows.
    QVERIFY(CatalogueIndex::Refresh(indexed.handle()));
    QCOMPARE(CatalogueIndex::Examine(indexed.handle()).changed, 0);
    for (const QString &phrase : std::as_const(phrases))
        QCOMPARE(searchNames(indexed.handle(), phrase), bruteForceNames(indexed, phrase));

    // A table without row IDs is searched too.
    Catalogue keyed(dir.filePath(QStringLiteral("keyed.db")), Kind::PlainTable);
    QVERIFY(
        keyed.exec(QStringLiteral("DROP TABLE Quillary; CREATE TABLE Quillary (FileName TEXT PRIMARY KEY, "
                                  "CDLabel TEXT, FilePath TEXT, FileSize TEXT, CreateDate TEXT, "
                                  "LastUpdateDate TEXT) WITHOUT ROWID")));
    names.removeDuplicates();
    QVERIFY(keyed.addNames(names.mid(0, 500)));
    for (const QString &phrase : {QStringLiteral("readme"), QStringLiteral("日本"), QStringLiteral("")}) {
        CatalogueSearch::Method method;
        QStringList found = searchNames(keyed.handle(), phrase, &method);
        QStringList expected;
        for (const QString &name : names.mid(0, 500)) {
            if (bruteForceMatch(name, phrase))
                expected.append(name);
        }
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }
}

void tst_Search::refreshCatchesUpWithOtherWriters()
{
    QTemporaryDir dir;
    Catalogue catalogue(dir.filePath(QStringLiteral("c.db")), Kind::Indexed);
    QVERIFY(catalogue.ok());
    QCOMPARE(CatalogueIndex::Examine(catalogue.handle()).usable, true);
    QVERIFY(catalogue.addNames(numberedNames(10)));
    QCOMPARE(CatalogueIndex::Examine(catalogue.handle()).watermark, 0);
    QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    CatalogueIndex::Status status = CatalogueIndex::Examine(catalogue.handle());
    QCOMPARE(status.watermark, 10);
    QCOMPARE(status.changed, 0);

    // Rows added above the watermark are not noted; changes below it are.
    QVERIFY(catalogue.addNames({"eleven.txt"}));
    QVERIFY(catalogue.exec(QStringLiteral("UPDATE Quillary SET FileName = 'Straße.txt' WHERE rowid = 3")));
    QVERIFY(catalogue.exec(QStringLiteral("UPDATE Quillary SET FileSize = '9' WHERE rowid = 4")));
    QVERIFY(catalogue.exec(QStringLiteral("DELETE FROM Quillary WHERE rowid = 6")));
    QCOMPARE(CatalogueIndex::Examine(catalogue.handle()).changed, 2);
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("STRASSE")), QStringList());
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("straße")), QStringList{"Straße.txt"});
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("file3")), QStringList());
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("file6")), QStringList());
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("eleven")), QStringList{"eleven.txt"});

    QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    status = CatalogueIndex::Examine(catalogue.handle());
    QCOMPARE(status.watermark, 11);
    QCOMPARE(status.changed, 0);
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("straße")), QStringList{"Straße.txt"});
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("file")).size(), 8);

    // Inside a transaction of the caller, Refresh uses a savepoint and leaves the transaction open.
    QVERIFY(catalogue.exec(QStringLiteral("BEGIN")));
    QVERIFY(catalogue.exec(QStringLiteral("INSERT INTO Quillary (FileName) VALUES ('twelve.txt')")));
    QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    QCOMPARE(sqlite3_get_autocommit(catalogue.handle()), 0);
    QVERIFY(catalogue.exec(QStringLiteral("COMMIT")));
    QCOMPARE(CatalogueIndex::Examine(catalogue.handle()).watermark, 12);

    // When most indexed rows changed, the index is built afresh, with the same result.
    QVERIFY(catalogue.addNames(numberedNames(5000)));
    QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    QVERIFY(catalogue.exec(QStringLiteral("DELETE FROM Quillary WHERE rowid % 3 <> 0")));
    QVERIFY(
        catalogue.exec(QStringLiteral("UPDATE Quillary SET FileName = upper(FileName) WHERE rowid % 2 = 0")));
    QVERIFY(CatalogueIndex::Examine(catalogue.handle()).changed > 3000);
    const QStringList before = searchNames(catalogue.handle(), QStringLiteral("FILE12"));
    QCOMPARE(before, bruteForceNames(catalogue, QStringLiteral("FILE12")));
    QVERIFY(CatalogueIndex::Refresh(catalogue.handle()));
    status = CatalogueIndex::Examine(catalogue.handle());
    QCOMPARE(status.changed, 0);
    QCOMPARE(status.watermark, 5010); // the highest row left
    QCOMPARE(searchNames(catalogue.handle(), QStringLiteral("FILE12")), before);
    QCOMPARE(searchNames(catalogue.handle(), QString()).size(), catalogue.names().size());

    // A catalogue without the index is left as it was.
    Catalogue plain(dir.filePath(QStringLiteral("p.db")), Kind::PlainTable);
    QVERIFY(plain.addNames({"a.txt"}));
    QVERIFY(!CatalogueIndex::Refresh(plain.handle()));
    QVERIFY(!CatalogueIndex::Examine(plain.handle()).usable);
}

void tst_Search::findsTheFilesOfASavedDisc()
{
    IsoImage disc(QStringLiteral("DISC01"));
    const QStringList onDisc{"README.TXT", "SETUP/DATA/FILE1.CAB", "SETUP/setup.exe", "Müsik/Ärger.txt",
                             "Документы/Москва.doc"};
    for (const QString &file : onDisc)
        QVERIFY(disc.addFile(file, QByteArray(100, 'x')));
    if (!disc.buildAndMount())
        QSKIP(qPrintable(disc.skipReason()));

    SearchWindow w;
    QString error;
    QVERIFY2(CatalogueFile::CreateFromSchemaFile(w.databasePath(), kSchemaFile, &error), qPrintable(error));
    w.window->show();

    // List the disc and save it, as a user would.
    auto *tabs = w.window->findChild<QTabWidget *>(QStringLiteral("tabApplication"));
    tabs->setCurrentIndex(1);
    auto *drives = w.window->findChild<QComboBox *>(QStringLiteral("cboSelectDrive"));
    const int entry = drives->findText(disc.root(), Qt::MatchStartsWith);
    QVERIFY2(entry >= 0, qPrintable(disc.root()));
    drives->setCurrentIndex(entry);
    w.window->findChild<QPushButton *>(QStringLiteral("cmdTakeBackup"))->click();
    QCOMPARE(w.messages.size(), 1);
    w.window->findChild<QPushButton *>(QStringLiteral("cmdAddToDB"))->click();
    QVERIFY(!w.window->blnBusy());
    QVERIFY(disc.unmount()); // the catalogue alone answers from now on

    // The save brought the search index up to date.
    sqlite3 *db = nullptr;
    QCOMPARE(
        sqlite3_open_v2(QFile::encodeName(w.databasePath()).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    const CatalogueIndex::Status status = CatalogueIndex::Examine(db);
    sqlite3_close(db);
    QVERIFY(status.usable);
    QCOMPARE(status.watermark, qint64(onDisc.size()));
    QCOMPARE(status.changed, 0);

    tabs->setCurrentIndex(0);
    w.run(QStringLiteral("ärger"));
    QCOMPARE(w.messages, QStringList());
    QCOMPARE(w.rows(), 1);
    QCOMPARE(w.cell(0, 0), QStringLiteral("Ärger.txt"));
    QCOMPARE(w.cell(0, 1), QStringLiteral("DISC01"));
    QCOMPARE(w.cell(0, 2), QStringLiteral("DISC01: Müsik/Ärger.txt"));
    QCOMPARE(w.cell(0, 3), QStringLiteral("100"));

    w.run(QStringLiteral("москва"));
    QCOMPARE(w.listedNames(), QStringList{"Москва.doc"});
    w.run(QStringLiteral(" file1.cab "));
    QCOMPARE(w.listedNames(), QStringList{"FILE1.CAB"});
    QCOMPARE(w.cell(0, 2), QStringLiteral("DISC01: SETUP/DATA/FILE1.CAB"));
    w.run(QString());
    QCOMPARE(w.rows(), onDisc.size());
    w.run(QStringLiteral("no such file"));
    QCOMPARE(w.messages, QStringList{kNothingFound});
}

QTEST_MAIN(tst_Search)
#include "tst_search.moc"
