#include "app/WindowProcess.h"

#include "db/Sqlite.h"

#include <QByteArray>
#include <QtGlobal>

void WindowProcess::Prepare()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    SqliteReservePageCache();
}
