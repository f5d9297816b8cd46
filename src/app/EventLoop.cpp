#include "app/EventLoop.h"

#include <QByteArray>
#include <QtGlobal>

void EventLoop::ChooseDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}
