#pragma once
// Finds the catalogue rows whose FileName contains a phrase under PhraseMatcher's rule, and reads them
// back in the order of the table: the catalogue's query (db/CatalogueQuery.h) with the search's rule.

#include "db/CatalogueQuery.h"

#include <QString>

class CatalogueSearch : public CatalogueQuery
{
public:
    using CatalogueQuery::CatalogueQuery;

    // Finds the rows matching the phrase (already trimmed by the caller). False on failure, with
    // error() saying why.
    bool find(const QString &phrase, Counting counting = Counting::Required);
};
