// File records, the file list and the list views' model over it.
#include "catalogue/GeneralDate.h"
#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "catalogue/clsFileCollModel.h"
#include "testing/TestSeams.h"

#include <QtTest>

#include <stdexcept>

class tst_catalogue : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // A file of size bytes (sparse beyond its first), last modified at modified when given.
    static bool makeFile(const QString &path, qint64 size = 1, const QDateTime &modified = {})
    {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write("x", size > 0) == (size > 0) && file.resize(size) &&
               (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    static QStringList texts(const clsFile &f)
    {
        return {f.CDLabelName(), f.FileName(),   f.FilePath(),
                f.FileSize(),    f.CreateDate(), f.LastUpdateDate()};
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A zone away from UTC proves the times are local; the program itself never sets TZ.
        qputenv("TZ", "Asia/Tokyo");
        TestSeams::DateLocale() = QLocale::system(); // the zone is read again with the locale
    }
    void cleanup() { TestSeams::DateLocale().reset(); }

    void generalDate_matchesQLocale()
    {
        // The time is put together from the locale's format without QLocale: it must read as QLocale
        // writes it, without the zone. Locales with 12- and 24-hour clocks, the day half first, quoted
        // text, other digits (some outside the 16-bit range) and the zone first.
        for (const char *name : {"en_US", "de_DE", "ar_EG", "ko_KR", "fr_CA", "ff_SN", "my_MM"}) {
            const QLocale locale{QString(name)};
            TestSeams::DateLocale() = locale;
            const QString format =
                locale.timeFormat(QLocale::LongFormat).remove(QRegularExpression("\\bt\\b")).simplified();
            const QString day = locale.toString(QDate(2024, 2, 29), QLocale::ShortFormat);
            // Midnight gives the date alone.
            for (const QTime t :
                 {QTime(0, 0), QTime(0, 0, 1), QTime(12, 0), QTime(13, 7, 8), QTime(23, 59, 59)})
                QCOMPARE(GeneralDate::toText(QDateTime(QDate(2024, 2, 29), t).toSecsSinceEpoch()),
                         t == QTime(0, 0) ? day : day + ' ' + locale.toString(t, format));
        }
        // What is kept of the days and moments met never answers for another: every day of twelve years
        // (days eleven years apart share a place in what is kept), twice over, each after the same other
        // moment (as a file's two times take turns).
        const QLocale locale{QString("en_US")};
        TestSeams::DateLocale() = locale;
        const QString format = locale.timeFormat(QLocale::LongFormat).remove(" t");
        const auto expected = [&](const QDateTime &when) {
            return locale.toString(when.date(), QLocale::ShortFormat) + ' ' +
                   locale.toString(when.time(), format);
        };
        const QDateTime other(QDate(2020, 6, 1), QTime(8, 0, 1));
        for (int pass = 0; pass < 2; ++pass) {
            for (int days = 0; days < 12 * 366; ++days) {
                const QDateTime when(QDate(1995, 1, 1).addDays(days), QTime(13, 7, 8));
                QCOMPARE(GeneralDate::toText(when.toSecsSinceEpoch()), expected(when));
                QCOMPARE(GeneralDate::toText(other.toSecsSinceEpoch()), expected(other));
            }
        }
    }

    void record()
    {
        const QString root = m_dir.path() + "/paths/";
        // Relative path, label, size; the path is "label: relative path". The 5 GiB file is sparse.
        const QStringList files[] = {{"README.TXT", "DISC01", "6"},
                                     {"SETUP/DATA/FILE1.CAB", "DISC01", "3000"},
                                     {"EMPTY.DAT", "DISC01", "0"},
                                     {"BIG.ISO", "BIG", "5368709120"},
                                     {"Müsik/Ärger ✓.txt", "", "3"}};
        for (const QStringList &f : files) {
            QVERIFY(makeFile(root + f[0], f[2].toLongLong()));
            clsFile record;
            QVERIFY(record.SetFileInformation(root, f[0], f[1]));
            QCOMPARE(texts(record).mid(0, 4),
                     QStringList({f[1], f[0].section('/', -1), f[1] + ": " + f[0], f[2]}));
        }
        // A failed lookup leaves the fields as they were: a missing file, a directory, the root itself,
        // and a link (never followed, not even to a real file).
        QVERIFY(QFile::link(root + "README.TXT", root + "link.txt"));
        clsFile record;
        record.setAll("OLD", "old.txt", "OLD: x/old.txt", "12", "created", "updated");
        const QStringList old = texts(record);
        for (const char *relative : {"NOPE.TXT", "SETUP", "", "link.txt"})
            QVERIFY2(!record.SetFileInformation(root, relative, "NEW") && texts(record) == old, relative);

        // Last changed at midnight: the date alone.
        QVERIFY(makeFile(root + "old.txt", 1, QDateTime(QDate(2019, 12, 31), QTime(0, 0))));
        QVERIFY(record.SetFileInformation(root, "old.txt", "T"));
        QCOMPARE(record.LastUpdateDate(), QLocale().toString(QDate(2019, 12, 31), QLocale::ShortFormat));
        // Made today, last changed in 2019: the creation time is the birth time where the file system
        // keeps one, else the modification time.
        const QDateTime born = QFileInfo(root + "old.txt").birthTime();
        QCOMPARE(record.CreateDate(),
                 born.isValid() ? GeneralDate::toText(born.toSecsSinceEpoch()) : record.LastUpdateDate());
    }

    // What a cell shows of UTF-8 is what it shows of the decoded text, whatever the characters' lengths.
    void shownTextOfUtf8()
    {
        for (const QStringView unit : {u"x", u"é", u"日", u"\U0001F600"}) {
            for (const int n : {999, 1000, 1001, 1002, 4000, 5000}) {
                const QString text = unit.toString().repeated(n);
                QCOMPARE(TextForms::shownUtf8(text.toStdString()), TextForms::shown(text));
                QVERIFY(TextForms::shown(text).size() <= TextForms::kShownLength + 1);
            }
        }
    }

    // A name is valid UTF-8 or not wherever its first byte outside ASCII lies, whatever its length:
    // a valid character, a lone Latin-1 byte and a cut-off character at every position of ASCII texts
    // of 0 to 24 bytes agree with Qt's own check.
    void utf8ToldAtEveryPosition()
    {
        for (const QByteArray &odd : {QByteArray("\xC3\xA9"), QByteArray("\xE9"), QByteArray("\xE6\x97")}) {
            for (int length = 0; length <= 24; ++length) {
                for (int at = 0; at <= length; ++at) {
                    const QByteArray text = QByteArray(at, 'a') + odd + QByteArray(length - at, 'b');
                    QCOMPARE(TextForms::isUtf8(text.toStdString()), QByteArrayView(text).isValidUtf8());
                }
                QVERIFY(TextForms::isUtf8(QByteArray(length, 'z').toStdString()));
            }
        }
    }

    void listAndModel()
    {
        // Records keep their texts compactly, deriving what follows the usual pattern; texts that do not
        // come back as given, in copies too (Add takes the creation date before the update date).
        const QStringList shapes[] = {
            {"DISC01", "FILE1.CAB", "DISC01: SETUP/FILE1.CAB", "3000", "1 Jan 2001", "1 Jan 2001"},
            {"DISC01", "other.txt", "ELSEWHERE: FILE1.CAB", "", "c", "u"},
            {"", "", "", "", "", ""}};
        clsFileColl list;
        clsFileCollModel model(list);
        for (const QStringList &t : shapes)
            list.Add(t[0], t[1], t[2], t[3], t[4], t[5]);
        qsizetype i = 0;
        for (const clsFile &r : list) // in order
            QCOMPARE(texts(clsFile(r)), shapes[i++]);
        // The views learn of rows in batches.
        QCOMPARE(model.rowCount(), 0);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.publishRows();
        model.publishRows(); // nothing new: no signal
        QCOMPARE(inserted.size(), 1);
        // Columns: name, label, path, size, last updated, created.
        QStringList row;
        for (int c = 0; c < model.columnCount(); ++c)
            row << model.index(1, c).data().toString();
        QCOMPARE(row, QStringList({"other.txt", "DISC01", "ELSEWHERE: FILE1.CAB", "", "u", "c"}));

        for (const qint32 outside : {0, -1, 4})
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(outside));
        list.Clear();
        // Emptied and refilled between two publications: the old rows show nothing meanwhile, and the
        // next publication shows the new list from its first row.
        list.Add("NEW", "x", "NEW: x", "1", "", "");
        QVERIFY(model.rowCount() == 3 && !model.index(1, 0).data().isValid());
        model.publishRows();
        QVERIFY(model.rowCount() == 1 && model.index(0, 1).data().toString() == "NEW");

        // A cell shows at most 1,000 characters of its text, never half of one; the record keeps it whole,
        // a leading U+FEFF too.
        const QString name = QChar(0xFEFF) + QString(998, 'n') + QString::fromUtf16(u"\U0001F600") + "tail";
        list.Add("NEW", name, "NEW: " + name, "1", "", "");
        model.publishRows();
        QCOMPARE(model.index(1, 0).data().toString(), QChar(0xFEFF) + QString(998, 'n') + QChar(0x2026));
        QCOMPARE(list.Item(2).FileName() + '|' + list.Item(2).FilePath(), name + "|NEW: " + name);
    }
};

QTEST_GUILESS_MAIN(tst_catalogue)
#include "tst_catalogue.moc"
