#pragma once

// The few things that differ between POSIX and Windows: the local-time
// breakdown and the Windows system zone, opening files, and telling whether
// two paths name one file.

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace tsconv::platform {

// Reads the time-zone settings (TZ or the system's) once, before any breakdown.
void init_local_time();

// Breaks seconds since 1970-01-01 00:00:00 UTC down into the machine's local
// calendar time. False where the platform cannot represent that time.
bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out);

// One yearly change of the Windows system zone, as the system gives it. With
// year 0 it falls on the given weekday (0 = Sunday) of the given week of the
// month (1 to 5, 5 = the last), at the given local clock time, every year.
struct ZoneChange {
    int year = 0;
    int month = 0;  // 1 to 12; 0 where the zone has no such change
    int week = 0;
    int day_of_week = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The Windows system zone: UTC = local time + bias (+ standard or daylight
// bias), in minutes.
struct SystemZone {
    int bias = 0;
    int standard_bias = 0;
    int daylight_bias = 0;
    ZoneChange standard_start;  // the end of daylight saving time
    ZoneChange daylight_start;
};

#ifdef _WIN32
// The zone the C runtime applies when TZ is not set. False when the system
// cannot tell.
bool system_zone(SystemZone& out);
#endif

// Opens the source for reading bytes as stored. Null when it cannot be opened
// or is a folder.
std::FILE* open_source(const char* path);

// Creates or truncates the target, for writing bytes as given.
std::FILE* open_target(const char* path);

// True when the target path names the already open source file (also through a
// link), so that opening the target would truncate the source.
bool is_same_file(std::FILE* source, const char* target_path);

}  // namespace tsconv::platform
