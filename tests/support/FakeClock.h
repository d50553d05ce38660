#pragma once

#include "ui/frmMain.h"

#include <QDateTime>

// A clock the test sets by hand, for the window's connection timer.
struct FakeClock {
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0, 0));
    frmMain::Clock fn() {
        return [this] { return now; };
    }
};
