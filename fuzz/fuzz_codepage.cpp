// The line's code page: bytes arriving from the board and text going to it.
#include "fuzz/FuzzSupport.h"
#include "serial/CodePage.h"

#include <QList>

namespace {
// Received bytes: one character each, and every byte comes back unchanged.
void CheckBytes(const QByteArray& bytes) {
    const QString text = CodePage::FromAnsi(bytes);
    FUZZ_REQUIRE(text.size() == bytes.size());
    FUZZ_REQUIRE(CodePage::ToAnsi(text) == bytes);
    FUZZ_REQUIRE(CodePage::FromAnsi(CodePage::ToAnsi(text)) == text);
    FUZZ_REQUIRE(CodePage::FirstCharCode(text) == (bytes.isEmpty() ? 0 : quint8(bytes[0])));
}

// Text to send: one byte per character (a surrogate pair is one character, a
// lone surrogate too), and the first byte is the lamps' code.
void CheckText(const QString& text) {
    const QByteArray bytes = CodePage::ToAnsi(text);
    FUZZ_REQUIRE(bytes.size() == text.toUcs4().size());
    const int code = CodePage::FirstCharCode(text);
    FUZZ_REQUIRE(code == (text.isEmpty() ? 0 : quint8(bytes[0])));
    CheckBytes(bytes);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    CheckText(FuzzSupport::AsUtf8(data, size));
    CheckText(FuzzSupport::AsUtf16(data, size));
    return 0;
}
