#pragma once
// Money, prices and quantities: a signed 64-bit fixed-point number with four
// decimal places (the stored integer is the value times 10,000). Every
// operation is integer arithmetic; an amount never passes through a double
// unless a caller asks for one explicitly.
#include <compare>
#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv {

// Raised for a division by zero in money arithmetic, and by RoundCurr when the
// rounding unit is finer than the currency resolution (its factor becomes 0).
class ZeroDivideError : public std::domain_error {
public:
    using std::domain_error::domain_error;
};

struct Currency {
    static constexpr std::int64_t kScale = 10000;

    constexpr Currency() noexcept = default;

    // Whole units: Currency(12) is 12.0000. Throws std::overflow_error when
    // the value does not fit.
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    constexpr explicit Currency(T units) : raw_(scaleUnits(units)) {}

    static constexpr Currency fromRaw(std::int64_t raw) noexcept {
        Currency c;
        c.raw_ = raw;
        return c;
    }
    constexpr std::int64_t raw() const noexcept { return raw_; }

    // Nearest four-decimal value, halves away from zero. Only for values that
    // really arrive as floating point (a Float field, a spreadsheet cell).
    // Throws std::overflow_error for NaN, infinities and out-of-range values.
    static Currency fromDouble(double v);
    double toDouble() const noexcept { return static_cast<double>(raw_) / kScale; }

    friend constexpr bool operator==(Currency, Currency) noexcept = default;
    friend constexpr std::strong_ordering operator<=>(Currency, Currency) noexcept = default;

    // All arithmetic throws std::overflow_error instead of wrapping.
    friend Currency operator+(Currency a, Currency b);
    friend Currency operator-(Currency a, Currency b);
    friend Currency operator-(Currency a);
    Currency& operator+=(Currency b) { return *this = *this + b; }
    Currency& operator-=(Currency b) { return *this = *this - b; }

    // Exact product (128-bit intermediate), the digits beyond the fourth
    // decimal rounded half away from zero: 0.0001 * 0.5 gives 0.0001.
    friend Currency operator*(Currency a, Currency b);
    friend Currency operator*(Currency a, std::int64_t k);
    friend Currency operator*(std::int64_t k, Currency a) { return a * k; }
    // Quotient to four decimals, half away from zero; ZeroDivideError for 0.
    friend Currency operator/(Currency a, Currency b);
    friend Currency operator/(Currency a, std::int64_t k);

private:
    template <std::integral T>
    static constexpr std::int64_t scaleUnits(T units) {
        std::int64_t r = 0;
        if (__builtin_mul_overflow(units, kScale, &r)) throw std::overflow_error("Currency overflow");
        return r;
    }

    std::int64_t raw_ = 0;
};

// `value` rounded to a multiple of 10^n, halves away from zero (n = -2 rounds
// to hundredths, n = 1 to tens). n below -4 is finer than the currency
// resolution and returns `value`; n of 5 or more throws ZeroDivideError.
// Throws std::overflow_error when the rounded value leaves the currency range.
Currency RoundCurr(int n, Currency value);

// Decimal text: optional sign, digits with at most one `decimalSep`, optional
// exponent (e/E, optional sign). Surrounding white space is ignored; no
// thousands separators. Digits beyond the fourth decimal are rounded half
// away from zero. nullopt for empty, malformed or out-of-range text.
std::optional<Currency> ParseCurrency(std::string_view text, char decimalSep);

// Numbers read from files: first with the system separator; when that fails
// and the separator is ',', again with every '.' turned into ','; when it is
// '.', again with every ',' turned into '.'.
std::optional<Currency> ParseCurrencyWithRetry(std::string_view text, char decimalSep);

// Shortest text of the value: no thousands separators, no trailing zeros, no
// trailing separator ("12.5", "1", "-0.5", "0"). NumberText always uses '.',
// which is what the fiscal device expects.
std::string LocaleNumberText(Currency v, char decimalSep);
std::string NumberText(Currency v);

// Writes NumberText (diagnostics and test output).
std::ostream& operator<<(std::ostream& os, Currency v);

// Text with thousands groups and two decimals, the "###,##0.00" display of
// totals: "1.234,50" under a decimal comma, "1,234.50" under a point.
std::string FormatTotal(Currency value, char decimalSep);

}  // namespace kv
