#include "platform.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "calendar.h"

namespace tsconv::platform {

// The C runtime keeps descriptors 0 to 2, handle or not; no SIGPIPE, no file-size limits.
bool prepare_process() { return true; }

namespace {

ZoneChange zone_change(const SYSTEMTIME& rule) {
    return {rule.wYear, rule.wMonth, rule.wDay, rule.wDayOfWeek, rule.wHour, rule.wMinute, rule.wSecond,
            rule.wMilliseconds};
}

SYSTEMTIME system_time(const ZoneChange& change) {
    return {static_cast<WORD>(change.year), static_cast<WORD>(change.month), static_cast<WORD>(change.day_of_week),
            static_cast<WORD>(change.week),  static_cast<WORD>(change.hour),  static_cast<WORD>(change.minute),
            static_cast<WORD>(change.second), static_cast<WORD>(change.millisecond)};
}

SystemZone system_zone(const TIME_ZONE_INFORMATION& info) {
    return {static_cast<int>(info.Bias), static_cast<int>(info.StandardBias), static_cast<int>(info.DaylightBias),
            zone_change(info.StandardDate), zone_change(info.DaylightDate)};
}

TIME_ZONE_INFORMATION zone_information(const SystemZone& zone) {
    TIME_ZONE_INFORMATION info{};
    info.Bias = zone.bias;
    info.StandardBias = zone.standard_bias;
    info.DaylightBias = zone.daylight_bias;
    info.StandardDate = system_time(zone.standard_start);
    info.DaylightDate = system_time(zone.daylight_start);
    return info;
}

using GetDynamicZone = DWORD(WINAPI*)(PDYNAMIC_TIME_ZONE_INFORMATION);
using GetEffectiveYears = DWORD(WINAPI*)(const DYNAMIC_TIME_ZONE_INFORMATION*, LPDWORD, LPDWORD);
using GetZoneForYear = BOOL(WINAPI*)(USHORT, PDYNAMIC_TIME_ZONE_INFORMATION, LPTIME_ZONE_INFORMATION);

// A function of a system library, where this Windows has it.
template <typename Function>
Function system_function(HMODULE library, const char* name) {
    return library == nullptr ? nullptr
                              : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The years whose rules a record's instant may need: 1970 to 3000 and one either side.
constexpr int first_rule_year = 1969, last_rule_year = 3001;

// The rules of a year of the system zone read at set-up, as the system answers (Windows 8 and later); false
// where it has none. Asked of that zone every time, should the settings change during the run.
bool ask_rules(const ZoneData& zone, int year, SystemZone& rules) {
    const auto for_year =
        system_function<GetZoneForYear>(GetModuleHandleA("kernel32.dll"), "GetTimeZoneInformationForYear");
    DYNAMIC_TIME_ZONE_INFORMATION dynamic;
    TIME_ZONE_INFORMATION info;
    if (for_year == nullptr || zone.system_zone_id.size() != sizeof dynamic) return false;
    std::memcpy(&dynamic, zone.system_zone_id.data(), sizeof dynamic);
    if (!for_year(static_cast<USHORT>(year), &dynamic, &info)) return false;
    // Daylight saving switched off in the settings: standard time all year.
    if (dynamic.DynamicDaylightTimeDisabled) info.StandardDate.wMonth = info.DaylightDate.wMonth = 0;
    rules = system_zone(info);
    return true;
}

// The rules of the years of the system's table and of the year either side, within 1969 to 3001; the years
// beyond take the nearest one's until a record needs them (asking all 1033 costs a third of a second).
// False where the C runtime's apply.
bool read_yearly_rules(ZoneData& zone) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto get_zone = system_function<GetDynamicZone>(kernel, "GetDynamicTimeZoneInformation");
    auto effective_years = system_function<GetEffectiveYears>(kernel, "GetDynamicTimeZoneInformationEffectiveYears");
    if (effective_years == nullptr) {
        effective_years = system_function<GetEffectiveYears>(
            LoadLibraryExA("advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
            "GetDynamicTimeZoneInformationEffectiveYears");
    }
    DYNAMIC_TIME_ZONE_INFORMATION dynamic;
    DWORD first = 0, last = 0;
    if (get_zone == nullptr || effective_years == nullptr || get_zone(&dynamic) == TIME_ZONE_ID_INVALID ||
        dynamic.TimeZoneKeyName[0] == L'\0' || effective_years(&dynamic, &first, &last) != ERROR_SUCCESS ||
        first > last || last > 30827) {
        return false;
    }
    zone.system_zone_id.assign(reinterpret_cast<const char*>(&dynamic), sizeof dynamic);
    const int low = std::clamp(static_cast<int>(first) - 1, first_rule_year, last_rule_year);
    const int high = std::clamp(static_cast<int>(last) + 1, first_rule_year, last_rule_year);
    zone.first_year = first_rule_year;
    zone.years.resize(last_rule_year - first_rule_year + 1);
    zone.asked.assign(zone.years.size(), false);
    for (int year = low; year <= high; ++year) {
        const auto at = static_cast<std::size_t>(year - first_rule_year);
        if (!ask_rules(zone, year, zone.years[at])) {
            zone = ZoneData{};
            return false;
        }
        zone.asked[at] = true;
    }
    for (int year = first_rule_year; year <= last_rule_year; ++year) {
        zone.years[static_cast<std::size_t>(year - first_rule_year)] =
            zone.years[static_cast<std::size_t>(std::clamp(year, low, high) - first_rule_year)];
    }
    return true;
}

// A year's rules, asked the first time a record needs them: an answer other than the one the zone check
// judged for that year takes the verdict away (doc/DESIGN.md, "Windows: a year's rules").
const SystemZone* rules_of_year(ZoneData& zone, int year) {
    const auto at = static_cast<std::size_t>(year - zone.first_year);
    if (SystemZone answer; !zone.asked[at]) {
        if (!ask_rules(zone, year, answer)) return nullptr;
        // Plain ints without padding: compared as bytes.
        zone.rules_unjudged = zone.rules_unjudged || std::memcmp(&answer, &zone.years[at], sizeof answer) != 0;
        zone.years[at] = answer;
        zone.asked[at] = true;
    }
    return &zone.years[at];
}

bool to_local(ZoneData& zone, int rule_year, const SYSTEMTIME& utc, SYSTEMTIME& local) {
    const SystemZone* rules = rules_of_year(zone, rule_year);
    if (rules == nullptr) return false;
    const TIME_ZONE_INFORMATION info = zone_information(*rules);
    return SystemTimeToTzSpecificLocalTime(&info, &utc, &local) != 0;
}

// A year's rules hold from when the clock of the year before shows its New Year: within two days of
// the UTC New Year the rules on either side decide (doc/DESIGN.md, "Windows: a year's rules").
int rule_year(ZoneData& zone, const SYSTEMTIME& utc) {
    const int year = utc.wYear;
    SYSTEMTIME local;
    if (utc.wMonth == 12 && utc.wDay >= 30) {
        return to_local(zone, year, utc, local) && local.wYear > year ? year + 1 : year;
    }
    if (utc.wMonth == 1 && utc.wDay <= 2) {
        return to_local(zone, year - 1, utc, local) && local.wYear < year ? year - 1 : year;
    }
    return year;
}

bool breakdown_by_yearly_rules(ZoneData& zone, std::int64_t t, std::tm& out) {
    if (t < 0 || t >= end_of_year_3000) return false;
    constexpr std::uint64_t seconds_from_1601_to_1970 = 11644473600;
    const std::uint64_t ticks = (static_cast<std::uint64_t>(t) + seconds_from_1601_to_1970) * 10000000;  // of 100 ns
    const FILETIME file_time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&file_time, &utc) || !to_local(zone, rule_year(zone, utc), utc, local)) return false;
    out = std::tm{};
    out.tm_year = local.wYear - 1900;
    out.tm_mon = local.wMonth - 1;
    out.tm_mday = local.wDay;
    out.tm_hour = local.wHour;
    out.tm_min = local.wMinute;
    out.tm_sec = local.wSecond;
    return true;
}

bool file_identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
}

}  // namespace

ZoneData load_time_zone() {
    _tzset();
    ZoneData zone;
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz != '\0') {
        zone.kind = ZoneData::Kind::fixed_rules;
        return zone;
    }
    if (read_yearly_rules(zone)) {
        zone.kind = ZoneData::Kind::windows_rules;
        return zone;
    }
    // Without rules per year, the runtime applies the system zone's rules of today to every year.
    TIME_ZONE_INFORMATION today;
    if (GetTimeZoneInformation(&today) == TIME_ZONE_ID_INVALID) return zone;
    zone.kind = ZoneData::Kind::windows_rules;
    zone.years.push_back(system_zone(today));
    zone.runtime_calendar = true;
    return zone;
}

bool local_breakdown(ZoneData& zone, std::int64_t seconds_since_epoch, std::tm& out) {
    if (zone.kind == ZoneData::Kind::windows_rules && !zone.runtime_calendar) {
        return breakdown_by_yearly_rules(zone, seconds_since_epoch, out);
    }
    const __time64_t t = seconds_since_epoch;
    return _localtime64_s(&out, &t) == 0;
}

std::string shown_text(const PathChar* argument) {
    const int size = WideCharToMultiByte(CP_ACP, 0, argument, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, argument, -1, text.data(), size, nullptr, nullptr);
    text.pop_back();  // the terminating zero
    return text;
}

std::FILE* open_source(const PathChar* path) { return unbuffered(_wfopen(path, L"rb")); }

std::FILE* open_target(const PathChar* path) { return unbuffered(_wfopen(path, L"wb")); }

bool is_same_file(std::FILE* source, const PathChar* target_path) {
    BY_HANDLE_FILE_INFORMATION source_info;
    const HANDLE source_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(source)));
    if (!file_identity(source_handle, source_info)) return false;
    // Opened without access rights, only for its identity; a target that does not exist is no source.
    const HANDLE target_handle =
        CreateFileW(target_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION target_info;
    const bool known = file_identity(target_handle, target_info);
    if (target_handle != INVALID_HANDLE_VALUE) CloseHandle(target_handle);
    return known && source_info.dwVolumeSerialNumber == target_info.dwVolumeSerialNumber &&
           source_info.nFileIndexHigh == target_info.nFileIndexHigh &&
           source_info.nFileIndexLow == target_info.nFileIndexLow;
}

bool truncate_file(std::FILE* file, std::uint64_t size) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
           _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

}  // namespace tsconv::platform
