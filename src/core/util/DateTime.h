#pragma once
// A naive wall-clock date and time: milliseconds since 1970-01-01 00:00:00,
// with no time zone. Receipts, invoices and the register record the shop's
// local time as shown on the till; converting to UTC would only invite
// daylight-saving surprises. Date-only values are midnight of their day;
// time-only values are that time on 1970-01-01.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

struct DateTimeParts {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct DateTime {
    static constexpr std::int64_t kMsPerDay = 86'400'000;

    std::int64_t ms = 0;

    static constexpr DateTime fromMs(std::int64_t ms) noexcept { return DateTime{ms}; }
    // Throws std::invalid_argument for an impossible date or time (year
    // 1..9999, the month's real day count, 0..23:59:59.999).
    static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                              int millisecond = 0);
    static DateTime fromParts(const DateTimeParts& p);

    DateTimeParts parts() const;
    DateTime date() const;                   // midnight of the same day
    std::int64_t timeOfDayMs() const;        // 0 .. kMsPerDay - 1

    std::string toIsoDate() const;           // "2024-05-01"
    std::string toIsoTime() const;           // "13:45:07", ".250" appended when there are ms
    std::string toIso(char sep = 'T') const; // date, sep, time

    friend constexpr bool operator==(DateTime, DateTime) noexcept = default;
    friend constexpr std::strong_ordering operator<=>(DateTime, DateTime) noexcept = default;
};

// Reads "YYYY-MM-DD", "YYYY-MM-DD[T or space]HH:MM[:SS[.fff]]", the local
// "D.M.YYYY[.]" with the same optional time, and a bare "HH:MM[:SS[.fff]]".
// Surrounding white space is ignored; nullopt for anything else.
std::optional<DateTime> ParseDateTimeText(std::string_view text);

}  // namespace kv
