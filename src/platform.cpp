#include "platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace tsconv::platform {

namespace {

// The converter reads and writes whole blocks of its own; the stream's buffer
// would only add a copy.
std::FILE* unbuffered(std::FILE* file) {
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

#ifdef _WIN32

// The C runtime keeps descriptors 0 to 2 for the standard streams even where
// they have no handle, so no file gets one; and Windows has neither SIGPIPE
// nor file-size limits.
bool prepare_process() { return true; }

void init_local_time() { _tzset(); }

bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out) {
    const __time64_t t = seconds_since_epoch;
    return _localtime64_s(&out, &t) == 0;
}

namespace {

ZoneChange zone_change(const SYSTEMTIME& rule) {
    ZoneChange change;
    change.year = rule.wYear;
    change.month = rule.wMonth;
    change.week = rule.wDay;
    change.day_of_week = rule.wDayOfWeek;
    change.hour = rule.wHour;
    change.minute = rule.wMinute;
    change.second = rule.wSecond;
    return change;
}

}  // namespace

bool system_zone(SystemZone& out) {
    TIME_ZONE_INFORMATION info;
    if (GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID) return false;
    out.standard_bias = static_cast<int>(info.StandardBias);
    out.daylight_bias = static_cast<int>(info.DaylightBias);
    out.standard_start = zone_change(info.StandardDate);
    out.daylight_start = zone_change(info.DaylightDate);
    return true;
}

std::FILE* open_source(const char* path) { return unbuffered(std::fopen(path, "rb")); }

std::FILE* open_target(const char* path) { return unbuffered(std::fopen(path, "wb")); }

namespace {

bool file_identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
}

}  // namespace

bool is_same_file(std::FILE* source, const char* target_path) {
    BY_HANDLE_FILE_INFORMATION source_info;
    const HANDLE source_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(source)));
    if (!file_identity(source_handle, source_info)) return false;
    // Opened without access rights only to read its identity; a target that
    // does not exist yet cannot be the source.
    const HANDLE target_handle =
        CreateFileA(target_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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

#else

bool prepare_process() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is this one.
        if (open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}

void init_local_time() { tzset(); }

bool local_breakdown(std::int64_t seconds_since_epoch, std::tm& out) {
    const time_t t = static_cast<time_t>(seconds_since_epoch);
    if (static_cast<std::int64_t>(t) != seconds_since_epoch) return false;
    return localtime_r(&t, &out) != nullptr;
}

std::FILE* open_source(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    // fopen accepts a folder here; reading it would only fail later.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return unbuffered(file);
}

std::FILE* open_target(const char* path) { return unbuffered(std::fopen(path, "wb")); }

FileRead read_regular_file(const char* path, std::size_t max_size, std::string& bytes) {
    struct stat named;
    if (stat(path, &named) != 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::refused;
    if (!S_ISREG(named.st_mode) || static_cast<std::uint64_t>(named.st_size) > max_size) return FileRead::refused;
    // Without waiting, should the name have become a FIFO since.
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return FileRead::refused;
    struct stat opened;
    bool whole = fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev &&
                 opened.st_ino == named.st_ino;
    bytes.clear();
    char block[4096];
    while (whole) {
        const ssize_t got = read(descriptor, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || bytes.size() + static_cast<std::size_t>(got) > max_size) {
            whole = got == 0;
            break;
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
    close(descriptor);
    return whole ? FileRead::read : FileRead::refused;
}

bool is_same_file(std::FILE* source, const char* target_path) {
    struct stat source_info;
    struct stat target_info;
    if (fstat(fileno(source), &source_info) != 0) return false;
    if (stat(target_path, &target_info) != 0) return false;  // no target yet
    return !S_ISCHR(source_info.st_mode) && source_info.st_dev == target_info.st_dev &&
           source_info.st_ino == target_info.st_ino;
}

bool truncate_file(std::FILE* file, std::uint64_t size) {
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
           ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

#endif

}  // namespace tsconv::platform
