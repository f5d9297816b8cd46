#include "search/CatalogueIndex.h"

void CatalogueIndex::Refresh(QSqlDatabase & /*db*/) {}
