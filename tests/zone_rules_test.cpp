#include "zone_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "test_support.h"

namespace {

using tsconv::offset_never_changes;

constexpr std::int64_t minute = 60;
constexpr std::int64_t hour = 3600;
constexpr std::int64_t day = 86400;

struct Case {
    const char* zone;
    std::int64_t at_least;
    std::int64_t at_most;
};

void expect_bound(std::int64_t bound, const Case& c) {
    EXPECT_GE(bound, c.at_least) << c.zone;
    EXPECT_LE(bound, c.at_most) << c.zone;
}

TEST(ZoneRules, PosixStrings) {
    const Case cases[] = {
        // Berlin: months, cut at each new year, where glibc takes up the next year's rule.
        {"CET-1CEST,M3.5.0,M10.5.0/3", 61 * day, 62 * day},
        {"AAA0BBB,J100/12,J100/13:10", 1, 10 * minute},
        // Each year's changes fall in their own UTC year: five minutes of
        // daylight saving time ended by the new year, five standard hours
        // started by it.
        {"AAA0BBB,J365/23:55,J1/0:05", 1, 5 * minute},
        {"EST5EDT,0/0,J365/25", 4 * hour, 5 * hour},
        {"XXX3YYY,J60/2,J300/2", 59 * day, 60 * day},
        {"XXX3YYY,58/2,298", 58 * day, 59 * day},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", 84 * day, 91 * day},  // daylight saving time across the year end
        {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", 61 * day, 62 * day},
        {"AAA0BBB,J100/-167,J100/167", 13 * day, 14 * day},
        {"UTC0", offset_never_changes, offset_never_changes},
        {"<+0330>-3:30", offset_never_changes, offset_never_changes},
        // glibc reads these in part or not at all: not modelled.
        {"Europe/Nowhere", 0, 0},
        {"CET-1CEST,M3.5.0", 0, 0},
        {"CET-1CEST,M13.5.0,M10.5.0", 0, 0},
        {"CET-1CEST,M3.5.0,M10.5.0/3x", 0, 0},
        {"AAA0BBB,J100/168,J200", 0, 0},
        {"AA0BBB,J100,J200", 0, 0},
    };
    for (const Case& c : cases) expect_bound(tsconv::posix_zone_offset_period(c.zone, ""), c);
    // Daylight saving time without rules and without posixrules: the US rules.
    expect_bound(tsconv::posix_zone_offset_period("CET-1CEST", ""), {"CET-1CEST", 50 * day, 62 * day});
}

TEST(ZoneRules, ZoneFilesFromZic) {
#ifdef _WIN32
    GTEST_SKIP() << "zic is a Linux program";
#endif
    const std::string zic = "/usr/sbin/zic";
    if (!tsconv_test::file_exists(zic)) GTEST_SKIP() << "no zic";
    const std::string folder = tsconv_test::scratch_folder();
    tsconv_test::write_file(folder + "/zones",
                            "Zone Test/Once 0 - AAA 2000 Apr 10 12:00u\n"
                            "  1:00 - BBB 2000 Apr 10 12:10u\n"
                            "  0 - AAA\n"
                            "Rule Ten 2000 max - Apr 10 12:00u 1:00 D\n"
                            "Rule Ten 2000 max - Apr 10 12:10u 0 S\n"
                            "Zone Test/Yearly 0 Ten A%sT\n");
    for (const char* size : {"slim", "fat"}) {
        const std::string out = folder + "/" + size;
        ASSERT_EQ(tsconv_test::run_command(zic, {"-b", size, "-d", out, folder + "/zones"}).status, 0);
        for (const char* zone : {"Test/Once", "Test/Yearly"}) {
            const std::string bytes = tsconv_test::read_file(out + "/" + zone);
            expect_bound(tsconv::zone_file_offset_period(bytes), {zone, 1, 10 * minute});
        }
    }
}

TEST(ZoneRules, RealZoneFiles) {
    const Case cases[] = {
        {"Europe/Berlin", 30 * day, 60 * day},
        {"right/Europe/Berlin", 30 * day, 60 * day},  // with leap seconds
        {"America/New_York", 30 * day, 60 * day},
        {"Etc/UTC", offset_never_changes, offset_never_changes},
    };
    for (const Case& c : cases) {
        if (!tsconv_test::has_zone_file(c.zone)) GTEST_SKIP() << "no zone file " << c.zone;
        const std::string bytes = tsconv_test::read_file(std::string("/usr/share/zoneinfo/") + c.zone);
        expect_bound(tsconv::zone_file_offset_period(bytes), c);
        // Cut short, the file is not read.
        EXPECT_EQ(tsconv::zone_file_offset_period(bytes.substr(0, bytes.size() / 2)), 0) << c.zone;
    }
    // posixrules: New York's changes, moved by up to six hours for CET.
    const std::string new_york = tsconv_test::read_file("/usr/share/zoneinfo/America/New_York");
    expect_bound(tsconv::posix_zone_offset_period("CET-1CEST", new_york), {"CET-1CEST", 30 * day, 60 * day});
}

TEST(ZoneRules, WindowsRules) {
    using tsconv::platform::SystemZone;
    // year, month, week, weekday, hour, minute, second
    const SystemZone berlin{-60, 0, -60, {0, 10, 5, 0, 3, 0, 0}, {0, 3, 5, 0, 2, 0, 0}};
    expect_bound(tsconv::windows_zone_offset_period(berlin), {"Berlin", 40 * day, 62 * day});
    const SystemZone sydney{-600, 0, -60, {0, 4, 1, 0, 3, 0, 0}, {0, 10, 1, 0, 2, 0, 0}};
    expect_bound(tsconv::windows_zone_offset_period(sydney), {"Sydney", 60 * day, 91 * day});
    const SystemZone utc{0, 0, 0, {}, {}};
    EXPECT_EQ(tsconv::windows_zone_offset_period(utc), offset_never_changes);
    SystemZone odd = berlin;
    odd.daylight_start.year = 2024;  // one date for one year: not modelled
    EXPECT_EQ(tsconv::windows_zone_offset_period(odd), 0);
    odd = berlin;
    odd.standard_start = {0, 3, 4, 0, 2, 0, 0};  // two weeks of daylight saving time
    EXPECT_EQ(tsconv::windows_zone_offset_period(odd), 0);
    // TZ set: US rules or none.
    expect_bound(tsconv::windows_tz_offset_period(), {"TZ", 30 * day, 62 * day});
}

TEST(ZoneRules, ZoneInUse) {
#ifdef _WIN32
    for (const char* zone : {"AAA0BBB,J100/12,J100/13:10", "UTC0", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        tsconv_test::set_time_zone(zone);
        EXPECT_EQ(tsconv::shortest_offset_period(), tsconv::windows_tz_offset_period()) << zone;
    }
    tsconv_test::set_time_zone("");  // the system zone
    EXPECT_GT(tsconv::shortest_offset_period(), 0);
#else
    const Case cases[] = {
        {"AAA0BBB,J100/12,J100/13:10", 1, 10 * minute},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 61 * day, 62 * day},
        {"UTC0", offset_never_changes, offset_never_changes},
        {":UTC0", offset_never_changes, offset_never_changes},
        {"Europe/Nowhere", 0, 0},
    };
    for (const Case& c : cases) {
        tsconv_test::set_time_zone(c.zone);
        expect_bound(tsconv::shortest_offset_period(), c);
    }
    if (!tsconv_test::has_zone_file("Europe/Berlin")) GTEST_SKIP() << "no zone files";
    tsconv_test::set_time_zone("Europe/Berlin");
    expect_bound(tsconv::shortest_offset_period(), {"Europe/Berlin", 30 * day, 60 * day});
#endif
}

}  // namespace
