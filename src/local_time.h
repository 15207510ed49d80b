#pragma once

// A serial date on the source clock as the local time of the machine that converts.

#include <cstdint>

namespace tsconv {

// A local time as a record shows it; the minute alone gives date and clock time (civil_minute).
struct LocalTimestamp {
    std::int64_t minute = 0;       // local minutes since 1970-01-01 00:00
    int second = 0;                // 0 to 59; 60 in a leap second where the zone counts them
    std::uint32_t millionths = 0;  // the fraction of the second rounded to six decimals
};

// How far one breakdown may push the cached stretch: see doc/DESIGN.md, "The local-time cache".
constexpr std::int64_t cache_probe_span = 900;

// A stretch of time with one UTC offset, so that the platform's breakdown is asked once a
// stretch, not once a record. A run starts with LocalTimeCache cache{init_local_time()}.
struct LocalTimeCache {
    std::int64_t probe_span = 0;  // 0: the stretch is never pushed
    std::int64_t first = 0;       // the stretch is [first, last]; empty while last < first
    std::int64_t last = -1;
    std::int64_t offset = 0;        // local time minus UTC, in seconds
    std::int64_t minute = 0;        // the local minute last found, which most records share,
    std::int64_t minute_start = 0;  // and the local second it starts at
};

// Sets up the zone in use (TZ or the system's) and gives the probe span for a cache in it:
// cache_probe_span where the zone is shown to keep each offset longer, else 0.
std::int64_t init_local_time();

// A serial date (days since 1899-12-30 on a clock two hours ahead of UTC) as local time. False
// when not finite, beyond the platform's breakdown, or outside the years 1 to 9999. A fraction
// that rounds to a whole second at six decimals is carried into the next second.
bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out);

}  // namespace tsconv
