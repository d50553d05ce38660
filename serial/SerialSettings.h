#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The line settings string of the serial component, "speed,parity,data,stop"
// (for example "9600,n,8,1"). Pure functions: no device, no state.
namespace SerialSettings {

enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    qint32 baud = 9600;                 // 1 .. kMaxBaud
    char parity = 'n';                  // 'n' none, 'e' even, 'o' odd, 'm' mark, 's' space
    int dataBits = 8;                   // 5 .. 8
    StopBits stopBits = StopBits::One;  // "1", "1.5", "2"

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

constexpr qint32 kMaxBaud = 4000000;

// Parses a settings string. Four comma-separated fields: the speed in baud as
// decimal digits (1 .. kMaxBaud, leading zeros allowed), one parity letter of
// "neoms" (either case), the data bits 5..8 and the stop bits 1, 1.5 or 2.
// Blanks around a field are ignored. Anything else yields no value.
std::optional<LineSettings> parse(const QString& text);

// The canonical form: lower-case parity letter, no blanks, no leading zeros,
// e.g. "14400,n,8,1" or "9600,e,7,1.5". parse(format(s)) == s for every valid s.
QString format(const LineSettings& settings);

}  // namespace SerialSettings
