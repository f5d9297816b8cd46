#pragma once
// Catalogues of generated file names for the benchmarks: names as found on software, photo, music and
// document discs, 2,000 files a disc, 25 a directory; the same names written as paths for plocate.

#include <QString>

// Fills the catalogue at path (the shipped empty one) with count rows, and writes the same names as
// absolute paths ("/LABEL/DIR/name") to plocateList, one a line. The same count gives the same names.
bool fillCatalogue(const QString &path, qint64 count, const QString &plocateList);

// Brings the catalogue's search index up to date, as after a save.
bool refreshIndex(const QString &path);

// The phrase that finds a few hundred names per million.
inline const QString kSelectivePhrase = QStringLiteral("quarterly");
