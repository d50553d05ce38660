#pragma once

#include <QStringView>
#include <QtGlobal>

#include <optional>

// The two ways the localisation pass turns a text into a 16-bit number. A
// number is blanks (spaces, tabs), an optional sign, decimal digits with an
// optional fraction, and an optional exponent ("-2.5", "+7", ".5", "1e2").
// Both round to the nearest whole number, a half going to the even neighbour,
// and both give nothing when the result lies outside -32768..32767. They work
// on the decimal digits as written, so any length of text or exponent is fine.

// The complete text, surrounding blanks allowed, as a number. Nothing when the
// text is empty or anything else than one number.
std::optional<qint16> parseWholeNumber(QStringView text);

// The number the text begins with, after leading blanks; 0 when it begins
// with none ("12abc" is 12, "abc" is 0, "1e" is 1).
std::optional<qint16> parseLeadingNumber(QStringView text);
