#pragma once
// The window's process for a benchmark: prepared as the program prepares it, and offscreen unless a
// platform is named (QT_QPA_PLATFORM). Call before the application object is made.

#include "app/WindowProcess.h"

#include <QByteArray>
#include <QtGlobal>

inline void PrepareOffscreenWindow()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    WindowProcess::Prepare();
}
