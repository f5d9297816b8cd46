// Disc image files listed without mounting them, beside the walker listing the same image mounted.
#include "catalogue/GeneralDate.h"
#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "scan/DiscImage.h"
#include "support/IsoImage.h"

#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>

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
        const QStringList fields{r.CDLabelName(), r.FileName(),   r.FilePath(),
                                 r.FileSize(),    r.CreateDate(), r.LastUpdateDate()};
        events << QString("KEY%1 ").arg(key) + fields.join('|');
        records[r.FilePath()] = fields.join('|');
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
    // "path size" of each record, in order.
    QStringList pathsAndSizes() const
    {
        QStringList result;
        for (const clsFile &record : files)
            result << record.FilePath() + ' ' + record.FileSize();
        return result;
    }
    QString root;
    QStringList events;
    QMap<QString, QString> records; // label|name|path|size|created|updated by path
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

// A file whose path is bytes, not necessarily UTF-8 (QFile would make them UTF-8); its directory exists.
bool addRawFile(const IsoImage &disc, const QByteArray &relativePath, const QByteArray &content)
{
    std::ofstream file(QFile::encodeName(disc.sourceDir()).toStdString() + '/' + relativePath.toStdString(),
                       std::ios::binary);
    return file.write(content.constData(), content.size()) && file.flush();
}

// A UDF descriptor tag's checksum (ECMA-167 3/7.2.3).
uchar udfTagChecksum(const uchar *tag)
{
    uchar sum = 0;
    for (int i = 0; i < 16; ++i)
        sum = uchar(sum + (i == 4 ? 0 : tag[i]));
    return sum;
}

// Makes a UDF descriptor's CRC and checksum match what it now holds.
void sealUdfTag(uchar *tag)
{
    // UDF's CRC is CRC-16/XMODEM; qChecksum knows only other forms.
    quint16 crc = 0;
    for (int i = 16; i < 16 + qFromLittleEndian<quint16>(tag + 10); ++i) {
        crc ^= quint16(tag[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    qToLittleEndian<quint16>(crc, tag + 8);
    tag[4] = udfTagChecksum(tag);
}

// Damages a UDF image: change() is given each descriptor of the kind (at 4-byte steps, as file
// identifiers lie) and says whether it changed it; the image is rewritten when one was.
bool changeUdfDescriptors(const QString &path, quint16 kind, const std::function<bool(uchar *)> &change)
{
    QFile image(path);
    if (!image.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = image.readAll();
    bool changed = false;
    for (qsizetype at = 0; at + 512 <= bytes.size(); at += 4) {
        auto *tag = reinterpret_cast<uchar *>(bytes.data() + at);
        if (qFromLittleEndian<quint16>(tag) == kind && tag[4] == udfTagChecksum(tag) && change(tag)) {
            sealUdfTag(tag);
            changed = true;
        }
    }
    return changed && image.seek(0) && image.write(bytes) == bytes.size();
}

// Sets the recorded size of each UDF file entry of a regular file of size bytes.
bool setUdfFileSize(const QString &path, quint64 size, quint64 newSize)
{
    return changeUdfDescriptors(path, 261, [&](uchar *entry) {
        if (entry[27] != 5 || qFromLittleEndian<quint64>(entry + 56) != size)
            return false;
        qToLittleEndian<quint64>(newSize, entry + 56);
        return true;
    });
}

// Makes each UDF directory named name (its file identifier) lead to the file entry of the directory
// named target instead of its own.
bool setUdfDirectory(const QString &path, const QByteArray &name, const QByteArray &target)
{
    // A file identifier's name: after its own fields and the implementation's, a byte for the form.
    const auto named = [](const uchar *identifier, const QByteArray &wanted) {
        const QByteArray name = QByteArray(reinterpret_cast<const char *>(identifier) + 38 +
                                               qFromLittleEndian<quint16>(identifier + 36),
                                           identifier[19]);
        return (identifier[18] & 2) && name == '\x08' + wanted;
    };
    quint32 entry = 0;
    changeUdfDescriptors(path, 257, [&](uchar *identifier) {
        if (named(identifier, target))
            entry = qFromLittleEndian<quint32>(identifier + 24);
        return false;
    });
    return entry != 0 && changeUdfDescriptors(path, 257, [&](uchar *identifier) {
               if (!named(identifier, name))
                   return false;
               qToLittleEndian<quint32>(entry, identifier + 24);
               return true;
           });
}

// The observer calls the walker makes for the disc mounted.
QStringList walked(const IsoImage &disc, const QString &label)
{
    Recorder fromDisc(disc.root());
    DirectoryWalker walker(fromDisc.files, fromDisc);
    walker.setLabel(label);
    walker.ScanDirectory(disc.root());
    return fromDisc.events;
}

} // namespace

class tst_image : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Listed from the image as the walker lists the image mounted with fuseiso: the same observer calls,
    // yields and records. Rock Ridge's names, else Joliet's, else the primary descriptor's.
    void isoImage_listsAsTheWalkerListsItMounted_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("tree");
        QTest::newRow("Rock Ridge") << QStringList{"-R", "-J"} << "ISO 9660 with Rock Ridge";
        QTest::newRow("Joliet") << QStringList{"--norock", "-J"} << "ISO 9660 with Joliet";
        QTest::newRow("plain") << QStringList{"--norock"} << "ISO 9660";
    }
    void isoImage_listsAsTheWalkerListsItMounted()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, tree);
        IsoImage disc("Bücher 2021"); // Joliet keeps the ü and the case; the primary descriptor cannot
        disc.setFileSystems(options);
        const QDateTime modified(QDate(2021, 6, 1), QTime(12, 34, 56));
        const QDateTime midnight(QDate(2020, 1, 2), QTime(0, 0));
        const QString longName = QString(70, 'L') + ".txt"; // longer than Joliet allows
        QStringList d101;
        for (int i = 0; i <= 100; ++i)
            d101 << QString("D101/f%1").arg(i, 3, 10, QChar('0'));
        QVERIFY(disc.addFile("README.TXT", QByteArray(3000, 'x'), modified) &&
                disc.addFile("Dir/empty.dat", {}, modified) &&
                disc.addFile("Dir/midnight.txt", "x", midnight));
        // Letters of three bytes in UTF-8 but two in Joliet, also in a directory's name.
        const QString japanese = "日本語のフォルダ/日本語のファイル名.txt";
        for (const QString &file : QStringList{"apple.txt", "Apple2.txt", "Zebra.txt", "what?.txt",
                                               "Müsik/Ärger.txt", japanese, longName} +
                                       d101)
            QVERIFY(disc.addFile(file, "x", modified));
        // Hidden entries and links (a loop among them) are neither listed nor followed.
        const QString source = disc.sourceDir() + '/';
        QVERIFY(disc.addFile(".hidden") && disc.addFile(".hiddendir/in.txt") && disc.addFile("Dir/.h") &&
                QDir().mkpath(source + "loop") && QFile::link("..", source + "loop/up") &&
                QFile::link(".", source + "loop/self") && QFile::link("README.TXT", source + "link.txt"));
        const bool mounted = disc.buildAndMount();
        if (!QFileInfo::exists(disc.imagePath()))
            QSKIP(qPrintable(disc.skipReason()));

        DiscImage image;
        QVERIFY2(image.Open(disc.imagePath()), qPrintable(image.ErrorText()));
        QCOMPARE(image.TreeName(), tree);
        Recorder fromImage(disc.imagePath() + '/');
        QVERIFY(image.List(fromImage.files, fromImage, image.VolumeLabel()));
        QCOMPARE(image.ErrorText(), QString());
        const QString label = "Bücher 2021: ";
        if (options.contains("-J"))
            QCOMPARE(image.VolumeLabel(), QStringLiteral("Bücher 2021"));
        if (options == QStringList{"--norock", "-J"})
            QVERIFY(fromImage.paths().contains(label + japanese));
        if (options.contains("-R")) {
            QCOMPARE(image.FilesListed(), 111);
            // Depth first, files before subdirectories, names ignoring case; Rock Ridge's full names.
            QStringList expected =
                QStringList{"apple.txt", "Apple2.txt", longName, "README.TXT", "what?.txt", "Zebra.txt"} +
                d101 + QStringList{"Dir/empty.dat", "Dir/midnight.txt", "Müsik/Ärger.txt", japanese};
            QCOMPARE(fromImage.paths(), expected.replaceInStrings(QRegularExpression("^"), label));
            // The times the image records; midnight gives the date alone.
            const QString time = timeText(modified), dateOnly = timeText(midnight);
            QCOMPARE(fromImage.records.value(label + "README.TXT"),
                     "Bücher 2021|README.TXT|" + label + "README.TXT|3000|" + time + '|' + time);
            QCOMPARE(fromImage.records.value(label + "Dir/midnight.txt").section('|', 4),
                     dateOnly + '|' + dateOnly);
            QVERIFY(!dateOnly.contains(':'));
            // One yield inside the 101 files, after the file with index 100.
            const QStringList events =
                fromImage.events.filter(QRegularExpression("^(dir D101|yield|file 10[0-9])"));
            QCOMPARE(events.mid(events.indexOf("dir D101/"), 5),
                     QStringList({"dir D101/", "yield", "file 100 f100", "yield", "yield"}));
        }

        if (!mounted)
            QSKIP(qPrintable("listed without the mounted disc to compare: " + disc.skipReason()));
        QVERIFY(!options.contains("-J") || modFunction::GetVolumeLabel(disc.root()) == image.VolumeLabel());
        QCOMPARE(fromImage.events, walked(disc, image.VolumeLabel()));
    }

    // Rock Ridge names that are not UTF-8 (Latin-1 bytes, as on old discs) are made text as the walker
    // makes the names of the disc mounted: two names stay two, and a Latin-1 name and the same name in
    // UTF-8 keep the walker's order (by their bytes). A name too long for its directory record goes on in
    // a continuation area.
    void rockRidgeNames_listedAsTheWalkerListsThem()
    {
        IsoImage disc("LATIN1");
        disc.setFileSystems({"-R"}); // Joliet would refuse the names
        QVERIFY(::mkdir(QFile::encodeName(disc.sourceDir() + '/').append("d\xe9j\xe0").constData(), 0755) ==
                0);
        QVERIFY(addRawFile(disc, "caf\xe8.txt", "1") && addRawFile(disc, "caf\xe9.txt", "22") &&
                addRawFile(disc, "caf\xc3\xa8.txt", "333") &&
                addRawFile(disc, "d\xe9j\xe0/in\xfc.txt", "4444") &&
                addRawFile(disc, QByteArray(200, 'n') + ".txt", "55555"));
        const bool mounted = disc.buildAndMount();
        std::filesystem::remove_all(QFile::encodeName(disc.sourceDir()).toStdString()); // Qt cannot name them
        if (!QFileInfo::exists(disc.imagePath()))
            QSKIP(qPrintable(disc.skipReason()));

        DiscImage image;
        QVERIFY2(image.Open(disc.imagePath()), qPrintable(image.ErrorText()));
        QCOMPARE(image.TreeName(), QStringLiteral("ISO 9660 with Rock Ridge"));
        Recorder fromImage(disc.imagePath() + '/');
        QVERIFY2(image.List(fromImage.files, fromImage, "LATIN1"), qPrintable(image.ErrorText()));
        QCOMPARE(fromImage.pathsAndSizes(),
                 QStringList({"LATIN1: cafè.txt 3", "LATIN1: cafè.txt 1", "LATIN1: café.txt 2",
                              "LATIN1: " + QString(200, 'n') + ".txt 5", "LATIN1: déjà/inü.txt 4"}));

        if (!mounted)
            QSKIP(qPrintable("listed without the mounted disc to compare: " + disc.skipReason()));
        QCOMPARE(fromImage.events, walked(disc, "LATIN1"));
    }

    // A tree deeper than ISO 9660's eight levels, as genisoimage makes it with Rock Ridge: the directories
    // it moves to rr_moved are listed where their CL entries stand, and rr_moved's entries for them (marked
    // RE) are not listed, as the kernel shows the disc mounted.
    void rockRidgeRelocatedDirectories_listedWhereTheyBelong()
    {
        if (QStandardPaths::findExecutable("genisoimage").isEmpty())
            QSKIP("genisoimage is not installed");
        IsoImage source("unused"); // only its tree of files
        QVERIFY(source.addFile("top.txt", "1") && source.addFile("a/b/c/d/e/f/g/h/mid.txt", "22") &&
                source.addFile("a/b/c/d/e/f/g/h/i/j/leaf.txt", "333") &&
                source.addFile("k/l/m/n/o/p/q/h/Other.txt", "4444") && source.addFile("z.txt", "55555"));
        const QString path = source.sourceDir() + "/../deep.iso";
        QVERIFY(run("genisoimage", {"-quiet", "-R", "-V", "DEEP", "-o", path, source.sourceDir()}));

        DiscImage image;
        QVERIFY2(image.Open(path), qPrintable(image.ErrorText()));
        QCOMPARE(image.TreeName(), QStringLiteral("ISO 9660 with Rock Ridge"));
        Recorder fromImage(path + '/');
        QVERIFY2(image.List(fromImage.files, fromImage, "DEEP"), qPrintable(image.ErrorText()));
        Recorder fromTree(source.sourceDir() + '/');
        DirectoryWalker walker(fromTree.files, fromTree);
        walker.setLabel("DEEP");
        walker.ScanDirectory(source.sourceDir());
        QCOMPARE(fromImage.pathsAndSizes(), fromTree.pathsAndSizes());
        QCOMPARE(fromImage.pathsAndSizes().size(), 5);
        QCOMPARE(fromImage.events.filter("rr_moved"), QStringList{"dir rr_moved/"}); // empty, as mounted
    }

    // A tree far deeper than a disc needs but whole: listed to its end as the walker lists it mounted.
    void deepTree_listedToItsEnd()
    {
        IsoImage disc("DEEP");
        const QString deep = QString("d/").repeated(1100);
        QVERIFY(disc.addFile("top.txt", "1") && disc.addFile(deep + "leaf.txt", "22"));
        const bool mounted = disc.buildAndMount();
        if (!QFileInfo::exists(disc.imagePath()))
            QSKIP(qPrintable(disc.skipReason()));

        DiscImage image;
        QVERIFY2(image.Open(disc.imagePath()), qPrintable(image.ErrorText()));
        Recorder fromImage(disc.imagePath() + '/');
        QVERIFY2(image.List(fromImage.files, fromImage, "DEEP"), qPrintable(image.ErrorText()));
        QCOMPARE(image.LeftOutText(), QString());
        QCOMPARE(fromImage.pathsAndSizes(), QStringList({"DEEP: top.txt 1", "DEEP: " + deep + "leaf.txt 2"}));

        if (!mounted)
            QSKIP(qPrintable("listed without the mounted disc to compare: " + disc.skipReason()));
        QCOMPARE(fromImage.events, walked(disc, "DEEP"));
    }

    // A directory that contains itself (its record names the extent of the directory holding it, as in
    // a damaged image) is left out, and said to be; the rest of the image is listed. ISO 9660 and UDF.
    void directoryContainingItself_leftOut_theRestListed_data()
    {
        QTest::addColumn<bool>("udf");
        QTest::newRow("ISO 9660") << false;
        QTest::newRow("UDF") << true;
    }
    void directoryContainingItself_leftOut_theRestListed()
    {
        QFETCH(bool, udf);
        IsoImage disc("LOOPS");
        disc.setFileSystems({"-R"});
        QVERIFY(disc.addFile("a.txt", "1") && disc.addFile("sub/b.txt", "22") &&
                disc.addFile("sub/loop/c.txt", "333") && disc.addFile("sub/zz/d.txt", "4444"));
        QString path = disc.imagePath();
        if (udf) {
            if (QStandardPaths::findExecutable("genisoimage").isEmpty())
                QSKIP("genisoimage is not installed");
            path = disc.sourceDir() + "/../udf.iso";
            QVERIFY(run("genisoimage", {"-quiet", "-udf", "-V", "LOOPS", "-o", path, disc.sourceDir()}));
            QVERIFY(setUdfDirectory(path, "loop", "sub"));
        } else {
            if (!disc.build())
                QSKIP(qPrintable(disc.skipReason()));
            QVERIFY(disc.makeDirectoryContainItself("LOOP"));
        }

        DiscImage image;
        QVERIFY2(image.Open(path), qPrintable(image.ErrorText()));
        QCOMPARE(image.TreeName(), udf ? "UDF" : "ISO 9660 with Rock Ridge");
        Recorder listing(path + '/');
        QVERIFY2(image.List(listing.files, listing, "LOOPS"), qPrintable(image.ErrorText()));
        QCOMPARE(listing.pathsAndSizes(),
                 QStringList({"LOOPS: a.txt 1", "LOOPS: sub/b.txt 2", "LOOPS: sub/zz/d.txt 4"}));
        QCOMPARE(image.LeftOutText(), "'" + path +
                                          "' is listed without 'sub/loop/', which leads back to a directory "
                                          "listed before it (the image is damaged there).");
        QCOMPARE(image.ErrorText(), QString());
        QVERIFY(image.Open(path) && image.LeftOutText().isEmpty()); // until it is listed again
    }

    void udfImage_listedWithItsNamesSizesAndTimes()
    {
        if (QStandardPaths::findExecutable("genisoimage").isEmpty())
            QSKIP("genisoimage is not installed");
        IsoImage source("unused"); // only its tree of files
        const QDateTime modified(QDate(2019, 5, 6), QTime(7, 8, 9));
        QVERIFY(source.addFile("A Long Mixed-Case Name of a File.txt", "x", modified) &&
                source.addFile("Müsik/Ärger.txt", "x", modified) &&
                source.addFile("Привет.txt", "x", modified) &&
                source.addFile("Sub/Deep/data.bin", QByteArray(5000, 'x'), modified) &&
                source.addFile("Sub/empty.txt", {}, modified) && source.addFile(".hidden", "x", modified));
        // Without Rock Ridge, UDF's names are listed, not the plain ISO 9660 ones (A_LONG_M.TXT); with it,
        // Rock Ridge's, which are the same here.
        for (const QStringList &options : {QStringList{}, QStringList{"-R", "-J"}}) {
            const QString path = source.sourceDir() + "/../udf" + options.join("") + ".iso";
            QVERIFY(run("genisoimage", QStringList{"-quiet", "-input-charset", "utf-8", "-udf", "-V",
                                                   "UdfDisc", "-o", path} +
                                           options + QStringList{source.sourceDir()}));
            DiscImage image;
            QVERIFY2(image.Open(path), qPrintable(image.ErrorText()));
            QCOMPARE(image.TreeName(), options.isEmpty() ? "UDF" : "ISO 9660 with Rock Ridge");
            QCOMPARE(image.VolumeLabel(), QStringLiteral("UdfDisc"));
            Recorder listing(path + '/');
            QVERIFY(image.List(listing.files, listing, "UdfDisc"));
            QCOMPARE(listing.paths(), QStringList({"UdfDisc: A Long Mixed-Case Name of a File.txt",
                                                   "UdfDisc: Привет.txt", "UdfDisc: Müsik/Ärger.txt",
                                                   "UdfDisc: Sub/empty.txt", "UdfDisc: Sub/Deep/data.bin"}));
            const QString time = timeText(modified);
            QCOMPARE(listing.records.value("UdfDisc: Sub/Deep/data.bin"),
                     "UdfDisc|data.bin|UdfDisc: Sub/Deep/data.bin|5000|" + time + '|' + time);
            QCOMPARE(listing.records.value("UdfDisc: Sub/empty.txt").section('|', 3, 3), QStringLiteral("0"));
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

        // Each case: the path, a pattern of its message, the tree being listed when the damage was found.
        const QString cutShort =
            "'%1' is damaged: it is cut short \\('[ab]/[a-z]+\\.bin' lies beyond its end\\)\\.";
        QList<QStringList> cases = {
            {dir.path() + "/missing.iso", "'%1' cannot be read: No such file or directory\\."},
            {dir.path(), "'%1' is a directory, not a disc image file\\."},
            {cut(good.imagePath(), "empty.iso", 0), "'%1' is not a disc image \\(ISO 9660 or UDF\\)\\."},
            // The last files' data is missing; then the directories too.
            {cut(good.imagePath(), "half.iso", -1), cutShort, "ISO 9660 with Rock Ridge"},
            {cut(good.imagePath(), "head.iso", 18 * 2048),
             "'%1' is damaged: (it is cut short \\('/'|the root directory cannot be read).*"},
        };
        if (!QStandardPaths::findExecutable("genisoimage").isEmpty()) {
            const QString udf = dir.path() + "/udf.iso";
            QVERIFY(run("genisoimage", {"-quiet", "-udf", "-o", udf, good.sourceDir()}));
            cases.append({cut(udf, "udf-half.iso", -1), cutShort, "UDF"});
            // A file whose recorded size runs far past the end of the image.
            const QString oversized = cut(udf, "udf-oversized.iso", QFileInfo(udf).size());
            QVERIFY(setUdfFileSize(oversized, 400'000, 450'971'567'510));
            cases.append({oversized, cutShort, "UDF"});
        }
        if (!QStandardPaths::findExecutable("mkudffs").isEmpty()) {
            // UDF 2.01 as mkudffs writes it, with extended file entries, which libudf does not read.
            const QString udf201 = dir.path() + "/udf201.img";
            QVERIFY(QFile(udf201).open(QIODevice::WriteOnly) && QFile(udf201).resize(20 << 20) &&
                    run("mkudffs", {"--media-type=hd", "--blocksize=2048", "--udfrev=2.01", udf201}));
            cases.append(
                {udf201,
                 "'%1' is a UDF disc image that cannot be read without mounting it \\(UDF 2\\.01\\)\\."});
        }

        DiscImage image; // one object throughout: a failure leaves nothing behind for the next image
        for (const QStringList &c : cases) {
            Recorder listing(c[0] + '/');
            const bool opened = image.Open(c[0]);
            if (c.size() > 2)
                QCOMPARE(image.TreeName(), c[2]);
            QVERIFY2(!opened || !image.List(listing.files, listing, image.VolumeLabel()), qPrintable(c[0]));
            const QString pattern =
                QRegularExpression::anchoredPattern(c[1].arg(QRegularExpression::escape(c[0])));
            QVERIFY2(image.ErrorText().contains(QRegularExpression(pattern)), qPrintable(image.ErrorText()));
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
