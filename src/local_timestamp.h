#pragma once

#include <cstdint>

namespace tsconv {

// A local time as a record shows it; the minute alone gives date and clock time (civil_minute).
struct LocalTimestamp {
    std::int64_t minute = 0;       // local minutes since 1970-01-01 00:00
    int second = 0;                // 0 to 59; 60 in a leap second where the zone counts them
    std::uint32_t millionths = 0;  // the fraction of the second rounded to six decimals
};

}  // namespace tsconv
