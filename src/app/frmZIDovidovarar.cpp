#include "app/frmZIDovidovarar.h"

#include "app/IdleIndexing.h"

#include "app/MessageBox.h"
#include "app/WindowLayout.h"
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

// A control's first caption, whatever its kind.
void setCaption(QWidget *widget, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->setText(text);
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        edit->setText(text);
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        frame->setTitle(text);
}

QTreeView *makeListView(QWidget *parent)
{
    auto *view = new QTreeView(parent);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(false);
    view->header()->setDefaultSectionSize(WindowLayout::kListColumnWidth / WindowLayout::kTwipsPerPixel);
    view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return view;
}

QProgressBar *makeBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
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
    // Rows another program added, or that a save left for later, are indexed once the window is idle.
    m_indexing = std::make_unique<IdleIndexing>([this] { return m_blnBusy; }, this);
    m_indexing->schedule();
    Form_Load();
}

frmZIDovidovarar::~frmZIDovidovarar() = default;

void frmZIDovidovarar::buildLayout()
{
    using WindowLayout::Container;
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
    client->setFixedSize(
        WindowLayout::twips(0, 0, WindowLayout::kClientWidth, WindowLayout::kClientHeight).size());
    setCentralWidget(client);

    // Each control is named, captioned and placed as the layout table gives it.
    PagePlacer *placer = nullptr;
    auto place = [&](auto *widget, const char *name) {
        const WindowLayout::Control &row = WindowLayout::control(name);
        widget->setObjectName(QString::fromLatin1(name));
        if (row.text)
            setCaption(widget, QString::fromUtf8(row.text));
        if (row.container == Container::TabControl)
            placer->add(widget, row.pixels());
        else
            widget->setGeometry(row.pixels());
        return widget;
    };

    tabApplication = place(new QTabWidget(client), "tabApplication");
    auto *pageSearch = named(new QWidget, "tabSearch");
    auto *pageAdd = named(new QWidget, "tabAddToDatabase");
    auto *pageOptions = named(new QWidget, "tabOptions");
    tabApplication->addTab(pageSearch, QStringLiteral("Search"));
    tabApplication->addTab(pageAdd, QStringLiteral("Add to Database"));
    tabApplication->addTab(pageOptions, QStringLiteral("Options"));
    tabApplication->setCurrentIndex(0);
    placer = new PagePlacer(tabApplication, pageSearch->parentWidget());

    // Tab 0, "Search"
    lblSearchlabel = place(new QLabel(pageSearch), "lblSearchlabel");
    txtSearchList = place(new QLineEdit(pageSearch), "txtSearchList");
    cmdSearch = place(new QToolButton(pageSearch), "cmdSearch");
    cmdSearch->setIcon(QIcon(QStringLiteral(":/icons/search.svg")));
    cmdSearch->setIconSize(QSize(24, 24));
    cmdSearch->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdSearch->setFocusPolicy(Qt::StrongFocus);
    lblFileSearchMsg = place(new QLabel(pageSearch), "lblFileSearchMsg");
    lblFileSearchFound = place(new QLabel(pageSearch), "lblFileSearchFound");
    pgbrFileSearch = place(makeBar(pageSearch), "pgbrFileSearch");
    lvwFileSearch = place(makeListView(pageSearch), "lvwFileSearch");
    lblFileSerached = place(new QLabel(pageSearch), "lblFileSerached");
    cmdClearList = place(new QPushButton(pageSearch), "cmdClearList");

    // Tab 1, "Add to Database"
    Label1 = place(new QLabel(pageAdd), "Label1");
    Label2 = place(new QLabel(pageAdd), "Label2");
    cboSelectDrive = place(new QComboBox(pageAdd), "cboSelectDrive");
    cboSelectDrive->setEditable(false);
    cmdTakeBackup = place(new QPushButton(pageAdd), "cmdTakeBackup");
    cmdAddToDB = place(new QPushButton(pageAdd), "cmdAddToDB");
    lblDirectory = place(new QLabel(pageAdd), "lblDirectory");
    lblDirectory->setWordWrap(true);
    lblDirectory->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDirScanned = place(new QLabel(pageAdd), "lblDirScanned");
    pgbrDir = place(makeBar(pageAdd), "pgbrDir");
    lblFile = place(new QLabel(pageAdd), "lblFile");
    lblFileScanned = place(new QLabel(pageAdd), "lblFileScanned");
    pgbrFile = place(makeBar(pageAdd), "pgbrFile");
    lvwListFile = place(makeListView(pageAdd), "lvwListFile");
    lblFilesFound = place(new QLabel(pageAdd), "lblFilesFound");

    // Tab 2, "Options": its controls only carry the two settings and are never shown.
    fraSelectDataBase = place(new QGroupBox(pageOptions), "fraSelectDataBase");
    txtDatabasepath = place(new QLineEdit(fraSelectDataBase), "txtDatabasepath");
    cmdBrowse = place(new QPushButton(fraSelectDataBase), "cmdBrowse");
    fraOptions = place(new QGroupBox(pageOptions), "fraOptions");
    chkSaveSettings = place(new QCheckBox(fraOptions), "chkSaveSettings");
    for (QWidget *hidden : {static_cast<QWidget *>(fraSelectDataBase),
                            static_cast<QWidget *>(txtDatabasepath), static_cast<QWidget *>(cmdBrowse),
                            static_cast<QWidget *>(fraOptions), static_cast<QWidget *>(chkSaveSettings)})
        hidden->setVisible(false);

    // Outside the tab control
    cmdOK = place(new QPushButton(client), "cmdOK");
    cmdCancel = place(new QPushButton(client), "cmdCancel");
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

    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
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

bool frmZIDovidovarar::beginCommand(QAbstractButton *button, const QString &caption)
{
    if (m_blnBusy)
        return false;
    m_indexing->pause();
    button->setEnabled(false);
    m_blnBusy = true;
    if (!caption.isEmpty())
        setWindowTitle(caption);
    return true;
}

bool frmZIDovidovarar::refuseWithoutCatalogue(QAbstractButton *button)
{
    const QString problem = modFunction::CatalogueProblem();
    if (problem.isEmpty())
        return false;
    m_display.flush();
    quillary::ShowMessage(this, problem);
    setWindowTitle(modConstant::kAppTitle);
    button->setEnabled(true);
    m_blnBusy = false;
    return true;
}

void frmZIDovidovarar::endCommand(QAbstractButton *button)
{
    m_display.flush();
    setHourglass(false);
    setWindowTitle(modConstant::kAppTitle);
    button->setEnabled(true);
    m_blnBusy = false;
}
