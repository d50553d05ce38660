// Choosing the line speed, on an open or a closed port.
#include "serial/MSComm.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QRadioButton>

namespace {
const QString Line4800 = QStringLiteral("4800,n,8,1");
const QString Line9600 = QStringLiteral("9600,n,8,1");
const QString Line14400 = QStringLiteral("14400,n,8,1");
}  // namespace

void frmMain::setLineSettings(const QString& settings) {
    try {
        MSComm1->setSettings(settings);
    } catch (...) {
        // The line did not take the new settings: the buttons and the panel
        // show what it has, then the error goes on to the standard report.
        const QString actual = MSComm1->Settings();
        const std::pair<QRadioButton*, const QString&> speeds[] = {
            {BaoudRate4800, Line4800}, {BaoudRate9600, Line9600}, {BaoudRate144000, Line14400}};
        for (const auto& [button, line] : speeds) {
            // Not exclusive for a moment, so that none stays selected when the
            // line holds a speed of none of them.
            button->setAutoExclusive(false);
            button->setChecked(actual == line);
            button->setAutoExclusive(true);
        }
        setPanelText(StatusPanel::Settings, QStringLiteral("Settings: ") + actual);
        throw;
    }
    setPanelText(StatusPanel::Settings, QStringLiteral("Settings: ") + MSComm1->Settings());
}

void frmMain::BaoudRate4800_Click() {
    setLineSettings(Line4800);
}

void frmMain::BaoudRate9600_Click() {
    setLineSettings(Line9600);
}

void frmMain::BaoudRate144000_Click() {
    setLineSettings(Line14400);
}
