#pragma once
// Base64 (RFC 4648, standard alphabet) for the saved datasets' byte fields
// and the device's receipt pictures.
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// With "=" padding.
std::string Base64Encode(std::string_view bytes);

// Blanks and line breaks between characters are skipped; padding is
// optional. nullopt for any other character, a character after the padding,
// or a last group of one character.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace kv
