// Preloaded into tsconv by the fault tests: the program's call of tzset() changes the zone file
// $TZDIR/$TZ at exactly that moment, with the file WITH, as TSCONV_TZSET="ACTION WITH" says:
//   rewrite  before the C library reads it: written over in place (the same file and size), its
//            modification time put back, all within the second of the file's creation;
//   create   before the C library reads it: made where there was none;
//   replace  after the C library read it: WITH renamed into its place.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tzset interposer: %s: %s\n", what, std::strerror(errno));
    std::_Exit(70);
}

void rewrite_in_place(const char* zone, const char* with) {
    struct stat created, rewritten;
    if (stat(zone, &created) != 0) fail(zone);
    const timespec pause{0, 20 * 1000 * 1000};  // a change stamped by the coarse clock still differs
    nanosleep(&pause, nullptr);
    char bytes[65536];
    const int from = open(with, O_RDONLY), to = open(zone, O_WRONLY);
    const ssize_t size = read(from, bytes, sizeof bytes);
    if (from < 0 || to < 0 || size != created.st_size || write(to, bytes, size) != size) fail("cannot rewrite");
    close(from);
    close(to);
    const timespec times[2] = {created.st_atim, created.st_mtim};
    if (utimensat(AT_FDCWD, zone, times, 0) != 0 || stat(zone, &rewritten) != 0) fail("cannot put the time back");
    errno = 0;
    if (rewritten.st_ctim.tv_sec != created.st_ctim.tv_sec) fail("rewritten in another second than created");
}

}  // namespace

extern "C" void tzset() noexcept {
    const char *setting = std::getenv("TSCONV_TZSET"), *folder = std::getenv("TZDIR"), *tz = std::getenv("TZ");
    if (setting == nullptr || std::strchr(setting, ' ') == nullptr || folder == nullptr || tz == nullptr) {
        fail("TSCONV_TZSET, TZDIR or TZ not set");
    }
    const std::string action(setting, std::strchr(setting, ' ')), zone = std::string(folder) + "/" + tz;
    const char* const with = std::strchr(setting, ' ') + 1;
    if (action == "rewrite") rewrite_in_place(zone.c_str(), with);
    if (action == "create" && link(with, zone.c_str()) != 0) fail("cannot create");
    reinterpret_cast<void (*)()>(dlsym(RTLD_NEXT, "tzset"))();
    if (action == "replace" && rename(with, zone.c_str()) != 0) fail("cannot replace");
}
