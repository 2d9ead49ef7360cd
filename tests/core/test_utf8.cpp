#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/Utf8.h"

namespace {

using namespace std::string_literals;

struct Case {
    const char* what;
    std::string text;
    bool valid;
    std::size_t length;    // Utf8Length
    std::size_t n;         // FirstChars(text, n) ...
    std::string first;     // ... is this
    std::size_t maxBytes;  // CutToBytes(text, maxBytes) ...
    std::string cut;       // ... is this
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"empty", "", true, 0, 3, "", 0, ""},
        {"ASCII", "abc", true, 3, 2, "ab", 2, "ab"},
        {"n = 0", "abc", true, 3, 0, "", 0, ""},
        {"past the end", "Čaj", true, 3, 10, "Čaj", 100, "Čaj"},
        {"2-byte, cut inside č", "Šćčđž", true, 5, 3, "Šćč", 5, "Šć"},
        {"2-byte, cut inside Š", "ŠšČčĆćĐđŽž", true, 10, 3, "Šš\xC4\x8C", 3, "Š"},
        {"3-byte", "€uro", true, 4, 1, "€", 2, ""},
        {"3-byte whole", "a€b", true, 3, 2, "a€", 4, "a€"},
        {"4-byte", "😀x", true, 2, 1, "😀", 3, ""},
        {"4-byte whole", "😀x", true, 2, 2, "😀x", 4, "😀"},
        {"NUL is a character", "a\0b"s, true, 3, 2, "a\0"s, 1, "a"},
        // Not UTF-8: each byte that starts no well-formed sequence is a character.
        {"stray continuation", "a\x80" "b", false, 3, 2, "a\x80", 2, "a\x80"},
        {"stray byte after a whole character", "\xC4\x8C\x8C", false, 2, 1, "\xC4\x8C", 2, "\xC4\x8C"},
        {"unfinished at the end", "abcd\xC5\xBD\xC5", false, 6, 5, "abcd\xC5\xBD", 6, "abcd\xC5\xBD"},
        {"unfinished before ASCII", "\xE2\x82" "a", false, 3, 1, "\xE2", 3, "\xE2\x82" "a"},
        {"overlong", "\xC0\xAF", false, 2, 1, "\xC0", 1, "\xC0"},
        {"surrogate", "\xED\xA0\x80", false, 3, 1, "\xED", 2, "\xED\xA0"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false, 4, 2, "\xF4\x90", 0, ""},
        {"bytes that never start a character", "\xFE\xFF", false, 2, 1, "\xFE", 1, "\xFE"},
    };
    return cases;
}

TEST(Utf8, CountsAndCutsByWholeCharacters) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(kv::IsUtf8(c.text), c.valid);
        EXPECT_EQ(kv::Utf8Length(c.text), c.length);
        EXPECT_EQ(kv::FirstChars(c.text, c.n), c.first);
        EXPECT_EQ(kv::CutToBytes(c.text, c.maxBytes), c.cut);
    }
}

// Every cut of every case, not just the one in the table: a start of the
// text, never more than asked for, never a character broken, nothing that
// fits left out.
TEST(Utf8, EveryCutIsAStartOfTheTextThatEndsBetweenCharacters) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        for (std::size_t n = 0; n <= c.length + 1; ++n) {
            const std::string first = kv::FirstChars(c.text, n);
            EXPECT_EQ(c.text.compare(0, first.size(), first), 0) << n;
            EXPECT_EQ(kv::Utf8Length(first), std::min(n, c.length)) << n;
            if (c.valid) {
                EXPECT_TRUE(kv::IsUtf8(first)) << n;
            }
        }
        for (std::size_t max = 0; max <= c.text.size() + 1; ++max) {
            const std::string cut = kv::CutToBytes(c.text, max);
            EXPECT_LE(cut.size(), max);
            EXPECT_EQ(c.text.compare(0, cut.size(), cut), 0) << max;
            // The characters of the cut are the first characters of the text.
            EXPECT_EQ(kv::FirstChars(c.text, kv::Utf8Length(cut)), cut) << max;
            // The next character would not have fitted.
            if (cut.size() < c.text.size()) {
                EXPECT_GT(kv::FirstChars(c.text, kv::Utf8Length(cut) + 1).size(), max) << max;
            }
            if (c.valid) {
                EXPECT_TRUE(kv::IsUtf8(cut)) << max;
            }
        }
    }
}

TEST(Utf8, NextCharDecodesAndStepsOverStrayBytes) {
    const std::string text = "AČ€😀\x80\xE2\x82" "b";
    std::vector<char32_t> chars;
    for (std::size_t i = 0; i < text.size();) chars.push_back(kv::NextChar(text, i));
    EXPECT_EQ(chars, (std::vector<char32_t>{U'A', 0x10C, 0x20AC, 0x1F600, kv::kNotUtf8, kv::kNotUtf8, kv::kNotUtf8,
                                             U'b'}));
}

}  // namespace
