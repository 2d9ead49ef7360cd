#include "util/SafeText.h"

#include <algorithm>

namespace kv {

namespace {
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
}  // namespace

std::string LogSafe(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes) + 8);
    static const char* hex = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= maxBytes) {
            // Never stop inside a multi-byte character.
            while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
            if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0x80)) out.pop_back();
            out += "...";
            return out;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (IsControl(c)) {
                    out += "\\x";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string LineSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    return out;
}

bool IsUtf8(std::string_view text) {
    const char* s = text.data();
    const std::size_t n = text.size();
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

std::string FirstChars(std::string_view text, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == n) return std::string(text.substr(0, i));
            ++count;
        }
    }
    return std::string(text);
}

}  // namespace kv
