// "List Files": the scan command and the directory walk behind it.
#include "app/frmZIDovidovarar.h"

struct frmZIDovidovarar::ScanPart
{
};

void frmZIDovidovarar::initScanPart() { m_scan = std::make_shared<ScanPart>(); }
void frmZIDovidovarar::cmdTakeBackup_Click() {}
