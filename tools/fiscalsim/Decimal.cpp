#include "Decimal.h"

#include <cstdlib>

namespace kv::sim {

namespace {

using i128 = __int128;

i128 roundedDiv(i128 num, i128 den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const i128 half = den / 2;
    return num >= 0 ? (num + half) / den : -((-num + half) / den);
}

}  // namespace

std::optional<Raw> parseDecimal(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    i128 intPart = 0;
    int intDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (++intDigits > 15) return std::nullopt;
        intPart = intPart * 10 + (text[i] - '0');
        ++i;
    }
    i128 frac = 0;  // first five decimals, the fifth only for rounding
    int fracDigits = 0;
    bool anyFrac = false;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            anyFrac = true;
            if (fracDigits < 5) {
                frac = frac * 10 + (text[i] - '0');
                ++fracDigits;
            }
            ++i;
        }
    }
    if (i != text.size() || (intDigits == 0 && !anyFrac)) return std::nullopt;
    while (fracDigits < 5) {
        frac *= 10;
        ++fracDigits;
    }
    i128 value = intPart * kScale + (frac + 5) / 10;
    return static_cast<Raw>(negative ? -value : value);
}

std::string formatDecimal(Raw value, int minDecimals, int maxDecimals, char sep) {
    static constexpr Raw kPow[] = {10000, 1000, 100, 10, 1};
    const Raw unit = kPow[maxDecimals];  // raw units per last shown digit
    const i128 rounded = roundedDiv(value, unit);
    const bool negative = rounded < 0;
    i128 mag = negative ? -rounded : rounded;
    i128 denom = 1;
    for (int k = 0; k < maxDecimals; ++k) denom *= 10;
    std::string intText = std::to_string(static_cast<long long>(mag / denom));
    i128 frac = mag % denom;
    std::string fracText(static_cast<std::size_t>(maxDecimals), '0');
    for (int k = maxDecimals - 1; k >= 0; --k) {
        fracText[static_cast<std::size_t>(k)] = static_cast<char>('0' + static_cast<int>(frac % 10));
        frac /= 10;
    }
    while (static_cast<int>(fracText.size()) > minDecimals && !fracText.empty() && fracText.back() == '0')
        fracText.pop_back();
    std::string out = negative ? "-" : "";
    out += intText;
    if (!fracText.empty()) {
        out += sep;
        out += fracText;
    }
    return out;
}

Raw mulDiv(Raw a, Raw b, Raw c) {
    return static_cast<Raw>(roundedDiv(static_cast<i128>(a) * b, c));
}

}  // namespace kv::sim
