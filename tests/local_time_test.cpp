#include "local_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calendar.h"
#include "platform.h"
#include "zone_check.h"
#include "test_support.h"

namespace {

using namespace tsconv_test;

// "DD.MM.YYYY;HH:MM:S.SSSSSS", or "-" when not convertible.
std::string shown(double serial_date, tsconv::LocalTimeCache& cache) {
    tsconv::LocalTimestamp t;
    if (!tsconv::to_local_timestamp(serial_date, cache, t)) return "-";
    const tsconv::CivilMinute c = tsconv::civil_minute(t.minute);
    return shown_time(c.day, c.month, c.year, c.hour, c.minute, t.second, t.millionths);
}

// Converted alone, with nothing cached from another record.
std::string shown(double serial_date, tsconv::LocalZone& zone) {
    tsconv::LocalTimeCache cache{&zone, 0};
    return shown(serial_date, cache);
}

// The platform's breakdown of the second t (since 1970-01-01 UTC) as a record in that second begins:
// "DD.MM.YYYY;HH:MM:S.", or "-" outside the years 1 to 9999.
std::string platform_shown(tsconv::LocalZone& zone, long long t) {
    std::tm tm;
    const int year = tsconv::platform::local_breakdown(zone.data, t, tm) ? tm.tm_year + 1900 : 0;
    if (year < 1 || year > 9999) return "-";
    return shown_time(tm.tm_mday, tm.tm_mon + 1, year, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// Windows shows only the seconds from 1970-01-01 00:00:00 UTC to the end of
// the year 3000: outside, a record is not convertible there.
#ifdef _WIN32
const char* beyond_windows_range(const char*) { return "-"; }
#else
const char* beyond_windows_range(const char* text) { return text; }
#endif

TEST(ToLocalTimestamp, KnownInstants) {
    const struct { const char* zone; double serial_date; const char* text; } cases[] = {
        // One hour ahead of UTC: the source clock shows one hour more.
        {"CET-1", 45000.5, "15.03.2023;11:00:0.000000"},
        {"CET-1", 45000.50008391204, "15.03.2023;11:00:7.250000"},
        // UTC: the fixed two hours move midnight to the evening before.
        {"UTC0", 45000.0, "14.03.2023;22:00:0.000000"},
        // Just below 1970-01-01 02:00 on the source clock: a tiny negative s shows as second 0, never as -0.000000.
        // Its whole second is the last one of 1969, which Windows does not show; the record shows 1970.
        {"UTC0", 25569.083333333332, "01.01.1970;00:00:0.000000"},
        {"CET-1", 25569.08333333333, "01.01.1970;01:00:0.000000"},
        {"EST5", 25569.08333333333, "31.12.1969;19:00:0.000000"},
        // The next double: the first at or after 1970-01-01 00:00:00 UTC.
        {"UTC0", 25569.083333333336, "01.01.1970;00:00:0.000000"},
        // The edges of what Windows shows, 1970 to 3000 UTC: the second before the first, also where its fraction
        // falls short of carrying, and the last second and the one after it (no double there is within half a
        // millionth of a second below it).
        {"UTC0", 25569.083333333325, beyond_windows_range("31.12.1969;23:59:59.999999")},
        {"CET-1", 25569.08332175926, beyond_windows_range("01.01.1970;00:59:59.000000")},
        {"UTC0", 402134.08332175924, "31.12.3000;23:59:59.000000"},
        {"UTC0", 402134.08333333326, "31.12.3000;23:59:59.999992"},
        {"EST5", 402134.08333333326, "31.12.3000;18:59:59.999992"},
        {"UTC0", 402134.0833333333, beyond_windows_range("01.01.3001;00:00:0.000000")},
        {"EST5", 402134.0833333333, beyond_windows_range("31.12.3000;19:00:0.000000")},
        // West of UTC the first second of 1970 is still 1969 in local time.
        {"EST5", 25569.083333333336, "31.12.1969;19:00:0.000000"},
        {"UTC0", 25569.0, beyond_windows_range("31.12.1969;22:00:0.000000")},
        {"UTC0", 0.0, beyond_windows_range("29.12.1899;22:00:0.000000")},
        {"UTC0", 50424.5, "19.01.2038;10:00:0.000000"},
        {"UTC0", 402133.5, "31.12.3000;10:00:0.000000"},
        {"UTC0", 402299.5, beyond_windows_range("15.06.3001;10:00:0.000000")},
        {"UTC0", 2958465.5, beyond_windows_range("31.12.9999;10:00:0.000000")},
        {"UTC0", 2958466.5, "-"},  // year 10000
        {"UTC0", -693592.5, beyond_windows_range("01.01.0001;10:00:0.000000")},
        {"UTC0", -693593.0, "-"},  // 31.12.0000 22:00 UTC: year 0
        // The first second of year 1 and the last of 9999, and the seconds
        // beyond, also where the offset moves the year across the edge.
        {"UTC0", -693592.9166666666, beyond_windows_range("01.01.0001;00:00:0.000000")},
        {"UTC0", -693592.9166666667, "-"},
        {"UTC0", 2958466.0833217595, beyond_windows_range("31.12.9999;23:59:59.000031")},
        {"UTC0", 2958466.0833333333, "-"},
        {"CET-1", -693592.9583333334, beyond_windows_range("01.01.0001;00:00:0.000000")},
        {"CET-1", -693592.9583333335, "-"},
        {"CET-1", 2958466.0416550925, beyond_windows_range("31.12.9999;23:59:59.000000")},
        {"CET-1", 2958466.0416666665, "-"},
        {"EST5", -693592.7083333334, beyond_windows_range("01.01.0001;00:00:0.000000")},
        {"EST5", -693592.7083333335, "-"},
        {"EST5", 2958466.2916550925, beyond_windows_range("31.12.9999;23:59:59.000000")},
        {"EST5", 2958466.291666667, "-"},
        {"UTC0", std::numeric_limits<double>::infinity(), "-"}, {"UTC0", -std::numeric_limits<double>::infinity(), "-"},
        {"UTC0", std::numeric_limits<double>::quiet_NaN(), "-"}, {"UTC0", 1e300, "-"},
        // A fraction that shows as a whole second carries into the next
        // second, minute, hour or year; the double below it does not.
        {"UTC0", 45000.50010416666, "15.03.2023;10:00:9.000000"},
        {"UTC0", 45000.500104166655, "15.03.2023;10:00:8.999999"},
        {"UTC0", 45000.50069444444, "15.03.2023;10:01:0.000000"},
        {"UTC0", 45000.50069444443, "15.03.2023;10:00:59.999999"},
        {"UTC0", 45000.58333333333, "15.03.2023;12:00:0.000000"},
        {"UTC0", 45000.58333333332, "15.03.2023;11:59:59.999999"},
        {"UTC0", 45292.08333333333, "01.01.2024;00:00:0.000000"},
        {"UTC0", 45292.08333333332, "31.12.2023;23:59:59.999999"},
        // 12:00 on the source clock in summer and in winter (on Windows by its own rules, which agree on these days).
        {"CET-1CEST,M3.5.0,M10.5.0/3", 45122.5, "15.07.2023;12:00:0.000000"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 45245.5, "15.11.2023;11:00:0.000000"},
#ifdef _WIN32
        // The C runtime takes only the names and the offset from TZ and gives every zone with a daylight-saving name
        // the same rules: from 2007 on, from the second Sunday in March to the first Sunday in November, before that
        // from the first Sunday in April to the last Sunday in October, changing at 02:00 local time. A POSIX rule is
        // not read. Half a minute either side of a change: the minute alone is checked.
        {"CET-1CEST", serial_from_unix(1678582770), "12.03.2023;01:59:"},  // 00:59:30 UTC
        {"CET-1CEST", serial_from_unix(1678582830), "12.03.2023;03:00:"},  // 01:00:30 UTC
        {"CET-1CEST", serial_from_unix(1699142370), "05.11.2023;01:59:"},  // 23:59:30 UTC the day before
        {"CET-1CEST", serial_from_unix(1699142430), "05.11.2023;01:00:"},  // 00:00:30 UTC
        {"CET-1CEST", serial_from_unix(1143939570), "02.04.2006;01:59:"},
        {"CET-1CEST", serial_from_unix(1143939630), "02.04.2006;03:00:"},
        {"CET-1CEST", serial_from_unix(1162079970), "29.10.2006;01:59:"},
        {"CET-1CEST", serial_from_unix(1162080030), "29.10.2006;01:00:"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", serial_from_unix(1679313600), "20.03.2023;14:00:"},  // 12:00 UTC
        {"CET-1", serial_from_unix(1689422400), "15.07.2023;13:00:"},
        {"EST5EDT", serial_from_unix(1678604370), "12.03.2023;01:59:"},
        {"EST5EDT", serial_from_unix(1678604430), "12.03.2023;03:00:"},
#endif
    };
    for (const auto& c : cases) {
        set_time_zone(c.zone);
        const std::size_t length = std::strlen(c.text);
        tsconv::LocalZone zone = tsconv::load_local_zone();
        const std::string text = shown(c.serial_date, zone);  // ending in ":": the minute alone
        EXPECT_EQ(c.text[length - 1] == ':' ? text.substr(0, length) : text, c.text)
            << c.zone << " " << std::hexfloat << c.serial_date;
    }
}

TEST(ProbeSpan, OnlyWhereTheZoneKeepsOffsetsLonger) {
    const struct { const char* zone; std::int64_t span; } cases[] = {
        {"UTC0", tsconv::cache_probe_span},
        {"CET-1CEST,M3.5.0,M10.5.0/3", tsconv::cache_probe_span},
#ifndef _WIN32  // the C runtime reads only the names and gives them its own dates
        {"AAA0BBB,J100/12,J100/13:10", 0},  // daylight time for ten minutes
#endif
    };
    for (const auto& c : cases) {
        set_time_zone(c.zone);
        EXPECT_EQ(tsconv::load_local_zone().probe_span, c.span) << c.zone;
    }
    EXPECT_GE(tsconv::zone_check_span - tsconv::cache_probe_span, tsconv::seconds_per_minute);
    // Rules the check never saw (on Windows, a year asked later and answered otherwise) end the
    // probing: the second record gets a stretch of its own, not the first one's pushed.
    set_time_zone("UTC0");
    tsconv::LocalZone zone = tsconv::load_local_zone();
    tsconv::LocalTimeCache cache{&zone, zone.probe_span};
    shown(serial_from_unix(1e9), cache);
    zone.data.rules_unjudged = true;
    EXPECT_EQ(shown(serial_from_unix(1e9 + 600), cache), "09.09.2001;01:56:40.000000");
    EXPECT_EQ(cache.probe_span, 0);
    EXPECT_EQ(cache.first, 1000000600);
}

// Finds the instants from..to where the zone's UTC offset changes, five
// minutes at a time (a TZ rule may keep an offset for only ten).
std::vector<long long> offset_changes(tsconv::LocalZone& zone, long long from, long long to) {
    std::vector<long long> changes;
    auto offset = [&](long long t) {
        std::tm tm;
        tsconv::platform::local_breakdown(zone.data, t, tm);
        const long long local = (tm.tm_hour * 60LL + tm.tm_min) * 60 + tm.tm_sec;
        return ((local - t % 86400) % 86400 + 86400) % 86400;
    };
    long long previous = offset(from);
    for (long long t = from + 300; t < to; t += 300) {
        const long long current = offset(t);
        if (current != previous) changes.push_back(t);
        previous = current;
    }
    return changes;
}

class AgainstPerRecordBreakdown : public testing::TestWithParam<const char*> {};

TEST_P(AgainstPerRecordBreakdown, SameTextForEveryRecord) {
    const char* zone = GetParam();
    // A zone given by its offset (with a digit) needs no time-zone database.
    const bool from_database = std::strpbrk(zone, "0123456789") == nullptr;
    if (from_database && !has_zone_file(zone)) GTEST_SKIP() << "no zone " << zone;
    set_time_zone(zone);
    std::mt19937_64 random(std::hash<std::string>()(zone));
    tsconv::LocalZone local_zone = tsconv::load_local_zone();
    tsconv::LocalTimeCache probing{&local_zone, local_zone.probe_span};
    tsconv::LocalTimeCache unprobed{&local_zone, 0};
    int compared = 0;
    // A record at the instant t (seconds since 1970-01-01 UTC) shows what it shows converted alone, with and without
    // probing; where t lies well inside its second, also what the platform's breakdown of that second shows.
    auto check = [&](double t, double serial) {
        const std::string text = shown(serial, probing);
        ASSERT_EQ(text, shown(serial, local_zone)) << zone << " " << std::hexfloat << serial;
        ASSERT_EQ(shown(serial, unprobed), text) << zone << " unprobed " << std::hexfloat << serial;
        const double whole = std::floor(t);
        if (t - whole > 0.01 && t - whole < 0.99) {
            const std::string second = platform_shown(local_zone, static_cast<long long>(whole));
            ASSERT_EQ(second == "-" ? text : text.substr(0, second.size()), second)
                << zone << " " << std::hexfloat << serial;
        }
        ++compared;
    };

    // 1 Hz logs (and faster, and backwards) across every offset change of a
    // few years, as a spreadsheet writes them: fifteen significant digits.
    for (const long long change : offset_changes(local_zone, 1577836800, 1735689600)) {
        for (const double step : {1.0, 0.37, -1.0, 13.0}) {
            const double start = static_cast<double>(change) - (step > 0 ? 1800 : -1800);
            for (int i = 0; i < 3600 / std::fabs(step); ++i) {
                const double t = start + i * step;
                char text[32];
                std::snprintf(text, sizeof text, "%.15g", serial_from_unix(t));
                check(t, std::strtod(text, nullptr));
            }
        }
    }
    // Across the leap second at the end of 2016 (counted in "right/" zones), forwards and backwards; across the first
    // day of year 1 and the last of 9999.
    for (double t = 1483228700; t < 1483229000; t += 0.37) check(t, serial_from_unix(t));
    for (double t = 1483229000; t > 1483228700; t -= 0.37) check(t, serial_from_unix(t));
    for (const double edge : {-62135596800.0, 253402300800.0}) {
        for (double t = edge - 90000; t < edge + 90000; t += 97.3) check(t, serial_from_unix(t));
    }
    // Random instants from 31.12.0000 22:00 to 31.12.9999 22:00 UTC, and from 1954 to 2065, alone and in short runs.
    std::uniform_real_distribution<double> anywhere(-62135604000.0, 253402293600.0);
    std::uniform_real_distribution<double> recent(-500000000.0, 3000000000.0);
    for (int i = 0; i < 20000; ++i) {
        const double start = (i % 2 ? anywhere : recent)(random);
        for (int j = 0; j < 5; ++j) check(start + j * 0.5, serial_from_unix(start + j * 0.5));
    }
    // Full-precision doubles around the carry: fractions that show as 0.999999 and as a whole second.
    std::uniform_int_distribution<long long> seconds(0, 4102444800LL);
    for (int i = 0; i < 2000; ++i) {
        const double t = static_cast<double>(seconds(random)) + 0.9999995;
        double serial = std::nextafter(std::nextafter(serial_from_unix(t), 0.0), 0.0);
        for (int j = 0; j < 5; ++j, serial = std::nextafter(serial, 1e9)) check(t, serial);
    }
    EXPECT_GT(compared, 20000);
}

std::string zone_test_name(const testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Zones, AgainstPerRecordBreakdown,
                         testing::Values("UTC", "Europe/Berlin", "Australia/Lord_Howe", "Asia/Kathmandu",
                                         "Europe/Dublin", "Africa/Casablanca", "America/New_York",
                                         "Pacific/Chatham", "America/St_Johns", "right/Europe/Berlin"),
                         zone_test_name);
// Zones that every platform reads from TZ alone, Windows included; the last
// with ten minutes of daylight saving a year.
INSTANTIATE_TEST_SUITE_P(OffsetZones, AgainstPerRecordBreakdown,
                         testing::Values("UTC0", "CET-1CEST", "EST5EDT", "IST-5:30", "AAA0BBB,J100/12,J100/13:10"),
                         zone_test_name);

}  // namespace
