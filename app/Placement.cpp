#include "app/Placement.h"

#include <QRegularExpression>

#include <cmath>

std::optional<float> Placement::parseNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    if (!number.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // toDouble refuses out-of-range exponents; a double beyond the single
    // range would become infinite as a single.
    if (!ok || !std::isfinite(value) || std::fabs(value) > 3.4028234663852886e38)
        return std::nullopt;
    return float(value);
}

QString Placement::formatNumber(double twips) {
    return QString::number(std::llround(twips));
}
