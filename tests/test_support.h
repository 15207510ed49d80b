#pragma once

// Helpers shared by the tests: time zones, scratch files, source lines, running commands.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace tsconv_test {

// Sets TZ for this process (and the programs it starts) and re-reads it.
void set_time_zone(const char* zone);
// True when the time-zone database knows the zone (so tests can skip it).
bool has_zone_file(const char* zone);

// The bytes of a zone file (TZif, version 2, the 32-bit block empty): two types, standard and daylight time, the
// transitions in the order given, alternately to daylight and to standard time, leap records one second each, the rule.
struct ZoneFile {
    std::vector<long long> transitions, leap_seconds;
    std::string rule = "AAA0";
    int standard_offset = 0, daylight_offset = 3600;  // seconds east of UTC
};
std::string zone_file_bytes(const ZoneFile& zone);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// A fresh, empty folder for the running test, one per name; its first request clears earlier tests' scratch files.
std::string scratch_folder(const std::string& name = "");
// The scratch folder holding source.csv of the given content and the path of target.csv there, the zone set.
struct Scene { std::string folder, source, target; };
Scene scene(const char* zone, const std::string& content);

// "DD.MM.YYYY;HH:MM:S.SSSSSS" as the target shows a local time, or up to the point without the millionths.
std::string shown_time(int day, int month, int year, int hour, int minute, int second, long millionths = -1);
// The source's time stamp of a UTC instant (days since 30.12.1899 on a clock at UTC+2), as a number and as full text.
double serial_from_unix(double unix_seconds);
std::string serial_date(long long unix_second);

// A real scratch file as a stream, reading the text given or else taking what is written, as the user's files are.
class ScratchStream {
public:
    ScratchStream() : ScratchStream("", "wb") {}
    explicit ScratchStream(const std::string& text) : ScratchStream(text, "rb") {}
    ScratchStream(const ScratchStream&) = delete;
    ScratchStream& operator=(const ScratchStream&) = delete;
    ~ScratchStream();
    std::FILE* file() const { return file_; }
    std::string close();  // closes the stream, gives back what the file holds
private:
    ScratchStream(const std::string& text, const char* mode);
    std::string path_;
    std::FILE* file_ = nullptr;
};

// Source lines decoded in turn onto one record: how many values each line supplies, the record after it, and the
// target line the record gives in the zone CET-1 (empty where the line supplies nothing).
struct DecodedLine { std::string line; int count; double serial_date, PV, wSP, wOP; std::string target_line; };
extern const std::vector<DecodedLine> decoding_table;

// A line of any form the tests know, without line end: signed numbers, blanks, exponents, log decimals, junk, NUL.
std::string random_source_line(std::mt19937& random);

// The exit status of a failed run as its caller sees it: -1 on Windows, where all 32 bits reach it; 255 in POSIX.
#ifdef _WIN32
constexpr int failure_status = -1;
#else
constexpr int failure_status = 255;
#endif
// The messages of a run that failed on its files.
inline std::string not_opened(std::string s) { return "Quelldatei <" + s + "> konnte nicht geoeffnet werden!\n"; }
inline std::string read_failed(std::string s) { return "Quelldatei <" + s + "> konnte nicht gelesen werden!\n"; }
inline std::string write_failed(std::string t) { return "Zieldatei <" + t + "> konnte nicht geschrieben werden!\n"; }
inline std::string target_is_source(std::string t) { return "Zieldatei <" + t + "> ist die Quelldatei!\n"; }

// The exit status (or 128 + the signal that ended the run) and what it printed.
struct CommandResult { int status = 0; std::string out, err; };
// Runs program with arguments, its output and errors caught in files, the zone of set_time_zone passed on. On
// Windows (through cmd.exe) the captured CR LF line ends are given back as "\n".
CommandResult run_command(const std::string& program, const std::vector<std::string>& arguments);
// Passes when the run ended with the status and printed exactly out and err.
testing::AssertionResult ran(const CommandResult& result, int status, const std::string& out,
                             const std::string& err = "");

}  // namespace tsconv_test
