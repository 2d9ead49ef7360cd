#include "util/DateTime.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace kv {

namespace {

namespace chr = std::chrono;

bool validParts(const DateTimeParts& p) {
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31) return false;
    const chr::year_month_day ymd{chr::year{p.year}, chr::month{static_cast<unsigned>(p.month)},
                                  chr::day{static_cast<unsigned>(p.day)}};
    if (!ymd.ok()) return false;
    return p.hour >= 0 && p.hour <= 23 && p.minute >= 0 && p.minute <= 59 && p.second >= 0 && p.second <= 59 &&
           p.millisecond >= 0 && p.millisecond <= 999;
}

std::int64_t toMs(const DateTimeParts& p) {
    const chr::sys_days days{chr::year{p.year} / chr::month{static_cast<unsigned>(p.month)} /
                             chr::day{static_cast<unsigned>(p.day)}};
    return static_cast<std::int64_t>(days.time_since_epoch().count()) * DateTime::kMsPerDay +
           ((p.hour * 60 + p.minute) * 60 + p.second) * 1000LL + p.millisecond;
}

// Reads minDigits..maxDigits decimal digits at `pos`.
bool readNumber(std::string_view s, std::size_t& pos, int minDigits, int maxDigits, int& out) {
    int n = 0;
    int value = 0;
    while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++n;
    }
    if (n < minDigits) return false;
    out = value;
    return true;
}

bool expect(std::string_view s, std::size_t& pos, char c) {
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// "HH:MM[:SS[.fff]]" from pos to the end of s.
bool readTime(std::string_view s, std::size_t& pos, DateTimeParts& p) {
    if (!readNumber(s, pos, 1, 2, p.hour) || !expect(s, pos, ':') || !readNumber(s, pos, 2, 2, p.minute))
        return false;
    if (expect(s, pos, ':')) {
        if (!readNumber(s, pos, 2, 2, p.second)) return false;
        if (expect(s, pos, '.')) {
            // Fractions finer than a millisecond are dropped, not rounded, so
            // that a value never moves into the next second.
            int digits = 0;
            int ms = 0;
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
                if (digits < 3) ms = ms * 10 + (s[pos] - '0');
                ++digits;
                ++pos;
            }
            if (digits == 0 || digits > 9) return false;
            for (int k = digits; k < 3; ++k) ms *= 10;
            p.millisecond = ms;
        }
    }
    return pos == s.size();
}

std::string_view trim(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    return fromParts(DateTimeParts{year, month, day, hour, minute, second, millisecond});
}

DateTime DateTime::fromParts(const DateTimeParts& p) {
    if (!validParts(p)) throw std::invalid_argument("Invalid date or time");
    return DateTime{toMs(p)};
}

DateTimeParts DateTime::parts() const {
    std::int64_t days = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {  // floor, so that times before 1970 keep a positive time of day
        rest += kMsPerDay;
        --days;
    }
    const chr::year_month_day ymd{chr::sys_days{chr::days{days}}};
    DateTimeParts p;
    p.year = static_cast<int>(ymd.year());
    p.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    p.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    p.millisecond = static_cast<int>(rest % 1000);
    rest /= 1000;
    p.second = static_cast<int>(rest % 60);
    rest /= 60;
    p.minute = static_cast<int>(rest % 60);
    p.hour = static_cast<int>(rest / 60);
    return p;
}

std::int64_t DateTime::timeOfDayMs() const {
    std::int64_t rest = ms % kMsPerDay;
    return rest < 0 ? rest + kMsPerDay : rest;
}

DateTime DateTime::date() const { return DateTime{ms - timeOfDayMs()}; }

std::string DateTime::toIsoDate() const {
    const DateTimeParts p = parts();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buf;
}

std::string DateTime::toIsoTime() const {
    const DateTimeParts p = parts();
    char buf[32];
    if (p.millisecond != 0)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", p.hour, p.minute, p.second, p.millisecond);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return buf;
}

std::string DateTime::toIso(char sep) const { return toIsoDate() + sep + toIsoTime(); }

std::optional<DateTime> ParseDateTimeText(std::string_view text) {
    const std::string_view s = trim(text);
    DateTimeParts p;
    std::size_t pos = 0;

    auto finish = [&]() -> std::optional<DateTime> {
        if (!validParts(p)) return std::nullopt;
        return DateTime{toMs(p)};
    };
    auto timeAfterDate = [&]() -> std::optional<DateTime> {
        if (pos == s.size()) return finish();
        if (s[pos] != 'T' && s[pos] != ' ') return std::nullopt;
        ++pos;
        if (!readTime(s, pos, p)) return std::nullopt;
        return finish();
    };

    // ISO date first: four digits and a dash.
    if (s.size() >= 5 && s[4] == '-') {
        if (!readNumber(s, pos, 4, 4, p.year) || !expect(s, pos, '-') || !readNumber(s, pos, 2, 2, p.month) ||
            !expect(s, pos, '-') || !readNumber(s, pos, 2, 2, p.day))
            return std::nullopt;
        return timeAfterDate();
    }
    // Local "D.M.YYYY" with an optional closing dot.
    if (s.find('.') != std::string_view::npos && (s.find(':') == std::string_view::npos || s.find('.') < s.find(':'))) {
        if (!readNumber(s, pos, 1, 2, p.day) || !expect(s, pos, '.') || !readNumber(s, pos, 1, 2, p.month) ||
            !expect(s, pos, '.') || !readNumber(s, pos, 4, 4, p.year))
            return std::nullopt;
        expect(s, pos, '.');
        return timeAfterDate();
    }
    // A bare time of day.
    if (!readTime(s, pos, p)) return std::nullopt;
    return finish();
}

}  // namespace kv
