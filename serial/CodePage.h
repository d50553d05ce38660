#pragma once

#include <QByteArray>
#include <QString>

// The line's code page, Windows-1252. Every byte value maps to one character
// (the five unassigned ones to the C1 control of the same value), so received
// bytes round-trip; a character outside the page goes out as one '?'.
namespace CodePage {
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);
// Code of the first character of text in the code page; 0 for an empty text.
int firstCharCode(const QString& text);
}  // namespace CodePage
