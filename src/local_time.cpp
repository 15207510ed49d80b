#include "local_time.h"

#include <cmath>
#include <ctime>

#include "calendar.h"
#include "fixed_point.h"
#include "platform.h"
#include "zone_check.h"

namespace tsconv {

static_assert(cache_probe_span + seconds_per_minute <= zone_check_span,
              "a minute to spare: at a leap second the shown offset changes a second after the record's time");

namespace {

constexpr double max_seconds_magnitude = 1e12;  // far beyond the years 1 to 9999; keeps the arithmetic in range

// [first_minute, end_minute): the local minutes of the years 1 to 9999.
constexpr std::int64_t first_minute = days_from_civil(1, 1, 1) * minutes_per_day;
constexpr std::int64_t end_minute = days_from_civil(10000, 1, 1) * minutes_per_day;

void local_from_seconds(std::int64_t seconds, LocalTimeCache& cache, LocalTimestamp& local) {
    if (static_cast<std::uint64_t>(seconds) - static_cast<std::uint64_t>(cache.minute_start) >= seconds_per_minute) {
        cache.minute = floor_div(seconds, seconds_per_minute);
        cache.minute_start = cache.minute * seconds_per_minute;
    }
    local.minute = cache.minute;
    local.second = static_cast<int>(seconds - cache.minute_start);
}

// A date of the years 1 to 9999 that exists, a clock time within the day, at
// most second 60 (a leap second): anything else is no time the target shows.
bool is_showable(const std::tm& tm) {
    if (tm.tm_year < 1 - 1900 || tm.tm_year > 9999 - 1900 || tm.tm_mon < 0 || tm.tm_mon > 11) return false;
    const int days = tm.tm_mday <= 28 ? 28 : days_in_month(tm.tm_year + 1900, tm.tm_mon + 1);  // most: no lookup
    return tm.tm_mday >= 1 && tm.tm_mday <= days && tm.tm_hour >= 0 && tm.tm_hour <= 23 && tm.tm_min >= 0 &&
           tm.tm_min <= 59 && tm.tm_sec >= 0 && tm.tm_sec <= 60;
}

// The platform's breakdown of t, where the target can show it, and its UTC offset.
bool showable_breakdown(platform::ZoneData& zone, std::int64_t t, LocalTimestamp& local, std::int64_t& offset) {
    std::tm tm;
    if (!platform::local_breakdown(zone, t, tm) || !is_showable(tm)) return false;
    local.minute = days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * minutes_per_day +
                   tm.tm_hour * 60 + tm.tm_min;
    local.second = tm.tm_sec;
    offset = local.minute * seconds_per_minute + local.second - t;
    return true;
}

// Pushes the stretch one probe span towards t, just outside it, where the
// breakdown there shows the same offset (doc/DESIGN.md, "The local-time cache").
bool extend_cache_towards(LocalTimeCache& cache, std::int64_t t) {
    const bool later = t > cache.last;
    const std::int64_t probe = later ? cache.last + cache.probe_span : cache.first - cache.probe_span;
    LocalTimestamp local;
    std::int64_t offset;
    if (cache.first > cache.last || (later ? probe < t : probe > t) ||
        !showable_breakdown(cache.zone->data, probe, local, offset) || local.second == 60 || offset != cache.offset) {
        return false;
    }
    // Rules the zone check never saw (Windows, a year asked since): no span is trusted from here on.
    if (cache.zone->data.rules_unjudged) {
        cache.probe_span = 0;
        return false;
    }
    (later ? cache.last : cache.first) = probe;
    return true;
}

// The local time of a second t outside the stretch: the stretch pushed, or a
// new one from t's breakdown. Out of line, so that the common case inlines.
[[gnu::noinline]] bool local_time_beyond_cache(std::int64_t t, LocalTimeCache& cache, LocalTimestamp& local) {
    if (extend_cache_towards(cache, t)) {
        local_from_seconds(t + cache.offset, cache, local);
        return true;
    }
    std::int64_t offset;
    if (!showable_breakdown(cache.zone->data, t, local, offset)) return false;
    cache.first = t;
    cache.last = local.second == 60 ? t - 1 : t;  // a leap second has no offset arithmetic could repeat
    cache.offset = offset;
    return true;
}

// The local time of the whole second t since 1970-01-01 UTC.
bool local_time(std::int64_t t, LocalTimeCache& cache, LocalTimestamp& local) {
    if (t < cache.first || t > cache.last) return local_time_beyond_cache(t, cache, local);
    local_from_seconds(t + cache.offset, cache, local);
    return true;
}

}  // namespace

LocalZone load_local_zone() {
    LocalZone zone{platform::load_time_zone()};
    zone.probe_span = zone_keeps_offsets(zone.data) ? cache_probe_span : 0;
    return zone;
}

bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out) {
    constexpr double serial_date_of_1970_01_01 = 25569.0;
    constexpr double source_clock_ahead_of_utc = 2 * seconds_per_hour;  // UTC+2, all year
    // Three steps, each rounded to a double.
    const double days = serial_date - serial_date_of_1970_01_01;
    const double source_seconds = days * static_cast<double>(seconds_per_day);
    const double s = source_seconds - source_clock_ahead_of_utc;
    if (!(std::fabs(s) < max_seconds_magnitude)) return false;  // also NaN
    // The whole second (floor) is broken down, the fraction added to its second.
    std::int64_t whole = static_cast<std::int64_t>(s);
    if (static_cast<double>(whole) > s) --whole;
    const double fraction = s - static_cast<double>(whole);
    // Windows breaks down no second before 1970. The one before, whose fraction may carry into 1970, is
    // the first of 1970 a second back: its offset differs by whole minutes, if at all.
    const bool before_1970 = platform::shows_1970_to_3000_only && whole == -1;
    if (!local_time(whole + before_1970, cache, out)) return false;
    if (before_1970 && --out.second < 0) out = LocalTimestamp{out.minute - 1, 59};
    std::uint64_t shown_second;
    if (!round_fixed6(out.second + fraction, shown_second, out.millionths)) return false;
    // Shown as the next whole second: see doc/DESIGN.md, "The seconds carry".
    const bool carried = shown_second > static_cast<std::uint64_t>(out.second);
    if (carried && !local_time(whole + 1, cache, out)) return false;
    const std::int64_t shown = whole + carried;
    if (platform::shows_1970_to_3000_only && (shown < 0 || shown >= platform::end_of_year_3000)) return false;
    return out.minute >= first_minute && out.minute < end_minute;
}

}  // namespace tsconv
