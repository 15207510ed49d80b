#pragma once

// A serial date on the source clock as the local time of the machine that converts.

#include <cstdint>

#include "local_timestamp.h"
#include "platform.h"

namespace tsconv {

// How far one breakdown may push the cached stretch: see doc/DESIGN.md, "The local-time cache".
constexpr std::int64_t cache_probe_span = 900;

// The zone in use, set up once for a run: what the platform set it up from, and the probe span
// for a cache in it, cache_probe_span where the zone is shown to keep each offset longer, else 0.
struct LocalZone {
    platform::ZoneData data;
    std::int64_t probe_span = 0;
};
LocalZone load_local_zone();

// A stretch of time with one UTC offset in the zone, so that the platform's breakdown is asked
// once a stretch, not once a record. A run starts with LocalTimeCache cache{&zone, zone.probe_span}.
struct LocalTimeCache {
    LocalZone* zone = nullptr;
    std::int64_t probe_span = 0;  // 0: the stretch is never pushed
    std::int64_t first = 0;       // the stretch is [first, last]; empty while last < first
    std::int64_t last = -1;
    std::int64_t offset = 0;        // local time minus UTC, in seconds
    std::int64_t minute = 0;        // the local minute last found, which most records share,
    std::int64_t minute_start = 0;  // and the local second it starts at
};

// A serial date (days since 1899-12-30 on a clock two hours ahead of UTC) as local time. False
// when not finite, beyond the platform's breakdown, or outside the years 1 to 9999 (on Windows
// outside 1970 to 3000 UTC). A fraction that rounds to a whole second at six decimals is carried
// into the next second.
bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out);

}  // namespace tsconv
