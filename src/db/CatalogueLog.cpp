#include "db/CatalogueLog.h"

Q_LOGGING_CATEGORY(lcCatalogue, "quillary.catalogue", QtWarningMsg)
