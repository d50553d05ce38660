#pragma once

#include "serial/MSComm.h"
#include "support/PtyBoard.h"

#include <QString>

// The component open on COM1 with a board behind it. Opening throws
// MSCommError, so a line that does not open fails the test at once.
struct OpenCom1 {
    // settings, when given, are set before the port opens.
    explicit OpenCom1(const QString& settings = QString());

    PluggedBoard board;
    MSComm comm;  // after board: closed before the board goes
};
