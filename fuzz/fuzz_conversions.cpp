// The localisation pass's whole-number and leading-number conversions: any
// text a numbered string or a control's Tag may hold.
#include "app/Conversions.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace {
using Number = std::optional<qint16>;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// C's strtod reads the same grammar as the conversions when a text holds
// only blanks, signs, digits, points and exponent letters. With at most 14
// digits after the first non-zero one, its double stays far enough from any
// half that rounding it agrees with rounding the decimal as written.
std::optional<QByteArray> comparableWithC(const QString& text) {
    int significant = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool digit = u >= u'0' && u <= u'9';
        if (!digit && !QStringView(u" \t+-.eE").contains(c)) return std::nullopt;
        if (digit && (significant > 0 || u != u'0')) ++significant;
    }
    if (significant > 14) return std::nullopt;
    return text.toLatin1();
}

Number roundedByC(double value) {
    const double whole = std::nearbyint(value);  // ties to even
    if (!(whole >= std::numeric_limits<qint16>::min() &&
          whole <= std::numeric_limits<qint16>::max()))
        return std::nullopt;
    return qint16(whole);
}

void compareWithC(const QString& text, Number whole, Number leading) {
    const auto ascii = comparableWithC(text);
    if (!ascii) return;
    const char* start = ascii->constData();
    while (isBlank(*start)) ++start;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) {  // no number at the start
        FUZZ_REQUIRE(!whole);
        FUZZ_REQUIRE(leading == Number(0));
        return;
    }
    FUZZ_REQUIRE(leading == roundedByC(value));
    while (isBlank(*end)) ++end;
    const bool onlyTheNumber = end == ascii->constData() + ascii->size();
    FUZZ_REQUIRE(whole == (onlyTheNumber ? roundedByC(value) : std::nullopt));
}

void check(const QString& text) {
    const Number whole = parseWholeNumber(text);
    const Number leading = parseLeadingNumber(text);
    // A text that is one number begins with that number.
    if (whole) FUZZ_REQUIRE(leading == whole);
    compareWithC(text, whole, leading);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(FuzzSupport::asUtf8(data, size));
    check(FuzzSupport::asUtf16(data, size));
    return 0;
}
