#include "local_time.h"

#include <cmath>
#include <ctime>

#include "fixed_point.h"
#include "platform.h"

namespace tsconv {

namespace {

constexpr std::int64_t seconds_per_day = 86400;

// Far beyond the years 1 to 9999 either way; keeps the arithmetic in range.
constexpr double max_seconds_magnitude = 1e12;

struct CivilTime {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void civil_from_days(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    year = year_of_era + era * 400 + (month <= 2);
}

// Local seconds since 1970-01-01 as calendar time; the date is computed once a day.
CivilTime civil_from_seconds(std::int64_t seconds, LocalTimeCache& cache) {
    std::int64_t days = seconds / seconds_per_day;
    std::int64_t second_of_day = seconds % seconds_per_day;
    if (second_of_day < 0) {
        second_of_day += seconds_per_day;
        --days;
    }
    if (days != cache.day) {
        civil_from_days(days, cache.day_year, cache.day_month, cache.day_of_month);
        cache.day = days;
    }
    CivilTime civil;
    civil.year = cache.day_year;
    civil.month = cache.day_month;
    civil.day = cache.day_of_month;
    const int second = static_cast<int>(second_of_day);
    civil.hour = second / 3600;
    civil.minute = second / 60 % 60;
    civil.second = second % 60;
    return civil;
}

CivilTime civil_from_tm(const std::tm& tm) {
    return CivilTime{std::int64_t{tm.tm_year} + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// The platform's breakdown, and the UTC offset it shows. A leap second
// (second 60) has no offset that arithmetic could repeat.
bool platform_breakdown(std::int64_t t, CivilTime& civil, std::int64_t& offset, bool& cacheable) {
    std::tm tm;
    if (!platform::local_breakdown(t, tm)) return false;
    civil = civil_from_tm(tm);
    offset = days_from_civil(civil.year, civil.month, civil.day) * seconds_per_day +
             civil.hour * 3600 + civil.minute * 60 + civil.second - t;
    cacheable = civil.second < 60;
    return true;
}

// Pushes the cached stretch to probe when the breakdown there shows the
// stretch's offset: one offset at both ends, less than a probe span apart.
bool extend_cache(LocalTimeCache& cache, std::int64_t probe) {
    CivilTime civil;
    std::int64_t offset;
    bool cacheable;
    if (!platform_breakdown(probe, civil, offset, cacheable) || !cacheable || offset != cache.offset) {
        return false;
    }
    if (probe > cache.last) cache.last = probe;
    else cache.first = probe;
    return true;
}

bool local_civil_time(std::int64_t t, LocalTimeCache& cache, CivilTime& civil) {
    const bool cached = cache.first <= cache.last;
    if (cached && ((t >= cache.first && t <= cache.last) ||
                   (t > cache.last && t - cache.last <= cache_probe_span &&
                    extend_cache(cache, cache.last + cache_probe_span)) ||
                   (t < cache.first && cache.first - t <= cache_probe_span &&
                    extend_cache(cache, cache.first - cache_probe_span)))) {
        civil = civil_from_seconds(t + cache.offset, cache);
        return true;
    }
    std::int64_t offset;
    bool cacheable;
    if (!platform_breakdown(t, civil, offset, cacheable)) return false;
    if (cacheable) cache = LocalTimeCache{t, t, offset};
    else cache = LocalTimeCache{};
    return true;
}

}  // namespace

bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out) {
    // Three steps, each rounded to a double: days since 1970-01-01, the same in
    // seconds, then from the source clock (UTC+2, all year) to UTC.
    double s = serial_date - 25569.0;
    s = s * 86400.0;
    s = s - 7200.0;
    if (!(std::fabs(s) < max_seconds_magnitude)) return false;  // also NaN

    std::int64_t whole = static_cast<std::int64_t>(std::floor(s));
    const double fraction = s - static_cast<double>(whole);
    CivilTime civil;
    if (!local_civil_time(whole, cache, civil)) return false;
    double second = civil.second + fraction;

    // A fraction that shows as a whole second makes it the next second.
    std::uint64_t shown_whole;
    std::uint32_t shown_millionths;
    if (round_fixed6(second, shown_whole, shown_millionths) &&
        shown_whole > static_cast<std::uint64_t>(civil.second)) {
        ++whole;
        if (!local_civil_time(whole, cache, civil)) return false;
        second = civil.second;
    }
    if (civil.year < 1 || civil.year > 9999) return false;

    out.day = civil.day;
    out.month = civil.month;
    out.year = static_cast<int>(civil.year);
    out.hour = civil.hour;
    out.minute = civil.minute;
    out.second = second;
    return true;
}

}  // namespace tsconv
