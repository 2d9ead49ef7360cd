#pragma once
// Text inside a device answer. The JSON reader checks the raw bytes of an
// answer, but not what its escapes stand for: "\uDC00" (a low surrogate
// with no high one before it) comes out as three bytes that are not UTF-8.
// Every reader of answers refuses such text as it refuses any other answer
// that is not JSON, so no table, log or saved file ever holds it.
#include <cstddef>
#include <string_view>

#include "util/SafeText.h"

namespace kv::device {

// Whether s[0, n) is well-formed UTF-8 (see kv::IsUtf8).
inline bool IsUtf8Text(const char* s, std::size_t n) { return IsUtf8(std::string_view(s, n)); }

}  // namespace kv::device
