#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "money_literal.h"
#include "util/Currency.h"
#include "util/FieldTypes.h"

using kv::Currency;

namespace {

Currency C(std::int64_t raw) { return Currency::fromRaw(raw); }

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

}  // namespace

TEST(CurrencyRoundCurr, WorkedExamplesAndUnits) {
    struct Case {
        int n;
        Currency in, out;
    };
    const Case cases[] = {
        // Hundredths, the unit every caller uses.
        {-2, 2.345_cur, 2.35_cur},
        {-2, 2.3449_cur, 2.34_cur},
        {-2, 12.3456_cur, 12.35_cur},
        {-2, 0.005_cur, 0.01_cur},
        {-2, -2.345_cur, -2.35_cur},
        {-2, -2.3449_cur, -2.34_cur},
        {-2, -0.005_cur, -0.01_cur},
        {-2, Currency(), Currency()},
        {-2, 1.23_cur, 1.23_cur},    // already a multiple
        {-2, -1.23_cur, -1.23_cur},
        {-2, 0.0049_cur, Currency()},
        {-2, -0.0049_cur, Currency()},
        // Whole units and coarser.
        {0, 2.5_cur, 3.0_cur},
        {0, -2.5_cur, -3.0_cur},
        {0, 2.4999_cur, 2.0_cur},
        {0, Currency(), Currency()},
        {1, 15.0_cur, 20.0_cur},
        {1, 14.9999_cur, 10.0_cur},
        {1, -15.0_cur, -20.0_cur},
        {2, 150.0_cur, 200.0_cur},
        {2, 149.9999_cur, 100.0_cur},
        {4, 5000.0_cur, 10000.0_cur},
        {4, 4999.9999_cur, Currency()},
        {4, Currency(), Currency()},
        // Finer units.
        {-1, 0.05_cur, 0.1_cur},
        {-3, 1.2345_cur, 1.235_cur},
        {-3, -1.2345_cur, -1.235_cur},
        {-4, 1.2345_cur, 1.2345_cur},
        {-4, -0.0001_cur, -0.0001_cur},
        {-7, 1.2345_cur, 1.2345_cur},
        // Ends of the range: no wrap-around on the way.
        {-2, C(kMax), C(kMax - 7)},
        {-2, C(kMin), C(kMin + 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("n=" + std::to_string(c.n) + " in=" + kv::NumberText(c.in));
        EXPECT_EQ(kv::RoundCurr(c.n, c.in), c.out);
    }
}

// For every unit: the result is a multiple of the unit, at most half a unit
// away, exact halves move away from zero, and -x rounds to the negative of x.
TEST(CurrencyRoundCurr, NearestMultipleHalvesAwayAndSymmetric) {
    for (int n = -4; n <= 4; ++n) {
        std::int64_t unit = 1;
        for (int k = -4; k < n; ++k) unit *= 10;
        const std::int64_t step = unit >= 100 ? unit / 100 + 1 : 1;
        for (std::int64_t r = -3 * unit; r <= 3 * unit; r += step) {
            const std::int64_t got = kv::RoundCurr(n, C(r)).raw();
            const std::int64_t diff = got - r;
            ASSERT_EQ(got % unit, 0) << "n=" << n << " r=" << r;
            ASSERT_LE(2 * std::abs(diff), unit) << "n=" << n << " r=" << r;
            if (2 * std::abs(diff) == unit) {
                ASSERT_GT(std::abs(got), std::abs(r)) << "n=" << n << " r=" << r;
            }
            ASSERT_EQ(kv::RoundCurr(n, C(-r)).raw(), -got) << "n=" << n << " r=" << r;
        }
    }
}

TEST(CurrencyRoundCurr, UnitFinerThanResolutionIsDivisionByZero) {
    for (int n : {5, 6, 100}) {
        EXPECT_THROW(kv::RoundCurr(n, 1.0_cur), kv::ZeroDivideError) << n;
        EXPECT_THROW(kv::RoundCurr(n, Currency()), std::domain_error) << n;
    }
    // Rounding up past the largest value cannot be represented.
    EXPECT_THROW(kv::RoundCurr(0, C(kMax)), std::overflow_error);
}

TEST(CurrencyArithmetic, ProductsAndQuotientsRoundHalfAwayFromZero) {
    struct Case {
        Currency a, b, product, quotient;
    };
    const Case cases[] = {
        {0.0001_cur, 0.5_cur, 0.0001_cur, 0.0002_cur},
        {-0.0001_cur, 0.5_cur, -0.0001_cur, -0.0002_cur},
        {0.0001_cur, 0.4999_cur, Currency(), 0.0002_cur},
        {2.5_cur, 4.0_cur, 10.0_cur, 0.625_cur},
        {1.0_cur, 3.0_cur, 3.0_cur, 0.3333_cur},
        {2.0_cur, -3.0_cur, -6.0_cur, -0.6667_cur},
        {12.3456_cur, 1.1_cur, 13.5802_cur, 11.2233_cur},  // 13.58016, 11.22327...
        // Intermediate products beyond 64 bits.
        {900000000000.0_cur, 10.0_cur, 9000000000000.0_cur, 90000000000.0_cur},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kv::NumberText(c.a) + " and " + kv::NumberText(c.b));
        EXPECT_EQ(c.a * c.b, c.product);
        EXPECT_EQ(c.b * c.a, c.product);
        EXPECT_EQ(c.a / c.b, c.quotient);
    }
    EXPECT_EQ(1.0_cur / 3, 0.3333_cur);
    EXPECT_EQ(-2.0_cur / 3, -0.6667_cur);
    EXPECT_EQ(2.5_cur * 3, Currency(7) + 0.5_cur);
    EXPECT_EQ(-Currency(5), Currency(-5));
    EXPECT_LT(-0.0001_cur, Currency());

    EXPECT_THROW(1.0_cur / Currency(), kv::ZeroDivideError);
    EXPECT_THROW(1.0_cur / 0, kv::ZeroDivideError);
    EXPECT_THROW(C(kMax) * Currency(2), std::overflow_error);
    EXPECT_THROW(C(kMax) + C(1), std::overflow_error);
    EXPECT_THROW(-C(kMin), std::overflow_error);
    EXPECT_THROW(Currency{kMax}, std::overflow_error);
}

TEST(CurrencyParse, Table) {
    struct Case {
        const char* text;
        char sep;
        std::optional<Currency> value;
    };
    const Case cases[] = {
        {"12,5", ',', 12.5_cur},
        {"12.5", '.', 12.5_cur},
        {"  -0,5 \t", ',', -0.5_cur},
        {"+7", ',', 7.0_cur},
        {"7,", ',', 7.0_cur},
        {",25", ',', 0.25_cur},
        {"-0", '.', Currency()},
        {"1e3", '.', 1000.0_cur},
        {"1,5E-2", ',', 0.015_cur},
        {"2.5e+1", '.', 25.0_cur},
        {"1.23455", '.', 1.2346_cur},     // fifth decimal: half away from zero
        {"-1.23455", '.', -1.2346_cur},
        {"1.234549", '.', 1.2345_cur},
        {"0.00004", '.', Currency()},
        {"0.00005", '.', 0.0001_cur},
        {"1e-400", '.', Currency()},
        {"0000000000000000000000012.5", '.', 12.5_cur},
        {"0.5e0000000000000000000001", '.', 5.0_cur},
        {"922337203685477.5807", '.', C(kMax)},
        {"-922337203685477.5808", '.', C(kMin)},
        {"922337203685477.5808", '.', std::nullopt},
        {"1e15", '.', std::nullopt},
        {"1e400", '.', std::nullopt},
        {"12.5", ',', std::nullopt},  // the wrong separator is not guessed here
        {"1,000.5", '.', std::nullopt},
        {"1.2.3", '.', std::nullopt},
        {"", '.', std::nullopt},
        {"   ", '.', std::nullopt},
        {"-", '.', std::nullopt},
        {".", '.', std::nullopt},
        {"1e", '.', std::nullopt},
        {"1e+", '.', std::nullopt},
        {"12a", '.', std::nullopt},
        {"1 000", '.', std::nullopt},
        {"0x10", '.', std::nullopt},
        {"inf", '.', std::nullopt},
        {"nan", '.', std::nullopt},
        {"--1", '.', std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' sep " + c.sep);
        const auto got = kv::ParseCurrency(c.text, c.sep);
        EXPECT_EQ(got, c.value);
    }
}

TEST(CurrencyParse, RetryTurnsTheOtherSeparatorIntoTheSystemOne) {
    struct Case {
        const char* text;
        char sep;
        std::optional<Currency> value;
    };
    const Case cases[] = {
        {"1.5", ',', 1.5_cur},
        {"1,5", ',', 1.5_cur},
        {"1,5", '.', 1.5_cur},
        {"-0.25e1", ',', -2.5_cur},
        {"1.234,5", ',', std::nullopt},  // becomes "1,234,5"
        {"1,234.5", '.', std::nullopt},
        {"abc", ',', std::nullopt},
        {"", ',', std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' sep " + c.sep);
        const auto got = kv::ParseCurrencyWithRetry(c.text, c.sep);
        EXPECT_EQ(got, c.value);
    }
}

TEST(CurrencyNumberText, ShortestTextWithPoint) {
    const std::pair<Currency, const char*> cases[] = {
        {12.5_cur, "12.5"},  {1.0_cur, "1"},         {-0.5_cur, "-0.5"},  {Currency(), "0"},
        {0.0001_cur, "0.0001"}, {10.05_cur, "10.05"},    {100.0_cur, "100"},  {-1234567.89_cur, "-1234567.89"},
        {C(kMax), "922337203685477.5807"},            {C(kMin), "-922337203685477.5808"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(kv::NumberText(value), text);
        // What is written reads back to the same value.
        EXPECT_EQ(kv::ParseCurrency(kv::NumberText(value), '.'), value) << text;
    }
    EXPECT_EQ(kv::LocaleNumberText(12.5_cur, ','), "12,5");
    EXPECT_EQ(kv::LocaleNumberText(-3.0_cur, ','), "-3");
}

TEST(FieldTypeName, Table) {
    const std::pair<int, const char*> cases[] = {
        {0, "UNKNOWN"},
        {1, "VARCHAR"},
        {static_cast<int>(kv::FieldType::Currency), "CURRENCY"},
        {static_cast<int>(kv::FieldType::DateTime), "DATETIME"},
        {static_cast<int>(kv::FieldType::FmtMemo), "BLOB"},
        {static_cast<int>(kv::FieldType::ParadoxOle), "BLOB"},
        {static_cast<int>(kv::FieldType::DBaseOle), "BLOB"},
        {static_cast<int>(kv::FieldType::TypedBinary), "BLOB"},
        {static_cast<int>(kv::FieldType::Cursor), "CURSOR"},
        {static_cast<int>(kv::FieldType::FMTBcd), "FMTBCD"},
        {static_cast<int>(kv::FieldType::FixedWideChar), "FTFIXEDWIDECHAR"},
        {static_cast<int>(kv::FieldType::WideMemo), "FTWIDEMEMO"},
        {static_cast<int>(kv::FieldType::TimeStampOffset), "FTTIMESTAMPOFFSET"},
        {static_cast<int>(kv::FieldType::Single), "FTSINGLE"},
        {52, "UNKNOWN"},
        {200, "UNKNOWN"},
        {255, "UNKNOWN"},
    };
    for (const auto& [ordinal, name] : cases)
        EXPECT_EQ(kv::FieldTypeName(static_cast<std::uint8_t>(ordinal)), name) << ordinal;
    // The enumeration keeps the ordinals the table is indexed by.
    EXPECT_EQ(static_cast<int>(kv::FieldType::Currency), 7);
    EXPECT_EQ(static_cast<int>(kv::FieldType::FmtMemo), 18);
    EXPECT_EQ(static_cast<int>(kv::FieldType::WideMemo), 39);
    EXPECT_EQ(static_cast<int>(kv::FieldType::Single), 51);
}

TEST(FormatTotal, GroupsThousandsAndKeepsTwoDecimals) {
    struct Case {
        kv::Currency v;
        char sep;
        const char* text;
    } cases[] = {{1234.5_cur, ',', "1.234,50"}, {1234.5_cur, '.', "1,234.50"}, {0.005_cur, ',', "0,01"},
                 {-1234567.891_cur, ',', "-1.234.567,89"}, {0.0_cur, '.', "0.00"}, {999.999_cur, '.', "1,000.00"}};
    for (const auto& c : cases) EXPECT_EQ(kv::FormatTotal(c.v, c.sep), c.text);
}
