// The drive list of the "Add to Database" tab.
#include "app/frmZIDovidovarar.h"

void frmZIDovidovarar::tabApplication_Click(int /*previousTab*/) {}
void frmZIDovidovarar::LoadDriveList() {}
qint32 frmZIDovidovarar::CheckDriveReady(const QString & /*root*/) { return 0; }
