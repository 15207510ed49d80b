#pragma once

// The few things that differ between POSIX and Windows: setting up the
// process, the local-time breakdown and the Windows system zone, opening and
// cutting files, and telling whether two paths name one file.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tsconv::platform {

// Makes the process safe from how it was started, before any file is opened.
// A closed standard descriptor (0, 1 or 2) is opened on the null device, so
// that no file of the run takes its number: warnings for standard error would
// land in the target. A write to a pipe whose reader has left, or beyond a
// file-size limit, fails with an error the run reports, instead of ending the
// process. False when the null device cannot be opened.
bool prepare_process();

// Breaks seconds since 1970-01-01 00:00:00 UTC down into the machine's local
// calendar time. False where the platform cannot represent that time.
bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out);

// One yearly change of a Windows zone, as the system gives it. With year 0 it
// falls on the given weekday (0 = Sunday) of the given week of the month (1 to
// 5, 5 = the last), at the given local clock time, every year.
struct ZoneChange {
    int year = 0;
    int month = 0;  // 1 to 12; 0 where the zone has no such change
    int week = 0;
    int day_of_week = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// A Windows zone's rules for a year: UTC = local time + the year's bias + the
// standard or daylight bias, in minutes.
struct SystemZone {
    int standard_bias = 0;
    int daylight_bias = 0;
    ZoneChange standard_start;  // the end of daylight saving time
    ZoneChange daylight_start;
};

// What the C library reads to know the zone, as it read it, for the zone check.
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
    // The runtime works out the day of a change with a calendar of its own.
    bool runtime_calendar = false;
};

// Sets up the platform's local time (TZ or the system's) once, before any
// breakdown, and gives what it was set up from. A zone file that changed
// while the C library read it is given as unknown.
ZoneData init_local_time();

// A file name as the system takes it: wide characters on Windows, so that
// every name Windows can hold opens, bytes elsewhere.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// A command-line argument as messages show it: on Windows in the ANSI code
// page, as the console shows it; elsewhere its bytes.
std::string shown_text(const PathChar* argument);

// Opens the source for reading bytes as stored. Null when it cannot be opened
// or is a folder.
std::FILE* open_source(const PathChar* path);

// Creates or truncates the target, for writing bytes as given.
std::FILE* open_target(const PathChar* path);

// Cuts a regular file back to its first size bytes. False where the file is no
// regular file or cannot be cut.
bool truncate_file(std::FILE* file, std::uint64_t size);

// True when the target path names the already open source (also through a
// link), where writing it while reading would lose data or wait for ever: a
// regular file would be truncated, a FIFO, pipe or socket would never end. A
// character device such as /dev/null is not refused.
bool is_same_file(std::FILE* source, const PathChar* target_path);

// The converter reads and writes whole blocks of its own; the stream's buffer
// would only add a copy.
inline std::FILE* unbuffered(std::FILE* file) {
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace tsconv::platform
