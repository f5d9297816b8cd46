// Disc image files listed without mounting them, beside the walker listing the same image mounted.
#include "catalogue/GeneralDate.h"
#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "scan/DiscImage.h"
#include "support/IsoImage.h"

#include <QtTest>

namespace {

// Everything a listing tells its observer, one line each, with directory paths below the disc's root:
// "dir SETUP/", "yield", "files 3", "file 0 a.txt", "KEY0 label|name|path|size|created|updated", "sub 0/2".
struct Recorder : ScanObserver
{
    explicit Recorder(const QString &root) : root(root) {}
    void directoryListed(const QString &path) override { events << "dir " + path.mid(root.size()); }
    void filesStarting(qint64 count) override { events << QString("files %1").arg(count); }
    void fileStarting(qint64 index, std::string_view name) override
    {
        events << QString("file %1 ").arg(index) + QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    void fileListed(const clsFile &r, qint64 key) override
    {
        events << QString("KEY%1 ").arg(key) + QStringList{r.CDLabelName(), r.FileName(),
                                                           r.FilePath(),    r.FileSize(),
                                                           r.CreateDate(),  r.LastUpdateDate()}
                                                   .join('|');
    }
    void subdirectoryStarting(qint64 done, qint64 count) override
    {
        events << QString("sub %1/%2").arg(done).arg(count);
    }
    void driveNotReady() override { events << "not ready"; }
    void yield() override { events << "yield"; }

    // The paths of the records, in order.
    QStringList paths() const
    {
        QStringList result;
        for (const clsFile &record : files)
            result << record.FilePath();
        return result;
    }
    // One record's label|name|path|size|created|updated, found by its path.
    QString record(const QString &path) const
    {
        const QStringList found = events.filter(
            QRegularExpression("^KEY\\d+ [^|]*\\|[^|]*\\|" + QRegularExpression::escape(path) + "\\|"));
        return found.isEmpty() ? QString() : found.first().section(' ', 1);
    }

    QString root;
    QStringList events;
    clsFileColl files;
};

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString timeText(const QDateTime &when)
{
    return GeneralDate::toText(when.toSecsSinceEpoch());
}

} // namespace

class tst_image : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isoImage_listsAsTheWalkerListsItMounted()
    {
        IsoImage disc("Bücher 2021"); // Joliet keeps the ü and the case; the primary descriptor cannot
        const QDateTime modified(QDate(2021, 6, 1), QTime(12, 34, 56));
        const QDateTime midnight(QDate(2020, 1, 2), QTime(0, 0));
        const QString longName = QString(70, 'L') + ".txt"; // longer than Joliet allows
        const QStringList plain = {"README.TXT",          "apple.txt",     "Apple2.txt",
                                   "Zebra.txt",           "what?.txt",     "Müsik/Ärger.txt",
                                   "日本語/ファイル.txt", "Dir/empty.dat", longName};
        QVERIFY(disc.addFile("README.TXT", QByteArray(3000, 'x'), modified));
        for (const QString &file : plain.mid(1))
            QVERIFY(disc.addFile(file, "x", modified));
        QVERIFY(disc.addFile("Dir/empty.dat", {}, modified));
        QVERIFY(disc.addFile("Dir/midnight.txt", "x", midnight));
        for (int i = 0; i <= 100; ++i)
            QVERIFY(disc.addFile(QString("D101/f%1").arg(i, 3, 10, QChar('0')), "x", modified));
        // Hidden entries and links (a loop among them) are neither listed nor followed.
        QVERIFY(disc.addFile(".hidden", "x") && disc.addFile(".hiddendir/in.txt", "x") &&
                disc.addFile("Dir/.h", "x"));
        const QString tree = disc.sourceDir() + '/';
        QVERIFY(QDir().mkpath(tree + "loop") && QFile::link("..", tree + "loop/up") &&
                QFile::link(".", tree + "loop/self") && QFile::link("README.TXT", tree + "link.txt"));
        const bool mounted = disc.buildAndMount();
        if (!QFileInfo::exists(disc.imagePath()))
            QSKIP(qPrintable(disc.skipReason()));

        DiscImage image;
        QVERIFY2(image.Open(disc.imagePath()), qPrintable(image.ErrorText()));
        QCOMPARE(image.TreeName(), QStringLiteral("ISO 9660 with Rock Ridge"));
        QCOMPARE(image.VolumeLabel(), QStringLiteral("Bücher 2021"));
        Recorder fromImage(disc.imagePath() + '/');
        QVERIFY(image.List(fromImage.files, fromImage, image.VolumeLabel()));
        QCOMPARE(image.FilesListed(), 111);
        QCOMPARE(image.ErrorText(), QString());

        // Depth first, files before subdirectories, names ignoring case; Rock Ridge's full names.
        const QString label = "Bücher 2021: ";
        QStringList expected = {"apple.txt", "Apple2.txt", longName, "README.TXT", "what?.txt", "Zebra.txt"};
        for (int i = 0; i <= 100; ++i)
            expected << QString("D101/f%1").arg(i, 3, 10, QChar('0'));
        expected << "Dir/empty.dat"
                 << "Dir/midnight.txt"
                 << "Müsik/Ärger.txt"
                 << "日本語/ファイル.txt";
        QCOMPARE(fromImage.paths(), expected.replaceInStrings(QRegularExpression("^"), label));
        // The times the image records; midnight gives the date alone.
        QCOMPARE(fromImage.record(label + "README.TXT"),
                 QStringList({"Bücher 2021", "README.TXT", label + "README.TXT", "3000", timeText(modified),
                              timeText(modified)})
                     .join('|'));
        QCOMPARE(fromImage.record(label + "Dir/empty.dat").section('|', 3, 3), QStringLiteral("0"));
        QCOMPARE(fromImage.record(label + "Dir/midnight.txt").section('|', 4),
                 timeText(midnight) + '|' + timeText(midnight));
        QVERIFY(!timeText(midnight).contains(':'));
        // One yield inside the 101 files, after the file with index 100.
        const QStringList d101 =
            fromImage.events.filter(QRegularExpression("^(dir D101|yield|file 10[0-9])"));
        const qsizetype at = d101.indexOf("dir D101/");
        QCOMPARE(d101.mid(at, 5), QStringList({"dir D101/", "yield", "file 100 f100", "yield", "yield"}));

        if (!mounted)
            QSKIP(qPrintable("listed without the mounted disc to compare: " + disc.skipReason()));
        // The same observer calls, yields and records as the walker gives for the image mounted.
        Recorder fromDisc(disc.root());
        DirectoryWalker walker(fromDisc.files, fromDisc);
        QCOMPARE(modFunction::GetVolumeLabel(disc.root()), image.VolumeLabel());
        walker.setLabel(modFunction::GetVolumeLabel(disc.root()));
        walker.ScanDirectory(disc.root());
        QCOMPARE(fromImage.events, fromDisc.events);
    }

    void isoImageWithoutRockRidge_namesAsFuseisoShowsThem_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("tree");
        QTest::newRow("Joliet") << QStringList{"--norock", "-J"} << "ISO 9660 with Joliet";
        QTest::newRow("plain") << QStringList{"--norock"} << "ISO 9660";
    }
    void isoImageWithoutRockRidge_namesAsFuseisoShowsThem()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, tree);
        IsoImage disc("PLAIN");
        disc.setFileSystems(options);
        // Letters of three bytes in UTF-8 but two in Joliet, also in a directory's name.
        for (const char *file :
             {"日本語のフォルダ/日本語のファイル名.txt", "Mixed Case.TXT", "README", ".hidden"})
            QVERIFY(disc.addFile(file, "x"));
        const bool mounted = disc.buildAndMount();
        if (!QFileInfo::exists(disc.imagePath()))
            QSKIP(qPrintable(disc.skipReason()));
        DiscImage image;
        QVERIFY(image.Open(disc.imagePath()));
        QCOMPARE(image.TreeName(), tree);
        Recorder fromImage(disc.imagePath() + '/');
        QVERIFY(image.List(fromImage.files, fromImage, "PLAIN"));
        if (options.contains("-J"))
            QVERIFY(fromImage.paths().contains("PLAIN: 日本語のフォルダ/日本語のファイル名.txt"));
        if (!mounted)
            QSKIP(qPrintable("listed without the mounted disc to compare: " + disc.skipReason()));
        Recorder fromDisc(disc.root());
        DirectoryWalker walker(fromDisc.files, fromDisc);
        walker.setLabel("PLAIN");
        walker.ScanDirectory(disc.root());
        QCOMPARE(fromImage.events, fromDisc.events);
    }

    void udfImage_listedWithItsNamesSizesAndTimes()
    {
        if (QStandardPaths::findExecutable("genisoimage").isEmpty())
            QSKIP("genisoimage is not installed");
        QTemporaryDir dir;
        const QDateTime modified(QDate(2019, 5, 6), QTime(7, 8, 9));
        const QStringList names = {"A Long Mixed-Case Name of a File.txt",
                                   "Müsik/Ärger.txt",
                                   "Привет.txt",
                                   "Sub/Deep/data.bin",
                                   "Sub/empty.txt",
                                   ".hidden"};
        for (const QString &name : names) {
            QFile file(dir.path() + "/tree/" + name);
            QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly));
            file.write(QByteArray(name.startsWith("Sub/D") ? 5000 : name.startsWith("Sub/e") ? 0 : 1, 'x'));
            QVERIFY(file.flush() && file.setFileTime(modified, QFileDevice::FileModificationTime));
        }
        // Without Rock Ridge, UDF's names are listed, not the plain ISO 9660 ones (A_LONG_M.TXT); with it,
        // Rock Ridge's, which are the same here.
        for (const QStringList &options : {QStringList{}, QStringList{"-R", "-J"}}) {
            const QString path = dir.path() + "/udf" + options.join("") + ".iso";
            QVERIFY(run("genisoimage", QStringList{"-quiet", "-input-charset", "utf-8", "-udf", "-V",
                                                   "UdfDisc", "-o", path} +
                                           options + QStringList{dir.path() + "/tree"}));
            DiscImage image;
            QVERIFY2(image.Open(path), qPrintable(image.ErrorText()));
            QCOMPARE(image.TreeName(),
                     options.isEmpty() ? QStringLiteral("UDF") : QStringLiteral("ISO 9660 with Rock Ridge"));
            QCOMPARE(image.VolumeLabel(), QStringLiteral("UdfDisc"));
            Recorder listing(path + '/');
            QVERIFY(image.List(listing.files, listing, "UdfDisc"));
            QCOMPARE(listing.paths(), QStringList({"UdfDisc: A Long Mixed-Case Name of a File.txt",
                                                   "UdfDisc: Привет.txt", "UdfDisc: Müsik/Ärger.txt",
                                                   "UdfDisc: Sub/empty.txt", "UdfDisc: Sub/Deep/data.bin"}));
            const QString time = timeText(modified);
            QCOMPARE(listing.record("UdfDisc: Sub/Deep/data.bin"),
                     "UdfDisc|data.bin|UdfDisc: Sub/Deep/data.bin|5000|" + time + '|' + time);
            QCOMPARE(listing.record("UdfDisc: Sub/empty.txt").section('|', 3, 3), QStringLiteral("0"));
        }
    }

    void badImages_giveTheirMessage_theNextListsFine()
    {
        QTemporaryDir dir;
        IsoImage good("GOOD");
        for (const char *file : {"a/one.bin", "a/two.bin", "b/three.bin", "b/four.bin"})
            QVERIFY(good.addFile(file, QByteArray(400'000, 'x')));
        if (!good.build())
            QSKIP(qPrintable(good.skipReason()));
        const auto cut = [&](const QString &from, const QString &name, qint64 bytes) {
            const QString path = dir.path() + '/' + name;
            QFile::copy(from, path);
            QFile(path).resize(bytes < 0 ? QFileInfo(from).size() / 2 : bytes);
            return path;
        };
        QFile text(dir.path() + "/notes.iso");
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write(QByteArray(100'000, 'n')) && text.flush());

        struct Case
        {
            QString path;
            QString message; // a pattern
            QString tree;    // the tree being listed when the damage was found
        };
        const QString cutShort =
            "'%1' is damaged: it is cut short \\('[ab]/[a-z]+\\.bin' lies beyond its end\\)\\.";
        QList<Case> cases = {
            {dir.path() + "/missing.iso", "'%1' cannot be read: No such file or directory\\.", {}},
            {dir.path(), "'%1' is a directory, not a disc image file\\.", {}},
            {text.fileName(), "'%1' is not a disc image \\(ISO 9660 or UDF\\)\\.", {}},
            {cut(good.imagePath(), "empty.iso", 0), "'%1' is not a disc image \\(ISO 9660 or UDF\\)\\.", {}},
            // The last files' data is missing; then the directories too.
            {cut(good.imagePath(), "half.iso", -1), cutShort, "ISO 9660 with Rock Ridge"},
            {cut(good.imagePath(), "head.iso", 18 * 2048),
             "'%1' is damaged: (it is cut short \\('/'|the root directory cannot be read).*",
             {}},
        };
        if (!QStandardPaths::findExecutable("genisoimage").isEmpty()) {
            const QString udf = dir.path() + "/udf.iso";
            QVERIFY(run("genisoimage", {"-quiet", "-udf", "-o", udf, good.sourceDir()}));
            cases.append({cut(udf, "udf-half.iso", -1), cutShort, "UDF"});
        }
        if (!QStandardPaths::findExecutable("mkudffs").isEmpty()) {
            // UDF 2.01 as mkudffs writes it, with extended file entries, which libudf does not read.
            const QString udf201 = dir.path() + "/udf201.img";
            QVERIFY(QFile(udf201).open(QIODevice::WriteOnly) && QFile(udf201).resize(20 << 20) &&
                    run("mkudffs", {"--media-type=hd", "--blocksize=2048", "--udfrev=2.01", udf201}));
            cases.append(
                {udf201,
                 "'%1' is a UDF disc image that cannot be read without mounting it \\(UDF 2\\.01\\)\\.",
                 {}});
        }

        DiscImage image; // one object throughout: a failure leaves nothing behind for the next image
        for (const Case &c : cases) {
            Recorder listing(c.path + '/');
            const bool opened = image.Open(c.path);
            if (!c.tree.isEmpty())
                QCOMPARE(image.TreeName(), c.tree);
            QVERIFY2(!opened || !image.List(listing.files, listing, image.VolumeLabel()), qPrintable(c.path));
            const QString pattern = "^" + QString(c.message).arg(QRegularExpression::escape(c.path)) + "$";
            QVERIFY2(QRegularExpression(pattern).match(image.ErrorText()).hasMatch(),
                     qPrintable(image.ErrorText()));
            // What was listed before the damage is said, and is what the list holds.
            QCOMPARE(qint64(listing.files.Count()), image.FilesListed());
            QVERIFY(image.FilesListed() < 4);
        }

        Recorder listing(good.imagePath() + '/');
        QVERIFY(image.Open(good.imagePath()) && image.List(listing.files, listing, image.VolumeLabel()));
        QCOMPARE(listing.paths(), QStringList({"GOOD: a/one.bin", "GOOD: a/two.bin", "GOOD: b/four.bin",
                                               "GOOD: b/three.bin"}));
        QCOMPARE(image.ErrorText(), QString());
    }
};

QTEST_MAIN(tst_image)
#include "tst_image.moc"
