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
    for (std::size_t i = 0; i < text.size();) {
        // One character at a time, so the cut never falls inside one.
        const std::size_t start = i;
        NextChar(text, i);
        const std::string_view ch = text.substr(start, i - start);
        std::string_view piece = ch;
        char escaped[4] = {'\\', 'x', 0, 0};
        switch (const auto c = static_cast<unsigned char>(ch[0])) {
            case '\r': piece = "\\r"; break;
            case '\n': piece = "\\n"; break;
            case '\t': piece = "\\t"; break;
            case '\\': piece = "\\\\"; break;
            default:
                if (IsControl(c)) {
                    escaped[2] = hex[c >> 4];
                    escaped[3] = hex[c & 15];
                    piece = std::string_view(escaped, 4);
                }
        }
        if (out.size() + piece.size() > maxBytes) {
            out += "...";
            return out;
        }
        out += piece;
    }
    return out;
}

std::string LineSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    return out;
}

}  // namespace kv
