#pragma once

#include <QString>

#include <optional>

// The window placement kept in the per-user store: section "Settings", twips
// as decimal text.
namespace Placement {
inline constexpr char kSection[] = "Settings";
inline constexpr char kLeftKey[] = "MainLeft";
inline constexpr char kTopKey[] = "MainTop";
inline constexpr char kWidthKey[] = "MainWidth";
inline constexpr char kHeightKey[] = "MainHeight";

// A stored number: decimal with optional sign, fraction and exponent, taken
// as single precision. Anything else, or a value that is not finite as a
// single, gives nothing.
std::optional<float> parseNumber(const QString& text);
// Twips as stored: a plain whole number.
QString formatNumber(double twips);
}  // namespace Placement
