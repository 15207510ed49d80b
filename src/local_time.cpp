#include "local_time.h"

#include <cmath>
#include <ctime>

#include "calendar.h"
#include "fixed_point.h"
#include "platform.h"
#include "zone_rules.h"

namespace tsconv {

namespace {

constexpr std::int64_t seconds_per_minute = 60;

// Far beyond the years 1 to 9999 either way; keeps the arithmetic in range.
constexpr double max_seconds_magnitude = 1e12;

// cache_probe_span where the zone in use is shown to keep each offset longer,
// else 0: the cached stretch is never pushed.
std::int64_t probe_span = 0;
static_assert(cache_probe_span < zone_check_span, "the zone check covers a whole probe span");

// Makes the local minute that holds the local second `seconds` (since
// 1970-01-01) the cached one. Kept out of line, so that the common case of
// local_from_seconds inlines where it is used.
[[gnu::noinline]] void start_minute(std::int64_t seconds, LocalTimeCache& cache) {
    std::int64_t days = seconds / seconds_per_day;
    if (days * seconds_per_day > seconds) --days;  // rounded towards minus infinity
    civil_from_days(days, cache.minute.year, cache.minute.month, cache.minute.day);
    const int minute_of_day = static_cast<int>((seconds - days * seconds_per_day) / seconds_per_minute);
    cache.minute.hour = minute_of_day / 60;
    cache.minute.minute = minute_of_day % 60;
    cache.minute_start = days * seconds_per_day + minute_of_day * seconds_per_minute;
    cache.minute_end = cache.minute_start + seconds_per_minute;
}

// Local seconds since 1970-01-01 as calendar time; date, hour and minute are
// computed once a minute.
void local_from_seconds(std::int64_t seconds, LocalTimeCache& cache, LocalTimestamp& local) {
    if (seconds < cache.minute_start || seconds >= cache.minute_end) start_minute(seconds, cache);
    local = cache.minute;
    local.second = static_cast<int>(seconds - cache.minute_start);
}

// True when the target can show the breakdown: a date of the years 1 to 9999
// that exists, a clock time within the day, at most second 60 (a leap
// second). Anything else is no local time at all, whatever the zone says.
bool is_showable(const std::tm& tm) {
    if (tm.tm_year < 1 - 1900 || tm.tm_year > 9999 - 1900 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 ||
        tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60) {
        return false;
    }
    return tm.tm_mday <= 28 || tm.tm_mday <= days_in_month(tm.tm_year + 1900, tm.tm_mon + 1);  // most days: no lookup
}

// The platform's breakdown, and the UTC offset it shows. A leap second
// (second 60) has no offset that arithmetic could repeat.
bool platform_breakdown(std::int64_t t, LocalTimestamp& local, std::int64_t& offset, bool& cacheable) {
    std::tm tm;
    if (!platform::local_breakdown(t, tm) || !is_showable(tm)) return false;
    local.year = tm.tm_year + 1900;
    local.month = tm.tm_mon + 1;
    local.day = tm.tm_mday;
    local.hour = tm.tm_hour;
    local.minute = tm.tm_min;
    local.second = tm.tm_sec;
    offset = days_from_civil(local.year, local.month, local.day) * seconds_per_day + local.hour * 3600 +
             local.minute * 60 + local.second - t;
    cacheable = local.second < 60;
    return true;
}

// Pushes the cached stretch to probe when the breakdown there shows the
// stretch's offset: one offset at both ends, less than a probe span apart.
bool extend_cache(LocalTimeCache& cache, std::int64_t probe) {
    LocalTimestamp local;
    std::int64_t offset;
    bool cacheable;
    if (!platform_breakdown(probe, local, offset, cacheable) || !cacheable || offset != cache.offset) {
        return false;
    }
    if (probe > cache.last) cache.last = probe;
    else cache.first = probe;
    return true;
}

// Pushes the cached stretch one probe span towards t, which lies outside it.
// True when the stretch then covers t.
bool extend_cache_towards(LocalTimeCache& cache, std::int64_t t) {
    const bool empty = cache.first > cache.last;
    const bool just_after = !empty && t > cache.last && t - cache.last <= probe_span;
    const bool just_before = !empty && t < cache.first && cache.first - t <= probe_span;
    if (just_after) return extend_cache(cache, cache.last + probe_span);
    if (just_before) return extend_cache(cache, cache.first - probe_span);
    return false;
}

// The local time of a whole second t outside the cached stretch: the stretch
// pushed towards t, or the platform's breakdown of t starting a new stretch.
// Kept out of line, so that the common case inlines where it is used.
[[gnu::noinline]] bool local_time_beyond_cache(std::int64_t t, LocalTimeCache& cache, LocalTimestamp& local) {
    if (extend_cache_towards(cache, t)) {
        local_from_seconds(t + cache.offset, cache, local);
        return true;
    }
    std::int64_t offset;
    bool cacheable;
    if (!platform_breakdown(t, local, offset, cacheable)) return false;
    cache.first = t;
    cache.last = cacheable ? t : t - 1;
    cache.offset = offset;
    return true;
}

// The local time of the whole second t (seconds since 1970-01-01 UTC).
bool local_time(std::int64_t t, LocalTimeCache& cache, LocalTimestamp& local) {
    const bool inside_cached_stretch = t >= cache.first && t <= cache.last;
    if (!inside_cached_stretch) return local_time_beyond_cache(t, cache, local);
    local_from_seconds(t + cache.offset, cache, local);
    return true;
}

}  // namespace

void init_local_time() {
    probe_span = zone_keeps_offsets(platform::init_local_time()) ? cache_probe_span : 0;
}

bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out) {
    constexpr double serial_date_of_1970_01_01 = 25569.0;
    constexpr double source_clock_ahead_of_utc = 2 * 3600.0;  // seconds: UTC+2, all year
    // Three steps, each rounded to a double: days since 1970-01-01, the same in
    // seconds, then from the source clock to UTC.
    double s = serial_date - serial_date_of_1970_01_01;
    s = s * static_cast<double>(seconds_per_day);
    s = s - source_clock_ahead_of_utc;
    if (!(std::fabs(s) < max_seconds_magnitude)) return false;  // also NaN

    // Split with floor: the whole second is broken down, the fraction (from 0
    // up to 1) added to its second.
    std::int64_t whole = static_cast<std::int64_t>(s);
    if (static_cast<double>(whole) > s) --whole;
    const double fraction = s - static_cast<double>(whole);
    if (!local_time(whole, cache, out)) return false;

    std::uint64_t shown_second;
    std::uint32_t shown_millionths;
    if (!round_fixed6(out.second + fraction, shown_second, shown_millionths)) return false;
    if (shown_second > static_cast<std::uint64_t>(out.second)) {
        // A fraction that shows as a whole second makes it the next second.
        if (!local_time(whole + 1, cache, out)) return false;
        shown_millionths = 0;
    }
    out.millionths = shown_millionths;
    return out.year >= 1 && out.year <= 9999;
}

}  // namespace tsconv
