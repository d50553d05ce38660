// The stored placement numbers: whatever text the settings file holds.
#include "app/Placement.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdlib>

namespace {
void check(const QString& text) {
    const auto value = Placement::parseNumber(text);
    if (!value) return;
    FUZZ_REQUIRE(std::isfinite(*value));

    // An accepted text is a plain decimal number: C reads all of it (blanks
    // around aside) as the same value.
    const QByteArray plain = text.trimmed().toLatin1();
    char* end = nullptr;
    const double c = std::strtod(plain.constData(), &end);
    FUZZ_REQUIRE(end == plain.constData() + plain.size());
    FUZZ_REQUIRE(float(c) == *value);

    // What the window writes back is read again as the nearest whole number.
    if (std::fabs(*value) < 1e15f) {
        const auto back = Placement::parseNumber(Placement::formatNumber(double(*value)));
        FUZZ_REQUIRE(back && std::fabs(double(*back) - double(*value)) <= 0.5);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(FuzzSupport::asUtf8(data, size));
    check(FuzzSupport::asUtf16(data, size));
    return 0;
}
