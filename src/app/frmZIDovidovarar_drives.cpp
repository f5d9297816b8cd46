// The drive list of the "Add to Database" tab.
#include "app/frmZIDovidovarar.h"

#include "drives/Drives.h"

#include <QComboBox>
#include <QTabWidget>

void frmZIDovidovarar::tabApplication_Click(int /*previousTab*/)
{
    // Every visit of "Add to Database" rebuilds the list, so a disc inserted meanwhile shows its label.
    if (tabApplication->currentIndex() == 1)
        LoadDriveList();
}

void frmZIDovidovarar::LoadDriveList()
{
    // Reading the mount table and the labels of mounted discs takes milliseconds; an empty drive
    // is never probed, so the tab switch does not wait for a drive to spin up.
    const QStringList entries = Drives::DriveListEntries();
    cboSelectDrive->clear();
    cboSelectDrive->addItems(entries);
    if (cboSelectDrive->count() > 0)
        cboSelectDrive->setCurrentIndex(0);
}

qint32 frmZIDovidovarar::CheckDriveReady(const QString &root)
{
    return Drives::DriveReadiness(root);
}
