// Times the window's whole "Add to Database" (offscreen, with its progress, yields and compaction)
// against a one-transaction prepared insert of the same rows through the C API, into an empty
// catalogue and into one of 1,000,000 rows; then the compaction step on the large catalogue.
//
// Uses the empty catalogue the build makes beside the program (build the target quillary or
// catalogue_file first). Run: <build>/bench/bench_save [records]

#include "OffscreenWindow.h"

#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "catalogue/clsFileColl.h"
#include "db/CDatabase.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "db/CompactCatalogue.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLargeCatalogueRows = 1000000;

struct Record
{
    QString label, name, path, size, created, updated;
};

Record makeRecord(int i, const QString &label)
{
    const QString name = QStringLiteral("FILE%1.DAT").arg(i, 7, 10, QLatin1Char('0'));
    return {label,
            name,
            label + QStringLiteral(": DATA/DIR%1/SUB%2/").arg(i / 1000).arg(i % 7) + name,
            QString::number(1000 + (i * 7919) % 5000000),
            QStringLiteral("3/4/2021 10:%1:%2 AM")
                .arg(i % 60, 2, 10, QLatin1Char('0'))
                .arg(i % 59, 2, 10, QLatin1Char('0')),
            QStringLiteral("3/4/2021 11:%1:%2 AM")
                .arg(i % 60, 2, 10, QLatin1Char('0'))
                .arg(i % 53, 2, 10, QLatin1Char('0'))};
}

[[noreturn]] void die(const QString &what)
{
    std::fprintf(stderr, "bench_save: %s\n", qPrintable(what));
    std::exit(1);
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

// The reference: one transaction, one prepared INSERT run once per row, through SQLite's C API.
double referenceInsert(const QString &path, const QList<Record> &records)
{
    CDatabase db(path);
    if (!db.IsOpen())
        die(db.LastError().text);
    QElapsedTimer timer;
    timer.start();
    SqliteStatement insert = db.Prepare("INSERT INTO Quillary (CDLabel, FileName, FilePath, FileSize, "
                                        "CreateDate, LastUpdateDate) VALUES (?, ?, ?, ?, ?, ?)");
    if (!db.Execute("BEGIN"))
        die(db.LastError().text);
    for (const Record &r : records) {
        int column = 0;
        for (const QString *value : {&r.label, &r.name, &r.path, &r.size, &r.created, &r.updated})
            insert.bind(++column, *value);
        if (!insert.run())
            die(SqliteError(db.Handle()).text);
    }
    if (!db.Execute("COMMIT"))
        die(db.LastError().text);
    return timer.nsecsElapsed() / 1e9;
}

// The save alone, without the window, for where its time goes: rows, then the search index.
SaveTimings directSave(const QString &path)
{
    struct Yielding : SaveObserver
    {
        void RecordStarting(qint32, const clsFile &) override {}
        void RecordDone(qint32) override { QCoreApplication::processEvents(); }
        void Working() override { QCoreApplication::processEvents(); }
    } observer;
    CatalogueSave save(observer);
    if (!save.SaveFileList(path, objScannedFiles()))
        die(save.FailureText());
    return save.Timings();
}

// The window's command, as the user runs it.
double windowSave(frmZIDovidovarar &window, const QString &expectedLabel)
{
    auto *button = window.findChild<QPushButton *>(QStringLiteral("cmdAddToDB"));
    auto *label = window.findChild<QLabel *>(QStringLiteral("lblFilesFound"));
    QElapsedTimer timer;
    timer.start();
    button->click();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (label->text() != expectedLabel)
        die(QStringLiteral("the save ended with \"%1\"").arg(label->text()));
    return seconds;
}

qint64 scalar(const QString &path, const QString &sql)
{
    CDatabase db(path);
    qint64 value = 0;
    if (!db.QueryInteger(sql.toStdString(), &value))
        die(db.LastError().text);
    return value;
}

double timeCompaction(const QString &path, bool *ok)
{
    QElapsedTimer timer;
    timer.start();
    *ok = CatalogueCompaction::CompactCatalogue(path);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    PrepareOffscreenWindow();
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 200000;

    const QString shipped = QCoreApplication::applicationDirPath() + QStringLiteral("/../ZODidozode.mdb");
    if (!QFile::exists(shipped))
        die(QStringLiteral("%1 is missing: build the target quillary (or catalogue_file) first")
                .arg(shipped));

    QTemporaryDir dir;
    if (!dir.isValid())
        die(QStringLiteral("no temporary directory"));
    TestSeams::ProgramDirectory() = dir.path();
    const QString catalogue = dir.filePath(QStringLiteral("ZODidozode.mdb"));
    const QString reference = dir.filePath(QStringLiteral("reference.mdb"));
    const QString large = dir.filePath(QStringLiteral("large.mdb"));

    QStringList messages;
    TestSeams::MessageBox() = [&](QWidget *, const QString &text) { messages << text; };

    QList<Record> records;
    records.reserve(n);
    objScannedFiles().Clear();
    for (int i = 0; i < n; ++i) {
        records.append(makeRecord(i, QStringLiteral("BENCHDISC")));
        const Record &r = records.last();
        objScannedFiles().Add(r.label, r.name, r.path, r.size, r.created, r.updated);
    }

    // The large catalogue: 1,000,000 rows of earlier discs, made once and copied for every run.
    {
        QList<Record> earlier;
        earlier.reserve(kLargeCatalogueRows);
        for (int i = 0; i < kLargeCatalogueRows; ++i)
            earlier.append(makeRecord(i, QStringLiteral("DISC%1").arg(i / 20000, 3, 10, QLatin1Char('0'))));
        if (!copyFile(shipped, large))
            die(QStringLiteral("cannot copy the catalogue"));
        referenceInsert(large, earlier);
        // As the program leaves a catalogue: its search index up to date.
        CDatabase db(large);
        if (!CatalogueIndex::Refresh(db.Handle()))
            std::printf("(the large catalogue has no search index)\n");
    }

    // The window starts with its catalogue beside it, as a portable copy (each run copies it afresh).
    if (!copyFile(shipped, catalogue))
        die(QStringLiteral("cannot copy the catalogue"));
    frmZIDovidovarar window;
    const QString expectedLabel = QStringLiteral("Files Save: %1").arg(n);

    struct Line
    {
        const char *name;
        double reference = 0;
        double save = 0;
        SaveTimings timings;
    };
    QList<Line> lines;
    for (const bool intoLarge : {false, true}) {
        const QString start = intoLarge ? large : shipped;
        Line line{intoLarge ? "into 1,000,000 rows" : "into an empty catalogue", 0, 0, {}};
        if (!copyFile(start, reference))
            die(QStringLiteral("cannot copy the catalogue"));
        line.reference = referenceInsert(reference, records);
        if (!copyFile(start, catalogue))
            die(QStringLiteral("cannot copy the catalogue"));
        line.save = windowSave(window, expectedLabel);
        // The window brings the search index up to date while it is idle: that is let finish first, so
        // it does not run during the yields of the save timed next.
        while (scalar(catalogue, QStringLiteral("SELECT (SELECT max(rowid) FROM Quillary) - (SELECT "
                                                "Watermark FROM QuillarySearchState)")) > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!copyFile(start, reference))
            die(QStringLiteral("cannot copy the catalogue"));
        line.timings = directSave(reference);
        const qint64 rows = scalar(catalogue, QStringLiteral("SELECT count(*) FROM Quillary"));
        if (rows != n + (intoLarge ? kLargeCatalogueRows : 0))
            die(QStringLiteral("the catalogue holds %1 rows").arg(rows));
        lines.append(line);
    }
    if (!messages.isEmpty())
        die(QStringLiteral("the save showed: %1").arg(messages.join(QStringLiteral(" | "))));

    // The compaction step on the 1,000,000-row catalogue (plus this save): as the save leaves it
    // (already compacted by the save: nothing to do), and after one disc (20,000 rows) was deleted.
    bool okAfterSave = false;
    const double afterSave = timeCompaction(catalogue, &okAfterSave);
    {
        CDatabase db(catalogue);
        if (!db.Execute("DELETE FROM Quillary WHERE CDLabel = 'DISC007'"))
            die(db.LastError().text);
    }
    const qint64 freePages = scalar(catalogue, QStringLiteral("PRAGMA freelist_count"));
    const qint64 sizeBefore = QFileInfo(catalogue).size();
    bool okAfterDelete = false;
    const double afterDelete = timeCompaction(catalogue, &okAfterDelete);
    const qint64 sizeAfter = QFileInfo(catalogue).size();

    std::printf(
        "Saving %d records (window command: progress, a yield per record, compaction; the window brings the "
        "search index up to date afterwards, while idle)\n",
        n);
    std::printf("%-24s %12s %13s %8s %9s %6s   %s\n", "", "reference s", "reference r/s", "save s",
                "save r/s", "ratio", "alone: rows s + index s");
    for (const Line &l : lines)
        std::printf("%-24s %12.3f %13.0f %8.3f %9.0f %6.2f   %.3f + %.3f\n", l.name, l.reference,
                    n / l.reference, l.save, n / l.save, l.reference / l.save, l.timings.rowsNs / 1e9,
                    l.timings.indexNs / 1e9);
    std::printf("\nCompaction of the %d-row catalogue\n", kLargeCatalogueRows + n);
    std::printf("  as the save leaves it:              %8.3f s (%s)\n", afterSave,
                okAfterSave ? "ok" : "FAILED");
    std::printf("  after deleting one disc:            %8.3f s (%s, %lld free pages, %lld -> %lld bytes)\n",
                afterDelete, okAfterDelete ? "ok" : "FAILED", freePages, sizeBefore, sizeAfter);
    return 0;
}
