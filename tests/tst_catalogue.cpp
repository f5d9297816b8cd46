// File records, the file list and the list views' model over it.
#include "catalogue/GeneralDate.h"
#include "catalogue/clsFile.h"
#include "catalogue/clsFileColl.h"
#include "catalogue/clsFileCollModel.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Seconds since the epoch of a local time (the test's own zone, set below).
std::time_t localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

bool setModified(const QString &path, std::time_t seconds)
{
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
}

bool writeFile(const QString &path, const QByteArray &content = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The date text of the running locale for a local date (what the record must begin with).
QString shortDate(int year, int month, int day)
{
    return QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat);
}

QStringList texts(const clsFile &f)
{
    return {f.CDLabelName(), f.FileName(), f.FilePath(), f.FileSize(), f.CreateDate(), f.LastUpdateDate()};
}

} // namespace

class tst_catalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void generalDate_followsEveryLocale();
    void record_setFileInformation_pathsAndSizes_data();
    void record_setFileInformation_pathsAndSizes();
    void record_hugeSparseFile();
    void record_timesNotSwappedAndLocal();
    void record_midnightGivesDateAlone();
    void record_failedLookupLeavesFields();
    void record_settersKeepEveryText();

    void list_freshClearAddItem();
    void list_outOfRangeFails();
    void list_removeAndIterate();

    void model_rowsAppearWhenPublished();
    void model_clearedListResetsRows();

private:
    QTemporaryDir m_dir;
};

void tst_catalogue::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A zone away from UTC proves the times are local; the program itself never sets TZ.
    qputenv("TZ", "Asia/Tokyo");
    tzset();
    GeneralDate::resetForTesting();
}

void tst_catalogue::generalDate_followsEveryLocale()
{
    // The time is put together from the locale's format without QLocale: it must read as QLocale
    // writes it, in every locale Qt knows (12- and 24-hour clocks, quoted text, other digits).
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    const QTime times[] = {QTime(0, 0, 1),  QTime(0, 59, 0),   QTime(9, 5, 3),  QTime(11, 59, 59),
                           QTime(12, 0, 0), QTime(12, 30, 45), QTime(13, 7, 8), QTime(23, 59, 59)};
    const QDate date(2024, 2, 29);
    for (const QLocale &locale : locales) {
        GeneralDate::resetForTesting(locale);
        QString format;
        bool quoted = false;
        for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
            if (c == u'\'')
                quoted = !quoted;
            if (quoted || c != u't')
                format += c;
        }
        format = format.simplified();
        const QString day = locale.toString(date, QLocale::ShortFormat);
        QCOMPARE(GeneralDate::toText(localTime(2024, 2, 29, 0, 0, 0)), day);
        for (const QTime &time : times) {
            const std::time_t when = localTime(2024, 2, 29, time.hour(), time.minute(), time.second());
            const QString expected = day + u' ' + locale.toString(time, format);
            QVERIFY2(GeneralDate::toText(when) == expected,
                     qPrintable(locale.name() + ": " + GeneralDate::toText(when) + " != " + expected));
        }
    }
    GeneralDate::resetForTesting();
}

void tst_catalogue::record_setFileInformation_pathsAndSizes_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("size");

    QTest::newRow("root file") << "README.TXT"
                               << "DISC01" << QByteArray("hello\n") << "README.TXT"
                               << "DISC01: README.TXT"
                               << "6";
    QTest::newRow("deep file") << "SETUP/DATA/FILE1.CAB"
                               << "DISC01" << QByteArray(3000, 'x') << "FILE1.CAB"
                               << "DISC01: SETUP/DATA/FILE1.CAB"
                               << "3000";
    QTest::newRow("empty file") << "EMPTY.DAT"
                                << "DISC01" << QByteArray() << "EMPTY.DAT"
                                << "DISC01: EMPTY.DAT"
                                << "0";
    QTest::newRow("empty label") << "A/b.txt"
                                 << "" << QByteArray("z") << "b.txt"
                                 << ": A/b.txt"
                                 << "1";
    QTest::newRow("leading slash") << "/A/c.txt"
                                   << "L" << QByteArray("zz") << "c.txt"
                                   << "L: A/c.txt"
                                   << "2";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Müsik/Ärger ✓.txt") << QString::fromUtf8("Dïsc")
                               << QByteArray("abc") << QString::fromUtf8("Ärger ✓.txt")
                               << QString::fromUtf8("Dïsc: Müsik/Ärger ✓.txt") << "3";
}

void tst_catalogue::record_setFileInformation_pathsAndSizes()
{
    QFETCH(QString, relative);
    QFETCH(QString, label);
    QFETCH(QByteArray, content);
    const QString root = m_dir.path() + "/paths/";
    QVERIFY(writeFile(root + relative, content));

    clsFile record;
    QVERIFY(record.SetFileInformation(root, relative, label));
    QCOMPARE(record.CDLabelName(), label);
    QTEST(record.FileName(), "name");
    QTEST(record.FilePath(), "path");
    QTEST(record.FileSize(), "size");
    QVERIFY(!record.LastUpdateDate().isEmpty());
    QVERIFY(!record.CreateDate().isEmpty());

    // The root without its trailing '/' names the same file.
    clsFile again;
    QVERIFY(again.SetFileInformation(m_dir.path() + "/paths", relative, label));
    QCOMPARE(texts(again), texts(record));
}

void tst_catalogue::record_hugeSparseFile()
{
    const QString path = m_dir.path() + "/huge/BIG.ISO";
    QVERIFY(writeFile(path));
    const qint64 fiveGiB = 5LL * 1024 * 1024 * 1024;
    QVERIFY(::truncate(QFile::encodeName(path).constData(), fiveGiB) == 0);
    clsFile record;
    QVERIFY(record.SetFileInformation(m_dir.path() + "/huge/", "BIG.ISO", "BIG"));
    QCOMPARE(record.FileSize(), QStringLiteral("5368709120"));
}

void tst_catalogue::record_timesNotSwappedAndLocal()
{
    const QString path = m_dir.path() + "/times/old.txt";
    QVERIFY(writeFile(path, "x"));
    // 2020-03-05 14:03:07 in Tokyo is 05:03:07 UTC: a record in UTC would show another hour.
    QVERIFY(setModified(path, localTime(2020, 3, 5, 14, 3, 7)));
    clsFile record;
    QVERIFY(record.SetFileInformation(m_dir.path() + "/times", "old.txt", "T"));

    const QString update = record.LastUpdateDate();
    QVERIFY2(update.startsWith(shortDate(2020, 3, 5) + ' '), qPrintable(update));
    QVERIFY2(update.contains(QLatin1String(":03:07")), qPrintable(update));
    QVERIFY2(update.contains(QLatin1String("14:03:07")) || update.contains(QLatin1String("2:03:07")),
             qPrintable(update));
    QVERIFY2(!update.contains(QLatin1String("JST")) && !update.contains(QLatin1String("UTC")),
             qPrintable(update));
    if (QLocale::system().name() == QLatin1String("C"))
        QCOMPARE(update, QStringLiteral("5 Mar 2020 14:03:07"));

    // The file was made today and last changed in 2020: the creation time is the birth time where the
    // file system keeps one, else the modification time.
    struct statx info;
    QVERIFY(statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_BTIME, &info) == 0);
    if (info.stx_mask & STATX_BTIME) {
        QCOMPARE(record.CreateDate(), GeneralDate::toText(static_cast<std::time_t>(info.stx_btime.tv_sec)));
        QVERIFY(record.CreateDate() != update);
        QVERIFY(!record.CreateDate().startsWith(shortDate(2020, 3, 5)));
    } else {
        QCOMPARE(record.CreateDate(), update);
    }
}

void tst_catalogue::record_midnightGivesDateAlone()
{
    const QString path = m_dir.path() + "/midnight/m.txt";
    QVERIFY(writeFile(path, "x"));
    QVERIFY(setModified(path, localTime(2019, 12, 31, 0, 0, 0)));
    clsFile record;
    QVERIFY(record.SetFileInformation(m_dir.path() + "/midnight/", "m.txt", "M"));
    QCOMPARE(record.LastUpdateDate(), shortDate(2019, 12, 31));

    // One second later the time is there.
    QVERIFY(setModified(path, localTime(2019, 12, 31, 0, 0, 1)));
    QVERIFY(record.SetFileInformation(m_dir.path() + "/midnight/", "m.txt", "M"));
    QVERIFY(record.LastUpdateDate().startsWith(shortDate(2019, 12, 31) + ' '));
    QVERIFY(record.LastUpdateDate().contains(QLatin1String("00:01")));
}

void tst_catalogue::record_failedLookupLeavesFields()
{
    const QString root = m_dir.path() + "/missing/";
    QVERIFY(QDir().mkpath(root + "DIR"));
    clsFile record;
    record.setAll("OLD", "old.txt", "OLD: x/old.txt", "12", "created", "updated");
    const QStringList before = texts(record);

    QVERIFY(!record.SetFileInformation(root, "NOPE.TXT", "NEW"));
    QCOMPARE(texts(record), before);
    // A directory is no file, nor is the root itself.
    QVERIFY(!record.SetFileInformation(root, "DIR", "NEW"));
    QVERIFY(!record.SetFileInformation(root, "", "NEW"));
    QCOMPARE(texts(record), before);

    // A link is never followed, not even to a real file.
    QVERIFY(writeFile(root + "real.txt", "abc"));
    QVERIFY(QFile::link(root + "real.txt", root + "link.txt"));
    QVERIFY(!record.SetFileInformation(root, "link.txt", "NEW"));
    QCOMPARE(texts(record), before);
}

void tst_catalogue::record_settersKeepEveryText()
{
    clsFile record;
    QCOMPARE(texts(record), QStringList(6));

    // Texts of every shape survive, whether or not they follow the usual pattern.
    const QStringList shapes[] = {
        {"DISC01", "FILE1.CAB", "DISC01: SETUP/DATA/FILE1.CAB", "3000", "1 Jan 2001", "1 Jan 2001"},
        {"DISC01", "other.txt", "DISC01: SETUP/FILE1.CAB", "0", "a", "b"},
        {"DISC01", "x", "ELSEWHERE: x", "", "", "c"},
        {"", "", "", "", "", ""},
        {"", "a", ": a", "1", "t", "t"},
        {QString::fromUtf8("Ä"), QString::fromUtf8("ö"), QString::fromUtf8("Ä: ö"), "7", "", ""},
        {"L", "name", "L: ", "1", "x", "x"},
        {"L", "L", "L", "L", "L", "L"},
    };
    for (const QStringList &shape : shapes) {
        clsFile r;
        r.setAll(shape[0], shape[1], shape[2], shape[3], shape[4], shape[5]);
        QCOMPARE(texts(r), shape);
        const clsFile copy = r; // a copy is a record of its own with the same texts
        QCOMPARE(texts(copy), shape);
    }

    // One setter changes one text; the label changing does not drag the path with it.
    record.setAll("DISC01", "a.txt", "DISC01: d/a.txt", "5", "c1", "u1");
    record.setCDLabelName("OTHER");
    QCOMPARE(texts(record), QStringList({"OTHER", "a.txt", "DISC01: d/a.txt", "5", "c1", "u1"}));
    record.setFileName("b.txt");
    record.setFilePath("P: q");
    record.setFileSize("6");
    record.setCreateDate("c2");
    record.setLastUpdateDate("u2");
    QCOMPARE(texts(record), QStringList({"OTHER", "b.txt", "P: q", "6", "c2", "u2"}));
    record.setLastUpdateDate("c2");
    record.setCreateDate("");
    QCOMPARE(texts(record), QStringList({"OTHER", "b.txt", "P: q", "6", "", "c2"}));
}

void tst_catalogue::list_freshClearAddItem()
{
    // The program-wide list starts empty and is always the same list.
    QCOMPARE(objScannedFiles().Count(), 0);
    QCOMPARE(&objScannedFiles(), &objScannedFiles());

    clsFileColl list;
    QCOMPARE(list.Count(), 0);
    clsFile &first = list.Add("L", "a", "L: a", "1", "c", "u");
    list.Add("L", "b", "L: b", "2", "c", "u");
    clsFile &third = list.Add("L", "c", "L: c", "3", "c", "u");
    for (int i = 0; i < 1000; ++i) // later adds move no record
        list.Add("L", "more", "L: more", "0", "", "");
    QCOMPARE(list.Count(), 1003);
    QCOMPARE(&list.Item(1), &first);
    QCOMPARE(&list.Item(3), &third);
    QCOMPARE(list.Item(2).FileName(), QStringLiteral("b"));
    // Add stores the texts in its own order: creation date before update date.
    QCOMPARE(texts(list.Item(1)), QStringList({"L", "a", "L: a", "1", "c", "u"}));

    // The same texts twice are two records.
    list.Clear();
    QCOMPARE(list.Count(), 0);
    clsFile &one = list.Add("L", "x", "L: x", "1", "c", "u");
    clsFile &two = list.Add("L", "x", "L: x", "1", "c", "u");
    QCOMPARE(list.Count(), 2);
    QVERIFY(&one != &two);
}

void tst_catalogue::list_outOfRangeFails()
{
    clsFileColl list;
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(1));
    list.Add("L", "a", "L: a", "1", "c", "u");
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(2));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(-1));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Remove(0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Remove(2));
    QCOMPARE(list.Count(), 1);
    list.Clear();
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(1));
}

void tst_catalogue::list_removeAndIterate()
{
    clsFileColl list;
    for (const char *name : {"a", "b", "c", "d"})
        list.Add("L", name, QStringLiteral("L: ") + name, "1", "", "");
    list.Remove(2);
    list.Remove(3);
    QStringList seen;
    for (const clsFile &record : list)
        seen << record.FileName();
    QCOMPARE(seen, QStringList({"a", "c"}));
    QCOMPARE(list.Item(2).FileName(), QStringLiteral("c"));
}

void tst_catalogue::model_rowsAppearWhenPublished()
{
    clsFileColl list;
    clsFileCollModel model(list);
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("File Name"));
    QCOMPARE(model.rowCount(), 0);

    list.Add("DISC", "a.txt", "DISC: d/a.txt", "10", "created", "updated");
    list.Add("DISC", "b.txt", "DISC: b.txt", "20", "c2", "u2");
    QCOMPARE(model.rowCount(), 0); // views learn of rows in batches

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.publishRows();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1);
    model.publishRows(); // nothing new: no signal
    QCOMPARE(inserted.size(), 1);

    // Columns: name, label, path, size, last updated, created; the key is the row's position.
    QStringList row;
    for (int c = 0; c < 6; ++c)
        row << model.data(model.index(0, c), Qt::DisplayRole).toString();
    QCOMPARE(row, QStringList({"a.txt", "DISC", "DISC: d/a.txt", "10", "updated", "created"}));
    QCOMPARE(model.data(model.index(0, 0), clsFileCollModel::KeyRole).toString(), QStringLiteral("KEY0"));
    QCOMPARE(model.data(model.index(1, 3), clsFileCollModel::KeyRole).toString(), QStringLiteral("KEY1"));
}

void tst_catalogue::model_clearedListResetsRows()
{
    clsFileColl list;
    clsFileCollModel model(list);
    list.Add("OLD", "a", "OLD: a", "1", "", "");
    list.Add("OLD", "b", "OLD: b", "1", "", "");
    model.publishRows();

    // Emptied and refilled between two publications: the old rows show nothing meanwhile, and the
    // next publication shows the new list from its first row.
    list.Clear();
    list.Add("NEW", "x", "NEW: x", "1", "", "");
    QCOMPARE(model.rowCount(), 2);
    QVERIFY(!model.data(model.index(0, 0), Qt::DisplayRole).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::DisplayRole).isValid());
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.publishRows();
    QCOMPARE(reset.size(), 1);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("NEW"));

    list.Remove(1);
    model.publishRows();
    QCOMPARE(model.rowCount(), 0);
}

QTEST_GUILESS_MAIN(tst_catalogue)
#include "tst_catalogue.moc"
