#include "serial/SerialSettings.h"

#include <QStringList>

namespace SerialSettings {

namespace {

bool isAsciiDigits(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

std::optional<qint32> parseBaud(const QString& field) {
    if (!isAsciiDigits(field)) return std::nullopt;
    // Skip leading zeros so that a long run of them cannot overflow.
    qsizetype first = 0;
    while (first < field.size() - 1 && field.at(first) == QLatin1Char('0')) ++first;
    const QString digits = field.mid(first);
    if (digits.size() > 7) return std::nullopt;  // kMaxBaud has 7 digits
    qint64 value = 0;
    for (QChar c : digits) value = value * 10 + (c.unicode() - '0');
    if (value < 1 || value > kMaxBaud) return std::nullopt;
    return qint32(value);
}

std::optional<char> parseParity(const QString& field) {
    if (field.size() != 1) return std::nullopt;
    const char16_t c = field.at(0).unicode();
    switch (c) {
        case u'n':
        case u'N':
            return 'n';
        case u'e':
        case u'E':
            return 'e';
        case u'o':
        case u'O':
            return 'o';
        case u'm':
        case u'M':
            return 'm';
        case u's':
        case u'S':
            return 's';
        default:
            return std::nullopt;
    }
}

std::optional<int> parseDataBits(const QString& field) {
    if (field.size() != 1) return std::nullopt;
    const char16_t c = field.at(0).unicode();
    if (c < u'5' || c > u'8') return std::nullopt;
    return int(c - u'0');
}

std::optional<StopBits> parseStopBits(const QString& field) {
    if (field == QLatin1String("1")) return StopBits::One;
    if (field == QLatin1String("1.5")) return StopBits::OneAndHalf;
    if (field == QLatin1String("2")) return StopBits::Two;
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> parse(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4) return std::nullopt;
    const auto baud = parseBaud(fields.at(0).trimmed());
    const auto parity = parseParity(fields.at(1).trimmed());
    const auto dataBits = parseDataBits(fields.at(2).trimmed());
    const auto stopBits = parseStopBits(fields.at(3).trimmed());
    if (!baud || !parity || !dataBits || !stopBits) return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

QString format(const LineSettings& settings) {
    QString stop;
    switch (settings.stopBits) {
        case StopBits::One:
            stop = QStringLiteral("1");
            break;
        case StopBits::OneAndHalf:
            stop = QStringLiteral("1.5");
            break;
        case StopBits::Two:
            stop = QStringLiteral("2");
            break;
    }
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baud)
        .arg(QLatin1Char(settings.parity))
        .arg(settings.dataBits)
        .arg(stop);
}

}  // namespace SerialSettings
