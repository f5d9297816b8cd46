// The main window: layout, start-up, OK/Cancel/close and the About box.
#include "app/WindowLayout.h"
#include "app/frmAbout.h"
#include "app/frmZIDovidovarar.h"
#include "settings/modFunction.h"
#include "support/WindowTestAccess.h"
#include "testing/TestSeams.h"

#include <QtTest>
#include <QtWidgets>

namespace {
// A control's caption: its text, or a frame's title.
QString widgetText(QWidget *w)
{
    return w->property(qobject_cast<QGroupBox *>(w) ? "title" : "text").toString();
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

    // While a command runs, OK and Cancel only move the focus to the tab control and closing is
    // refused; once idle, the close box and Cancel end the program without writing the settings.
    void okCancelCloseRefusedWhileBusyThenEnd()
    {
        frmZIDovidovarar w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        WindowTestAccess::setBusy(w, true);
        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        for (const char *button : {"cmdOK", "cmdCancel"}) {
            w.findChild<QWidget *>("cmdClearList")->setFocus();
            w.findChild<QPushButton *>(button)->click();
            QCOMPARE(m_ended, 0);
            QVERIFY(QApplication::focusWidget() == tab || tab->isAncestorOf(QApplication::focusWidget()));
            QVERIFY(!tab->currentWidget()->isAncestorOf(QApplication::focusWidget()));
        }
        QVERIFY(!w.close() && w.isVisible());
        WindowTestAccess::setBusy(w, false);
        QVERIFY(w.close());
        w.show();
        w.findChild<QPushButton *>("cmdCancel")->click();
        QCOMPARE(m_ended, 1);
        QVERIFY(!w.isVisible());
        QVERIFY(!QFile::exists(modFunction::SettingsFilePath()));
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
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_ended = 0;
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
