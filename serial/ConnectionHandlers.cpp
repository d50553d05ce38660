// Opening and closing the port, and choosing COM1 or COM2.
#include "serial/MSComm.h"
#include "ui/ResumeNext.h"
#include "ui/Shape.h"
#include "ui/frmMain.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
const QColor Black(0, 0, 0);
const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);

QString PortText(short port) {
    return QStringLiteral(" COM") + QString::number(port);
}

// The modal report of a port that could not be opened; returns once the user
// has closed it (timer ticks go on meanwhile).
void PortBusyBox(QWidget* parent, short port) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error Message"),
                    PortText(port) + QStringLiteral(" has been useing !"), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
}  // namespace

void frmMain::Connect_Click() {
    ResumeNext err;
    bool open = false;
    err.Try([&] { open = MSComm1->PortOpen(); });
    if (open) return;
    err.Try([&] { MSComm1->setPortOpen(true); });
    if (err.Failed()) {
        // The message line is written before the box, so it shows while the box is up.
        err.Try(
            [&] { ShowMessage(PortText(MSComm1->CommPort()) + QStringLiteral(" already open ")); });
        err.Try([&] { PortBusyBox(this, MSComm1->CommPort()); });
        return;
    }
    err.Try([&] { ConnectState->setFillColor(Green); });
    err.Try([&] {
        SetPanelText(QStringLiteral("Status"),
                     QStringLiteral("Status:COM") + QString::number(MSComm1->CommPort()));
    });
    err.Try([&] {
        SetPanelText(QStringLiteral("Settings"),
                     QStringLiteral("Settings: ") + MSComm1->Settings());
    });
    err.Try([&] { StartTimer(); });
    err.Try([&] { Transmition->setEnabled(true); });
    err.Try([&] { Receive->setEnabled(true); });
}

void frmMain::Disconnect_Click() {
    if (!MSComm1->PortOpen()) return;
    MSComm1->setPortOpen(false);
    ConnectState->setFillColor(Black);
    SetPanelText(QStringLiteral("Status"), QStringLiteral("Status:Disconnect"));
    StopTimer();
    Transmition->setEnabled(false);
    Receive->setEnabled(false);
    ShowMessage(PortText(MSComm1->CommPort()) + QStringLiteral(" disconnect "));
}

// COM1_Click and COM2_Click: an open port is closed and reopened on the chosen
// port (also when it is the port in use); a closed one only changes its number.
void frmMain::SelectPort(short port) {
    ResumeNext err;
    bool open = false;
    err.Try([&] { open = MSComm1->PortOpen(); });
    if (open) {
        err.Try([&] { MSComm1->setPortOpen(false); });
        err.Try([&] { MSComm1->setCommPort(port); });
        err.Try([&] { MSComm1->setPortOpen(true); });
        if (err.Failed()) {
            // Box first, message line after: the "Status" panel keeps the old port.
            err.Try([&] { PortBusyBox(this, port); });
            err.Try([&] {
                ShowMessage(PortText(MSComm1->CommPort()) + QStringLiteral(" already open "));
            });
            err.Try([&] { ConnectState->setFillColor(Red); });
            err.Try([&] { Transmition->setEnabled(false); });
            err.Try([&] { Receive->setEnabled(false); });
            err.Try([&] { StopTimer(); });
            return;
        }
        err.Try([&] { StartTimer(); });
    } else {
        err.Try([&] { MSComm1->setCommPort(port); });
    }
    err.Try([&] {
        SetPanelText(QStringLiteral("Status"),
                     QStringLiteral("Status:COM") + QString::number(MSComm1->CommPort()));
    });
}

void frmMain::COM1_Click() {
    SelectPort(1);
}

void frmMain::COM2_Click() {
    SelectPort(2);
}
