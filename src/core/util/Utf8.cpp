#include "util/Utf8.h"

namespace kv {

namespace {
// Bytes of the character at the start of non-empty `text`: a stray byte is one.
std::size_t CharBytes(std::string_view text) {
    const std::size_t n = Utf8SequenceLength(text);
    return n == 0 ? 1 : n;
}
}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < len || b(1) < lo || b(1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    return len;
}

bool IsUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = Utf8SequenceLength(text);
        if (n == 0) return false;
        text.remove_prefix(n);
    }
    return true;
}

char32_t NextChar(std::string_view text, std::size_t& pos) {
    const std::size_t n = Utf8SequenceLength(text.substr(pos));
    if (n == 0) {
        ++pos;
        return kNotUtf8;
    }
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(text[pos]) & kLeadBits[n];
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(text[pos + k]) & 0x3F);
    pos += n;
    return c;
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); i += CharBytes(text.substr(i))) ++count;
    return count;
}

std::string FirstChars(std::string_view text, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t count = 0; i < text.size() && count < n; ++count) i += CharBytes(text.substr(i));
    return std::string(text.substr(0, i));
}

std::string CutToBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t i = 0;
    for (std::size_t next; (next = i + CharBytes(text.substr(i))) <= maxBytes;) i = next;
    return std::string(text.substr(0, i));
}

}  // namespace kv
