#pragma once

// Whether the zone in use is shown, from the very data the C library read, to keep each UTC
// offset longer than zone_check_span, so that a breakdown's offset may be trusted over a shorter
// span. Anything not recognised is refused (doc/DESIGN.md, "The zone check").

#include <cstdint>
#include <string>

#include "platform.h"

namespace tsconv {

constexpr std::int64_t zone_check_span = 16 * 60;  // seconds

bool zone_keeps_offsets(const platform::ZoneData& zone);

// The same for each form: a zone file's bytes (TZif 2 or later, with its closing rule); TZ read
// as a rule string (true where it is none); a year's rules of the Windows system zone, applied by
// the C runtime (with a calendar of its own) or by Windows.
bool zone_file_keeps_offsets(const std::string& bytes);
bool tz_string_keeps_offsets(const char* tz);
bool windows_zone_keeps_offsets(const platform::SystemZone& zone, bool runtime_calendar);

}  // namespace tsconv
