#pragma once
// Small helpers shared by the fuzz targets.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace kv::fuzz {

// Reads option bytes off the front of the input; the rest is the document.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
    std::uint8_t byte() {
        if (rest_.empty()) return 0;
        const auto b = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

// A property of the code under test that does not hold: report and stop, so
// libFuzzer saves the input as a crash.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "property failed: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// Whether `s` is well-formed UTF-8 (no overlongs, surrogates or values past
// U+10FFFF). The oracle of the targets, so it is worked out apart from the
// core's lead-byte table (util/Utf8): each sequence is decoded and its code
// point checked, and a slip in either shows as a disagreement.
inline bool IsUtf8(std::string_view s) {
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // by sequence length
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || s.size() - i < len) return false;
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace kv::fuzz
