#pragma once

#include <QRgb>

// The lamp colours as the tests expect to read them back, written out here
// rather than taken from the program, so a wrong colour there is caught.
namespace Rgb {
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kGreen = 0x00FF00;
}  // namespace Rgb
