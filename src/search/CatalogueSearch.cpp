#include "search/CatalogueSearch.h"

#include "search/PhraseMatcher.h"

bool CatalogueSearch::find(const QString &phrase, Counting counting)
{
    return CatalogueQuery::find(std::make_unique<PhraseMatcher>(phrase), counting);
}
