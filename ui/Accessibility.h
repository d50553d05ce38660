#pragma once

// What the window tells assistive technology beyond Qt's own interfaces: the
// window as a frame, the status bar, the lamps, the fractional progress bar,
// and option buttons whose toggle action is a click. Qt builds an interface
// only when an assistive client asks for one.
namespace Accessibility {
// Installs the interface factory; later calls do nothing.
void installFactory();
}  // namespace Accessibility
