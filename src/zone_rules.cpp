#include "zone_rules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calendar.h"

namespace tsconv {

namespace {

using Instants = std::vector<std::int64_t>;

constexpr std::int64_t seconds_per_day = 86400;

// glibc's arithmetic is followed exactly. The one thing it does that the
// instants below leave out: at a leap second it shows second 60, which moves
// the change of the shown offset one second past the leap record's time. A
// minute covers that with room.
constexpr std::int64_t glibc_margin = 60;

// The Windows C runtime finds the day of a change with its own calendar code
// (its leap-year test, for one, is the every-fourth-year one); its day may
// differ from the Gregorian one computed here by up to a week.
constexpr std::int64_t windows_day_error = 8 * seconds_per_day;

// Calendar ----------------------------------------------------------------

std::int64_t year_start(std::int64_t year) { return days_from_civil(year, 1, 1) * seconds_per_day; }

// POSIX TZ strings, as glibc reads and applies them -----------------------

// The day of a change and its local clock time.
struct ChangeRule {
    char form = 'M';  // 'J': day 1 to 365, February 29 never counted; 'n': day 0 to 365; 'M'
    int day = 0;      // J and n: the day; M: the weekday, 0 = Sunday
    int week = 0;     // M: 1 to 5, 5 = the last in the month
    int month = 0;    // M: 1 to 12
    std::int64_t time = 2 * 3600;  // may be negative or beyond one day
};

struct PosixZone {
    std::int64_t std_offset = 0;  // seconds east of UTC
    std::int64_t dst_offset = 0;
    bool has_dst = false;
    bool has_rules = false;
    ChangeRule start;  // of daylight saving time, on the standard clock
    ChangeRule end;    // on the daylight clock
};

// The given weekday (0 = Sunday) of the given week of a month, at a clock time.
ChangeRule month_rule(int month, int week, int day_of_week, std::int64_t time) {
    ChangeRule rule;
    rule.month = month;
    rule.week = week;
    rule.day = day_of_week;
    rule.time = time;
    return rule;
}

bool skip(const char*& p, char c) {
    if (*p != c) return false;
    ++p;
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One to three digits, at most max. Longer forms glibc reads too, but nobody writes.
bool parse_number(const char*& p, int max, int& value) {
    if (!is_digit(*p)) return false;
    value = 0;
    for (int digits = 0; is_digit(*p); ++digits) {
        if (digits == 3) return false;
        value = value * 10 + (*p++ - '0');
    }
    return value <= max;
}

// hh[:mm[:ss]] as seconds.
bool parse_clock(const char*& p, int max_hours, std::int64_t& seconds) {
    int hours = 0;
    int minutes = 0;
    int secs = 0;
    if (!parse_number(p, max_hours, hours)) return false;
    if (skip(p, ':')) {
        if (!parse_number(p, 59, minutes)) return false;
        if (skip(p, ':') && !parse_number(p, 59, secs)) return false;
    }
    seconds = hours * 3600 + minutes * 60 + secs;
    return true;
}

// Three letters or more, or <...> with three or more letters, digits, '+' or '-'.
bool parse_name(const char*& p) {
    const char* begin = p;
    while (is_letter(*p)) ++p;
    if (p - begin >= 3) return true;
    p = begin;
    if (!skip(p, '<')) return false;
    begin = p;
    while (is_letter(*p) || is_digit(*p) || *p == '+' || *p == '-') ++p;
    return p - begin >= 3 && skip(p, '>');
}

// [+-]hh[:mm[:ss]], positive west of UTC (glibc takes at most 24 hours).
bool parse_offset(const char*& p, std::int64_t& east) {
    const bool west = *p != '-';
    if (*p == '+' || *p == '-') ++p;
    std::int64_t seconds = 0;
    if (!parse_clock(p, 24, seconds)) return false;
    east = west ? -seconds : seconds;
    return true;
}

// Jn, n or Mm.w.d, then [/[+-]time] with up to 167 hours.
bool parse_rule(const char*& p, ChangeRule& rule) {
    rule = ChangeRule{};
    if (skip(p, 'J')) {
        rule.form = 'J';
        if (!parse_number(p, 365, rule.day) || rule.day < 1) return false;
    } else if (skip(p, 'M')) {
        if (!parse_number(p, 12, rule.month) || rule.month < 1 || !skip(p, '.') ||
            !parse_number(p, 5, rule.week) || rule.week < 1 || !skip(p, '.') ||
            !parse_number(p, 6, rule.day)) {
            return false;
        }
    } else {
        rule.form = 'n';
        if (!parse_number(p, 365, rule.day)) return false;
    }
    if (!skip(p, '/')) return true;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (!parse_clock(p, 167, rule.time)) return false;
    if (negative) rule.time = -rule.time;
    return true;
}

// Only the whole string in the forms above: glibc reads some other strings in
// part, with results not worth modelling.
bool parse_posix_zone(const char* p, PosixZone& zone) {
    zone = PosixZone{};
    if (!parse_name(p) || !parse_offset(p, zone.std_offset)) return false;
    if (*p == '\0') return true;
    if (!parse_name(p)) return false;
    zone.has_dst = true;
    zone.dst_offset = zone.std_offset + 3600;
    if (*p != ',' && *p != '\0' && !parse_offset(p, zone.dst_offset)) return false;
    if (*p == '\0') return true;
    zone.has_rules = true;
    return skip(p, ',') && parse_rule(p, zone.start) && skip(p, ',') && parse_rule(p, zone.end) &&
           *p == '\0';
}

// The day of the year (0 = January 1) a rule picks.
std::int64_t rule_day(const ChangeRule& rule, std::int64_t year) {
    const bool leap = is_leap_year(year);
    if (rule.form == 'J') return rule.day - 1 + (leap && rule.day >= 60);
    if (rule.form == 'n') return rule.day;
    static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::int64_t first = days_from_civil(year, rule.month, 1);
    const int first_weekday = static_cast<int>((first % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    const int length = month_days[rule.month - 1] + (leap && rule.month == 2);
    int day = (rule.day - first_weekday + 7) % 7 + 7 * (rule.week - 1);
    while (day >= length) day -= 7;
    return first - days_from_civil(year, 1, 1) + day;
}

// Appends the instants from `from` on where the offset can change under the
// zone's rules in the given UTC years: glibc computes both changes for the
// UTC year of the instant, so each change that falls in its own year, and
// each year's start, where the next year's changes take over.
void append_rule_changes(const PosixZone& zone, std::int64_t first_year, std::int64_t last_year,
                         std::int64_t from, Instants& out) {
    for (std::int64_t year = first_year; year <= last_year + 1; ++year) {
        const std::int64_t start = year_start(year);
        const std::int64_t next = year_start(year + 1);
        if (start >= from) out.push_back(start);
        if (year > last_year) break;
        const ChangeRule* rules[2] = {&zone.start, &zone.end};
        const std::int64_t offsets[2] = {zone.std_offset, zone.dst_offset};
        for (int i = 0; i < 2; ++i) {
            const std::int64_t in_year = rule_day(*rules[i], year) * seconds_per_day + rules[i]->time - offsets[i];
            // glibc counts the years up to 1970 from 1970-01-01, not from their own start.
            const std::int64_t counted_from[2] = {start, year <= 1970 ? 0 : start};
            for (const std::int64_t base : counted_from) {
                const std::int64_t change = base + in_year;
                if (change >= start && change < next && change >= from) out.push_back(change);
            }
        }
    }
}

// The same for all years from `from` on. The Gregorian calendar repeats its
// weekdays every 400 years, so 400 years past 1970 (with its odd years before)
// show every gap there is.
void append_rule_changes(const PosixZone& zone, std::int64_t from, Instants& out) {
    // From the year of `from` or one or two before, in the years 0 to 10000 (only those are converted).
    const std::int64_t first_year =
        from == INT64_MIN ? 1969 : std::clamp<std::int64_t>(1968 + from / (146097 * seconds_per_day / 400), 0, 10000);
    append_rule_changes(zone, first_year, std::max<std::int64_t>(first_year, 1969) + 401, from, out);
}

// The shortest gap between distinct instants, less the margin.
std::int64_t shortest_gap(Instants& changes, std::int64_t margin) {
    std::sort(changes.begin(), changes.end());
    changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
    std::uint64_t shortest = offset_never_changes;
    for (std::size_t i = 1; i < changes.size(); ++i) {
        // Unsigned: zone files may hold any 64-bit instants.
        shortest = std::min(shortest, static_cast<std::uint64_t>(changes[i]) - static_cast<std::uint64_t>(changes[i - 1]));
    }
    if (shortest == static_cast<std::uint64_t>(offset_never_changes)) return offset_never_changes;
    return shortest > static_cast<std::uint64_t>(margin) ? static_cast<std::int64_t>(shortest) - margin : 0;
}

// Zone files (TZif), as glibc reads them --------------------------------------

struct ZoneType {
    std::int64_t offset;  // seconds east of UTC
    bool dst;
};

bool is_zone_file(const std::string& bytes) { return bytes.compare(0, 4, "TZif") == 0; }

std::uint64_t big_endian(const std::string& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::int64_t signed_big_endian(const std::string& bytes, std::size_t at, int size) {
    const std::uint64_t value = big_endian(bytes, at, size);
    return size == 4 ? std::int64_t{static_cast<std::int32_t>(value)} : static_cast<std::int64_t>(value);
}

// One header and its data, with times of time_size bytes: transition and
// leap-second times added to changes, the block's types into types. At least
// as strict as glibc.
bool read_zone_block(const std::string& bytes, std::size_t& pos, int time_size, Instants& changes,
                     std::vector<ZoneType>& types, std::int64_t& last_transition) {
    if (bytes.size() - pos < 44 || bytes.compare(pos, 4, "TZif") != 0) return false;
    const std::uint64_t utc_flags = big_endian(bytes, pos + 20, 4);
    const std::uint64_t std_flags = big_endian(bytes, pos + 24, 4);
    const std::uint64_t leaps = big_endian(bytes, pos + 28, 4);
    const std::uint64_t transitions = big_endian(bytes, pos + 32, 4);
    const std::uint64_t type_count = big_endian(bytes, pos + 36, 4);
    const std::uint64_t chars = big_endian(bytes, pos + 40, 4);
    pos += 44;
    const std::uint64_t size = transitions * (time_size + 1) + type_count * 6 + chars +
                               leaps * (time_size + 4) + std_flags + utc_flags;
    if (type_count == 0 || bytes.size() - pos < size) return false;
    const std::size_t type_indexes = pos + transitions * time_size;
    const std::size_t type_records = type_indexes + transitions;
    const std::size_t leap_records = type_records + type_count * 6 + chars;
    last_transition = INT64_MIN;
    types.clear();
    for (std::size_t i = 0; i < transitions; ++i) {
        last_transition = signed_big_endian(bytes, pos + i * time_size, time_size);
        changes.push_back(last_transition);
        if (static_cast<unsigned char>(bytes[type_indexes + i]) >= type_count) return false;
    }
    for (std::size_t i = 0; i < type_count; ++i) {
        const std::size_t at = type_records + i * 6;
        const unsigned char dst = bytes[at + 4];
        const unsigned char name = bytes[at + 5];
        if (dst > 1 || name >= chars) return false;
        types.push_back(ZoneType{signed_big_endian(bytes, at, 4), dst == 1});
    }
    for (std::size_t i = 0; i < leaps; ++i) {
        changes.push_back(signed_big_endian(bytes, leap_records + i * (time_size + 4), time_size));
    }
    pos += size;
    return true;
}

// The instants where glibc's offset for a zone file can change: its
// transitions and leap seconds, and after its last transition those of its
// closing rule. Both the 32-bit and the 64-bit data count, whichever a glibc
// reads; types are the last block's. False where the file is not read as
// glibc reads it.
bool read_zone_file(const std::string& bytes, Instants& changes, std::vector<ZoneType>& types) {
    std::size_t pos = 0;
    std::int64_t last_transition = INT64_MIN;
    if (!read_zone_block(bytes, pos, 4, changes, types, last_transition)) return false;
    if (bytes[4] == '\0') return true;  // version 1: no more
    if (!read_zone_block(bytes, pos, 8, changes, types, last_transition)) return false;
    if (pos == bytes.size()) return true;  // no closing rule: the last type holds on
    const std::size_t end = bytes.find('\n', pos + 1);
    if (bytes[pos] != '\n' || end != bytes.size() - 1) return false;
    PosixZone rule;
    if (end == pos + 1) return true;
    if (!parse_posix_zone(bytes.substr(pos + 1, end - pos - 1).c_str(), rule)) return false;
    if (rule.has_dst && !rule.has_rules) return false;
    if (rule.has_dst) append_rule_changes(rule, last_transition, changes);
    return true;
}

}  // namespace

std::int64_t zone_file_offset_period(const std::string& bytes) {
    Instants changes;
    std::vector<ZoneType> types;
    if (!read_zone_file(bytes, changes, types)) return 0;
    return shortest_gap(changes, glibc_margin);
}

std::int64_t posix_zone_offset_period(const std::string& tz, const std::string& default_rules) {
    PosixZone zone;
    if (!parse_posix_zone(tz.c_str(), zone)) return 0;
    if (!zone.has_dst) return offset_never_changes;
    if (!zone.has_rules) {
        // glibc takes the transitions of posixrules (when it has two types or
        // more), each moved by the difference between one of the file's
        // offsets and the string's of the same kind; otherwise the US rules.
        Instants changes;
        std::vector<ZoneType> types;
        if (is_zone_file(default_rules)) {
            if (!read_zone_file(default_rules, changes, types)) return 0;
            if (types.size() >= 2) {
                std::int64_t moved = 0;
                for (const ZoneType& type : types) {
                    const std::int64_t shift = type.offset - (type.dst ? zone.dst_offset : zone.std_offset);
                    moved = std::max(moved, shift < 0 ? -shift : shift);
                }
                return shortest_gap(changes, 2 * moved + glibc_margin);
            }
        }
        zone.start = month_rule(3, 2, 0, 2 * 3600);
        zone.end = month_rule(11, 1, 0, 2 * 3600);
    }
    Instants changes;
    append_rule_changes(zone, INT64_MIN, changes);
    return shortest_gap(changes, glibc_margin);
}

// Windows C runtime -------------------------------------------------------------

// It breaks down only the years 1970 to 3000, in standard local time, and
// decides daylight saving time by that local year's two changes: the start on
// the standard clock, the end on the daylight clock, dst_offset ahead. The
// offset itself moves all changes alike.
void append_windows_changes(const ChangeRule& start, const ChangeRule& end, std::int64_t dst_offset,
                            std::int64_t first_year, std::int64_t last_year, Instants& out) {
    PosixZone zone;
    zone.has_dst = zone.has_rules = true;
    zone.dst_offset = dst_offset;
    zone.start = start;
    zone.end = end;
    append_rule_changes(zone, first_year, last_year, INT64_MIN, out);
}

std::int64_t windows_tz_offset_period() {
    // It reads a name, an offset and perhaps a daylight name; with one, it
    // applies the US rules of the year at hand, whatever follows: before 2007
    // the first Sunday in April to the last in October, since then the second
    // Sunday in March to the first in November. Without one the offset is
    // constant, which any bound allows.
    Instants changes;
    append_windows_changes(month_rule(4, 1, 0, 2 * 3600), month_rule(10, 5, 0, 2 * 3600), 3600, 1970, 2006,
                           changes);
    append_windows_changes(month_rule(3, 2, 0, 2 * 3600), month_rule(11, 1, 0, 2 * 3600), 3600, 2007,
                           2007 + 401, changes);
    return shortest_gap(changes, 2 * windows_day_error);
}

std::int64_t windows_zone_offset_period(const platform::SystemZone& zone) {
    const platform::ZoneChange& to_dst = zone.daylight_start;
    const platform::ZoneChange& to_std = zone.standard_start;
    const std::int64_t dst_offset = std::int64_t{zone.standard_bias} * 60 - std::int64_t{zone.daylight_bias} * 60;
    // No daylight date: the runtime keeps standard time. Equal biases: one offset anyway.
    if (to_dst.month == 0 || dst_offset == 0) return offset_never_changes;
    if (dst_offset < -seconds_per_day || dst_offset > seconds_per_day) return 0;
    for (const platform::ZoneChange* change : {&to_dst, &to_std}) {
        // A year other than 0 gives one date for that year alone: not modelled.
        if (change->year != 0 || change->month < 1 || change->month > 12 || change->week < 1 ||
            change->week > 5 || change->day_of_week < 0 || change->day_of_week > 6 ||
            change->hour < 0 || change->hour > 23 || change->minute < 0 || change->minute > 59 ||
            change->second < 0 || change->second > 59) {
            return 0;
        }
    }
    const auto rule = [](const platform::ZoneChange& change) {
        return month_rule(change.month, change.week, change.day_of_week,
                          change.hour * 3600 + change.minute * 60 + change.second);
    };
    Instants changes;
    append_windows_changes(rule(to_dst), rule(to_std), dst_offset, 1970, 1970 + 401, changes);
    return shortest_gap(changes, 2 * windows_day_error);
}

// The zone in use ------------------------------------------------------------------

namespace {

#if !defined(_WIN32) && defined(__GLIBC__)

// A zone file is a few kilobytes; a larger one is not modelled.
constexpr std::size_t max_zone_file = 1 << 20;

// The file's first bytes (up to one more than a zone file may have). False
// when it exists but cannot be opened; empty when it does not exist.
bool read_start(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
    char block[4096];
    std::size_t got = 0;
    while (bytes.size() <= max_zone_file && (got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.append(block, got);
    }
    std::fclose(file);
    return true;
}

std::string zone_folder() {
    const char* folder = std::getenv("TZDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo";
}

// glibc: TZ unset means /etc/localtime, empty means "Universal", a leading ':'
// is dropped. A name is looked for as a zone file (under TZDIR unless it
// starts with '/'); when none loads, /etc/localtime and an empty name mean
// UTC, anything else is read as a POSIX TZ string.
std::int64_t glibc_offset_period() {
    const char* tz = std::getenv("TZ");
    std::string name = tz == nullptr ? "/etc/localtime" : *tz == '\0' ? "Universal" : tz;
    if (name[0] == ':') name.erase(0, 1);
    if (name.empty()) return offset_never_changes;
    std::string bytes;
    if (!read_start(name[0] == '/' ? name : zone_folder() + "/" + name, bytes)) return 0;
    if (is_zone_file(bytes)) return bytes.size() > max_zone_file ? 0 : zone_file_offset_period(bytes);
    if (name == "/etc/localtime") return offset_never_changes;
    std::string default_rules;
    if (!read_start(zone_folder() + "/posixrules", default_rules)) default_rules.clear();
    if (default_rules.size() > max_zone_file) return 0;
    return posix_zone_offset_period(name, default_rules);
}

#endif

}  // namespace

std::int64_t shortest_offset_period() {
#if defined(_WIN32)
    // The runtime takes the system zone when TZ is unset or empty.
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz != '\0') return windows_tz_offset_period();
    platform::SystemZone zone;
    return platform::system_zone(zone) ? windows_zone_offset_period(zone) : 0;
#elif defined(__GLIBC__)
    return glibc_offset_period();
#else
    return 0;  // another C library: how it reads zones is not modelled
#endif
}

}  // namespace tsconv
