// The main window: layout, start-up, OK/Cancel/close and the About box.
#include "app/WindowLayout.h"
#include "app/frmAbout.h"
#include "app/frmZIDovidovarar.h"
#include "db/CatalogueFile.h"
#include "settings/ProgramFiles.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "support/CatalogueFiles.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {
// A control's caption: its text, or a frame's title.
QString widgetText(QWidget *w)
{
    return w->property(qobject_cast<QGroupBox *>(w) ? "title" : "text").toString();
}

// An empty catalogue at path, as the build makes it, holding one file of the given name when named.
bool makeCatalogue(const QString &path, const QString &fileName = {})
{
    return CatalogueFile::CreateFromSchemaFile(path, QUILLARY_SOURCE_DIR "/src/db/catalogue.sql") &&
           (fileName.isEmpty() ||
            CatalogueFiles::exec(path, QStringLiteral("INSERT INTO Quillary (CDLabel, FileName, FilePath, "
                                                      "FileSize, CreateDate, LastUpdateDate) VALUES "
                                                      "('DISC01', '%1', 'DISC01: %1', 1, '', '')")
                                           .arg(fileName)));
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        TestSeams::ProgramDirectory() = m_dir->path();
        // With neither file beside the program, the settings go to the user's directories.
        qputenv("XDG_CONFIG_HOME", m_dir->filePath("user-config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_dir->filePath("user-data").toLocal8Bit());
        m_ended = 0;
        TestSeams::EndProgram() = [this] { ++m_ended; };
        m_messages.clear();
        TestSeams::MessageBox() = [this](QWidget *, const QString &text) { m_messages << text; };
    }

    void cleanup()
    {
        for (const char *directory : {"user-data/quillary", "user-data"})
            makeWritable(m_dir->filePath(directory));
        TestSeams::Reset();
    }

    void layoutCaptionsAndMenu()
    {
        frmZIDovidovarar w;
        w.show();
        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        QWidget *client = w.centralWidget();
        using WindowLayout::Container;
        // Each control's name, kind, text and place, against the table it is built from.
        const auto describe = [](auto... parts) {
            QString text;
            (QDebug(&text) << ... << parts);
            return text;
        };
        for (const WindowLayout::Control &row : WindowLayout::kControls) {
            QWidget *c = w.findChild<QWidget *>(row.name);
            QVERIFY2(c, row.name);
            QWidget *base = row.container == Container::Client       ? client
                            : row.container == Container::TabControl ? static_cast<QWidget *>(tab)
                                                                     : c->parentWidget();
            QVERIFY2(base->isAncestorOf(c), row.name);
            const QString text = row.text ? QString(row.text) : widgetText(c);
            QCOMPARE(describe(row.name, c->metaObject()->className(), widgetText(c),
                              QRect(c->mapTo(base, QPoint()), c->size())),
                     describe(row.name, row.kind, text,
                              QRect(row.left / 15, row.top / 15, row.width / 15, row.height / 15)));
        }
        QCOMPARE(client->size(), QSize(601, 470));
        QCOMPARE(w.windowTitle(), QString("Quillary"));
        QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!w.windowIcon().isNull());
        auto *search = w.findChild<QToolButton *>("cmdSearch");
        QVERIFY(!search->icon().isNull() && search->toolButtonStyle() == Qt::ToolButtonTextUnderIcon);

        const QList<QAction *> menu = w.menuBar()->actions();
        QCOMPARE(menu.size(), 1);
        QVERIFY(menu[0]->text() == "&About" && menu[0]->objectName() == "mnu_About" && !menu[0]->menu());
        QCOMPARE((QStringList{tab->tabText(0), tab->tabText(1), tab->tabText(2)}),
                 (QStringList{"Search", "Add to Database", "Options"}));
        QCOMPARE(tab->currentIndex(), 0);

        const QStringList headers{"File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"};
        for (const char *name : {"lvwFileSearch", "lvwListFile"}) {
            auto *view = w.findChild<QTreeView *>(name);
            QVERIFY2(view->model() && view->model()->columnCount() == 6 && !view->rootIsDecorated(), name);
            for (int c = 0; c < 6; ++c) {
                QCOMPARE(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
                QCOMPARE(view->header()->sectionSize(c), 96);
            }
        }

        // No caption is clipped.
        for (QWidget *c : w.findChildren<QWidget *>()) {
            QString text = widgetText(c).remove(QLatin1Char('&'));
            if (text.isEmpty() || !c->isVisibleTo(&w) || qobject_cast<QLineEdit *>(c))
                continue;
            const int needed = c->fontMetrics().horizontalAdvance(text) +
                               (qobject_cast<QPushButton *>(c) ? 8 : 0) +
                               (qobject_cast<QCheckBox *>(c) ? 20 : 0);
            QVERIFY2(needed <= c->width(),
                     qPrintable(
                         QString("%1 needs %2 px, has %3").arg(c->objectName()).arg(needed).arg(c->width())));
        }
    }

    // The options tab can be reached neither by mouse nor by keyboard, and shows nothing.
    void keyboardOrderFirstFocusAndOptionsTab()
    {
        frmZIDovidovarar w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.findChild<QWidget *>("cmdCancel"));
        // Forward from Cancel: OK, the tab control, then the "Search" page's controls by tab index.
        for (const char *name : {"cmdOK", "tabApplication", "lvwFileSearch", "cmdSearch", "txtSearchList",
                                 "cmdClearList", "cmdCancel"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *target = w.findChild<QWidget *>(name);
            QCOMPARE(QApplication::focusWidget(), target->focusProxy() ? target->focusProxy() : target);
        }

        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        QVERIFY(!tab->isTabEnabled(2));
        tab->setCurrentIndex(2);
        QCOMPARE(tab->currentIndex(), 0);
        auto *bar = tab->findChild<QTabBar *>();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QCOMPARE(tab->currentIndex(), 0);
        QTest::keyClick(tab, Qt::Key_Right, Qt::ControlModifier);
        for (int i = 0; i < 2; ++i)
            QTest::keyClick(tab, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(tab->currentIndex() != 2);
        for (QWidget *c : tab->widget(2)->findChildren<QWidget *>())
            QVERIFY2(!c->isVisibleTo(tab->widget(2)), qPrintable(c->objectName()));
    }

    // The check box follows SaveLastSetting (only "1" checks it); OK writes the catalogue found beside
    // the program (or nothing) as DBPATH, then the box, leaving the rest of the file as it was.
    void startUpAndOk_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("after"); // @ stands for the catalogue beside the program
        QTest::newRow("no file") << QByteArray() << QByteArray("[QUILLARY]\nDBPATH=\nSaveLastSetting=0\n");
        for (const char *value : {"0", "2", "", "yes"})
            QTest::newRow(qPrintable(QString("SaveLastSetting=") + value))
                << "[QUILLARY]\nSaveLastSetting=" + QByteArray(value) + "\n"
                << QByteArray("[QUILLARY]\nSaveLastSetting=0\nDBPATH=\n");
        QTest::newRow("1, catalogue beside")
            << QByteArray("; keep me\n[QUILLARY]\nSaveLastSetting=1\n")
            << QByteArray("; keep me\n[QUILLARY]\nSaveLastSetting=1\nDBPATH=@\n");
    }
    void startUpAndOk()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, after);
        const QString db = m_dir->filePath("ZODidozode.mdb");
        QFile iniFile(m_dir->filePath("Quillary.ini"));
        QVERIFY(ini.isNull() || (iniFile.open(QIODevice::WriteOnly) && iniFile.write(ini) == ini.size()));
        iniFile.close();
        QVERIFY(!after.contains('@') || QFile(db).open(QIODevice::WriteOnly));
        const QString iniPath = modFunction::SettingsFilePath();
        frmZIDovidovarar w;
        QCOMPARE(w.findChild<QCheckBox *>("chkSaveSettings")->isChecked(),
                 ini.contains("SaveLastSetting=1\n"));
        QCOMPARE(w.findChild<QLineEdit *>("txtDatabasepath")->text(), after.contains('@') ? db : QString());
        QCOMPARE(w.findChild<QComboBox *>("cboSelectDrive")->count(), 0);
        w.findChild<QPushButton *>("cmdOK")->click();
        QCOMPARE(m_ended, 1);
        QFile written(iniPath);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), after.replace('@', db.toUtf8()));
    }

    // While a command runs (a search, yielding after its 51st row), OK and Cancel only move the focus
    // to the tab control and closing is refused; once idle, the close box and Cancel end the program
    // without writing the settings.
    void okCancelCloseRefusedWhileBusyThenEnd()
    {
        const QString catalogue = m_dir->filePath("ZODidozode.mdb");
        QVERIFY(makeCatalogue(catalogue) &&
                CatalogueFiles::exec(catalogue,
                                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
                                     "n WHERE i < 60) INSERT INTO Quillary (FileName) SELECT "
                                     "'f' || i FROM n"));
        frmZIDovidovarar w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        QStringList whileBusy; // for each of OK and Cancel: ended, focus on the tab control but not its page
        TestSeams::AfterSearchYield() = [&] {
            if (!whileBusy.isEmpty())
                return;
            for (const char *button : {"cmdOK", "cmdCancel"}) {
                w.findChild<QWidget *>("cmdClearList")->setFocus();
                w.findChild<QPushButton *>(button)->click();
                QWidget *focus = QApplication::focusWidget();
                whileBusy << QStringLiteral("%1 ended %2 tab %3 page %4")
                                 .arg(button)
                                 .arg(m_ended)
                                 .arg(focus == tab || tab->isAncestorOf(focus))
                                 .arg(tab->currentWidget()->isAncestorOf(focus));
            }
            whileBusy << QStringLiteral("closed %1 visible %2").arg(w.close()).arg(w.isVisible());
        };
        w.findChild<QToolButton *>("cmdSearch")->click();
        QCOMPARE(whileBusy, QStringList({"cmdOK ended 0 tab 1 page 0", "cmdCancel ended 0 tab 1 page 0",
                                         "closed 0 visible 1"}));
        QVERIFY(w.close());
        w.show();
        w.findChild<QPushButton *>("cmdCancel")->click();
        QCOMPARE(m_ended, 1);
        QVERIFY(!w.isVisible());
        QVERIFY(!QFile::exists(modFunction::SettingsFilePath()));
    }

    // Whether the copy keeps its files beside the program is settled when it starts. A portable copy
    // whose catalogue is deleted then says on every command that the catalogue is missing (it never
    // turns to the user's catalogue) and writes its settings beside itself; an installed copy stays
    // one when a catalogue turns up beside the program.
    void portableOrInstalledSettledAtStart_data()
    {
        QTest::addColumn<bool>("portable");
        QTest::newRow("portable, its catalogue deleted") << true;
        QTest::newRow("installed, a catalogue put beside it") << false;
    }
    void portableOrInstalledSettledAtStart()
    {
        QFETCH(bool, portable);
        const QString beside = m_dir->filePath("ZODidozode.mdb");
        QVERIFY(QDir().mkpath(m_dir->filePath("user-data/quillary")) &&
                makeCatalogue(m_dir->filePath("user-data/quillary/ZODidozode.mdb"), "user.txt"));
        QVERIFY(!portable || makeCatalogue(beside, "beside.txt"));
        modFunction::PrepareUserCatalogue(); // the start, as the program makes it
        frmZIDovidovarar w;
        QVERIFY(portable ? QFile::remove(beside) : makeCatalogue(beside, "beside.txt"));
        for (const char *button : {"cmdSearch", "cmdTakeBackup", "cmdAddToDB"})
            w.findChild<QAbstractButton *>(button)->click();
        const QAbstractItemModel *found = w.findChild<QTreeView *>("lvwFileSearch")->model();
        QCOMPARE(found->rowCount() ? found->index(0, 0).data().toString() : QString(),
                 portable ? QString() : "user.txt");
        // Installed: the search lists the user's catalogue, List Files has no drive, the save no list.
        const QStringList expected =
            portable ? QStringList(3, modConstant::DatabaseMissingMessage())
                     : QStringList{modConstant::kDriveNotReadyMessage,
                                   "Please scan a CD and then save the file list to the database."};
        QCOMPARE(m_messages, expected);
        w.findChild<QPushButton *>("cmdOK")->click();
        const QString settings =
            portable ? m_dir->filePath("Quillary.ini") : m_dir->filePath("user-config/quillary/Quillary.ini");
        QCOMPARE(QFileInfo::exists(m_dir->filePath("Quillary.ini")), portable);
        QCOMPARE(modFunction::ReadIniValue(settings, "QUILLARY", "SaveLastSetting"), QString("0"));
    }

    // An installed copy that cannot make the user's catalogue when it starts (a read-only data folder, a
    // file where the catalogue's folder belongs, a folder where the catalogue belongs, a read-only
    // catalogue folder) says so on every command that needs the catalogue: where, and the system's
    // reason. Nothing is left behind. Once that has been put right, the next command makes the
    // catalogue and goes on. A catalogue deleted after that is simply missing: the database-missing
    // message, and it is not made again.
    void userCatalogueThatCannotBeMade_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("data folder read-only") << "read-only data";
        QTest::newRow("file in the way of the folder") << "file";
        QTest::newRow("folder in the way of the catalogue") << "folder";
        QTest::newRow("catalogue's folder read-only") << "read-only folder";
    }
    void userCatalogueThatCannotBeMade()
    {
        QFETCH(QString, obstacle);
        const QString bin = m_dir->filePath("bin"), data = m_dir->filePath("user-data"),
                      shipped = m_dir->filePath("share/quillary/ZODidozode.mdb");
        const QString folder = data + "/quillary", catalogue = folder + "/ZODidozode.mdb";
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(QFileInfo(shipped).path()) && QDir().mkpath(data) &&
                makeCatalogue(shipped));
        TestSeams::ProgramDirectory() = bin;
        QString failure; // where, and why
        if (obstacle.startsWith("read-only")) {
            const bool dataFolder = obstacle.endsWith("data");
            const QString reason = makeReadOnly(dataFolder ? data : folder);
            if (reason.isEmpty())
                QSKIP("a read-only folder for root needs a private mount namespace (unshare)");
            // The folder cannot be made, or the file in it.
            failure =
                dataFolder ? folder + ": " + reason : "Cannot create " + catalogue + " for output: " + reason;
        } else if (obstacle == "file") {
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
            failure = folder + ": " + systemReason(ENOTDIR);
        } else {
            QVERIFY(QDir().mkpath(catalogue));
            failure = catalogue + ": " + systemReason(EISDIR);
        }
        QCOMPARE(modFunction::PrepareUserCatalogue().outcome, ProgramFiles::Preparation::CopyFailed);
        frmZIDovidovarar w;
        QCOMPARE(w.findChild<QLineEdit *>("txtDatabasepath")->text(), QString());
        for (const char *button : {"cmdSearch", "cmdTakeBackup", "cmdAddToDB"})
            w.findChild<QAbstractButton *>(button)->click();
        QCOMPARE(m_messages,
                 QStringList(3, "Your catalogue '" + catalogue + "' could not be made.\r\n" + failure));
        const QString left = QFileInfo(folder).isDir() ? folder : data;
        QCOMPARE(QDir(left).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 obstacle == "file"     ? QStringList{"quillary"}
                 : obstacle == "folder" ? QStringList{"ZODidozode.mdb"}
                                        : QStringList());

        if (obstacle.startsWith("read-only"))
            QVERIFY(makeWritable(obstacle.endsWith("data") ? data : folder));
        else
            QVERIFY(obstacle == "file" ? QFile::remove(folder) : QDir().rmdir(catalogue));
        m_messages.clear();
        auto *search = w.findChild<QToolButton *>("cmdSearch");
        search->click(); // the empty catalogue: nothing found
        QVERIFY(QFileInfo(catalogue).isFile());
        QVERIFY(QFile::remove(catalogue));
        search->click();
        QCOMPARE(m_messages, QStringList({"Files with search criteria not found.",
                                          modConstant::DatabaseMissingMessage()}));
        QVERIFY(!QFileInfo::exists(catalogue));
    }

    void aboutBoxFreshEachTime()
    {
        frmZIDovidovarar w;
        w.show();
        QStringList texts;
        for (int i = 0; i < 2; ++i) {
            QTimer::singleShot(0, [&] {
                auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
                QVERIFY(about);
                QVERIFY(about->windowTitle() == "About Quillary" && about->size() == QSize(280, 130));
                texts << about->findChild<QLabel *>("lblAboutMsg")->text();
                if (i == 0)
                    about->findChild<QPushButton *>("cmdOK")->click();
                else
                    about->close(); // the close box closes it like OK
            });
            w.findChild<QMenuBar *>()->actions().first()->trigger();
            QCOMPARE(w.findChildren<frmAbout *>().size(), 0); // dropped when closed
        }
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0], texts[1]);
        // Name and version, the authors, where to read more, with a blank line between.
        const QStringList lines = texts[0].split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith("Quillary") && lines[0].contains(QUILLARY_VERSION) &&
                lines[1].isEmpty() && lines[2].contains("the Quillary authors") && lines[3].isEmpty() &&
                lines[4].contains("README"));
    }

private:
    // Makes the directory (made when missing) read-only for the program: by its permissions, or for
    // root, whom permissions do not stop, as a read-only file system mounted over it (in a private
    // mount namespace only). Returns the reason the system then gives, or nothing when it cannot.
    QString makeReadOnly(const QString &directory)
    {
        QDir().mkpath(directory);
        if (::geteuid() != 0)
            return QFile::setPermissions(directory, QFile::ReadOwner | QFile::ExeOwner) ? systemReason(EACCES)
                                                                                        : QString();
        if (qEnvironmentVariable("QUILLARY_PRIVATE_MOUNTS") != "1" ||
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "ro", "quillary-ro", directory}) != 0)
            return {};
        m_mount = directory;
        return systemReason(EROFS);
    }
    bool makeWritable(const QString &directory)
    {
        if (!m_mount.isEmpty())
            return QProcess::execute("umount", {std::exchange(m_mount, {})}) == 0;
        return !QFileInfo(directory).isDir() ||
               QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_ended = 0;

    QStringList m_messages;
    QString m_mount; // a file system a test mounted
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
