#pragma once

// The few things that differ between POSIX and Windows: the local-time
// breakdown, opening files, and telling whether two paths name one file.

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace tsconv::platform {

// Reads the time-zone settings (TZ or the system's) once, before any breakdown.
void init_local_time();

// Breaks seconds since 1970-01-01 00:00:00 UTC down into the machine's local
// calendar time. False where the platform cannot represent that time.
bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out);

// Opens the source for reading bytes as stored. Null when it cannot be opened
// or is a folder.
std::FILE* open_source(const char* path);

// Creates or truncates the target, for writing bytes as given.
std::FILE* open_target(const char* path);

// True when the target path names the already open source file (also through a
// link), so that opening the target would truncate the source.
bool is_same_file(std::FILE* source, const char* target_path);

}  // namespace tsconv::platform
