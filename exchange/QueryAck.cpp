// Waiting for the board's acknowledgement. Holds the thread for the whole
// wait, on purpose: at most 1000 reads with no pause between them.
#include "serial/MSComm.h"
#include "ui/ProgressBar.h"
#include "ui/frmMain.h"

void frmMain::QueryAck(const QString& QueryChar) {
    QueryLoopCt = 0;
    while (QueryLoopCt < 1000) {
        if (MSComm1->Input() == QueryChar) {
            ProgressBar1->setFraction(100.0f);
            return;
        }
        ++QueryLoopCt;
        ProgressBar1->setFraction(float(double(QueryLoopCt) / 1000.0 * 100.0));
    }
}
