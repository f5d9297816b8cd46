#pragma once
// Lets tests see and set the main window's private state.

#include "app/frmZIDovidovarar.h"

struct WindowTestAccess
{
    static void setBusy(frmZIDovidovarar &w, bool busy) { w.m_blnBusy = busy; }
    static qint32 fileCount(const frmZIDovidovarar &w) { return w.lngFileCount; }
    static QString currentLabel(const frmZIDovidovarar &w) { return w.strCurrentCDLabel; }
};
