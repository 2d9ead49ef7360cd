#include "util/Currency.h"

#include <cmath>
#include <limits>
#include <ostream>

namespace kv {

namespace {

using i128 = __int128;

constexpr std::int64_t kPow10[] = {1,
                                   10,
                                   100,
                                   1000,
                                   10000,
                                   100000,
                                   1000000,
                                   10000000,
                                   100000000,
                                   1000000000,
                                   10000000000,
                                   100000000000,
                                   1000000000000,
                                   10000000000000,
                                   100000000000000,
                                   1000000000000000,
                                   10000000000000000,
                                   100000000000000000,
                                   1000000000000000000};

[[noreturn]] void throwOverflow() { throw std::overflow_error("Currency overflow"); }

Currency fromWide(i128 raw) {
    if (raw > std::numeric_limits<std::int64_t>::max() || raw < std::numeric_limits<std::int64_t>::min())
        throwOverflow();
    return Currency::fromRaw(static_cast<std::int64_t>(raw));
}

// num / den rounded to the nearest integer, halves away from zero.
i128 divideRounded(i128 num, i128 den) {
    i128 q = num / den;
    i128 rem = num % den;
    if (rem < 0) rem = -rem;
    i128 absDen = den < 0 ? -den : den;
    if (2 * rem >= absDen) q += ((num < 0) != (den < 0)) ? -1 : 1;
    return q;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

Currency Currency::fromDouble(double v) {
    if (!std::isfinite(v)) throwOverflow();
    // Scaling by 10,000 is exact enough here: the result is rounded to the
    // nearest raw unit anyway, and std::round rounds halves away from zero.
    long double scaled = std::round(static_cast<long double>(v) * kScale);
    // 2^63 itself is out of range; every long double below it converts exactly.
    if (scaled >= 9223372036854775808.0L || scaled < -9223372036854775808.0L) throwOverflow();
    return fromRaw(static_cast<std::int64_t>(scaled));
}

Currency operator+(Currency a, Currency b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a.raw_, b.raw_, &r)) throwOverflow();
    return Currency::fromRaw(r);
}

Currency operator-(Currency a, Currency b) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a.raw_, b.raw_, &r)) throwOverflow();
    return Currency::fromRaw(r);
}

Currency operator-(Currency a) { return Currency() - a; }

Currency operator*(Currency a, Currency b) {
    return fromWide(divideRounded(static_cast<i128>(a.raw_) * b.raw_, Currency::kScale));
}

Currency operator*(Currency a, std::int64_t k) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a.raw_, k, &r)) throwOverflow();
    return Currency::fromRaw(r);
}

Currency operator/(Currency a, Currency b) {
    if (b.raw_ == 0) throw ZeroDivideError("Currency division by zero");
    return fromWide(divideRounded(static_cast<i128>(a.raw_) * Currency::kScale, b.raw_));
}

Currency operator/(Currency a, std::int64_t k) {
    if (k == 0) throw ZeroDivideError("Currency division by zero");
    return fromWide(divideRounded(a.raw_, k));
}

Currency RoundCurr(int n, Currency value) {
    // The rounding is defined as trunc(value * M +/- 0.5) / M with the factor
    // M = 10^-n held as a currency value. On the raw integer r (value * 10^4)
    // that is: with d = 10^(n+4), r > 0 gives d * trunc((r + d/2) / d) and
    // r <= 0 gives d * trunc((r - d/2) / d). Zero takes the second branch and
    // still yields 0; the two branches make the result symmetric around 0.
    if (n >= 5) {
        // 10^-5 rounds to 0 as a currency value: the factor is zero.
        throw ZeroDivideError("Division by zero in RoundCurr: the rounding unit 10^" + std::to_string(n) +
                              " is finer than the currency resolution allows (n must be at most 4)");
    }
    if (n <= -4) return value;  // the unit is no coarser than one raw step
    const std::int64_t d = kPow10[n + 4];
    const std::int64_t half = d / 2;
    const std::int64_t r = value.raw();
    std::int64_t shifted = 0;
    std::int64_t t = 0;
    if (r > 0) {
        t = __builtin_add_overflow(r, half, &shifted) ? static_cast<std::int64_t>((static_cast<i128>(r) + half) / d)
                                                      : shifted / d;
    } else {
        t = __builtin_sub_overflow(r, half, &shifted) ? static_cast<std::int64_t>((static_cast<i128>(r) - half) / d)
                                                      : shifted / d;
    }
    std::int64_t out = 0;
    if (__builtin_mul_overflow(t, d, &out)) throwOverflow();
    return Currency::fromRaw(out);
}

std::optional<Currency> ParseCurrency(std::string_view text, char decimalSep) {
    std::string_view s = trim(text);
    if (s.empty()) return std::nullopt;

    std::size_t i = 0;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') {
        negative = s[i] == '-';
        ++i;
    }

    // Significant digits without leading zeros; value = digits * 10^scale.
    std::string digits;
    long long scale = 0;
    bool anyDigit = false;
    bool seenSep = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (seenSep) --scale;
            if (c == '0' && digits.empty()) continue;
            digits.push_back(c);
        } else if (c == decimalSep && !seenSep) {
            seenSep = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return std::nullopt;

    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            expNegative = s[i] == '-';
            ++i;
        }
        if (i >= s.size() || !isDigit(s[i])) return std::nullopt;
        long long e = 0;
        for (; i < s.size() && isDigit(s[i]); ++i) {
            // Any exponent this large already decides the outcome (0 or overflow).
            if (e < 100000) e = e * 10 + (s[i] - '0');
        }
        scale += expNegative ? -e : e;
    }
    if (i != s.size()) return std::nullopt;
    if (digits.empty()) return Currency();

    // Raw units: digits * 10^(scale + 4).
    const long long shift = scale + 4;
    unsigned __int128 magnitude = 0;
    if (shift >= 0) {
        if (static_cast<long long>(digits.size()) + shift > 19) return std::nullopt;
        for (char c : digits) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        for (long long k = 0; k < shift; ++k) magnitude *= 10;
    } else {
        const long long keep = static_cast<long long>(digits.size()) + shift;  // digits left of the cut
        if (keep > 19) return std::nullopt;
        for (long long k = 0; k < keep; ++k) magnitude = magnitude * 10 + static_cast<unsigned>(digits[k] - '0');
        // Half away from zero: the first dropped digit decides.
        const char firstDropped = keep >= 0 ? digits[static_cast<std::size_t>(keep)] : '0';
        if (firstDropped >= '5') ++magnitude;
    }
    const unsigned __int128 limit = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) +
                                    (negative ? 1 : 0);
    if (magnitude > limit) return std::nullopt;
    const i128 signedRaw = negative ? -static_cast<i128>(magnitude) : static_cast<i128>(magnitude);
    return Currency::fromRaw(static_cast<std::int64_t>(signedRaw));
}

std::optional<Currency> ParseCurrencyWithRetry(std::string_view text, char decimalSep) {
    if (auto v = ParseCurrency(text, decimalSep)) return v;
    char from = 0;
    if (decimalSep == ',')
        from = '.';
    else if (decimalSep == '.')
        from = ',';
    else
        return std::nullopt;
    std::string changed(text);
    bool any = false;
    for (char& c : changed) {
        if (c == from) {
            c = decimalSep;
            any = true;
        }
    }
    if (!any) return std::nullopt;
    return ParseCurrency(changed, decimalSep);
}

std::string LocaleNumberText(Currency v, char decimalSep) {
    const std::int64_t raw = v.raw();
    // Magnitude as unsigned so that the most negative value has one too.
    const std::uint64_t mag = raw < 0 ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
    std::string out;
    if (raw < 0) out.push_back('-');
    out += std::to_string(mag / Currency::kScale);
    std::uint64_t frac = mag % Currency::kScale;
    if (frac != 0) {
        char buf[4];
        for (int k = 3; k >= 0; --k) {
            buf[k] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        int len = 4;
        while (buf[len - 1] == '0') --len;
        out.push_back(decimalSep);
        out.append(buf, static_cast<std::size_t>(len));
    }
    return out;
}

std::string NumberText(Currency v) { return LocaleNumberText(v, '.'); }

std::ostream& operator<<(std::ostream& os, Currency v) { return os << NumberText(v); }

std::string FormatTotal(Currency value, char decimalSep) {
    const Currency rounded = RoundCurr(-2, value);
    const bool negative = rounded.raw() < 0;
    const std::int64_t raw = negative ? -rounded.raw() : rounded.raw();
    std::string whole = std::to_string(raw / Currency::kScale);
    const std::int64_t cents = (raw % Currency::kScale) / 100;
    const char group = decimalSep == ',' ? '.' : ',';
    std::string out;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) out += group;
        out += whole[i];
    }
    out += decimalSep;
    out += static_cast<char>('0' + cents / 10);
    out += static_cast<char>('0' + cents % 10);
    return negative ? "-" + out : out;
}

}  // namespace kv
