#pragma once

// What differs between POSIX and Windows: the process, local time and its zone, files.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "calendar.h"

namespace tsconv::platform {

// Before any file is opened: a closed standard descriptor is opened on the null device (else a
// file of the run could take it), and a write to a pipe without reader or beyond a file-size
// limit fails instead of ending the process. False when the null device cannot be opened.
bool prepare_process();

// A yearly change of a Windows zone: with year 0, on a weekday (0 = Sunday) of a week (5: the
// last) of the month, at a local clock time; month 0 where the zone has no such change.
struct ZoneChange {
    int year = 0, month = 0, week = 0, day_of_week = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A Windows zone's rules for a year: UTC = local time + bias + the standard or daylight bias.
struct SystemZone {
    int bias = 0, standard_bias = 0, daylight_bias = 0;  // minutes
    ZoneChange standard_start, daylight_start;
};

// What the C library read to know the zone, for the zone check; on Windows without TZ also the
// rules the breakdown applies, asked of the system as records need them. Set up once for a run,
// which holds it.
struct ZoneData {
    enum class Kind {
        rule_string,    // TZ alone: no zone file was found for it
        zone_file,      // the zone file's bytes, and TZ
        windows_rules,  // the Windows system zone, one entry per year of its own rules
        fixed_rules,    // rules of the C runtime's own: changes months apart, or none
        unknown,        // nothing the check can judge
    };
    Kind kind = Kind::unknown;
    std::string tz, file_bytes;
    std::vector<SystemZone> years;  // the rules of first_year, first_year + 1, ...
    int first_year = 0;
    std::string system_zone_id;  // Windows: the zone read at set-up, as bytes; every year is asked of it
    // Windows: which years the system has been asked for; one not yet asked holds the rules of the
    // nearest asked at set-up. Set where a later answer differs: the zone check saw only set-up's.
    std::vector<bool> asked;
    bool rules_unjudged = false;
    bool runtime_calendar = false;  // the C runtime finds a change's day with a calendar of its own
};

// Sets up the zone in use, before any breakdown, and gives what it was set up from; a zone file
// that changed meanwhile is unknown.
ZoneData load_time_zone();

// Seconds since 1970-01-01 00:00:00 UTC as local calendar time in the zone set up; false where
// the platform cannot represent that time. On Windows it may ask the system for a year's rules.
bool local_breakdown(ZoneData& zone, std::int64_t seconds_since_epoch, std::tm& out);

// Windows shows only the seconds from 1970-01-01 00:00:00 UTC to the end of 3000, on either path.
constexpr std::int64_t end_of_year_3000 = days_from_civil(3001, 1, 1) * seconds_per_day;
#ifdef _WIN32
constexpr bool shows_1970_to_3000_only = true;
#else
constexpr bool shows_1970_to_3000_only = false;
#endif

// File names as the system takes them: wide on Windows, so that every name opens.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// An argument as messages show it: in the ANSI code page on Windows, as the console does.
std::string shown_text(const PathChar* argument);

std::FILE* open_source(const PathChar* path);  // bytes as stored; null for a folder
std::FILE* open_target(const PathChar* path);  // created or truncated

// Cuts a regular file back to its first size bytes; false for anything else.
bool truncate_file(std::FILE* file, std::uint64_t size);

// True when the target path names the open source, also through a link: writing it would lose
// data or never end (a FIFO, pipe or socket). A character device such as /dev/null is allowed.
bool is_same_file(std::FILE* source, const PathChar* target_path);

// The converter reads and writes whole blocks; a stream buffer would only copy.
inline std::FILE* unbuffered(std::FILE* file) {
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace tsconv::platform
