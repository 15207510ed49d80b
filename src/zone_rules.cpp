#include "zone_rules.h"

#include <algorithm>
#include <cstdlib>

#include "calendar.h"

namespace tsconv {

namespace {

constexpr std::int64_t seconds_per_week = 7 * seconds_per_day;

// Rule strings ---------------------------------------------------------------------

// One yearly change: on a day of the year (Jn, n or Mm.w.d) at a clock time of
// the offset in force before it.
struct YearlyChange {
    char form = 'M';               // 'J': day 1 to 365, February 29 never counted; 'n': day 0 to 365
    int day = 0;                   // J and n: the day; M: the weekday, 0 = Sunday
    int week = 0;                  // M: 1 to 5, 5 = the last in the month
    int month = 0;                 // M: 1 to 12
    std::int64_t time = 2 * 3600;  // may be negative or beyond one day
    std::int64_t offset = 0;       // of the clock it is given on, seconds east of UTC
};

struct RuleString {
    bool has_dst = false;
    YearlyChange changes[2];  // to daylight time, back to standard time
};

enum class Parsed { no_rule, rule, malformed };

bool skip(const char*& p, char c) { return *p == c && (++p, true); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One to three digits, at most max.
bool number(const char*& p, int max, int& value) {
    value = 0;
    const char* const begin = p;
    while (is_digit(*p) && p - begin < 3) value = value * 10 + (*p++ - '0');
    return p != begin && !is_digit(*p) && value <= max;
}

// [+-]hh[:mm[:ss]] in seconds.
bool clock(const char*& p, int max_hours, std::int64_t& seconds) {
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int hours = 0, minutes = 0, secs = 0;
    if (!number(p, max_hours, hours)) return false;
    if (skip(p, ':') && (!number(p, 59, minutes) || (skip(p, ':') && !number(p, 59, secs)))) return false;
    seconds = (negative ? -1 : 1) * (hours * 3600 + minutes * 60 + secs);
    return true;
}

// Three letters or more, or <...> with three or more letters, digits, + or -.
bool name(const char*& p) {
    const char* begin = p;
    while (is_letter(*p)) ++p;
    if (p - begin >= 3) return true;
    if (!skip(p, '<')) return false;
    for (begin = p; is_letter(*p) || is_digit(*p) || *p == '+' || *p == '-';) ++p;
    return p - begin >= 3 && skip(p, '>');
}

bool yearly_change(const char*& p, YearlyChange& change) {
    if (skip(p, 'J')) {
        change.form = 'J';
        if (!number(p, 365, change.day) || change.day < 1) return false;
    } else if (skip(p, 'M')) {
        if (!number(p, 12, change.month) || change.month < 1 || !skip(p, '.') || !number(p, 5, change.week) ||
            change.week < 1 || !skip(p, '.') || !number(p, 6, change.day)) {
            return false;
        }
    } else {
        change.form = 'n';
        if (!number(p, 365, change.day)) return false;
    }
    return !skip(p, '/') || clock(p, 167, change.time);
}

// "std offset [dst [offset] ,change,change]", the whole string. A string
// with no offset after its first name is no rule string at all.
Parsed parse_rule_string(const char* p, RuleString& rule) {
    rule = RuleString{};
    std::int64_t std_west = 0;
    std::int64_t dst_west = 0;
    const bool bracketed = *p == '<';
    if (!name(p)) return bracketed ? Parsed::malformed : Parsed::no_rule;
    if (*p != '+' && *p != '-' && !is_digit(*p)) return Parsed::no_rule;
    if (!clock(p, 24, std_west)) return Parsed::malformed;
    if (*p == '\0') return Parsed::rule;
    rule.has_dst = true;
    if (!name(p)) return Parsed::malformed;
    const bool dst_offset_given = *p != ',';
    if ((dst_offset_given && !clock(p, 24, dst_west)) || !skip(p, ',') ||
        !yearly_change(p, rule.changes[0]) || !skip(p, ',') || !yearly_change(p, rule.changes[1]) || *p != '\0') {
        return Parsed::malformed;  // also daylight time without rules of its own
    }
    rule.changes[0].offset = -std_west;
    rule.changes[1].offset = dst_offset_given ? -dst_west : -std_west + 3600;  // an hour ahead unless given
    return Parsed::rule;
}

constexpr int days_before_month[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// The day of the year (0 = January 1) a change falls on.
std::int64_t change_day(const YearlyChange& change, std::int64_t year) {
    const bool leap = is_leap_year(year);
    if (change.form == 'J') return change.day - 1 + (leap && change.day >= 60);
    if (change.form == 'n') return change.day;
    const int first = days_before_month[change.month - 1] + (leap && change.month > 2);
    const int length = days_before_month[change.month] - days_before_month[change.month - 1] + (leap && change.month == 2);
    const std::int64_t first_weekday = (days_from_civil(year, change.month, 1) % 7 + 11) % 7;  // 1970-01-01: Thursday
    std::int64_t day = (change.day - first_weekday + 7) % 7 + 7 * (change.week - 1);
    while (day >= length) day -= 7;
    return first + day;
}

// Seconds from the start of the UTC year to the change.
std::int64_t change_in_year(const YearlyChange& change, std::int64_t year) {
    return change_day(change, year) * seconds_per_day + change.time - change.offset;
}

// True when, in every year, both changes lie a week or more inside the year
// and two weeks or more apart, even if each may be `error` off: every change
// is then weeks from the next, whichever year's changes apply. The calendar
// repeats every 28 years from 1901 to 2099, and those years hold all 14 kinds
// of year (leap or not, starting on each weekday).
bool changes_weeks_apart(const RuleString& rule, std::int64_t error) {
    if (!rule.has_dst) return true;
    std::int64_t first[2] = {INT64_MAX, INT64_MAX};
    std::int64_t last[2] = {INT64_MIN, INT64_MIN};
    for (int i = 0; i < 2; ++i) {
        for (std::int64_t year = 2000; year < 2028; ++year) {
            first[i] = std::min(first[i], change_in_year(rule.changes[i], year) - error);
            last[i] = std::max(last[i], change_in_year(rule.changes[i], year) + error);
        }
        if (first[i] < seconds_per_week || last[i] > 365 * seconds_per_day - seconds_per_week) return false;
    }
    return last[0] + 2 * seconds_per_week <= first[1] || last[1] + 2 * seconds_per_week <= first[0];
}

// Zone files (TZif) -------------------------------------------------------------------

std::int64_t big_endian(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return size == 4 ? std::int64_t{static_cast<std::int32_t>(value)} : static_cast<std::int64_t>(value);
}

// Checks one header and its data block, times of time_size bytes, and moves
// pos past them. True where the counts agree with each other and the file,
// and every transition and leap record, in order, is more than
// zone_check_span from the next. last_transition is left as it was when the
// block has none.
bool block_keeps_offsets(const std::string& bytes, std::size_t& pos, std::size_t time_size,
                         std::int64_t& last_transition) {
    constexpr std::size_t header_size = 44;
    if (bytes.size() - pos < header_size || bytes.compare(pos, 5, bytes, 0, 5) != 0) return false;
    std::uint64_t count[6];  // UT flags, standard flags, leap records, transitions, types, name characters
    for (int i = 0; i < 6; ++i) count[i] = static_cast<std::uint32_t>(big_endian(bytes, pos + 20 + 4 * i, 4));
    const std::uint64_t types = count[4];
    if (types == 0 || count[5] == 0 || (count[0] != 0 && count[0] != types) || (count[1] != 0 && count[1] != types)) {
        return false;
    }
    pos += header_size;
    const std::uint64_t size = count[3] * (time_size + 1) + types * 6 + count[5] + count[2] * (time_size + 4) +
                               count[1] + count[0];
    if (bytes.size() - pos < size) return false;
    // All within the file from here on.
    const std::size_t transitions = pos;
    const std::size_t type_indexes = transitions + count[3] * time_size;
    const std::size_t type_records = type_indexes + count[3];
    const std::size_t leaps = type_records + types * 6 + count[5];
    for (std::size_t i = 0; i < types; ++i) {
        const std::size_t at = type_records + i * 6;
        if (static_cast<unsigned char>(bytes[at + 4]) > 1 || static_cast<unsigned char>(bytes[at + 5]) >= count[5]) {
            return false;
        }
    }
    // Both lists merged in order: each instant must lie far from the one before.
    std::size_t t = 0;
    std::size_t l = 0;
    std::int64_t previous = 0;
    while (t < count[3] || l < count[2]) {
        const std::int64_t next_transition = t < count[3] ? big_endian(bytes, transitions + t * time_size, time_size) : INT64_MAX;
        const std::int64_t next_leap = l < count[2] ? big_endian(bytes, leaps + l * (time_size + 4), time_size) : INT64_MAX;
        const bool is_transition = t < count[3] && (l == count[2] || next_transition <= next_leap);
        const std::int64_t instant = is_transition ? next_transition : next_leap;
        if (is_transition && static_cast<unsigned char>(bytes[type_indexes + t]) >= types) return false;
        // Unsigned: zone files may hold any 64-bit instants.
        if (t + l > 0 && static_cast<std::uint64_t>(instant) - static_cast<std::uint64_t>(previous) <= zone_check_span) return false;
        if (t + l > 0 && instant < previous) return false;
        previous = instant;
        if (is_transition) {
            last_transition = instant;
            ++t;
        } else {
            ++l;
        }
    }
    pos += size;
    return true;
}

// After the last transition the closing rule takes over: none of its changes
// may follow that transition closely. Transitions beyond the years a record
// can have matter to none.
bool rule_starts_clear(const RuleString& rule, std::int64_t last_transition) {
    constexpr std::int64_t far = std::int64_t{1} << 40;
    if (!rule.has_dst || last_transition < -far || last_transition > far) return true;
    int year, month, day;
    civil_from_days(last_transition / seconds_per_day, year, month, day);
    for (std::int64_t y = year - 1; y <= year + 1; ++y) {
        for (const YearlyChange& change : rule.changes) {
            const std::int64_t instant = days_from_civil(y, 1, 1) * seconds_per_day + change_in_year(change, y);
            if (instant > last_transition && instant - last_transition <= zone_check_span) return false;
        }
    }
    return true;
}

}  // namespace

bool zone_file_keeps_offsets(const std::string& bytes) {
    if (bytes.size() < 5 || bytes.compare(0, 4, "TZif") != 0 || bytes[4] < '2' || bytes[4] > '4') return false;
    std::size_t pos = 0;
    std::int64_t last_transitions[2] = {INT64_MIN, INT64_MIN};
    if (!block_keeps_offsets(bytes, pos, 4, last_transitions[0]) ||
        !block_keeps_offsets(bytes, pos, 8, last_transitions[1])) {
        return false;
    }
    // The closing rule, between line ends, ends the file.
    const std::size_t rule_end = bytes.size() - 1;
    if (rule_end <= pos || bytes[pos] != '\n' || bytes[rule_end] != '\n') return false;
    const std::string text = bytes.substr(pos + 1, rule_end - pos - 1);
    if (text.empty()) return true;  // no rule: the offset of the last transition holds on
    RuleString rule;
    if (text.find_first_of(std::string("\n\0", 2)) != std::string::npos ||
        parse_rule_string(text.c_str(), rule) != Parsed::rule || !changes_weeks_apart(rule, 0)) {
        return false;
    }
    return rule_starts_clear(rule, last_transitions[0]) && rule_starts_clear(rule, last_transitions[1]);
}

bool tz_string_keeps_offsets(const char* tz) {
    RuleString rule;
    const Parsed parsed = parse_rule_string(tz, rule);
    return parsed == Parsed::no_rule || (parsed == Parsed::rule && changes_weeks_apart(rule, 0));
}

bool windows_zone_keeps_offsets(const platform::SystemZone& zone) {
    const platform::ZoneChange* dates[2] = {&zone.daylight_start, &zone.standard_start};
    if (dates[0]->month == 0 || zone.standard_bias == zone.daylight_bias) return true;  // no daylight time
    RuleString rule;
    rule.has_dst = true;
    for (int i = 0; i < 2; ++i) {
        const platform::ZoneChange& date = *dates[i];
        // A year other than 0 gives one date for that year alone.
        if (date.year != 0 || date.month < 1 || date.month > 12 || date.week < 1 || date.week > 5 ||
            date.day_of_week < 0 || date.day_of_week > 6 || date.hour < 0 || date.hour > 23 ||
            date.minute < 0 || date.minute > 59 || date.second < 0 || date.second > 59) {
            return false;
        }
        rule.changes[i].month = date.month;
        rule.changes[i].week = date.week;
        rule.changes[i].day = date.day_of_week;
        rule.changes[i].time = date.hour * 3600 + date.minute * 60 + date.second;
    }
    // The runtime finds the day with a calendar of its own, which may put it a
    // week off; with the zone's offset (under a day), eight days cover it.
    return changes_weeks_apart(rule, 8 * seconds_per_day);
}

bool zone_keeps_offsets() {
#if defined(_WIN32)
    // With TZ set, the runtime applies fixed rules of its own: changes months
    // apart, or none. Without, the system zone.
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz != '\0') return true;
    platform::SystemZone zone;
    return platform::system_zone(zone) && windows_zone_keeps_offsets(zone);
#elif defined(__GLIBC__)
    // The zone file glibc reads: TZ unset (or ":") names /etc/localtime, empty
    // names "Universal"; a name not starting with "/" is found under TZDIR.
    // Where no file loads, glibc reads TZ as a rule string, so that must pass
    // too (a name that is no rule string means UTC).
    const char* tz = std::getenv("TZ");
    std::string name = tz == nullptr ? "" : *tz == '\0' ? "Universal" : tz + (*tz == ':');
    if (name.empty()) name = "/etc/localtime";
    const char* folder = std::getenv("TZDIR");
    const std::string path =
        name[0] == '/' ? name : (folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo") + ("/" + name);
    std::string bytes;
    switch (platform::read_regular_file(path.c_str(), 1 << 20, bytes)) {
    case platform::FileRead::missing: return tz_string_keeps_offsets(name.c_str());
    case platform::FileRead::read: return zone_file_keeps_offsets(bytes) && tz_string_keeps_offsets(name.c_str());
    case platform::FileRead::refused: return false;
    }
    return false;
#else
    return false;  // another C library: every second gets its own breakdown
#endif
}

}  // namespace tsconv
