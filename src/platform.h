#pragma once

// What differs between POSIX and Windows: setting up the process, local time
// and the zone it follows, file names, opening and cutting files, and whether
// two paths name one file.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tsconv::platform {

// Makes the process safe from how it was started, before any file is opened:
// a closed standard descriptor is opened on the null device (else a file of
// the run could take it, and warnings land in the target), and a write to a
// pipe without reader or beyond a file-size limit fails instead of ending the
// process. False when the null device cannot be opened.
bool prepare_process();

// Breaks seconds since 1970-01-01 00:00:00 UTC down into the machine's local
// calendar time. False where the platform cannot represent that time.
bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out);

// One yearly change of a Windows zone: with year 0, on the given weekday
// (0 = Sunday) of the given week (5 = the last) of the month, at the local
// clock time; month 0 where the zone has no such change.
struct ZoneChange {
    int year = 0, month = 0, week = 0, day_of_week = 0, hour = 0, minute = 0, second = 0;
};

// A Windows zone's rules for a year: UTC = local time + the year's bias + the
// standard or daylight bias, in minutes.
struct SystemZone {
    int standard_bias = 0;
    int daylight_bias = 0;
    ZoneChange standard_start;  // the end of daylight saving time
    ZoneChange daylight_start;
};

// What the C library read to know the zone, for the zone check.
struct ZoneData {
    enum class Kind {
        rule_string,    // TZ alone: no zone file was found for it
        zone_file,      // the zone file's bytes, and TZ
        windows_rules,  // the Windows system zone, one entry per year of its own rules
        fixed_rules,    // rules of the C runtime's own: changes months apart, or none
        unknown,        // nothing the check can judge
    };
    Kind kind = Kind::unknown;
    std::string tz;
    std::string file_bytes;
    std::vector<SystemZone> years;
    bool runtime_calendar = false;  // the C runtime finds a change's day with a calendar of its own
};

// Sets up local time (TZ or the system's) once, before any breakdown, and
// gives what it was set up from; a zone file that changed meanwhile is unknown.
ZoneData init_local_time();

// A file name as the system takes it: wide on Windows, so that every name
// Windows can hold opens; bytes elsewhere.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// A command-line argument as messages show it: on Windows in the ANSI code
// page, as the console shows it; elsewhere its bytes.
std::string shown_text(const PathChar* argument);

// The source, opened to read bytes as stored; null when it cannot be opened or
// is a folder.
std::FILE* open_source(const PathChar* path);

// The target, created or truncated, to write bytes as given.
std::FILE* open_target(const PathChar* path);

// Cuts a regular file back to its first size bytes; false for anything else.
bool truncate_file(std::FILE* file, std::uint64_t size);

// True when the target path names the open source (also through a link):
// writing it would lose data (a regular file) or never end (a FIFO, pipe or
// socket). A character device such as /dev/null is not refused.
bool is_same_file(std::FILE* source, const PathChar* target_path);

// The converter reads and writes whole blocks; a stream buffer would only copy.
inline std::FILE* unbuffered(std::FILE* file) {
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace tsconv::platform
