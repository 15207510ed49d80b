#pragma once

// Turning a spreadsheet serial date on the source clock into the local
// calendar date and clock time of the machine that runs the conversion.

#include <climits>
#include <cstdint>

namespace tsconv {

struct LocalTimestamp {
    int day = 0;     // 1 to 31
    int month = 0;   // 1 to 12
    int year = 0;    // 1 to 9999
    int hour = 0;    // 0 to 23
    int minute = 0;  // 0 to 59
    double second = 0.0;  // whole second plus its fraction; shows below 60.999999 at six decimals
};

// Remembers one stretch of time over which the local time keeps one UTC
// offset, so that the platform's breakdown is asked about once a stretch
// rather than once a record. Start each run with an empty cache.
struct LocalTimeCache {
    std::int64_t first = 0;  // the stretch is [first, last]; empty while last < first
    std::int64_t last = -1;
    std::int64_t offset = 0;  // local time minus UTC, in seconds
    // The calendar date of the local day last shown, in days since 1970-01-01.
    std::int64_t day = INT64_MIN;
    std::int64_t day_year = 0;
    int day_month = 0;
    int day_of_month = 0;
};

// How far the cached stretch is pushed ahead (or back) with one breakdown. The
// shortest time any zone of the time-zone database keeps one offset is days,
// so one offset at both ends of this span holds all the way between.
constexpr std::int64_t cache_probe_span = 900;

// Converts a serial date (days since 1899-12-30 on a clock two hours ahead of
// UTC). False when the time stamp is not convertible: not finite, beyond what
// the platform breaks down, or outside the years 1 to 9999. A fraction of a
// second that rounds to a whole second at six decimals is carried into the
// next second, minute, hour and date.
bool to_local_timestamp(double serial_date, LocalTimeCache& cache, LocalTimestamp& out);

}  // namespace tsconv
