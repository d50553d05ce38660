#pragma once

class QWidget;

// SIGTERM, SIGHUP and SIGINT close the window as its close box does; a
// second one ends the program at once, releasing the serial line first.
namespace Termination {
void closeOnSignals(QWidget* window);
}
