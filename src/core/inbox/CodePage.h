#pragma once
// Text of the files exchanged with other programs is in a single-byte code
// page (windows-1250 unless configured); inside Kovira all text is UTF-8.
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace kv::inbox {

// A code page name that the system's converter does not know.
class CodePageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `bytes` in `codePage` as UTF-8. Bytes that have no meaning in the code page
// (or broken sequences of a multi-byte one) become U+FFFD, so a stray byte
// never stops a file from being read. "UTF-8" keeps valid text as it is and
// replaces invalid sequences the same way. Throws CodePageError.
std::string DecodeText(std::string_view bytes, const std::string& codePage = platform::FileCodePage());

// UTF-8 text in `codePage`. A character the code page does not have (or a
// broken UTF-8 sequence) is written as "?". Throws CodePageError.
std::string EncodeText(std::string_view utf8, const std::string& codePage = platform::FileCodePage());

}  // namespace kv::inbox
