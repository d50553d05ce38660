// Opening and closing the port, and choosing COM1 or COM2.
#include "serial/MSComm.h"
#include "ui/ResumeNext.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QString portText(short port) {
    return QStringLiteral(" COM") + QString::number(port);
}

// The modal report of a port that could not be opened; returns once the user
// has closed it (timer ticks go on meanwhile).
void portBusyBox(QWidget* parent, short port) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error Message"),
                    portText(port) + QStringLiteral(" has been useing !"), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
}  // namespace

void frmMain::Connect_Click() {
    ResumeNext err;
    bool open = false;
    err.attempt([&] { open = MSComm1->PortOpen(); });
    if (open) return;
    err.attempt([&] { MSComm1->setPortOpen(true); });
    if (err.failed()) {
        // The message line is written before the box, so it shows while the box is up.
        err.attempt(
            [&] { ShowMessage(portText(MSComm1->CommPort()) + QStringLiteral(" already open ")); });
        err.attempt([&] { portBusyBox(this, MSComm1->CommPort()); });
        return;
    }
    err.attempt([&] { ConnectState->setFillColor(Lamp::kGreen); });
    err.attempt([&] {
        setPanelText(StatusPanel::Status,
                     QStringLiteral("Status:COM") + QString::number(MSComm1->CommPort()));
    });
    err.attempt([&] {
        setPanelText(StatusPanel::Settings, QStringLiteral("Settings: ") + MSComm1->Settings());
    });
    err.attempt([&] { StartTimer(); });
    err.attempt([&] { Transmition->setEnabled(true); });
    err.attempt([&] { Receive->setEnabled(true); });
}

void frmMain::Disconnect_Click() {
    if (!MSComm1->PortOpen()) return;
    MSComm1->setPortOpen(false);
    ConnectState->setFillColor(Lamp::kBlack);
    setPanelText(StatusPanel::Status, QStringLiteral("Status:Disconnect"));
    StopTimer();
    Transmition->setEnabled(false);
    Receive->setEnabled(false);
    ShowMessage(portText(MSComm1->CommPort()) + QStringLiteral(" disconnect "));
}

// COM1_Click and COM2_Click: an open port is closed and reopened on the chosen
// port (also when it is the port in use); a closed one only changes its number.
void frmMain::selectPort(short port) {
    ResumeNext err;
    bool open = false;
    err.attempt([&] { open = MSComm1->PortOpen(); });
    if (open) {
        err.attempt([&] { MSComm1->setPortOpen(false); });
        err.attempt([&] { MSComm1->setCommPort(port); });
        err.attempt([&] { MSComm1->setPortOpen(true); });
        if (err.failed()) {
            // Box first, message line after: the "Status" panel keeps the old port.
            err.attempt([&] { portBusyBox(this, port); });
            err.attempt([&] {
                ShowMessage(portText(MSComm1->CommPort()) + QStringLiteral(" already open "));
            });
            err.attempt([&] { ConnectState->setFillColor(Lamp::kRed); });
            err.attempt([&] { Transmition->setEnabled(false); });
            err.attempt([&] { Receive->setEnabled(false); });
            err.attempt([&] { StopTimer(); });
            return;
        }
        err.attempt([&] { StartTimer(); });
    } else {
        err.attempt([&] { MSComm1->setCommPort(port); });
    }
    err.attempt([&] {
        setPanelText(StatusPanel::Status,
                     QStringLiteral("Status:COM") + QString::number(MSComm1->CommPort()));
    });
}

void frmMain::COM1_Click() {
    selectPort(1);
}

void frmMain::COM2_Click() {
    selectPort(2);
}
