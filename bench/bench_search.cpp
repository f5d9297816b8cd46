// Times the search tab's whole search (offscreen, list filled) on catalogues of 1,000,000 and
// 5,000,000 generated file names, beside plocate on the same names.
//
// Usage: bench_search [number of names ...]     (default: 1000000 5000000)
// Needs the shipped empty catalogue ZODidozode.mdb in the build directory (target catalogue_file)
// and, for the comparison, plocate (Debian package plocate: plocate and plocate-build).

#include "GeneratedCatalogue.h"
#include "OffscreenWindow.h"
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

struct SearchTiming
{
    double ms = 0;
    double firstYieldMs = 0; // finding the rows and their count: the window waits for it
    double maxYieldGapMs = 0;
    double peakMb = 0;
    int rows = 0;
};

SearchTiming timeWindowSearch(frmZIDovidovarar &window, const QString &phrase)
{
    auto *text = window.findChild<QLineEdit *>(QStringLiteral("txtSearchList"));
    auto *clear = window.findChild<QPushButton *>(QStringLiteral("cmdClearList"));
    auto *list = window.findChild<QTreeView *>(QStringLiteral("lvwFileSearch"));
    clear->click(); // drop the previous result first
    QCoreApplication::processEvents();
    resetPeakRss();
    SearchTiming timing;
    QElapsedTimer sinceYield;
    bool started = false;
    QElapsedTimer timer;
    TestSeams::AfterSearchYield() = [&] {
        if (started)
            timing.maxYieldGapMs = std::max(timing.maxYieldGapMs, sinceYield.nsecsElapsed() / 1e6);
        else
            timing.firstYieldMs = timer.nsecsElapsed() / 1e6;
        started = true;
        sinceYield.restart();
    };
    text->setText(phrase);
    timer.start();
    window.cmdSearch_Click();
    // The view lays out the rows announced last when the window next handles its events.
    QElapsedTimer layout;
    layout.start();
    QCoreApplication::processEvents();
    timing.maxYieldGapMs = std::max(timing.maxYieldGapMs, layout.nsecsElapsed() / 1e6);
    timing.ms = timer.nsecsElapsed() / 1e6;
    timing.peakMb = peakRssMb();
    timing.rows = list->model()->rowCount();
    TestSeams::AfterSearchYield() = {};
    return timing;
}

struct PlocateTiming
{
    double ms = -1;
    int hits = 0;
    QString note;
};

PlocateTiming timePlocate(const QString &database, const QString &phrase)
{
    PlocateTiming result;
    const QString plocate = QStandardPaths::findExecutable(QStringLiteral("plocate"));
    if (plocate.isEmpty()) {
        result.note = QStringLiteral("plocate not installed");
        return result;
    }
    std::vector<double> times;
    for (int run = 0; run < 4; ++run) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        process.start(plocate,
                      {QStringLiteral("-d"), database, QStringLiteral("-i"), QStringLiteral("-b"), phrase});
        process.waitForFinished(-1);
        if (run > 0)
            times.push_back(timer.nsecsElapsed() / 1e6);
        if (process.exitCode() > 1) {
            result.note =
                QStringLiteral("plocate failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
            return result;
        }
    }
    std::sort(times.begin(), times.end());
    result.ms = times[times.size() / 2];
    QProcess count;
    count.start(plocate, {QStringLiteral("-d"), database, QStringLiteral("-i"), QStringLiteral("-b"),
                          QStringLiteral("-c"), phrase});
    count.waitForFinished(-1);
    result.hits = count.readAllStandardOutput().trimmed().toInt();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    PrepareOffscreenWindow();
    QApplication app(argc, argv);
    std::vector<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(QByteArray(argv[i]).toLongLong());
    if (sizes.empty())
        sizes = {1000000, 5000000};

    const QString shipped =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../ZODidozode.mdb"));
    if (!QFile::exists(shipped)) {
        std::printf("The shipped empty catalogue %s is missing: build the target catalogue_file first.\n",
                    qPrintable(shipped));
        return 1;
    }
    const bool havePlocateBuild =
        !QStandardPaths::findExecutable(
             QStringLiteral("plocate-build"),
             {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")})
             .isEmpty();
    TestSeams::MessageBox() = [](QWidget *, const QString &text) {
        std::printf("  (message: %s)\n",
                    qPrintable(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" "))));
    };

    std::printf(
        "Search of the search tab (offscreen, list filled, median of 3 after a warm-up run) against\n"
        "plocate -i -b on the same names (median of 3 after a warm-up; includes starting plocate).\n"
        "Peak RSS is the process's high-water mark during that search; \"to 1st\" is the time to the\n"
        "first yield (finding the rows and counting them, before the list fills); \"max gap\" is the\n"
        "longest time between two yields while the list fills, and the view's last layout.\n\n");
    std::printf("%9s  %-11s %9s  %10s  %9s  %9s  %11s  %10s  %8s\n", "names", "phrase", "rows", "search ms",
                "to 1st ms", "peak MB", "max gap ms", "plocate ms", "ratio");

    for (qint64 count : sizes) {
        QTemporaryDir dir;
        const QString database = dir.filePath(QStringLiteral("ZODidozode.mdb"));
        const QString names = dir.filePath(QStringLiteral("names.txt"));
        const QString plocateDb = dir.filePath(QStringLiteral("names.plocate.db"));
        QFile::copy(shipped, database);
        QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
        QElapsedTimer build;
        build.start();
        if (!fillCatalogue(database, count, names)) {
            std::printf("could not fill the catalogue\n");
            return 1;
        }
        const double fillS = build.nsecsElapsed() / 1e9;
        build.restart();
        const bool indexed = refreshIndex(database);
        const double indexS = build.nsecsElapsed() / 1e9;
        QString plocateNote;
        if (havePlocateBuild) {
            QProcess builder;
            builder.start(QStringLiteral("plocate-build"), {QStringLiteral("-p"), QStringLiteral("-l"),
                                                            QStringLiteral("no"), names, plocateDb});
            builder.waitForFinished(-1);
            if (builder.exitCode() != 0)
                plocateNote = QStringLiteral("plocate-build failed: ") +
                              QString::fromLocal8Bit(builder.readAllStandardError()).trimmed();
        } else {
            plocateNote = QStringLiteral("plocate-build not found (apt-get install plocate)");
        }
        std::printf(
            "# %lld names: catalogue filled in %.1f s, search index built in %.1f s%s, file %.0f MB\n",
            static_cast<long long>(count), fillS, indexS, indexed ? "" : " (FAILED)",
            QFileInfo(database).size() / 1048576.0);
        if (!plocateNote.isEmpty())
            std::printf("# %s\n", qPrintable(plocateNote));

        TestSeams::ProgramDirectory() = dir.path();
        frmZIDovidovarar window;
        window.show();
        QCoreApplication::processEvents();
        const QList<QPair<QString, QString>> phrases{
            {QStringLiteral("quarterly"), QStringLiteral("selective")},
            {QStringLiteral("ab"), QStringLiteral("two chars")},
            {QString(), QStringLiteral("empty")}};
        for (const auto &[phrase, what] : phrases) {
            std::vector<SearchTiming> runs;
            timeWindowSearch(window, phrase); // warm-up
            for (int run = 0; run < 3; ++run)
                runs.push_back(timeWindowSearch(window, phrase));
            std::sort(runs.begin(), runs.end(),
                      [](const SearchTiming &a, const SearchTiming &b) { return a.ms < b.ms; });
            const SearchTiming &median = runs[1];
            double peak = 0;
            double gap = 0;
            for (const SearchTiming &t : runs) {
                peak = std::max(peak, t.peakMb);
                gap = std::max(gap, t.maxYieldGapMs);
            }
            PlocateTiming locate;
            if (plocateNote.isEmpty()) {
                // plocate needs a pattern; for the empty phrase every name contains ".".
                locate = timePlocate(plocateDb, phrase.isEmpty() ? QStringLiteral(".") : phrase);
            }
            const QString label = QStringLiteral("\"%1\"").arg(phrase);
            if (locate.ms >= 0) {
                std::printf("%9lld  %-11s %9d  %10.1f  %9.1f  %9.0f  %11.1f  %10.1f  %7.2fx   (%s; plocate "
                            "found %d)\n",
                            static_cast<long long>(count), qPrintable(label), median.rows, median.ms,
                            median.firstYieldMs, peak, gap, locate.ms, median.ms / locate.ms,
                            qPrintable(what), locate.hits);
            } else {
                std::printf("%9lld  %-11s %9d  %10.1f  %9.1f  %9.0f  %11.1f  %10s  %8s   (%s; %s)\n",
                            static_cast<long long>(count), qPrintable(label), median.rows, median.ms,
                            median.firstYieldMs, peak, gap, "-", "-", qPrintable(what),
                            qPrintable(locate.note.isEmpty() ? plocateNote : locate.note));
            }
            std::fflush(stdout);
        }
        window.findChild<QPushButton *>(QStringLiteral("cmdClearList"))->click();
    }
    return 0;
}
