// "List Files": the scan command and the directory walk behind it.
#include "app/frmZIDovidovarar.h"

#include "app/MessageBox.h"
#include "catalogue/TextForms.h"
#include "catalogue/clsFileColl.h"
#include "catalogue/clsFileCollModel.h"
#include "drives/Drives.h"
#include "scan/DirectoryWalker.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

#include <string>

// Shows the walk in the window. The file bar, the file label and the files-found label change with
// every file but are only seen at a yield, so they are written to the display there (and before every
// message), not once per file.
struct frmZIDovidovarar::ScanPart : ScanObserver
{
    explicit ScanPart(frmZIDovidovarar &window)
        : w(window), model(new clsFileCollModel(objScannedFiles(), window.lvwListFile))
    {}

    void directoryListed(const QString &path) override { w.m_display.setText(w.lblDirectory, path); }

    void filesStarting(qint64 count) override { w.m_display.setBarRange(w.pgbrFile, 0, count); }

    void fileStarting(qint64 index, std::string_view name) override
    {
        fileIndex = index;
        currentFile.assign(name);
        fileShown = false;
    }

    void fileListed(const clsFile & /*record*/, qint64 key) override
    {
        w.lngFileCount = static_cast<qint32>(key + 1);
        countShown = false;
    }

    void subdirectoryStarting(qint64 done, qint64 count) override
    {
        w.m_display.setBarRange(w.pgbrDir, 0, count);
        w.m_display.setBarValue(w.pgbrDir, done);
    }

    void driveNotReady() override
    {
        metNotReady = true;
        showPending();
        w.m_display.flush();
        quillary::ShowMessage(&w, modConstant::kDriveNotReadyMessage);
    }

    void yield() override
    {
        showPending();
        w.m_display.yield();
        if (const auto &hook = TestSeams::AfterScanYield())
            hook();
    }

    void showPending()
    {
        if (!fileShown) {
            w.m_display.setBarValue(w.pgbrFile, fileIndex + 1);
            w.m_display.setText(w.lblFile, QStringLiteral(" ") + TextForms::fromUtf8(currentFile));
            fileShown = true;
        }
        if (!countShown) {
            w.m_display.setText(w.lblFilesFound,
                                QStringLiteral("Files Found: ") + QString::number(w.lngFileCount));
            countShown = true;
        }
    }

    frmZIDovidovarar &w;
    clsFileCollModel *model; // owned by lvwListFile
    qint64 fileIndex = 0;
    std::string currentFile;
    bool fileShown = true;
    bool countShown = true;
    bool metNotReady = false; // the walk showed the not-ready message
};

void frmZIDovidovarar::initScanPart()
{
    m_scan = std::make_shared<ScanPart>(*this);
    lvwListFile->setModel(m_scan->model);
    m_display.watchModel(m_scan->model);
}

void frmZIDovidovarar::cmdTakeBackup_Click()
{
    // A save or a search in progress: the scan waits for the user to try again, so it never empties
    // the list under a running save.
    if (!beginCommand(cmdTakeBackup) || refuseWithoutCatalogue(cmdTakeBackup))
        return;

    lngFileCount = 0;
    setHourglass(true);
    // The drive part of the entry: what comes before the label's "<", trimmed, or the whole entry (a
    // mount point named after a label may hold a "<" itself: the "  <" after the root's '/' counts).
    const QString driveText = cboSelectDrive->currentIndex() >= 0
                                  ? Drives::DriveRootOfEntry(cboSelectDrive->currentText())
                                  : QString();
    setWindowTitle(QStringLiteral("Quillary - CD Drive [") + driveText +
                   QStringLiteral("] scan in progress"));

    // No drive selected counts as a drive without a disc: an empty root must never become "/".
    if (driveText.trimmed().isEmpty() || CheckDriveReady(driveText) == 2) {
        m_display.flush();
        quillary::ShowMessage(this, modConstant::kDriveNotReadyMessage);
        endCommand(cmdTakeBackup);
        return;
    }

    objScannedFiles().Clear();
    strCurrentCDLabel = modFunction::GetVolumeLabel(driveText);

    m_display.setText(lblDirectory, QString());
    m_display.setText(lblFile, QString());
    m_display.setText(lblDirScanned, QStringLiteral("Dir Scanned:"));
    m_display.setText(lblFileScanned, QStringLiteral("File Scanned:"));
    pgbrDir->setVisible(true);
    m_display.setBarRange(pgbrDir, 0, 100);
    pgbrFile->setVisible(true);
    m_display.setBarRange(pgbrFile, 0, 100);
    m_display.setText(lblFilesFound, QStringLiteral("Files Found: 0"));
    // Shown at once, the list view emptied with the file list: the walk's first yields must not show
    // what the last command left.
    m_display.flush();

    DirectoryWalker walker(objScannedFiles(), *m_scan);
    walker.setLabel(strCurrentCDLabel);
    m_scan->metNotReady = false;
    m_scannedRoot = driveText.trimmed();
    walker.ScanDirectory(m_scannedRoot);

    m_scan->showPending();
    m_display.flush();
    // After the not-ready message the list is not complete, and the user has been told why.
    if (!m_scan->metNotReady)
        quillary::ShowMessage(this, QStringLiteral("All Files on the drive '") + driveText +
                                        QStringLiteral("' have been scanned and listed."));
    endCommand(cmdTakeBackup);
}
