#pragma once

// How long, at the least, the machine's local time keeps one UTC offset. One
// offset seen at both ends of a span holds all the way between only where the
// zone in use cannot change its offset twice within that span.
//
// Each bound comes from a superset of the instants where the platform's
// offset can change, modelled on how the platform reads the zone: the
// shortest gap between two of them, less a margin for what the model may get
// wrong by a bounded amount. Whatever is not modelled gives 0.

#include <cstdint>
#include <string>

#include "platform.h"

namespace tsconv {

// The bound for a zone whose offset never changes, or changes only once.
constexpr std::int64_t offset_never_changes = INT64_MAX;

// A lower bound, in seconds, on how long the machine's local time keeps one
// UTC offset, for the zone the platform's breakdown applies (TZ or the
// system's). 0 when it cannot be shown. Reads the environment and zone files:
// call once per run, after platform::init_local_time().
std::int64_t shortest_offset_period();

// The same for each form of zone, free of platform calls.
//
// As glibc applies them: a zone file (TZif bytes); a POSIX TZ string, with
// the bytes of the zone file "posixrules" (empty when there is none), whose
// changes glibc takes for a string that names daylight saving time but no
// rules.
std::int64_t zone_file_offset_period(const std::string& bytes);
std::int64_t posix_zone_offset_period(const std::string& tz, const std::string& default_rules);

// As the Windows C runtime applies them: any TZ value (the runtime applies
// US rules whenever it names daylight saving time), and the system zone.
std::int64_t windows_tz_offset_period();
std::int64_t windows_zone_offset_period(const platform::SystemZone& zone);

}  // namespace tsconv
