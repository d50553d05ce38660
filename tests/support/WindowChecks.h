#pragma once

#include <memory>

class QAbstractButton;
class QWidget;
class frmMain;

namespace WindowChecks {
// The window as the program starts it: built, then Form_Load.
std::unique_ptr<frmMain> startWindow();
// Shows the window and clicks Connect; true when the port is then open.
bool showAndConnect(frmMain& form);

// Columns of the rendered widget holding dark ink: what is really drawn.
int inkWidth(QWidget* w);

// Clicks a button from inside a running event loop, as a user's click
// arrives, so that it goes through the window's error wrapper. False when the
// click ended the program (QCoreApplication::exit leaves the loop with 1).
bool clickKeepsRunning(QAbstractButton* button);
}  // namespace WindowChecks
