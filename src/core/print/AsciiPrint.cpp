#include "print/AsciiPrint.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "inbox/CodePage.h"
#include "util/Utf8.h"

namespace kv::print {

Konverzija ParseKonverzija(std::string_view stored) {
    while (!stored.empty() && stored.front() == ' ') stored.remove_prefix(1);
    while (!stored.empty() && stored.back() == ' ') stored.remove_suffix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(stored.data(), stored.data() + stored.size(), value);
    if (ec != std::errc() || end != stored.data() + stored.size() || value < kBezKonverzije || value > kKonvASCII)
        return kBezKonverzije;
    return static_cast<Konverzija>(value);
}

namespace {

std::u32string Chars(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) out.push_back(NextChar(utf8, i));
    return out;
}

// Pairs the characters of two equally long letter rows.
std::unordered_map<char32_t, char32_t> Zip(std::initializer_list<std::pair<const char*, const char*>> rows) {
    std::unordered_map<char32_t, char32_t> map;
    for (const auto& [from, to] : rows) {
        const std::u32string f = Chars(from), t = Chars(to);
        if (f.size() != t.size()) throw std::logic_error(std::string("Letter rows of unequal length: ") + from);
        for (std::size_t k = 0; k < f.size(); ++k) map.emplace(f[k], t[k]);
    }
    return map;
}

// Conversions 1 and 2: Latin letters become the Cyrillic letter of the same
// sound (Q, W, X, Y have none and stay as they are).
const std::unordered_map<char32_t, char32_t>& LatinToCyrillic() {
    static const auto map = Zip({
        {"ABCČĆDĐEFGHIJKLMNOPRSŠTUVZŽ", "АБЦЧЋДЂЕФГХИЈКЛМНОПРСШТУВЗЖ"},
        {"abcčćdđefghijklmnoprsštuvzž", "абцчћдђефгхијклмнопрсштувзж"},
    });
    return map;
}

// The Serbian Cyrillic letters, Џ/џ excepted, in code page 855.
const std::unordered_map<char32_t, uint8_t>& Cp855() {
    static const auto map = [] {
        std::unordered_map<char32_t, uint8_t> m;
        for (const char* row : {"АБВГДЂЕЖЗИЈКЛЉМНЊОПРСТЋУФХЦЧШ", "абвгдђежзијклљмнњопрстћуфхцчш"}) {
            const std::string letters(row);
            const std::u32string cps = Chars(letters);
            const std::string bytes = inbox::EncodeText(letters, "CP855");
            if (bytes.size() != cps.size()) throw std::logic_error("Code page 855 is not single-byte here");
            for (std::size_t k = 0; k < cps.size(); ++k)
                m.emplace(cps[k], static_cast<uint8_t>(bytes[k]));
        }
        return m;
    }();
    return map;
}

// Conversions 3 and 4, first step: Cyrillic letters to single Latin letters
// (Ђ and Џ have no single-letter form and are left alone).
const std::unordered_map<char32_t, char32_t>& CyrillicToLatin() {
    static const auto map = Zip({
        {"АБВГДЕЖЗИЈКЛЉМНЊОПРСТЋУФХЦЧШ", "ABVGDEŽZIJKLLMNNOPRSTĆUFHCČŠ"},
        {"абвгдежзијклљмнњопрстћуфхцчш", "abvgdežzijkllmnnoprstćufhcčš"},
    });
    return map;
}

// Second step: the letters with diacritics in 7-bit national ASCII
// (conversion 3) or without their marks (conversion 4).
const std::unordered_map<char32_t, std::pair<uint8_t, uint8_t>>& Diacritics() {
    static const auto map = [] {
        std::unordered_map<char32_t, std::pair<uint8_t, uint8_t>> m;
        const std::u32string letters = Chars("ČčĆćŠšŽžĐđ");
        const std::string yuscii = "\x5E\x7E\x5D\x7D\x5B\x7B\x40\x60\x5C\x7C";
        const std::string ascii = "CcCcSsZzDd";
        for (std::size_t k = 0; k < letters.size(); ++k)
            m.emplace(letters[k], std::pair<uint8_t, uint8_t>(yuscii[k], ascii[k]));
        return m;
    }();
    return map;
}

// Bytes 0x80..0xFF of a single-byte code page, keyed by the character each
// stands for. Built once per code page.
const std::unordered_map<char32_t, uint8_t>& AnsiUpperHalf(const std::string& codePage) {
    static std::mutex mutex;
    static std::map<std::string, std::unordered_map<char32_t, uint8_t>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(codePage);
    if (it != cache.end()) return it->second;
    std::unordered_map<char32_t, uint8_t> m;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string ch = inbox::DecodeText(std::string(1, static_cast<char>(b)), codePage);
        const std::u32string cps = Chars(ch);
        if (cps.size() == 1 && cps[0] != 0xFFFD && cps[0] != kNotUtf8) m.emplace(cps[0], static_cast<uint8_t>(b));
    }
    return cache.emplace(codePage, std::move(m)).first->second;
}

uint8_t AnsiByte(char32_t c, const std::unordered_map<char32_t, uint8_t>& upper) {
    if (c < 0x80) return static_cast<uint8_t>(c);
    auto it = upper.find(c);
    return it != upper.end() ? it->second : '?';
}

bool IsSpace(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// One number of an escape sequence, as the low byte of its 32-bit value.
uint8_t ParseCode(std::string_view piece) {
    const std::string_view text = Trim(piece);
    const auto fail = [&]() -> uint8_t {
        throw EscapeSequenceError("'" + std::string(text) + "' is not a valid integer value");
    };
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int64_t value = 0;
    if (!s.empty() && s.front() == '$') {
        s.remove_prefix(1);
        if (s.empty() || s.size() > 8) return fail();
        for (char c : s) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return fail();
            value = value * 16 + d;
        }
    } else {
        if (s.empty()) return fail();
        for (char c : s) {
            if (c < '0' || c > '9') return fail();
            value = value * 10 + (c - '0');
            if (value > 2147483648LL) return fail();  // beyond a 32-bit integer
        }
        if (!negative && value > 2147483647LL) return fail();
    }
    if (negative) value = -value;
    return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
}

}  // namespace

std::string KonvKod(std::string_view Ulaz) {
    std::string_view text = Trim(Ulaz);
    std::string reversed;
    // Read from the back, as each number runs up to the next "#".
    for (std::size_t hash = text.rfind('#'); hash != std::string_view::npos; hash = text.rfind('#')) {
        reversed.push_back(static_cast<char>(ParseCode(text.substr(hash + 1))));
        text = text.substr(0, hash);
    }
    return std::string(reversed.rbegin(), reversed.rend());
}

std::string ConvertForPrinter(std::string_view Red, int Konv, const std::string& ansiCodePage) {
    const auto& upper = AnsiUpperHalf(ansiCodePage);
    std::string out;
    out.reserve(Red.size());
    for (std::size_t i = 0; i < Red.size();) {
        const char32_t c = NextChar(Red, i);
        uint8_t byte = AnsiByte(c, upper);
        if (Konv == kKonvCP852 || Konv == kKonvCP855) {
            char32_t cyr = c;
            if (auto l = LatinToCyrillic().find(c); l != LatinToCyrillic().end()) cyr = l->second;
            if (auto b = Cp855().find(cyr); b != Cp855().end()) byte = b->second;
        } else if (Konv == kKonvYUSCII || Konv == kKonvASCII) {
            char32_t lat = c;
            if (auto l = CyrillicToLatin().find(c); l != CyrillicToLatin().end()) {
                lat = l->second;
                byte = AnsiByte(lat, upper);  // a plain Latin letter; marked ones follow below
            }
            if (auto d = Diacritics().find(lat); d != Diacritics().end())
                byte = Konv == kKonvYUSCII ? d->second.first : d->second.second;
        }
        out.push_back(static_cast<char>(byte));
    }
    return out;
}

std::vector<std::string> TextPrintBlocks(std::string_view Red, int Konv, bool NewLine,
                                         const std::string& ansiCodePage) {
    const std::string bytes = ConvertForPrinter(Red, Konv, ansiCodePage);
    std::vector<std::string> blocks;
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min(kMaxBlockText, bytes.size() - pos);
        std::string block = bytes.substr(pos, n);
        block.push_back('\0');
        pos += n;
        if (pos == bytes.size() && NewLine) block.push_back('\n');
        blocks.push_back(std::move(block));
    } while (pos < bytes.size());
    return blocks;
}

std::string TextPrint(std::string_view Red, int Konv, bool NewLine, const std::string& ansiCodePage) {
    std::string out;
    for (const std::string& block : TextPrintBlocks(Red, Konv, NewLine, ansiCodePage)) out += block;
    return out;
}

std::string CommandBlock(std::string_view bytes) {
    if (bytes.size() > kMaxBlockBytes - 1)
        throw std::length_error("A printer command of " + std::to_string(bytes.size()) +
                                " bytes does not fit one block of " + std::to_string(kMaxBlockBytes) + " bytes");
    std::string block(bytes);
    block.push_back('\0');
    return block;
}

}  // namespace kv::print
