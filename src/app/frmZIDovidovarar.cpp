#include "app/frmZIDovidovarar.h"

#include "app/MessageBox.h"
#include "app/Twips.h"
#include "app/frmAbout.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

#include <cmath>

namespace {

constexpr int kClientWidth = 9015 / kTwipsPerPixel;  // 601
constexpr int kClientHeight = 7050 / kTwipsPerPixel; // 470
constexpr int kListColumnWidth = 1440 / kTwipsPerPixel;

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QFont windowFont()
{
    // Verdana where installed, else the nearest sans font of the desktop.
    const QStringList families = QFontDatabase::families();
    QString family = QStringLiteral("Verdana");
    if (!families.contains(family))
        family = families.contains(QStringLiteral("DejaVu Sans")) ? QStringLiteral("DejaVu Sans")
                                                                  : QStringLiteral("Sans Serif");
    QFont font(family);
    font.setPointSizeF(8.25);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QTreeView *makeListView(QWidget *parent, const char *name)
{
    auto *view = named(new QTreeView(parent), name);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(false);
    view->header()->setDefaultSectionSize(kListColumnWidth);
    view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return view;
}

QProgressBar *makeBar(QWidget *parent, const char *name)
{
    auto *bar = named(new QProgressBar(parent), name);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

// Places the controls of the tab pages relative to the tab control, as the layout gives them,
// wherever the tab control puts its pages (it lays them out when it is first shown).
class PagePlacer : public QObject
{
public:
    PagePlacer(QTabWidget *tabs, QWidget *pageArea) : QObject(tabs), m_pageArea(pageArea)
    {
        pageArea->installEventFilter(this);
    }
    void add(QWidget *control, const QRect &onTabControl)
    {
        m_controls.append({control, onTabControl});
        control->setGeometry(onTabControl.translated(-m_pageArea->geometry().topLeft()));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_pageArea && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
            const QPoint origin = m_pageArea->geometry().topLeft();
            for (const auto &[control, rect] : std::as_const(m_controls))
                control->setGeometry(rect.translated(-origin));
        }
        return false;
    }

private:
    QWidget *m_pageArea;
    QList<QPair<QWidget *, QRect>> m_controls;
};

} // namespace

// The pictures live in a static library, whose resources are registered by hand.
static void initResources()
{
    Q_INIT_RESOURCE(quillary);
}

// Ends the program at once.
static void endProgram()
{
    if (const auto &seam = TestSeams::EndProgram())
        seam();
    else
        QCoreApplication::exit(0);
}

frmZIDovidovarar::frmZIDovidovarar(QWidget *parent) : QMainWindow(parent)
{
    initResources();
    setObjectName(QStringLiteral("frmZIDovidovarar"));
    buildLayout();
    initScanPart();
    initSavePart();
    initSearchPart();
    Form_Load();
}

frmZIDovidovarar::~frmZIDovidovarar() = default;

void frmZIDovidovarar::buildLayout()
{
    setWindowTitle(modConstant::kAppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/icons/disc.svg")));
    setFont(windowFont());
    // Fixed single border: a close box, no minimise and no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    mnu_About = menuBar()->addAction(QStringLiteral("&About"));
    mnu_About->setObjectName(QStringLiteral("mnu_About"));
    connect(mnu_About, &QAction::triggered, this, &frmZIDovidovarar::mnu_About_Click);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    tabApplication = named(new QTabWidget(client), "tabApplication");
    tabApplication->setGeometry(twips(120, 180, 8775, 6240));
    auto *pageSearch = named(new QWidget, "tabSearch");
    auto *pageAdd = named(new QWidget, "tabAddToDatabase");
    auto *pageOptions = named(new QWidget, "tabOptions");
    tabApplication->addTab(pageSearch, QStringLiteral("Search"));
    tabApplication->addTab(pageAdd, QStringLiteral("Add to Database"));
    tabApplication->addTab(pageOptions, QStringLiteral("Options"));
    tabApplication->setCurrentIndex(0);

    auto *placer = new PagePlacer(tabApplication, pageSearch->parentWidget());
    auto onPage = [placer](QWidget *w, int left, int top, int width, int height) {
        placer->add(w, twips(left, top, width, height));
    };

    // Tab 0, "Search"
    lblSearchlabel = named(new QLabel(QStringLiteral("Search pharse:"), pageSearch), "lblSearchlabel");
    onPage(lblSearchlabel, 240, 720, 1455, 255);
    txtSearchList = named(new QLineEdit(pageSearch), "txtSearchList");
    onPage(txtSearchList, 1680, 705, 4815, 375);
    cmdSearch = named(new QToolButton(pageSearch), "cmdSearch");
    cmdSearch->setText(QStringLiteral("&Search"));
    cmdSearch->setIcon(QIcon(QStringLiteral(":/icons/search.svg")));
    cmdSearch->setIconSize(QSize(24, 24));
    cmdSearch->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdSearch->setFocusPolicy(Qt::StrongFocus);
    onPage(cmdSearch, 6600, 600, 855, 675);
    lblFileSearchMsg = named(new QLabel(pageSearch), "lblFileSearchMsg");
    onPage(lblFileSearchMsg, 240, 1560, 3135, 255);
    lblFileSearchFound = named(new QLabel(QStringLiteral("File Found:"), pageSearch), "lblFileSearchFound");
    onPage(lblFileSearchFound, 3600, 1560, 1215, 255);
    pgbrFileSearch = makeBar(pageSearch, "pgbrFileSearch");
    onPage(pgbrFileSearch, 4800, 1560, 3855, 255);
    lvwFileSearch = makeListView(pageSearch, "lvwFileSearch");
    onPage(lvwFileSearch, 120, 2040, 8535, 3735);
    lblFileSerached = named(new QLabel(QStringLiteral("Files Found: 0"), pageSearch), "lblFileSerached");
    onPage(lblFileSerached, 200, 5880, 2175, 255);
    cmdClearList = named(new QPushButton(QStringLiteral("Clear List"), pageSearch), "cmdClearList");
    onPage(cmdClearList, 7620, 5820, 1035, 315);

    // Tab 1, "Add to Database"
    Label1 = named(new QLabel(QStringLiteral("Take backup of the CD content."), pageAdd), "Label1");
    onPage(Label1, 240, 600, 6135, 255);
    Label2 = named(new QLabel(QStringLiteral("Select CD-Drive:"), pageAdd), "Label2");
    onPage(Label2, 240, 960, 3255, 255);
    cboSelectDrive = named(new QComboBox(pageAdd), "cboSelectDrive");
    cboSelectDrive->setEditable(false);
    onPage(cboSelectDrive, 1800, 915, 2655, 315);
    cmdTakeBackup = named(new QPushButton(QStringLiteral("List Files"), pageAdd), "cmdTakeBackup");
    onPage(cmdTakeBackup, 4560, 885, 1335, 375);
    cmdAddToDB = named(new QPushButton(QStringLiteral("Add to Database"), pageAdd), "cmdAddToDB");
    onPage(cmdAddToDB, 6000, 885, 1815, 375);
    lblDirectory = named(new QLabel(pageAdd), "lblDirectory");
    lblDirectory->setWordWrap(true);
    lblDirectory->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    onPage(lblDirectory, 240, 1440, 3255, 495);
    lblDirScanned = named(new QLabel(QStringLiteral("Dir Scanned:"), pageAdd), "lblDirScanned");
    onPage(lblDirScanned, 3600, 1440, 1215, 255);
    pgbrDir = makeBar(pageAdd, "pgbrDir");
    onPage(pgbrDir, 4800, 1440, 3855, 255);
    lblFile = named(new QLabel(pageAdd), "lblFile");
    onPage(lblFile, 120, 1920, 3255, 255);
    lblFileScanned = named(new QLabel(QStringLiteral("File Scanned:"), pageAdd), "lblFileScanned");
    onPage(lblFileScanned, 3600, 1920, 1215, 255);
    pgbrFile = makeBar(pageAdd, "pgbrFile");
    onPage(pgbrFile, 4800, 1920, 3855, 255);
    lvwListFile = makeListView(pageAdd, "lvwListFile");
    onPage(lvwListFile, 120, 2400, 8535, 3375);
    lblFilesFound = named(new QLabel(QStringLiteral("Files Found: 0"), pageAdd), "lblFilesFound");
    onPage(lblFilesFound, 120, 5880, 2175, 255);

    // Tab 2, "Options": its controls only carry the two settings and are never shown.
    fraSelectDataBase =
        named(new QGroupBox(QStringLiteral("CD - DataBase File Location"), pageOptions), "fraSelectDataBase");
    onPage(fraSelectDataBase, 240, 720, 8295, 975);
    txtDatabasepath = named(new QLineEdit(fraSelectDataBase), "txtDatabasepath");
    txtDatabasepath->setGeometry(twips(120, 360, 6495, 375));
    cmdBrowse = named(new QPushButton(QStringLiteral("Select File..."), fraSelectDataBase), "cmdBrowse");
    cmdBrowse->setGeometry(twips(6720, 360, 1455, 375));
    fraOptions = named(new QGroupBox(QStringLiteral("Options"), pageOptions), "fraOptions");
    onPage(fraOptions, 240, 2040, 8295, 855);
    chkSaveSettings =
        named(new QCheckBox(QStringLiteral("Save last used settings"), fraOptions), "chkSaveSettings");
    chkSaveSettings->setGeometry(twips(240, 360, 4215, 195));
    for (QWidget *hidden : {static_cast<QWidget *>(fraSelectDataBase),
                            static_cast<QWidget *>(txtDatabasepath), static_cast<QWidget *>(cmdBrowse),
                            static_cast<QWidget *>(fraOptions), static_cast<QWidget *>(chkSaveSettings)})
        hidden->setVisible(false);

    // Outside the tab control
    cmdOK = named(new QPushButton(QStringLiteral("OK"), client), "cmdOK");
    cmdOK->setGeometry(twips(6360, 6540, 1215, 375));
    cmdCancel = named(new QPushButton(QStringLiteral("Cancel"), client), "cmdCancel");
    cmdCancel->setGeometry(twips(7680, 6540, 1215, 375));
    for (QPushButton *b : {cmdOK, cmdCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    // Keyboard order by tab index; labels and bars take no focus.
    const QList<QWidget *> order{cmdCancel,     cmdOK,           tabApplication, lvwFileSearch,
                                 cmdSearch,     txtDatabasepath, cmdBrowse,      cboSelectDrive,
                                 cmdTakeBackup, chkSaveSettings, lvwListFile,    txtSearchList,
                                 cmdAddToDB,    cmdClearList};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    cmdCancel->setFocus(Qt::OtherFocusReason);

    connect(cmdOK, &QPushButton::clicked, this, &frmZIDovidovarar::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmZIDovidovarar::cmdCancel_Click);
    connect(cmdTakeBackup, &QPushButton::clicked, this, &frmZIDovidovarar::cmdTakeBackup_Click);
    connect(cmdAddToDB, &QPushButton::clicked, this, &frmZIDovidovarar::cmdAddToDB_Click);
    connect(cmdSearch, &QToolButton::clicked, this, &frmZIDovidovarar::cmdSearch_Click);
    connect(cmdClearList, &QPushButton::clicked, this, &frmZIDovidovarar::cmdClearList_Click);
    connect(tabApplication, &QTabWidget::currentChanged, this, [this](int index) {
        if (!tabApplication->isTabEnabled(index)) { // a switched-off tab is never current
            tabApplication->setCurrentIndex(m_currentTab);
            return;
        }
        const int previous = m_currentTab;
        m_currentTab = index;
        tabApplication_Click(previous);
    });

    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmZIDovidovarar::Form_Load()
{
    const QString settingsFile = modFunction::SettingsFilePath();
    const QString databasePath = modFunction::DefaultDatabasePath();
    QString saveLast = modFunction::ReadIniValue(settingsFile, modConstant::kSettingsSection,
                                                 modConstant::kKeySaveLastSetting);
    if (saveLast.isEmpty())
        saveLast = QStringLiteral("0");
    // A value that is not a number (hand-edited text) counts as unchecked.
    bool numeric = false;
    const double number = saveLast.toDouble(&numeric);
    const bool checked = numeric && std::nearbyint(number) == 1.0;
    chkSaveSettings->setChecked(checked);
    txtDatabasepath->setText(databasePath);
    tabApplication->setTabEnabled(2, false);
}

void frmZIDovidovarar::cmdOK_Click()
{
    if (m_blnBusy) {
        tabApplication->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QString settingsFile = modFunction::SettingsFilePath();
    const QString saveLast = chkSaveSettings->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    const QString path = txtDatabasepath->text().trimmed();
    modFunction::WriteIniValue(settingsFile, modConstant::kSettingsSection, modConstant::kKeyDbPath, path);
    modFunction::WriteIniValue(settingsFile, modConstant::kSettingsSection, modConstant::kKeySaveLastSetting,
                               saveLast);
    endProgram();
}

void frmZIDovidovarar::cmdCancel_Click()
{
    if (m_blnBusy) {
        tabApplication->setFocus(Qt::OtherFocusReason);
        return;
    }
    close();
    endProgram();
}

void frmZIDovidovarar::closeEvent(QCloseEvent *event)
{
    // Form_QueryUnload: a running command keeps the window open.
    if (m_blnBusy)
        event->ignore();
    else
        event->accept();
}

void frmZIDovidovarar::mnu_About_Click()
{
    // A fresh dialog every time, dropped when it closes.
    frmAbout about(this);
    about.exec();
}

void frmZIDovidovarar::setHourglass(bool on)
{
    if (on)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void frmZIDovidovarar::endCommand(QAbstractButton *button)
{
    m_display.flush();
    setHourglass(false);
    setWindowTitle(modConstant::kAppTitle);
    button->setEnabled(true);
    m_blnBusy = false;
}
