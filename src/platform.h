#pragma once

// The few things that differ between POSIX and Windows: setting up the
// process, the local-time breakdown and the Windows system zone, opening and
// cutting files, and telling whether two paths name one file.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace tsconv::platform {

// Makes the process safe from how it was started, before any file is opened.
// A closed standard descriptor (0, 1 or 2) is opened on the null device, so
// that no file of the run takes its number: warnings for standard error would
// land in the target. A write to a pipe whose reader has left, or beyond a
// file-size limit, fails with an error the run reports, instead of ending the
// process. False when the null device cannot be opened.
bool prepare_process();

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

// The Windows system zone: UTC = local time + its bias + the standard or
// daylight bias, in minutes.
struct SystemZone {
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

#ifndef _WIN32
enum class FileRead { read, missing, refused };

// Reads a regular file of at most max_size bytes whole. Missing where no file
// of that name exists; refused where it cannot be read, is larger, or is no
// regular file: a FIFO or device is never opened.
FileRead read_regular_file(const char* path, std::size_t max_size, std::string& bytes);
#endif

// Opens the source for reading bytes as stored. Null when it cannot be opened
// or is a folder.
std::FILE* open_source(const char* path);

// Creates or truncates the target, for writing bytes as given.
std::FILE* open_target(const char* path);

// Cuts a regular file back to its first size bytes. False where the file is no
// regular file or cannot be cut.
bool truncate_file(std::FILE* file, std::uint64_t size);

// True when the target path names the already open source (also through a
// link), where writing it while reading would lose data or wait for ever: a
// regular file would be truncated, a FIFO, pipe or socket would never end. A
// character device such as /dev/null is not refused.
bool is_same_file(std::FILE* source, const char* target_path);

}  // namespace tsconv::platform
