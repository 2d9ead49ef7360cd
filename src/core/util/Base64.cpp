#include "util/Base64.h"

#include <array>
#include <cstdint>

namespace kv {

namespace {
constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a Base64 character, -1 for anything else.
constexpr std::array<int8_t, 256> MakeBase64Table()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kBase64 = MakeBase64Table();

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string Base64Encode(std::string_view in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += {kB64[v >> 18], kB64[(v >> 12) & 63], kB64[(v >> 6) & 63], kB64[v & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += {kB64[v >> 18], kB64[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
        out += {kB64[v >> 18], kB64[(v >> 12) & 63], kB64[(v >> 6) & 63], '='};
    }
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t bits = 0;
    int sextets = 0;   // in the current group of four
    int padding = 0;
    for (char c : text) {
        if (IsBlank(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = kBase64[static_cast<unsigned char>(c)];
        if (v < 0 || padding > 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++sextets == 4) {
            out.push_back(static_cast<char>(bits >> 16));
            out.push_back(static_cast<char>(bits >> 8));
            out.push_back(static_cast<char>(bits));
            bits = 0;
            sextets = 0;
        }
    }
    // A last group of one character carries less than a byte.
    if (sextets == 1 || padding > 2 || (padding > 0 && sextets + padding != 4))
        return std::nullopt;
    if (sextets == 2) {
        out.push_back(static_cast<char>(bits >> 4));
    } else if (sextets == 3) {
        out.push_back(static_cast<char>(bits >> 10));
        out.push_back(static_cast<char>(bits >> 2));
    }
    return out;
}

}  // namespace kv
