#pragma once
// SHA-256 of some bytes as 64 lower-case hex digits (libsodium): how Kovira
// recognises a sale or an input file it has seen before.
#include <string>
#include <string_view>

namespace kv {

std::string Sha256Hex(std::string_view bytes);

}  // namespace kv
