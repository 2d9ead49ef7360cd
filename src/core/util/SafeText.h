#pragma once
// Text that came from outside (device answers, file names, producers' files)
// on its way into a log line or a file that others read: one line, no
// control characters, bounded length.
#include <cstddef>
#include <string>
#include <string_view>

#include "util/Utf8.h"  // IsUtf8, FirstChars and the other character helpers

namespace kv {

// One log line: CR, LF and TAB written as \r, \n, \t, every other control
// character (and DEL) as \xNN, a backslash doubled; when longer than
// `maxBytes`, the whole characters that fit and "...".
std::string LogSafe(std::string_view text, std::size_t maxBytes = 2000);

// A value for a line of a result file: control characters (CR and LF among
// them) become blanks, so every value stays on its own line and no NUL or
// escape sequence from a device reaches a producer.
std::string LineSafe(std::string_view text);

}  // namespace kv
