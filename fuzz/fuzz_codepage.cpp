// The line's code page: bytes arriving from the board and text going to it.
#include "fuzz/FuzzSupport.h"
#include "serial/CodePage.h"

#include <QList>

namespace {
// Received bytes: one character each, and every byte comes back unchanged.
void checkBytes(const QByteArray& bytes) {
    const QString text = CodePage::fromAnsi(bytes);
    FUZZ_REQUIRE(text.size() == bytes.size());
    FUZZ_REQUIRE(CodePage::toAnsi(text) == bytes);
    FUZZ_REQUIRE(CodePage::fromAnsi(CodePage::toAnsi(text)) == text);
    FUZZ_REQUIRE(CodePage::firstCharCode(text) == (bytes.isEmpty() ? 0 : quint8(bytes[0])));
}

// Text to send: one byte per character (a surrogate pair is one character, a
// lone surrogate too), and the first byte is the lamps' code.
void checkText(const QString& text) {
    const QByteArray bytes = CodePage::toAnsi(text);
    FUZZ_REQUIRE(bytes.size() == text.toUcs4().size());
    const int code = CodePage::firstCharCode(text);
    FUZZ_REQUIRE(code == (text.isEmpty() ? 0 : quint8(bytes[0])));
    checkBytes(bytes);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    checkText(FuzzSupport::asUtf8(data, size));
    checkText(FuzzSupport::asUtf16(data, size));
    return 0;
}
