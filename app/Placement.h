#pragma once

#include <QString>

#include <optional>

// The window placement kept in the per-user store: section "Settings", twips
// as decimal text.
namespace Placement {
inline constexpr char Section[] = "Settings";
inline constexpr char LeftKey[] = "MainLeft";
inline constexpr char TopKey[] = "MainTop";
inline constexpr char WidthKey[] = "MainWidth";
inline constexpr char HeightKey[] = "MainHeight";

// A stored number: decimal with optional sign, fraction and exponent, taken
// as single precision. Anything else, or a value that is not finite as a
// single, gives nothing.
std::optional<float> ParseNumber(const QString& text);
// Twips as stored: a plain whole number.
QString FormatNumber(double twips);
}  // namespace Placement
