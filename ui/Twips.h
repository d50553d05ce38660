#pragma once

#include <QRect>
#include <QWidget>

#include <cmath>

// Geometry is designed in twips (1/1440 inch) and turned into pixels at the
// screen's logical DPI, so the window keeps its proportions at any DPI.
namespace Twips {
constexpr double kPerInch = 1440.0;

inline double dpi(const QWidget* w) {
    return w ? w->logicalDpiX() : 96.0;
}
inline int toPixels(double twips, double dpi) {
    return int(std::lround(twips * dpi / kPerInch));
}
inline double fromPixels(int px, double dpi) {
    return std::round(px * kPerInch / dpi);
}
inline QRect toPixels(double left, double top, double width, double height, double dpi) {
    return {toPixels(left, dpi), toPixels(top, dpi), toPixels(width, dpi), toPixels(height, dpi)};
}
}  // namespace Twips
