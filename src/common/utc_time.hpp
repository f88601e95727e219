// A moment as the ISO 8601 text of its UTC date and time, for the fields of an output that record
// when it was made. Computed from the days of the proleptic Gregorian calendar, not by the C
// library, whose gmtime is neither thread-safe nor the same on every system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace chizuvec {

// "YYYY-MM-DDThh:mm:ss" of `seconds` since 1970-01-01 00:00:00 UTC (years 0 to 9999; outside them
// clamped to their ends).
inline std::string utc_time_text(std::int64_t seconds) {
    constexpr std::int64_t kFirst = -62167219200;  // 0000-01-01T00:00:00
    constexpr std::int64_t kLast = 253402300799;   // 9999-12-31T23:59:59
    seconds = seconds < kFirst ? kFirst : seconds > kLast ? kLast : seconds;
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::int64_t in_day = seconds - days * 86400;
    // Days to a civil date (H. Hinnant's algorithm), eras of 400 years from 0000-03-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t of_era = days - era * 146097;
    const std::int64_t year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
    const std::int64_t day_of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];  // room for any long long, so the compiler sees nothing cut
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(in_day / 3600),
                  static_cast<long long>(in_day / 60 % 60), static_cast<long long>(in_day % 60));
    return text;
}

}  // namespace chizuvec
