#include "zone_check.h"

#include <algorithm>
#include <vector>

#include "ascii.h"
#include "calendar.h"

namespace tsconv {

namespace {

// Rule strings: "std offset [dst [offset],change,change]", each change Mm.w.d[/time] (weekday d of
// week w of month m); the day-of-year forms, which no zone in use has, are not read.
struct YearlyChange {
    int month = 0, week = 0, weekday = 0;
    std::int64_t time = 2 * seconds_per_hour;  // may be negative or beyond one day
    std::int64_t offset = 0;                   // of the clock it is given on, seconds east of UTC
};

struct RuleString {
    bool has_dst = false;
    YearlyChange changes[2];  // to daylight time, back to standard time
};

enum class Parsed { no_rule, rule, malformed };
bool take(const char*& p, char c) { return *p == c && (++p, true); }  // c, where it stands at p
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One to three digits, from min to max.
bool read_number(const char*& p, int min, int max, int& value) {
    const char* const begin = p;
    for (value = 0; is_digit(*p) && p - begin < 3; ++p) value = value * 10 + (*p - '0');
    return p != begin && !is_digit(*p) && value >= min && value <= max;
}

// [+-]hh[:mm[:ss]] in seconds.
bool read_clock(const char*& p, int max_hours, std::int64_t& seconds) {
    const int sign = take(p, '-') ? -1 : (take(p, '+'), 1);
    int hours = 0, minutes = 0, secs = 0;
    const bool read = read_number(p, 0, max_hours, hours) &&
                      (!take(p, ':') || (read_number(p, 0, 59, minutes) &&
                                         (!take(p, ':') || read_number(p, 0, 59, secs))));
    seconds = sign * (hours * seconds_per_hour + minutes * seconds_per_minute + secs);
    return read;
}

// Three letters or more, or <...> with three or more letters, digits, + or -.
bool read_zone_name(const char*& p) {
    const char* const begin = p;
    const bool quoted = take(p, '<');
    while (is_letter(*p) || (quoted && (is_digit(*p) || *p == '+' || *p == '-'))) ++p;
    return p - begin - quoted >= 3 && (!quoted || take(p, '>'));
}

// For the rule strings and the Windows zone alike.
bool in_range(const YearlyChange& change, std::int64_t max_time) {
    return change.month >= 1 && change.month <= 12 && change.week >= 1 && change.week <= 5 && change.weekday >= 0 &&
           change.weekday <= 6 && change.time > -max_time && change.time < max_time;
}

bool read_yearly_change(const char*& p, YearlyChange& change) {
    return take(p, 'M') && read_number(p, 0, 999, change.month) && take(p, '.') &&
           read_number(p, 0, 999, change.week) && take(p, '.') && read_number(p, 0, 999, change.weekday) &&
           (!take(p, '/') || read_clock(p, 167, change.time)) && in_range(change, 168 * seconds_per_hour);
}

// No offset after the first name: no rule string. Daylight time without rules of its own: malformed.
Parsed parse_rule_string(const char* p, RuleString& rule) {
    rule = RuleString{};
    std::int64_t std_west = 0, dst_west = 0;
    const bool quoted = *p == '<';
    if (!read_zone_name(p)) return quoted ? Parsed::malformed : Parsed::no_rule;
    if (*p != '+' && *p != '-' && !is_digit(*p)) return Parsed::no_rule;
    if (!read_clock(p, 24, std_west)) return Parsed::malformed;
    if (*p == '\0') return Parsed::rule;
    rule.has_dst = true;
    if (!read_zone_name(p)) return Parsed::malformed;
    const bool dst_offset_given = *p != ',';
    if ((dst_offset_given && !read_clock(p, 24, dst_west)) || !take(p, ',') ||
        !read_yearly_change(p, rule.changes[0]) || !take(p, ',') || !read_yearly_change(p, rule.changes[1]) ||
        *p != '\0') {
        return Parsed::malformed;
    }
    rule.changes[0].offset = -std_west;
    rule.changes[1].offset = dst_offset_given ? -dst_west : seconds_per_hour - std_west;  // an hour ahead unless given
    return Parsed::rule;
}

// The instant of a change in a year, in seconds since 1970-01-01 UTC.
std::int64_t change_instant(const YearlyChange& change, std::int64_t year) {
    const std::int64_t first = days_from_civil(year, change.month, 1);
    const std::int64_t length = days_in_month(year, change.month);
    const std::int64_t first_weekday = (first % 7 + 11) % 7;  // 1970-01-01 was a Thursday
    std::int64_t day = (change.weekday - first_weekday + 7) % 7 + 7 * (change.week - 1);
    while (day >= length) day -= 7;
    return (first + day) * seconds_per_day + change.time - change.offset;
}

// Each instant, in order, more than span after the one before (a zone file may hold any 64-bit
// instants). Sorts its own copy.
bool far_apart(std::vector<std::int64_t> instants, std::int64_t span) {
    std::sort(instants.begin(), instants.end());
    for (std::size_t i = 1; i < instants.size(); ++i) {
        const std::uint64_t gap = static_cast<std::uint64_t>(instants[i]) - static_cast<std::uint64_t>(instants[i - 1]);
        if (gap <= static_cast<std::uint64_t>(span)) return false;
    }
    return true;
}

// In every kind of year (2000 to 2027 hold all 14), the changes and the New Years lie two weeks apart
// and more, each change `error` off or not (doc/DESIGN.md, "Zone files and rule strings").
bool changes_weeks_apart(const RuleString& rule, std::int64_t error) {
    for (std::int64_t year = 2000; rule.has_dst && year < 2028; ++year) {
        std::vector<std::int64_t> instants = {
            days_from_civil(year, 1, 1) * seconds_per_day, days_from_civil(year + 1, 1, 1) * seconds_per_day,
            change_instant(rule.changes[0], year), change_instant(rule.changes[1], year)};
        if (!far_apart(instants, 2 * seconds_per_week + 2 * error)) return false;
    }
    return true;
}

// Zone files (TZif). A header: "TZif", the version, 15 bytes reserved, then six 4-byte counts.
constexpr std::size_t header_size = 44;
enum Count { ut_flags, standard_flags, leap_records, transitions, types, name_bytes, count_kinds };
constexpr std::size_t type_record_size = 6;  // the offset (4 bytes), the daylight flag, the name's index

std::int64_t big_endian(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return size == 4 ? std::int64_t{static_cast<std::int32_t>(value)} : static_cast<std::int64_t>(value);
}

struct DataBlockTimes {  // what one data block of a zone file holds for the check
    std::vector<std::int64_t> instants;  // its transitions and leap records
    std::int64_t last_transition = INT64_MIN;
    bool has_leaps = false;
};

// Reads one header and its data block (times of time_size bytes) and moves pos past them. False where
// the counts disagree with each other or the file, a record is out of range, or a list is out of order.
bool read_data_block(const std::string& bytes, std::size_t& pos, std::size_t time_size, DataBlockTimes& block) {
    if (bytes.size() - pos < header_size || bytes.compare(pos, 5, bytes, 0, 5) != 0) return false;
    std::uint64_t count[count_kinds];
    for (int i = 0; i < count_kinds; ++i) count[i] = static_cast<std::uint32_t>(big_endian(bytes, pos + 20 + 4 * i, 4));
    if (count[types] == 0 || count[name_bytes] == 0 || (count[ut_flags] != 0 && count[ut_flags] != count[types]) ||
        (count[standard_flags] != 0 && count[standard_flags] != count[types])) {
        return false;
    }
    const std::uint64_t size = count[transitions] * (time_size + 1) + count[types] * type_record_size +
                               count[name_bytes] + count[leap_records] * (time_size + 4) + count[standard_flags] +
                               count[ut_flags];
    if (bytes.size() - pos - header_size < size) return false;  // all within the file from here on
    const std::size_t at_transitions = pos + header_size;
    const std::size_t at_indexes = at_transitions + count[transitions] * time_size;
    const std::size_t at_types = at_indexes + count[transitions];
    const std::size_t at_leaps = at_types + count[types] * type_record_size + count[name_bytes];
    for (std::size_t at = at_types; at < at_types + count[types] * type_record_size; at += type_record_size) {
        const unsigned char is_dst = bytes[at + 4], name_index = bytes[at + 5];
        if (is_dst > 1 || name_index >= count[name_bytes]) return false;
    }
    std::vector<std::int64_t>& instants = block.instants;
    for (std::size_t i = 0; i < count[transitions]; ++i) {
        if (static_cast<unsigned char>(bytes[at_indexes + i]) >= count[types]) return false;
        instants.push_back(big_endian(bytes, at_transitions + i * time_size, time_size));
    }
    for (std::size_t i = 0; i < count[leap_records]; ++i) {
        instants.push_back(big_endian(bytes, at_leaps + i * (time_size + 4), time_size));
    }
    const auto leaps = instants.begin() + static_cast<std::ptrdiff_t>(count[transitions]);
    if (!std::is_sorted(instants.begin(), leaps) || !std::is_sorted(leaps, instants.end())) return false;
    if (leaps != instants.begin()) block.last_transition = leaps[-1];
    block.has_leaps = leaps != instants.end();
    pos = at_transitions + size;
    return true;
}

// After the last transition the closing rule takes over: its changes in the years around the
// junction join the block's instants. A transition beyond any year a record can have matters to none.
void add_junction(const RuleString& rule, DataBlockTimes& block) {
    constexpr std::int64_t far = std::int64_t{1} << 40;
    if (!rule.has_dst || block.last_transition < -far || block.last_transition > far) return;
    int year, month, day;
    civil_from_days(floor_div(block.last_transition, seconds_per_day), year, month, day);
    for (std::int64_t y = year - 1; y <= year + 1; ++y) {
        for (const YearlyChange& change : rule.changes) {
            const std::int64_t instant = change_instant(change, y);
            if (instant > block.last_transition) block.instants.push_back(instant);
        }
    }
}

}  // namespace

bool zone_file_keeps_offsets(const std::string& bytes) {
    if (bytes.size() < header_size || bytes.compare(0, 4, "TZif") != 0 || bytes[4] < '2' || bytes[4] > '4') {
        return false;
    }
    std::size_t pos = 0;
    DataBlockTimes blocks[2];
    if (!read_data_block(bytes, pos, 4, blocks[0]) || !read_data_block(bytes, pos, 8, blocks[1])) return false;
    // The closing rule, between line ends, ends the file. Empty, the last transition's offset holds
    // on; with leap records, only then, as no rule's change is checked against them.
    const std::size_t rule_end = bytes.size() - 1;
    if (rule_end <= pos || bytes[pos] != '\n' || bytes[rule_end] != '\n') return false;
    const std::string text = bytes.substr(pos + 1, rule_end - pos - 1);
    RuleString rule;
    if (!text.empty() && (blocks[0].has_leaps || blocks[1].has_leaps ||
                          text.find_first_of(std::string("\n\0", 2)) != std::string::npos ||
                          parse_rule_string(text.c_str(), rule) != Parsed::rule || !changes_weeks_apart(rule, 0))) {
        return false;
    }
    for (DataBlockTimes& block : blocks) {
        add_junction(rule, block);
        if (!far_apart(block.instants, zone_check_span)) return false;
    }
    return true;
}

bool tz_string_keeps_offsets(const char* tz) {
    RuleString rule;
    const Parsed parsed = parse_rule_string(tz, rule);
    return parsed == Parsed::no_rule || (parsed == Parsed::rule && changes_weeks_apart(rule, 0));
}

bool windows_zone_keeps_offsets(const platform::SystemZone& zone, bool runtime_calendar) {
    if (zone.daylight_start.month == 0 || zone.standard_bias == zone.daylight_bias) return true;  // no daylight time
    RuleString rule;
    rule.has_dst = true;
    int i = 0;
    for (const platform::ZoneChange& date : {zone.daylight_start, zone.standard_start}) {
        rule.changes[i] = {date.month, date.week, date.day_of_week,
                           date.hour * seconds_per_hour + date.minute * seconds_per_minute + date.second, 0};
        const bool every_year = date.year == 0;  // else a date for that year alone
        if (!every_year || !in_range(rule.changes[i++], seconds_per_day)) return false;
    }
    // The C runtime's own calendar may put a change a week off: with the offset (under a day), eight days
    // cover it. Windows' own breakdown is given a day for the offset.
    return changes_weeks_apart(rule, (runtime_calendar ? 8 : 1) * seconds_per_day);
}

bool zone_keeps_offsets(const platform::ZoneData& zone) {
    using Kind = platform::ZoneData::Kind;
    switch (zone.kind) {
    case Kind::rule_string: return tz_string_keeps_offsets(zone.tz.c_str());
    // Should glibc reject a file the check accepts, it reads TZ as a rule string: that must pass too.
    case Kind::zone_file: return zone_file_keeps_offsets(zone.file_bytes) && tz_string_keeps_offsets(zone.tz.c_str());
    case Kind::fixed_rules: return true;
    // Each year's changes lie two weeks and more inside the year, so the one change at a New Year where
    // two years' offsets differ is weeks from any other (doc/DESIGN.md, "Windows: a year's rules"). The
    // years asked so far are judged; the others hold copies of them.
    case Kind::windows_rules:
        for (std::size_t i = 0; i < zone.years.size(); ++i) {
            const bool judged = zone.asked.empty() || zone.asked[i];
            if (judged && !windows_zone_keeps_offsets(zone.years[i], zone.runtime_calendar)) return false;
        }
        return !zone.years.empty();
    case Kind::unknown: return false;
    }
    return false;
}

}  // namespace tsconv
