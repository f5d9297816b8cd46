#pragma once
// Where the catalogue's silent failures leave a trace (index refresh, compaction, settings not
// written). Off by default; QT_LOGGING_RULES="quillary.catalogue.info=true" shows it.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)
