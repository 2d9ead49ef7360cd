#pragma once
// Fixed-point amounts inside the simulated device: an int64 holding the value
// times 10,000, the same resolution Kovira keeps money in. Amounts arrive as
// decimal text and leave as decimal text; no double ever holds one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::sim {

using Raw = std::int64_t;
inline constexpr Raw kScale = 10000;

// "12.5", "-3", "0,75", "1.2345": optional sign, at most 15 integer digits,
// "." or "," before the decimals. Decimals past the fourth are rounded half
// away from zero. Anything else (empty, blanks, exponent, two separators)
// gives nothing.
std::optional<Raw> parseDecimal(std::string_view text);

// The value rounded to maxDecimals (half away from zero) and written with at
// least minDecimals, trailing zeros beyond that dropped; sep is the decimal
// separator. formatDecimal(682000, 0, 4, '.') is "68.2",
// formatDecimal(682000, 2, 2, ',') is "68,20".
std::string formatDecimal(Raw value, int minDecimals, int maxDecimals, char sep);

// a * b / c rounded half away from zero, without intermediate overflow.
Raw mulDiv(Raw a, Raw b, Raw c);

}  // namespace kv::sim
