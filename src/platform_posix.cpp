#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace tsconv::platform {

bool prepare_process() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {  // open takes the lowest free number
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF &&
            open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) {
            return false;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}

bool local_breakdown(ZoneData&, std::int64_t seconds_since_epoch, std::tm& out) {
    const time_t t = static_cast<time_t>(seconds_since_epoch);
    return static_cast<std::int64_t>(t) == seconds_since_epoch && localtime_r(&t, &out) != nullptr;
}

std::string shown_text(const PathChar* argument) { return argument; }

std::FILE* open_source(const PathChar* path) {
    std::FILE* file = std::fopen(path, "rb");
    struct stat info;  // fopen opens a folder too; reading it would only fail later
    if (file == nullptr || (fstat(fileno(file), &info) == 0 && !S_ISDIR(info.st_mode))) return unbuffered(file);
    std::fclose(file);
    return nullptr;
}

std::FILE* open_target(const PathChar* path) { return unbuffered(std::fopen(path, "wb")); }

namespace {

enum class FileRead { read, missing, refused };

// A regular file of at most max_size bytes, whole, and which file it was; refused where it cannot be.
FileRead read_regular_file(const char* path, std::size_t max_size, std::string& bytes, struct stat& opened) {
    struct stat named;
    if (stat(path, &named) != 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::refused;
    if (!S_ISREG(named.st_mode) || static_cast<std::uint64_t>(named.st_size) > max_size) return FileRead::refused;
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // should it have become a FIFO
    if (descriptor < 0) return FileRead::refused;
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

// A file replaced or rewritten shows another identity, size or time.
bool same_file_unchanged(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

ZoneData load_time_zone() {
    ZoneData zone;
#if defined(__GLIBC__)
    // The file glibc reads: TZ unset names /etc/localtime, empty names "Universal", a leading ":" is
    // passed over, a name not starting with "/" is found under TZDIR. Where no file loads, glibc reads
    // TZ as a rule string. A bare ":" is taken as /etc/localtime: passing, that is no less safe.
    const char* tz = std::getenv("TZ");
    zone.tz = tz == nullptr ? "" : *tz == '\0' ? "Universal" : tz + (*tz == ':');
    if (zone.tz.empty()) zone.tz = "/etc/localtime";
    const char* folder = std::getenv("TZDIR");
    if (folder == nullptr || *folder == '\0') folder = "/usr/share/zoneinfo";
    const std::string path = zone.tz[0] == '/' ? zone.tz : folder + ("/" + zone.tz);
    // Read before glibc reads it, and unchanged after: the check judges the very file glibc read.
    struct stat read_file;
    const FileRead read = read_regular_file(path.c_str(), 1 << 20, zone.file_bytes, read_file);
    tzset();
    struct stat now;
    const bool exists_now = stat(path.c_str(), &now) == 0;
    if (read == FileRead::missing && !exists_now && (errno == ENOENT || errno == ENOTDIR)) {
        zone.kind = ZoneData::Kind::rule_string;
    } else if (read == FileRead::read && exists_now && same_file_unchanged(read_file, now)) {
        zone.kind = ZoneData::Kind::zone_file;
    }
#else
    tzset();  // another C library: nothing the check can judge
#endif
    return zone;
}

bool is_same_file(std::FILE* source, const PathChar* target_path) {
    struct stat source_info, target_info;
    if (fstat(fileno(source), &source_info) != 0 || stat(target_path, &target_info) != 0) return false;
    return !S_ISCHR(source_info.st_mode) && source_info.st_dev == target_info.st_dev &&
           source_info.st_ino == target_info.st_ino;
}

bool truncate_file(std::FILE* file, std::uint64_t size) {
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
           ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

}  // namespace tsconv::platform
