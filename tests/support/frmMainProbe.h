#pragma once

#include "ui/frmMain.h"

#include <QString>

// The window's private indicator operations, for tests (frmMain befriends it).
struct frmMainProbe {
    static void ShowMessage(frmMain& f, const QString& t) { f.ShowMessage(t); }
    static void StartTimer(frmMain& f) { f.StartTimer(); }
    static void StopTimer(frmMain& f) { f.StopTimer(); }
};
