#pragma once
// 2.345_cur is the currency value 2.3450, read from the literal's own digits
// at compile time (no floating point, no octal surprises with leading zeros).
#include <cstdint>

#include "util/Currency.h"

consteval kv::Currency operator""_cur(const char* s) {
    std::int64_t raw = 0;
    int decimals = -1;
    for (; *s; ++s) {
        if (*s == '\'') continue;
        if (*s == '.') {
            decimals = 0;
            continue;
        }
        if (*s < '0' || *s > '9' || decimals >= 4) throw "not a four-decimal currency literal";
        raw = raw * 10 + (*s - '0');
        if (decimals >= 0) ++decimals;
    }
    for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) raw *= 10;
    return kv::Currency::fromRaw(raw);
}
