#pragma once

// Turning a spreadsheet serial date on the source clock into the local
// calendar date and clock time of the machine that runs the conversion.

#include <cstdint>

namespace tsconv {

// A broken-down local time: the platform's breakdown of a whole second, and
// for a record also the fraction of its second as shown.
struct LocalTimestamp {
    int day = 0;     // 1 to 31
    int month = 0;   // 1 to 12
    int year = 0;    // 1 to 9999 for a converted record
    int hour = 0;    // 0 to 23
    int minute = 0;  // 0 to 59
    int second = 0;  // 0 to 59; 60 in a leap second where the zone counts them
    std::uint32_t millionths = 0;  // fraction of the second rounded to six decimals
};

// Remembers one stretch of time over which the local time keeps one UTC
// offset, so that the platform's breakdown is asked about once a stretch
// rather than once a record; and the local minute last shown, so that its
// date, hour and minute are computed once a minute. Start each run with an
// empty cache.
struct LocalTimeCache {
    std::int64_t first = 0;  // the stretch is [first, last]; empty while last < first
    std::int64_t last = -1;
    std::int64_t offset = 0;  // local time minus UTC, in seconds
    // The local minute [minute_start, minute_end), in local seconds since
    // 1970-01-01 (empty at first), and its date, hour and minute.
    std::int64_t minute_start = 0;
    std::int64_t minute_end = 0;
    LocalTimestamp minute;
};

// How far the cached stretch is pushed ahead (or back) with one breakdown: one
// offset at both ends of this span holds all the way between where the zone
// cannot change its offset twice within it. Every zone of the time-zone
// database keeps each offset for days, but a TZ rule may give one minutes.
constexpr std::int64_t cache_probe_span = 900;

// Reads the zone in use (TZ or the system's, as the platform's breakdown
// applies it) and decides whether the cached stretch may be pushed a probe
// span at a time: only where the zone is shown to keep each offset longer.
// Elsewhere every second of a record gets a breakdown of its own. Call before
// converting, and again after the zone has changed.
void init_local_time();

// Converts a serial date (days since 1899-12-30 on a clock two hours ahead of
// UTC). False when the time stamp is not convertible: not finite, beyond what
// the platform breaks down, or outside the years 1 to 9999. A fraction of a
// second that rounds to a whole second at six decimals is carried into the
// next second, minute, hour and date.
bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out);

}  // namespace tsconv
