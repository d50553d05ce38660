#include "serial/CodePage.h"

#include <array>

namespace {

// Windows-1252, byte value -> UTF-16 code unit. 0x00..0x7F and 0xA0..0xFF are
// the same as ISO 8859-1; 0x80..0x9F carry the typographic characters. The
// five bytes the code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// map to the C1 control of the same value, so every byte round-trips.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

constexpr std::array<char16_t, 256> makeTable() {
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[std::size_t(b)] =
            (b >= 0x80 && b <= 0x9F) ? kHighControls[std::size_t(b - 0x80)] : char16_t(b);
    return table;
}

constexpr std::array<char16_t, 256> kToUnicode = makeTable();

constexpr char kReplacement = '?';

// The byte for one Unicode code point, or the replacement when the code page
// has none.
char byteFor(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return char(codePoint);
    for (int b = 0x80; b <= 0x9F; ++b)
        if (kToUnicode[std::size_t(b)] == codePoint) return char(b);
    return kReplacement;
}

// The code point starting at index i (a surrogate pair counts as one
// character; a lone surrogate is a character of its own), and its length.
char32_t codePointAt(const QString& text, qsizetype i, qsizetype* length) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    }
    *length = 1;
    return c.unicode();
}

}  // namespace

namespace CodePage {

QByteArray toAnsi(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        qsizetype length = 1;
        const char32_t cp = codePointAt(text, i, &length);
        bytes.append(byteFor(cp));
        i += length;
    }
    return bytes;
}

QString fromAnsi(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(kToUnicode[std::size_t(quint8(bytes.at(i)))]);
    return text;
}

int firstCharCode(const QString& text) {
    if (text.isEmpty()) return 0;
    qsizetype length = 1;
    return quint8(byteFor(codePointAt(text, 0, &length)));
}

}  // namespace CodePage
