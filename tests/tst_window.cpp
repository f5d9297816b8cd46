// The main window: layout, start-up, OK/Cancel/close and the About box.
#include "app/WindowLayout.h"
#include "app/frmAbout.h"
#include "app/frmZIDovidovarar.h"
#include "settings/modFunction.h"
#include "support/WindowTestAccess.h"
#include "testing/TestSeams.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

namespace {

QString widgetText(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return {};
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
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

    void everyControlNamedAndPlaced()
    {
        frmZIDovidovarar w;
        w.show();
        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        QVERIFY(tab);
        QWidget *client = w.centralWidget();
        using WindowLayout::Container;
        for (const WindowLayout::Control &row : WindowLayout::kControls) {
            QWidget *c = w.findChild<QWidget *>(row.name);
            QVERIFY2(c, row.name);
            QCOMPARE(QString(c->metaObject()->className()), QString(row.kind));
            if (row.text)
                QCOMPARE(widgetText(c), QString(row.text));
            const QRect expected(row.left / 15, row.top / 15, row.width / 15, row.height / 15);
            QWidget *base = row.container == Container::Client       ? client
                            : row.container == Container::TabControl ? static_cast<QWidget *>(tab)
                                                                     : c->parentWidget();
            QVERIFY2(base->isAncestorOf(c), row.name);
            const QRect actual(c->mapTo(base, QPoint(0, 0)), c->size());
            QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                                        .arg(row.name)
                                                        .arg(actual.x())
                                                        .arg(actual.y())
                                                        .arg(actual.width())
                                                        .arg(actual.height())));
        }
        QCOMPARE(client->size(), QSize(601, 470));
        QCOMPARE(w.windowTitle(), QString("Quillary"));
        QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!w.windowIcon().isNull());
        auto *search = w.findChild<QToolButton *>("cmdSearch");
        QVERIFY(!search->icon().isNull());
        QCOMPARE(search->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);

        const QList<QAction *> menu = w.menuBar()->actions();
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu[0]->text(), QString("&About"));
        QCOMPARE(menu[0]->objectName(), QString("mnu_About"));
        QVERIFY(!menu[0]->menu());

        QCOMPARE((QStringList{tab->tabText(0), tab->tabText(1), tab->tabText(2)}),
                 (QStringList{"Search", "Add to Database", "Options"}));
        QCOMPARE(tab->currentIndex(), 0);
    }

    void listViewsShowSixColumns()
    {
        frmZIDovidovarar w;
        const QStringList headers{"File Name", "CD-Label", "Path", "FileSize", "Last Updated", "Created"};
        for (const char *name : {"lvwFileSearch", "lvwListFile"}) {
            auto *view = w.findChild<QTreeView *>(name);
            QVERIFY2(view->model(), name);
            QCOMPARE(view->model()->columnCount(), 6);
            for (int c = 0; c < 6; ++c) {
                QCOMPARE(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
                QCOMPARE(view->header()->sectionSize(c), 96);
            }
            QVERIFY(!view->rootIsDecorated());
        }
    }

    void optionsTabNeverSelectableAndEmpty()
    {
        frmZIDovidovarar w;
        w.show();
        auto *tab = w.findChild<QTabWidget *>("tabApplication");
        QVERIFY(!tab->isTabEnabled(2));
        tab->setCurrentIndex(2);
        QCOMPARE(tab->currentIndex(), 0);
        auto *bar = tab->findChild<QTabBar *>();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QCOMPARE(tab->currentIndex(), 0);
        QTest::keyClick(tab, Qt::Key_Right, Qt::ControlModifier);
        QTest::keyClick(tab, Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(tab, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(tab->currentIndex() != 2);
        for (QWidget *c : tab->widget(2)->findChildren<QWidget *>())
            QVERIFY2(!c->isVisibleTo(tab->widget(2)), qPrintable(c->objectName()));
    }

    void keyboardOrderAndFirstFocus()
    {
        frmZIDovidovarar w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.findChild<QWidget *>("cmdCancel"));
        // Forward from Cancel: OK, the tab control, then the "Search" page's controls by tab index.
        const QStringList expected{"cmdOK",         "tabApplication", "lvwFileSearch", "cmdSearch",
                                   "txtSearchList", "cmdClearList",   "cmdCancel"};
        for (const QString &name : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *target = w.findChild<QWidget *>(name);
            if (target->focusProxy())
                target = target->focusProxy();
            QCOMPARE(QApplication::focusWidget(), target);
        }
    }

    void noCaptionClipped()
    {
        frmZIDovidovarar w;
        w.show();
        for (QWidget *c : w.findChildren<QWidget *>()) {
            QString text = widgetText(c);
            if (text.isEmpty() || !c->isVisibleTo(&w) || qobject_cast<QLineEdit *>(c))
                continue;
            text.remove(QLatin1Char('&'));
            const int needed = c->fontMetrics().horizontalAdvance(text) +
                               (qobject_cast<QPushButton *>(c) ? 8 : 0) +
                               (qobject_cast<QCheckBox *>(c) ? 20 : 0);
            QVERIFY2(needed <= c->width(), qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                          .arg(c->objectName())
                                                          .arg(needed)
                                                          .arg(c->width())));
        }
    }

    void startUpReadsSaveLastSetting_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("no file") << QByteArray() << false << QByteArray("0");
        QTest::newRow("1") << QByteArray("[QUILLARY]\nSaveLastSetting=1\n") << true << QByteArray("1");
        QTest::newRow("0") << QByteArray("[QUILLARY]\nSaveLastSetting=0\n") << false << QByteArray("0");
        QTest::newRow("2") << QByteArray("[QUILLARY]\nSaveLastSetting=2\n") << false << QByteArray("0");
        QTest::newRow("empty") << QByteArray("[QUILLARY]\nSaveLastSetting=\n") << false << QByteArray("0");
        QTest::newRow("not a number")
            << QByteArray("[QUILLARY]\nSaveLastSetting=yes\n") << false << QByteArray("0");
    }
    void startUpReadsSaveLastSetting()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, checked);
        QFETCH(QByteArray, written);
        if (!ini.isNull())
            writeFile(m_dir->filePath("Quillary.ini"), ini);
        const QString iniPath = modFunction::SettingsFilePath();
        frmZIDovidovarar w;
        QCOMPARE(w.findChild<QCheckBox *>("chkSaveSettings")->isChecked(), checked);
        QCOMPARE(w.findChild<QLineEdit *>("txtDatabasepath")->text(), QString());
        QCOMPARE(w.findChild<QComboBox *>("cboSelectDrive")->count(), 0);
        w.cmdOK_Click();
        QCOMPARE(m_ended, 1);
        QCOMPARE(modFunction::ReadIniValue(iniPath, "QUILLARY", "SaveLastSetting"), QString(written));
        QCOMPARE(modFunction::ReadIniValue(iniPath, "QUILLARY", "DBPATH"), QString());
    }

    void okWritesDatabasePathThenSetting()
    {
        const QString db = m_dir->filePath("ZODidozode.mdb");
        writeFile(db, "");
        writeFile(m_dir->filePath("Quillary.ini"), "; keep me\n[QUILLARY]\nSaveLastSetting=1\n");
        frmZIDovidovarar w;
        QCOMPARE(w.findChild<QLineEdit *>("txtDatabasepath")->text(), db);
        w.findChild<QPushButton *>("cmdOK")->click();
        QCOMPARE(m_ended, 1);
        QCOMPARE(readFile(m_dir->filePath("Quillary.ini")),
                 "; keep me\n[QUILLARY]\nSaveLastSetting=1\nDBPATH=" + db.toUtf8() + "\n");
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
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
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
                QCOMPARE(about->windowTitle(), QString("About Quillary"));
                QCOMPARE(about->size(), QSize(280, 130));
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
        const QStringList lines = texts[0].split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith("Quillary") && lines[0].contains(QUILLARY_VERSION));
        QVERIFY(lines[1].isEmpty() && lines[3].isEmpty());
        QVERIFY(lines[2].contains("the Quillary authors"));
        QVERIFY(lines[4].contains("README"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_ended = 0;
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
