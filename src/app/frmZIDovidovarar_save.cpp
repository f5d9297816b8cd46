// "Add to Database": saving the scan into the catalogue.
#include "app/frmZIDovidovarar.h"

struct frmZIDovidovarar::SavePart
{
};

void frmZIDovidovarar::initSavePart() { m_save = std::make_shared<SavePart>(); }
void frmZIDovidovarar::cmdAddToDB_Click() {}
