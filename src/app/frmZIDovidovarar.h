#pragma once
// The main window: layout, start-up, OK/Cancel/close, and the handlers of every command.

#include "app/WindowDisplay.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QAbstractButton;
class QPushButton;
class QToolButton;
class QTabWidget;
class QTreeView;
class QAction;
class IdleIndexing;

class frmZIDovidovarar : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmZIDovidovarar(QWidget *parent = nullptr);
    ~frmZIDovidovarar() override;

public Q_SLOTS:
    void Form_Load();
    void cmdOK_Click();
    void cmdCancel_Click();
    void mnu_About_Click();
    void tabApplication_Click(int previousTab);
    void cmdTakeBackup_Click();
    void cmdAddToDB_Click();
    void cmdSearch_Click();
    void cmdClearList_Click();

protected:
    void closeEvent(QCloseEvent *event) override; // Form_QueryUnload

private:
    void buildLayout();
    void setHourglass(bool on);
    // Back to idle after a long command: exact display, default pointer, caption "Quillary",
    // the command's button enabled, blnBusy false.
    void endCommand(QAbstractButton *button);
    // The start of each long command: false (nothing done) while another command runs; otherwise the
    // command's button is disabled, blnBusy set and, when given, the command's caption shown.
    bool beginCommand(QAbstractButton *button, const QString &caption = {});
    // When the catalogue is missing: the database-missing message (or, when an installed copy could not
    // make the user's catalogue, where and why: modFunction::CatalogueProblem), then back to idle with
    // the pointer and everything else as it was; true then.
    bool refuseWithoutCatalogue(QAbstractButton *button);

    // Drives (frmZIDovidovarar_drives.cpp)
    void LoadDriveList();
    qint32 CheckDriveReady(const QString &root);

    // Parts of the window that the commands own, each defined in the command's own file.
    struct ScanPart;
    struct SavePart;
    struct SearchPart;
    void initScanPart();
    void initSearchPart();
    void initSavePart();
    std::shared_ptr<ScanPart> m_scan;
    std::shared_ptr<SavePart> m_save;
    std::shared_ptr<SearchPart> m_search;
    // The search index, brought up to date while the window is idle; every command pauses that work.
    std::unique_ptr<IdleIndexing> m_indexing;

    bool m_blnBusy = false;
    qint32 lngFileCount = 0;
    QString strCurrentCDLabel;
    QString m_scannedRoot; // the drive root the list was made from, for the record of the disc
    int m_currentTab = 0;
    // The display of the long commands (labels, bars and lists, pushed at most every 50 ms).
    WindowDisplay m_display;

    // Controls, named as the layout names them.
    QAction *mnu_About = nullptr;
    QTabWidget *tabApplication = nullptr;
    // Tab 0, "Search"
    QLabel *lblSearchlabel = nullptr;
    QLineEdit *txtSearchList = nullptr;
    QToolButton *cmdSearch = nullptr; // picture above its caption
    QLabel *lblFileSearchMsg = nullptr;
    QLabel *lblFileSearchFound = nullptr;
    QProgressBar *pgbrFileSearch = nullptr;
    QTreeView *lvwFileSearch = nullptr;
    QLabel *lblFileSerached = nullptr;
    QPushButton *cmdClearList = nullptr;
    // Tab 1, "Add to Database"
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *cboSelectDrive = nullptr;
    QPushButton *cmdTakeBackup = nullptr;
    QPushButton *cmdAddToDB = nullptr;
    QLabel *lblDirectory = nullptr;
    QLabel *lblDirScanned = nullptr;
    QProgressBar *pgbrDir = nullptr;
    QLabel *lblFile = nullptr;
    QLabel *lblFileScanned = nullptr;
    QProgressBar *pgbrFile = nullptr;
    QTreeView *lvwListFile = nullptr;
    QLabel *lblFilesFound = nullptr;
    // Tab 2, "Options" (hidden controls)
    QGroupBox *fraSelectDataBase = nullptr;
    QLineEdit *txtDatabasepath = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QGroupBox *fraOptions = nullptr;
    QCheckBox *chkSaveSettings = nullptr;
    // Outside the tab control
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
