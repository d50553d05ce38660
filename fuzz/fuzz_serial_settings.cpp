// The serial component's settings string, as a caller may set it.
#include "fuzz/FuzzSupport.h"
#include "serial/SerialSettings.h"

namespace {
using SerialSettings::LineSettings;

void requireValid(const LineSettings& s) {
    FUZZ_REQUIRE(s.baud >= 1 && s.baud <= SerialSettings::kMaxBaud);
    FUZZ_REQUIRE(QByteArrayView("neoms").contains(s.parity));
    FUZZ_REQUIRE(s.dataBits >= 5 && s.dataBits <= 8);
}

// The canonical form reads back as the same settings and is its own
// canonical form.
void requireRoundTrip(const LineSettings& s) {
    const QString text = SerialSettings::format(s);
    FUZZ_REQUIRE(!text.contains(u' '));
    const auto back = SerialSettings::parse(text);
    FUZZ_REQUIRE(back && *back == s);
    FUZZ_REQUIRE(SerialSettings::format(*back) == text);
}

void checkText(const QString& text) {
    const auto parsed = SerialSettings::parse(text);
    if (!parsed) return;
    requireValid(*parsed);
    requireRoundTrip(*parsed);
}

// Any valid settings, picked by the first bytes.
LineSettings settingsFrom(const uint8_t* data, size_t size) {
    uint8_t b[7] = {};
    for (size_t i = 0; i < sizeof b && i < size; ++i) b[i] = data[i];
    const quint32 raw =
        quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
    LineSettings s;
    s.baud = qint32(raw % quint32(SerialSettings::kMaxBaud)) + 1;
    s.parity = "neoms"[b[4] % 5];
    s.dataBits = 5 + b[5] % 4;
    s.stopBits = SerialSettings::StopBits(b[6] % 3);
    return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkText(FuzzSupport::asUtf8(data, size));
    checkText(FuzzSupport::asUtf16(data, size));
    requireRoundTrip(settingsFrom(data, size));
    return 0;
}
