#pragma once
// UTF-8 text by characters. A character is one well-formed sequence: no
// overlong forms, no surrogates, nothing past U+10FFFF. In bytes that are not
// UTF-8, each byte that starts no well-formed sequence counts as a character of
// its own, so a stray byte is never glued to the character before or after it.
// Cuts fall only between characters: a cut of UTF-8 text is UTF-8 text, and a
// cut never breaks a character that was whole.
#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// Bytes of the well-formed sequence at the start of `text`; 0 when there is
// none (empty text, a stray byte, an unfinished or overlong sequence).
std::size_t Utf8SequenceLength(std::string_view text);

// Whether the bytes are well-formed UTF-8. NUL bytes are characters like any other.
bool IsUtf8(std::string_view text);

// The code point returned by NextChar for a byte that starts no well-formed sequence.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// The character at `pos` (which must be inside `text`), and `pos` moved past it;
// kNotUtf8 and one byte on for a stray byte.
char32_t NextChar(std::string_view text, std::size_t& pos);

// How many characters the text has.
std::size_t Utf8Length(std::string_view text);

// The first `n` characters of the text (all of it when it has no more).
std::string FirstChars(std::string_view text, std::size_t n);

// The longest start of the text that is at most `maxBytes` long and ends
// between two characters.
std::string CutToBytes(std::string_view text, std::size_t maxBytes);

}  // namespace kv
