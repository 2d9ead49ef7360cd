#pragma once
// Text inside a device answer. The JSON reader checks the raw bytes of an
// answer, but not what its escapes stand for: "\uDC00" (a low surrogate
// with no high one before it) comes out as three bytes that are not UTF-8.
// Every reader of answers refuses such text as it refuses any other answer
// that is not JSON, so no table, log or saved file ever holds it.
#include <cstddef>

namespace kv::device {

// Whether s[0, n) is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF). NUL bytes are characters like any other.
inline bool IsUtf8Text(const char* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i < len) return false;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b1 < lo || b1 > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

}  // namespace kv::device
