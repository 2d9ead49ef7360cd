#pragma once
// Text that came from outside (device answers, file names, producers' files)
// on its way into a log line or a file that others read: one line, no
// control characters, bounded length.
#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// One log line: CR, LF and TAB written as \r, \n, \t, every other control
// character (and DEL) as \xNN, a backslash doubled; cut to `maxBytes` on a
// character boundary with "..." when longer.
std::string LogSafe(std::string_view text, std::size_t maxBytes = 2000);

// A value for a line of a result file: control characters (CR and LF among
// them) become blanks, so every value stays on its own line and no NUL or
// escape sequence from a device reaches a producer.
std::string LineSafe(std::string_view text);

// Whether the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF. NUL bytes are characters like any other.
bool IsUtf8(std::string_view text);

// The first `n` characters of UTF-8 text (a character is a lead byte and its
// continuation bytes).
std::string FirstChars(std::string_view text, std::size_t n);

}  // namespace kv
