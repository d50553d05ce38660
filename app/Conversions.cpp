#include "app/Conversions.h"

#include <algorithm>
#include <limits>
#include <string>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

qsizetype skipBlanks(QStringView text, qsizetype at) {
    while (at < text.size() && isBlank(text[at])) ++at;
    return at;
}

// A number as written: value = digits × 10^exponent, digits without leading
// zeros (empty for zero).
struct Decimal {
    bool negative = false;
    std::string digits;
    qint64 exponent = 0;
};

struct Scanned {
    Decimal value;
    qsizetype end;  // just past the number
};

// Any exponent beyond this is out of range anyway; capping it keeps the sums
// below far from overflow whatever the text holds.
constexpr qint64 kExponentCap = qint64(1) << 40;

// The number starting exactly at `at`, if one does.
std::optional<Scanned> scanNumber(QStringView text, qsizetype at) {
    Decimal d;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        d.negative = text[at] == u'-';
        ++at;
    }
    bool anyDigit = false;
    qint64 fractionDigits = 0;
    for (bool fraction = false; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == u'.' && !fraction) {
            fraction = true;
            continue;
        }
        if (!isDigit(c)) break;
        anyDigit = true;
        if (fraction) ++fractionDigits;
        // Leading zeros are dropped; after the point they still count in
        // fractionDigits, so the value stays digits × 10^-fractionDigits.
        if (!d.digits.empty() || c != u'0') d.digits.push_back(char(c.unicode()));
    }
    if (!anyDigit) return std::nullopt;

    qint64 exponent = 0;
    if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
        qsizetype e = at + 1;
        bool negativeExponent = false;
        if (e < text.size() && (text[e] == u'+' || text[e] == u'-')) {
            negativeExponent = text[e] == u'-';
            ++e;
        }
        if (e < text.size() && isDigit(text[e])) {
            for (; e < text.size() && isDigit(text[e]); ++e)
                exponent = std::min(kExponentCap, exponent * 10 + (text[e].unicode() - u'0'));
            if (negativeExponent) exponent = -exponent;
            at = e;
        }
    }
    d.exponent = exponent - fractionDigits;
    return Scanned{std::move(d), at};
}

// The nearest whole number, a half going to the even neighbour, if it fits.
std::optional<qint16> roundHalfEven(const Decimal& d) {
    if (d.digits.empty()) return qint16(0);
    const qint64 count = qint64(d.digits.size());
    const qint64 wholeDigits = count + d.exponent;
    if (wholeDigits > 5) return std::nullopt;  // at least 100000

    qint32 whole = 0;
    for (qint64 i = 0; i < wholeDigits; ++i)
        whole = whole * 10 + (i < count ? d.digits[i] - '0' : 0);

    // The fraction's first digit and whether any after it is non-zero. When
    // the value is below 0.1 the first fraction digit is an implied 0.
    bool roundUp = false;
    if (wholeDigits >= 0 && wholeDigits < count) {
        const char first = d.digits[std::size_t(wholeDigits)];
        const bool moreAfter =
            d.digits.find_first_not_of('0', std::size_t(wholeDigits) + 1) != std::string::npos;
        roundUp = first > '5' || (first == '5' && (moreAfter || whole % 2 == 1));
    }
    const qint32 value = (whole + (roundUp ? 1 : 0)) * (d.negative ? -1 : 1);
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return qint16(value);
}

}  // namespace

std::optional<qint16> parseWholeNumber(QStringView text) {
    const auto scanned = scanNumber(text, skipBlanks(text, 0));
    if (!scanned || skipBlanks(text, scanned->end) != text.size()) return std::nullopt;
    return roundHalfEven(scanned->value);
}

std::optional<qint16> parseLeadingNumber(QStringView text) {
    const auto scanned = scanNumber(text, skipBlanks(text, 0));
    if (!scanned) return qint16(0);
    return roundHalfEven(scanned->value);
}
