// The "Search" tab: searching the catalogue and clearing the result.
#include "app/frmZIDovidovarar.h"

struct frmZIDovidovarar::SearchPart
{
};

void frmZIDovidovarar::initSearchPart() { m_search = std::make_shared<SearchPart>(); }
void frmZIDovidovarar::cmdSearch_Click() {}
void frmZIDovidovarar::cmdClearList_Click() {}
