#include "zone_check.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "test_support.h"

namespace {

using namespace tsconv_test;

TEST(ZoneCheck, TzStrings) {
    const struct { const char* tz; bool keeps; } cases[] = {
        {"UTC0", true}, {"<+0330>-3:30", true}, {"CET-1CEST,M3.5.0,M10.5.0/3", true},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", true},  // daylight time across the year's end
        {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", true}, {"IST-1GMT0,M10.5.0,M3.5.0/1", true},
        {"<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45", true},
        // No rule string: glibc finds no zone and keeps UTC.
        {"Europe/Nowhere", true}, {"/etc/localtime", true},
        // Changes minutes, days or a year's end apart.
        {"AAA0BBB,M4.1.0/12,M4.1.0/13:10", false}, {"XXX3YYY,M3.5.0,M4.1.0", false},
        {"AAA0BBB,M12.5.0/23:55,M1.1.0/0:05", false}, {"AAA0BBB,M1.1.0/-167,M7.1.0", false},
        {"AAA0BBB,M4.1.0/-167,M4.1.0/167", false},
        // Days of the year, which no zone in use has: not read.
        {"XXX3YYY,J60/2,J300/2", false}, {"XXX3YYY,60/2,300/2", false},
        // Daylight time without rules of its own: the C library takes them from posixrules.
        {"CET-1CEST", false}, {"AAA5BBB4", false},
        // Not read whole.
        {"CET-1CEST,M3.5.0", false}, {"CET-1CEST,M13.5.0,M10.5.0", false}, {"CET-1CEST,M3.5.0,M10.5.0/3x", false},
        {"AAA0BBB,J100/168,J200", false}, {"<+03", false}, {"CET-1CEST,M3.5.0,M10.5.0/1234", false},
        {"CET-1CEST,M3.6.0,M10.5.0", false}, {"CET-1CEST,M3.0.0,M10.5.0", false}, {"CET-1CEST,M3.5.7,M10.5.0", false},
        {"CET-1CEST,M0.1.0,M10.5.0", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tsconv::tz_string_keeps_offsets(c.tz), c.keeps) << c.tz;
}

TEST(ZoneCheck, ZoneFiles) {
    // Berlin's changes of 2023 (01:00 UTC), with its closing rule.
    const long long spring = 1679792400, autumn = 1698541200;
    const std::string berlin_rule = "CET-1CEST,M3.5.0,M10.5.0/3";
    const ZoneFile berlin{{spring, autumn}, {}, berlin_rule, 3600, 7200};
    const std::string good = zone_file_bytes(berlin);
    const auto with = [&](auto change) {
        ZoneFile zone = berlin;
        change(zone);
        return zone_file_bytes(zone);
    };
    const struct { const char* name; std::string bytes; bool keeps; } cases[] = {
        {"Berlin", good, true},
        {"no closing rule's daylight time", with([](auto& z) { z.rule = "CET-1"; }), true},
        {"empty closing rule", with([](auto& z) { z.rule = ""; }), true},
        {"leap seconds months apart",
         with([](auto& z) { z.leap_seconds = {1483228800, 1498867200}, z.rule = ""; }), true},
        {"leap seconds and a closing rule", with([](auto& z) { z.leap_seconds = {1483228800}; }), false},
        {"transitions 961 s apart", with([](auto& z) { z.transitions = {spring, spring + 961}; }), true},
        {"transitions 960 s apart", with([](auto& z) { z.transitions = {spring, spring + 960}; }), false},
        {"transitions out of order", with([](auto& z) { z.transitions = {autumn, spring}; }), false},
        {"leap record near a transition", with([](auto& z) { z.leap_seconds = {spring + 900}, z.rule = ""; }), false},
        {"leap records a second apart",
         with([](auto& z) { z.leap_seconds = {spring + 5000, spring + 5001}, z.rule = ""; }), false},
        {"closing rule changing after 600 s", with([](auto& z) { z.transitions = {spring, autumn - 600}; }), false},
        {"closing rule without rules", with([](auto& z) { z.rule = "CET-1CEST"; }), false},
        {"closing rule with changes minutes apart", with([](auto& z) { z.rule = "AAA0BBB,J100/12,J100/13"; }), false},
        {"version 1", good.substr(0, 4) + '\0' + good.substr(5), false},
        {"no closing rule", good.substr(0, good.size() - berlin_rule.size() - 2), false},
        {"cut short", good.substr(0, good.size() - 1), false},
        {"a byte more", good + "\n", false},
        {"half", good.substr(0, good.size() / 2), false},
        {"counts disagree", good.substr(0, 81) + '\1' + good.substr(82), false},
        {"not a zone file", "CET-1CEST,M3.5.0,M10.5.0/3\n", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tsconv::zone_file_keeps_offsets(c.bytes), c.keeps) << c.name;
}

#ifndef _WIN32
// The first change of a rule string in a year, as the C library applies it:
// found by bisection on its breakdown, not by the check's calendar.
long long first_change(const char* rule, int year) {
    set_time_zone(rule);
    const auto daylight = [](long long t) {
        const time_t at = static_cast<time_t>(t);
        std::tm tm;
        localtime_r(&at, &tm);
        return tm.tm_isdst;
    };
    std::tm new_year{};
    new_year.tm_year = year - 1900;
    new_year.tm_mday = 1;
    long long low = timegm(&new_year), high = low + 200 * 86400LL;
    const int at_new_year = daylight(low);
    if (daylight(high) == at_new_year) return 0;  // none
    while (high - low > 1) (daylight((low + high) / 2) == at_new_year ? low : high) = (low + high) / 2;
    return high;
}

TEST(ZoneCheck, ClosingRuleJustAfterTheLastTransition) {
    // The rule's first change after the last transition, in years where the day is found by the week-5, leap-year or
    // weekday arithmetic: ten minutes after the transition it is refused, twenty minutes after it not. (glibc applies
    // no rule's change before 1970.)
    const struct { const char* rule; int year; } cases[] = {
        {"AAA0BBB,M3.5.0,M10.5.0", 2021}, {"AAA0BBB,M3.5.0,M10.5.0", 2026},  // four and five Sundays in March
        {"AAA0BBB,M2.5.2,M10.5.0", 2000}, {"AAA0BBB,M2.5.1,M10.5.0", 2100},  // with and without 29 February
        {"AAA0BBB,M2.5.4,M10.5.0", 2099}, {"AAA0BBB,M1.3.0,M10.5.0", 2100}, {"AAA0BBB,M1.3.6,M10.5.0", 2038},
        {"AAA0BBB,M1.5.4,M10.5.0", 2024}, {"AAA0BBB,M4.5.5,M10.5.0", 2026},  // the fifth would be on the 1st
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " " + std::to_string(c.year));
        const long long change = first_change(c.rule, c.year);
        ASSERT_NE(change, 0) << "no change";
        EXPECT_FALSE(tsconv::zone_file_keeps_offsets(zone_file_bytes({{change - 600}, {}, c.rule})));
        EXPECT_TRUE(tsconv::zone_file_keeps_offsets(zone_file_bytes({{change - 1200}, {}, c.rule})));
    }
}
#endif

TEST(ZoneCheck, RealZoneFiles) {
    // Their bytes, and the zone as the platform reads it from TZ.
    for (const char* zone : {"Europe/Berlin", "right/Europe/Berlin", "America/New_York", "Australia/Sydney",
                             "Australia/Lord_Howe", "Etc/UTC", "UTC"}) {
        if (!has_zone_file(zone)) continue;
        const std::string bytes = read_file(std::string("/usr/share/zoneinfo/") + zone);
        EXPECT_TRUE(tsconv::zone_file_keeps_offsets(bytes)) << zone;
        set_time_zone(zone);
        EXPECT_TRUE(tsconv::zone_keeps_offsets(tsconv::platform::load_time_zone())) << zone;
    }
}

TEST(ZoneCheck, WindowsSystemZones) {
    using tsconv::platform::SystemZone;
    // bias, standard bias, daylight bias, then the dates: year, month, week, weekday, hour, minute, second
    const SystemZone berlin{-60, 0, -60, {0, 10, 5, 0, 3, 0, 0}, {0, 3, 5, 0, 2, 0, 0}};
    const SystemZone sydney{-600, 0, -60, {0, 4, 1, 0, 3, 0, 0}, {0, 10, 1, 0, 2, 0, 0}}, no_daylight{0, 0, 0, {}, {}};
    SystemZone one_year = berlin, two_weeks = berlin, january = berlin;
    one_year.daylight_start.year = 2024;
    two_weeks.standard_start = {0, 4, 2, 0, 2, 0, 0};
    january.daylight_start = {0, 1, 1, 4, 0, 0, 0};
    const struct { const char* name; SystemZone zone; bool keeps; } cases[] = {
        {"Berlin", berlin, true}, {"Sydney", sydney, true}, {"no daylight time", no_daylight, true},
        {"dates for one year", one_year, false}, {"daylight time for two weeks", two_weeks, false},
    };
    for (const auto& c : cases) EXPECT_EQ(tsconv::windows_zone_keeps_offsets(c.zone, true), c.keeps) << c.name;

    // The rules Windows keeps for each year: every year must pass. A New Year between years of other offsets is one
    // change, weeks from any other; a change in the first week of a year is not.
    tsconv::platform::ZoneData years;
    years.kind = tsconv::platform::ZoneData::Kind::windows_rules;
    years.years = {berlin, no_daylight, sydney};
    EXPECT_TRUE(tsconv::zone_keeps_offsets(years));
    years.years.push_back(january);
    EXPECT_FALSE(tsconv::zone_keeps_offsets(years));
    years.years.clear();
    EXPECT_FALSE(tsconv::zone_keeps_offsets(years));
}

#ifndef _WIN32
TEST(ZoneCheck, ZoneInUse) {
    const std::string folder = scratch_folder();
    write_file(folder + "/posixrules", zone_file_bytes({{1900000000, 1900000300}, {}, "AAA5BBB4,M3.2.0,M11.1.0"}));
    write_file(folder + "/Unsorted", zone_file_bytes({{1900000000, 1800000000}, {}, "AAA0"}));
    // Named as a rule string with changes an hour apart: what the C library reads should it refuse the file.
    for (const char* name : {"/Good", "/AAA0BBB,M4.1.0,M4.1.0"}) {
        write_file(folder + name, zone_file_bytes({{1800000000, 1810000000}, {}, "AAA0"}));
    }
    setenv("TZDIR", folder.c_str(), 1);
    const struct { std::string tz; bool keeps; } cases[] = {
        {"Good", true}, {":Good", true}, {folder + "/Good", true}, {"UTC0", true}, {"CET-1CEST,M3.5.0,M10.5.0/3", true},
        {"Nowhere", true},  // UTC
        {"AAA5BBB4", false},  // posixrules
        {"Unsorted", false}, {":Unsorted", false}, {"AAA0BBB,J100/12,J100/13:10", false}, {folder, false},
        {"AAA0BBB,M4.1.0,M4.1.0", false},  // a good file, but its name as a rule string would not be
    };
    for (const auto& c : cases) {
        setenv("TZ", c.tz.c_str(), 1);
        EXPECT_EQ(tsconv::zone_keeps_offsets(tsconv::platform::load_time_zone()), c.keeps) << c.tz;
    }
    unsetenv("TZDIR");
}
#endif

}  // namespace
