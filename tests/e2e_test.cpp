// Runs the real tsconv binary on real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "format_model.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace tsconv_test;

const std::string first_record = header + "14.03.2023;22:00:0.000000;1.000000;2.000000;3.000000\r\n";

struct Conversion { CommandResult result; std::string target; };

Conversion convert(const std::string& content, const char* zone = "UTC0", const std::string& binary = TSCONV_BINARY) {
    const auto [folder, source, target] = scene(zone, content);
    return {run_command(binary, {source, "dummy", target}), read_file(target)};
}

// Each run starts in a folder holding source.csv and target.csv; neither changes unless the run converts.
TEST(CommandLine, ArgumentsAndFiles) {
    const std::string folder = scratch_folder(), source = folder + "/source.csv", target = folder + "/target.csv";
    const std::string missing = folder + "/missing.csv", content = "45000;1;2;3\n";
    const std::string usage = std::string("Programmaufruf: ") + TSCONV_BINARY + " <Quelldatei> dummy <Zieldatei>\n";
    struct Case { std::vector<std::string> arguments; int status; std::string out, target = "keep me"; };
    std::vector<Case> cases = {
        {{}, failure_status, usage},
        {{source, "dummy"}, failure_status, usage},
        {{source, "dummy", target, "more", "even more"}, 0, "", first_record},
        {{missing, "dummy", target}, failure_status, not_opened(missing)},
        {{folder, "dummy", target}, failure_status, not_opened(folder)},
        {{missing, "dummy", folder + "/new.csv"}, failure_status, not_opened(missing)},
        {{source, "dummy", folder + "/no/such/folder/target.csv"}, failure_status,
         write_failed(folder + "/no/such/folder/target.csv")},
        {{source, "dummy", folder}, failure_status, write_failed(folder)},
    };
    // The source under other names, as the target; a name in the ANSI code page but outside ASCII, which Windows
    // shows in that code page (1252 here).
    std::vector<std::string> same = {source, folder + "/../" + fs::path(folder).filename().string() + "/source.csv",
                                     folder + "/hard.csv"};
    std::string sharp_s = "\u00df";
#ifdef _WIN32
    // File names are compared without case, and either slash separates.
    same.insert(same.end(), {folder + "/SOURCE.CSV", fs::path(source).make_preferred().string()});
    sharp_s = "\xDF";
#else
    same.push_back(folder + "/soft.csv");
#endif
    for (const std::string& t : same) cases.push_back({{source, "dummy", t}, failure_status, target_is_source(t)});
    cases.push_back({{folder + "/Ma\u00df.csv", "dummy", target}, failure_status,
                     not_opened(folder + "/Ma" + sharp_s + ".csv")});
#ifdef __linux__
    // A source that opens but cannot be read: the target holds the header.
    cases.push_back({{"/proc/self/mem", "dummy", target}, failure_status, read_failed("/proc/self/mem"), header});
#endif
    for (const Case& c : cases) {
        const std::string what = c.arguments.empty() ? "no arguments" : c.arguments.back();
        set_time_zone("UTC0");
        write_file(source, content);
        write_file(target, "keep me");
        std::error_code absent;
        fs::create_hard_link(source, folder + "/hard.csv", absent);
#ifndef _WIN32
        fs::create_symlink(source, folder + "/soft.csv", absent);
#endif
        EXPECT_TRUE(ran(run_command(TSCONV_BINARY, c.arguments), c.status, c.out)) << what;
        EXPECT_EQ(read_file(source), content) << what;
        EXPECT_EQ(read_file(target), c.target) << what;
        EXPECT_FALSE(fs::exists(folder + "/new.csv")) << what;
    }
}

TEST(CommandLine, NamesOutsideTheAnsiCodePage) {
    // Polish and Japanese letters: on Windows outside the ANSI code page.
    const std::string letters = "_\u0141\u00f3d\u017a_\u65e5\u672c.csv", content = decoding_table[0].line + "\n";
    set_time_zone("CET-1");
    const std::string folder = scratch_folder(), source = folder + "/Messdaten" + letters;
    write_file(source, content);
    EXPECT_TRUE(ran(run_command(TSCONV_BINARY, {source, "dummy", folder + "/Ziel" + letters}), 0, ""));
    EXPECT_EQ(read_file(folder + "/Ziel" + letters), header + decoding_table[0].target_line + "\r\n");
    const CommandResult refused = run_command(TSCONV_BINARY, {source, "dummy", source});
    EXPECT_EQ(refused.status, failure_status);
    EXPECT_TRUE(starts_with(refused.out, "Zieldatei <") &&
                refused.out.find("> ist die Quelldatei!\n") != std::string::npos) << refused.out;
    EXPECT_EQ(read_file(source), content);
}

// Sources and the target and warnings they give, in UTC unless a zone is named.
TEST(Conversion, SourcesAndTargets) {
    struct Case { std::string name, source, target, zone = "UTC0", err = ""; };
    std::vector<Case> cases = {
        {"empty source", "", header},
        {"column names and three records",
         "Datum;Wert1;Wert2;Wert3\r\n45000;1;2;3\r\n45000,5;4;5;6\r\n45001;7;8;9\r\n",
         first_record + "15.03.2023;10:00:0.000000;4.000000;5.000000;6.000000\r\n"
                        "15.03.2023;22:00:0.000000;7.000000;8.000000;9.000000\r\n"},
        {"last line with line end", "45000;1;2;3\n", first_record},
        {"last line without line end", "45000;1;2;3", first_record},
        // A value no line has supplied yet shows as zero; later partial lines carry the earlier values forward.
        {"partial lines", "45000;1\n\n45000,5;;9\n45001;2;3;4\n45002;5\n",
         header + "14.03.2023;22:00:0.000000;1.000000;0.000000;0.000000\r\n"
                  "15.03.2023;10:00:0.000000;1.000000;0.000000;0.000000\r\n"
                  "15.03.2023;22:00:0.000000;2.000000;3.000000;4.000000\r\n"
                  "16.03.2023;22:00:0.000000;5.000000;3.000000;4.000000\r\n"},
        {"byte order mark before a record", "\xEF\xBB\xBF" "45000;1;2;3\r\n", first_record},
        // Ctrl-Z is an ordinary byte, not the end of the file (as it would be to a Windows text-mode read).
        {"ctrl-z line", "45000;1;2;3\r\n\x1A\r\n45001;4;5;6\r\n",
         first_record + "15.03.2023;22:00:0.000000;4.000000;5.000000;6.000000\r\n"},
        {"values", "45000;-1,5e1;1e400;-1e400\n45000;0;inf;0x1p3\n45000;nan\n",
         header + "14.03.2023;22:00:0.000000;-15.000000;inf;-inf\r\n"
                  "14.03.2023;22:00:0.000000;0.000000;inf;-inf\r\n"
                  "14.03.2023;22:00:0.000000;0.000000;inf;-inf\r\n"},
        // 23:59:59.9999997 UTC on 31.12.2023 carries into the new year.
        {"seconds never show sixty", "45292,0833333333;1;2;3\n45292,08333333333;1;2;3\n",
         header + "31.12.2023;23:59:59.999997;1.000000;2.000000;3.000000\r\n"
                  "01.01.2024;00:00:0.000000;1.000000;2.000000;3.000000\r\n"},
        // 450 characters, whose tail after character 399 would read as "5;6;7;8"; a line of several megabytes, and
        // one without a line end at the very end.
        {"long lines are one line",
         "45000;1;2;3" + std::string(439 - 11 - 7, ' ') + "5;6;7;8\r\n45001;4;5;6;" + std::string(5 << 20, '9') +
             "\n45002;7\n45001;4;5;6;" + std::string(5 << 20, '9'),
         first_record + "15.03.2023;22:00:0.000000;4.000000;5.000000;6.000000\r\n"
                        "16.03.2023;22:00:0.000000;7.000000;5.000000;6.000000\r\n"
                        "15.03.2023;22:00:0.000000;4.000000;5.000000;6.000000\r\n"},
    };
    // 12:00 on the source clock in summer and winter, by a TZ rule and by the time-zone database; the example.
    const std::string summer = "45122,5;1;2;3\n45245,5;1;2;3\n", examples = TSCONV_EXAMPLES;
    const std::string summer_target = header + "15.07.2023;12:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                               "15.11.2023;11:00:0.000000;1.000000;2.000000;3.000000\r\n";
    cases.push_back({"summer and winter", summer, summer_target, "CET-1CEST,M3.5.0,M10.5.0/3"});
    if (has_zone_file("Europe/Berlin")) {
        cases.push_back({"summer and winter", summer, summer_target, "Europe/Berlin"});
        cases.push_back({"example as shipped", read_file(examples + "/controller-log.csv"),
                         read_file(examples + "/controller-log.converted.csv"), "Europe/Berlin"});
    }
    Case& decoding = cases.emplace_back(Case{"decoding table", "", header, "CET-1"});
    for (const DecodedLine& row : decoding_table) {
        decoding.source += row.line + "\n";
        if (!row.target_line.empty()) decoding.target += row.target_line + "\r\n";
    }
    // Unconvertible time stamps are skipped with a warning, also those of exponents beyond an int. The Windows
    // C runtime breaks down the years 1970 to 3000 only: there 1927, 3001 and 1899 are too.
    std::string year_1927 = "17.05.1927;22:00:0.000000;10.000000;5.000000;6.000000\r\n";
    std::string year_3001 = "15.06.3001;10:00:0.000000;12.000000;5.000000;6.000000\r\n";
    std::string year_1899 = "29.12.1899;22:00:0.000000;13.000000;5.000000;6.000000\r\n";
    std::string skipped = skipped_warning(2) + skipped_warning(5) + skipped_warning(6) + skipped_warning(7) +
                          skipped_warning(8) + skipped_warning(9);
#ifdef _WIN32
    year_1927 = year_3001 = year_1899 = "";
    skipped += skipped_warning(11) + skipped_warning(13) + skipped_warning(14);
#endif
    cases.push_back({"unconvertible",
                     "Datum;A;B;C\n1e300;1;2;3\n45000;1;2;3\n\n1e400;4;5;6\n-1e6;7\n1e4294967296;7\n-1e4294967296;7\n"
                     "2958466,5;8\n50424,5;9\n10000;10\n402133,5;11\n402299,5;12\n1e-4294967296;13\n",
                     first_record + "19.01.2038;10:00:0.000000;9.000000;5.000000;6.000000\r\n" + year_1927 +
                         "31.12.3000;10:00:0.000000;11.000000;5.000000;6.000000\r\n" + year_3001 + year_1899,
                     "UTC0", skipped});
    for (const Case& c : cases) {
        const Conversion conversion = convert(c.source, c.zone.c_str());
        EXPECT_TRUE(ran(conversion.result, 0, "", c.err)) << c.name << " in " << c.zone;
        EXPECT_EQ(conversion.target, c.target) << c.name << " in " << c.zone;
    }
}

TEST(Conversion, EachRecordAsIfConvertedAlone) {
    // A record's local time never depends on the records before it, also in a zone whose offset changes twice within
    // minutes (12:00 and 12:10 UTC on 10.04.2023): 11:58, 12:05, 12:09, 12:11, 12:05 and 11:58 UTC.
    const std::vector<std::string> lines = {
        "45026,581944444442;0;0;0\n", "45026,586805555555;1;2;3\n", "45026,589583333333;4;5;6\n",
        "45026,590972222222;7;8;9\n", "45026,586805555555;1;2;3\n", "45026,581944444442;0;0;0\n"};
    std::vector<std::string> zones = {"AAA0BBB,J100/12,J100/13:10", "AAA0BBB,M4.2.1/12,M4.2.1/13:10",
                                      "CET-1CEST,M3.5.0,M10.5.0/3"};
#ifndef _WIN32
    // Zone files that the C library reads its own way. For a string without rules it takes posixrules' changes,
    // moving one that follows daylight time by the string's own daylight offset: changes 4:10 apart there come 10
    // minutes apart (12:00 and 12:10 UTC). Out of order, changes far apart in the file show where the library's
    // search starts, which moves every half year: daylight time from 12:02 to 12:10 UTC. And 200 leap seconds in a
    // row from 12:03 UTC, shown as seconds beyond 60: those records are not convertible.
    const std::string folder = scratch_folder("-zones");  // kept by convert()
    const long long noon = 1681128000, half_year = 15778476;
    write_file(folder + "/posixrules", zone_file_bytes({{noon, noon + 600 + 4 * 3600}, {}, "EST5", -18000, -14400}));
    write_file(folder + "/Unsorted", zone_file_bytes({{noon + 120, noon + 600 + 20314029, noon + 600 - 36830044,
                                                       noon + 600 - 36602894, noon + 600 + 3 * half_year}, {}}));
    ZoneFile leaps;
    for (long long t = noon + 180; t < noon + 380; ++t) leaps.leap_seconds.push_back(t);
    write_file(folder + "/Leaps", zone_file_bytes(leaps));
    setenv("TZDIR", folder.c_str(), 1);
    zones.insert(zones.end(), {"AAA5BBB4", "Unsorted", folder + "/Leaps"});
#endif
    for (const std::string& zone : zones) {
        std::string source, alone = header;
        for (const std::string& line : lines) {
            source += line;
            alone += convert(line, zone.c_str()).target.substr(header.size());
        }
        const Conversion together = convert(source, zone.c_str());
        EXPECT_EQ(together.result.status, 0) << zone;
        EXPECT_EQ(together.target, alone) << zone;
    }
#ifndef _WIN32
    unsetenv("TZDIR");
    EXPECT_EQ(convert(lines[0] + lines[1], "AAA0BBB,J100/12,J100/13:10").target,
              header + "10.04.2023;11:58:0.000000;0.000000;0.000000;0.000000\r\n"
                       "10.04.2023;13:05:0.000000;1.000000;2.000000;3.000000\r\n");
    const Conversion leap_run = convert(lines[0] + lines[1], (folder + "/Leaps").c_str());
    EXPECT_EQ(leap_run.target, header + "10.04.2023;11:58:0.000000;0.000000;0.000000;0.000000\r\n");
    EXPECT_EQ(leap_run.result.err, skipped_warning(2));
#endif
}

#ifdef _WIN32
// The system zone (TZ not set) by the rules Windows keeps for each year, against a reference of the suite's own: the
// rules applied to each record by plain arithmetic. Run by the ctest entries SystemZone.*, each in a host zone that
// Wine maps to the Windows zone named in TSCONV_SYSTEM_ZONE.
namespace system_zone {

constexpr long long ms_per_day = 86400000;

long long ms_since_1601(const SYSTEMTIME& time) {
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    return static_cast<long long>((static_cast<ULONGLONG>(file.dwHighDateTime) << 32 | file.dwLowDateTime) / 10000);
}

SYSTEMTIME from_ms(long long ms) {
    const ULONGLONG ticks = static_cast<ULONGLONG>(ms) * 10000;
    const FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time;
    FileTimeToSystemTime(&file, &time);
    return time;
}

// Wine 8 applies a change at its minute, the seconds and milliseconds left out (Bangladesh, 31.12.2009
// 23:59:59.999); Windows at the millisecond.
const bool changes_at_the_minute = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;

// A yearly change (weekday of the week of the month, 5 the last) in a year, on the clock it is given in.
long long change_ms(const SYSTEMTIME& rule, int year) {
    const long long first_ms = ms_since_1601({static_cast<WORD>(year), rule.wMonth, 0, 1, 0, 0, 0, 0});
    int day = (rule.wDayOfWeek - from_ms(first_ms).wDayOfWeek + 7) % 7 + 7 * (rule.wDay - 1);
    while (from_ms(first_ms + day * ms_per_day).wMonth != rule.wMonth) day -= 7;
    const long long within_minute = changes_at_the_minute ? 0 : rule.wSecond * 1000LL + rule.wMilliseconds;
    return first_ms + day * ms_per_day + (rule.wHour * 60 + rule.wMinute) * 60000LL + within_minute;
}

// Minutes east of UTC at t under one year's rules, its changes taken in that year: the daylight date on standard
// time, the standard date on daylight time.
long long offset_minutes(const TIME_ZONE_INFORMATION& zone, int year, long long t) {
    if (zone.StandardDate.wMonth == 0 || zone.DaylightDate.wMonth == 0) return -(zone.Bias + zone.StandardBias);
    const long long to_daylight = change_ms(zone.DaylightDate, year) + (zone.Bias + zone.StandardBias) * 60000LL;
    const long long to_standard = change_ms(zone.StandardDate, year) + (zone.Bias + zone.DaylightBias) * 60000LL;
    const bool daylight = to_daylight < to_standard ? t >= to_daylight && t < to_standard
                                                    : !(t >= to_standard && t < to_daylight);
    return -(zone.Bias + (daylight ? zone.DaylightBias : zone.StandardBias));
}

// The system's rules, asked once for each year a record needs, inside the system's table or not; none where it
// keeps no rules per year.
struct YearlyRules {
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    DWORD first = 0, last = 0;  // the system's table
    bool kept = false;
    std::map<int, TIME_ZONE_INFORMATION> years;
    const TIME_ZONE_INFORMATION& of(int year) {
        const auto [at, added] = years.try_emplace(year);
        if (added) GetTimeZoneInformationForYear(static_cast<USHORT>(year), &zone, &at->second);
        return at->second;
    }
};

// "DD.MM.YYYY;HH:MM:S.000000" of a UTC instant: a year's rules hold from the moment the clock of the year before
// shows its New Year.
std::string reference_time(YearlyRules& rules, long long unix_second) {
    const long long t = (unix_second + 11644473600LL) * 1000;
    const auto local = [&](int year) { return t + offset_minutes(rules.of(year), year, t) * 60000; };
    const int year = from_ms(t).wYear;
    const int rule_year =
        from_ms(local(year)).wYear > year ? year + 1 : from_ms(local(year - 1)).wYear >= year ? year : year - 1;
    const SYSTEMTIME shown = from_ms(local(rule_year));
    return shown_time(shown.wDay, shown.wMonth, shown.wYear, shown.wHour, shown.wMinute, shown.wSecond, 0);
}

// The C runtime's breakdown, where the system has no yearly rules for the zone.
std::string runtime_time(long long unix_second) {
    const __time64_t t = unix_second;
    std::tm tm;
    _localtime64_s(&tm, &t);
    return shown_time(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, 0);
}

// A copy of tsconv.exe in which GetProcAddress finds no function of that name: the name's one occurrence overwritten.
std::string without_function(const std::string& name) {
    std::string bytes = read_file(TSCONV_BINARY);
    const std::size_t at = bytes.find(name + '\0');
    EXPECT_TRUE(at != std::string::npos && bytes.find(name + '\0', at + 1) == std::string::npos) << name;
    if (at != std::string::npos) bytes[at] = 'X';
    const std::string copy = scratch_folder("-missing") + "/tsconv.exe";
    write_file(copy, bytes);
    return copy;
}

}  // namespace system_zone

TEST(SystemZone, EachRecordByTheRulesOfItsYear) {
    const char* named_zone = std::getenv("TSCONV_SYSTEM_ZONE");  // "none": no Windows zone
    if (named_zone == nullptr) GTEST_SKIP() << "run by the ctest entries SystemZone.*, each in a host zone of its own";
    const std::string expected_key = named_zone == std::string("none") ? "" : named_zone;  // before TZ changes
    // Where set, the system function of that name is missing to tsconv: the C runtime's breakdown applies.
    const char* missing = std::getenv("TSCONV_MISSING_FUNCTION");
    const std::string binary = missing == nullptr ? TSCONV_BINARY : system_zone::without_function(missing);
    set_time_zone("");  // the system zone, for tsconv.exe and the C runtime here
    DYNAMIC_TIME_ZONE_INFORMATION zone;
    ASSERT_NE(GetDynamicTimeZoneInformation(&zone), TIME_ZONE_ID_INVALID);
    char key[128];
    WideCharToMultiByte(CP_UTF8, 0, zone.TimeZoneKeyName, -1, key, sizeof key, nullptr, nullptr);
    ASSERT_EQ(key, expected_key) << "the Windows zone Wine chose for the host zone";
    using EffectiveYears = DWORD(WINAPI*)(const DYNAMIC_TIME_ZONE_INFORMATION*, LPDWORD, LPDWORD);
    const auto effective_years = reinterpret_cast<EffectiveYears>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA("advapi32.dll"), "GetDynamicTimeZoneInformationEffectiveYears")));
    system_zone::YearlyRules rules;
    rules.zone = zone;
    rules.kept = effective_years != nullptr && effective_years(&zone, &rules.first, &rules.last) == ERROR_SUCCESS;
    // Every 30 minutes over 2000 to 2030, every minute within a day of each New Year, and the instants named below.
    std::vector<long long> instants;
    for (long long t = 946684800; t < 1924992000; t += 1800) instants.push_back(t);  // 2000-01-01 to 2031-01-01 UTC
    for (int year = 2001; year <= 2030; ++year) {
        const long long new_year = (year - 1970) * 31536000LL + ((year - 1969) / 4) * 86400LL;
        for (long long t = new_year - 86400; t < new_year + 86400; t += 60) instants.push_back(t);
    }
    const struct { const char* key; long long unix_second; const char* shown; } named[] = {
        {"Eastern Standard Time", 1142856000, "20.03.2006;07:00:0.000000"},  // daylight time from April that year
        {"Eastern Standard Time", 1162296000, "31.10.2006;07:00:0.000000"},
        {"Eastern Standard Time", 1173682800, "12.03.2007;03:00:0.000000"},
        // Samoa moved from UTC-11 to UTC+13 at the New Year of 2012: the rules of 2012 hold from 00:00 of 2011's clock.
        {"Samoa Standard Time", 1325411999, "31.12.2011;23:59:59.000000"},
        {"Samoa Standard Time", 1325412000, "02.01.2012;00:00:0.000000"},
        {"Iran Standard Time", 1685620800, "01.06.2023;15:30:0.000000"},  // no daylight time since 2023
        // Before the system's table (2015 to 2019; 2009 to 2010): the rules it answers for that year.
        {"North Korea Standard Time", 1275350400, "01.06.2010;09:00:0.000000"},
        {"Bangladesh Standard Time", 1117584000, "01.06.2005;06:00:0.000000"},
        {"Bangladesh Standard Time", 1246406400, "01.07.2009;07:00:0.000000"},
    };
    std::vector<std::pair<std::size_t, const char*>> named_at;  // the index of an instant, what it shows
    for (const auto& n : named) {
        if (std::string(n.key) != key || missing != nullptr) continue;
        named_at.push_back({instants.size(), n.shown});
        instants.push_back(n.unix_second);
    }
    std::string source;
    for (const long long t : instants) source += serial_date(t) + ";1;2;3\n";
    // The edges of what Windows shows, 1970 to 3000 UTC: a record of 1969, the second before 1970 (also where its
    // fraction falls short of carrying it into 1970) and the first second of 3001 are skipped; the others show the
    // second given.
    constexpr long long skipped = -2;
    const struct { const char* serial; long long shown; } edges[] = {
        {"25500", skipped}, {"25569,08332175926", skipped}, {"25569,083333333325", skipped},
        {"25569,083333333332", 0}, {"25569,083333333336", 0}, {"402134,08332175924", 32535215999},
        {"402134,0833333333", skipped}};
    std::string warnings;
    for (const auto& edge : edges) {
        source += edge.serial + std::string(";1;2;3\n");
        if (edge.shown != skipped) instants.push_back(edge.shown);
        else warnings += skipped_warning(static_cast<std::size_t>(std::count(source.begin(), source.end(), '\n')));
    }
    const auto [result, target] = convert(source, "", binary);
    EXPECT_TRUE(ran(result, 0, "", warnings));
    std::vector<std::string_view> shown;  // each record's date and time
    for (std::size_t at = header.size(), end; (end = target.find('\n', at)) != std::string::npos; at = end + 1) {
        shown.push_back(std::string_view(target).substr(at, target.find(';', at + 11) - at));
    }
    ASSERT_EQ(shown.size(), instants.size());
    const bool by_runtime = !rules.kept || missing != nullptr;
    std::size_t differences = 0;
    for (std::size_t i = 0; i < instants.size(); ++i) {
        const std::string expected = by_runtime ? system_zone::runtime_time(instants[i])
                                                : system_zone::reference_time(rules, instants[i]);
        if (shown[i] == expected) continue;
        if (++differences <= 5) ADD_FAILURE() << "UTC " << instants[i] << ": " << shown[i] << ", not " << expected;
    }
    for (const auto& [at, named_shown] : named_at) EXPECT_EQ(shown[at], named_shown);
    std::printf("zone \"%s\", table %lu to %lu, %zu years asked: %zu records, %zu differ from the reference\n", key,
                rules.first, rules.last, rules.years.size(), shown.size(), differences);
    EXPECT_EQ(differences, 0u);
}
#endif

}  // namespace
