#pragma once

// The units of time, and the proleptic Gregorian calendar as days since
// 1970-01-01, for any year the converter meets and far beyond.

#include <cstdint>

namespace tsconv {

constexpr std::int64_t seconds_per_minute = 60;
constexpr std::int64_t seconds_per_hour = 60 * seconds_per_minute;
constexpr std::int64_t seconds_per_day = 24 * seconds_per_hour;
constexpr std::int64_t seconds_per_week = 7 * seconds_per_day;
constexpr std::int64_t minutes_per_day = seconds_per_day / seconds_per_minute;

// a / b rounded towards minus infinity, for b > 0.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0); }

inline int days_in_month(std::int64_t year, int month) {
    constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap_year = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return lengths[month - 1] + (month == 2 && leap_year);
}

constexpr std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

inline void civil_from_days(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    year = static_cast<int>(year_of_era + era * 400 + (month <= 2));
}

// The date and clock time of a minute since 1970-01-01 00:00.
struct CivilMinute {
    int year, month, day, hour, minute;
};

inline CivilMinute civil_minute(std::int64_t minutes) {
    const std::int64_t days = floor_div(minutes, minutes_per_day);
    const int minute_of_day = static_cast<int>(minutes - days * minutes_per_day);
    CivilMinute civil{0, 0, 0, minute_of_day / 60, minute_of_day % 60};
    civil_from_days(days, civil.year, civil.month, civil.day);
    return civil;
}

}  // namespace tsconv
