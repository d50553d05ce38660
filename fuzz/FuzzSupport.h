#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Outside text reaches the parsers as UTF-8 (a settings file, a typed text)
// or as any sequence of UTF-16 code units, lone surrogates included; every
// target reads the fuzzer's bytes both ways.
namespace FuzzSupport {
inline QString asUtf8(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QString asUtf16(const uint8_t* data, size_t size) {
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    if (!text.isEmpty()) std::memcpy(text.data(), data, size_t(text.size()) * sizeof(QChar));
    return text;
}

// A broken property is a finding like a crash: abort, so libFuzzer keeps the
// input.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
    std::abort();
}
}  // namespace FuzzSupport

#define FUZZ_REQUIRE(condition) \
    ((condition) ? void() : FuzzSupport::fail(#condition, __FILE__, __LINE__))
