// Preloaded into tsconv by the fault tests (LD_PRELOAD): the program's call of
// tzset() changes the zone file TSCONV_TZSET_ZONE at exactly that moment, with
// the file TSCONV_TZSET_WITH, as TSCONV_TZSET_ACTION says:
//   rewrite  before the C library reads it: written over in place (the same
//            file and size), its modification time put back, all within the
//            second of the file's creation;
//   create   before the C library reads it: made where there was none;
//   replace  after the C library read it: the other file renamed into its place.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tzset interposer: %s: %s\n", what, std::strerror(errno));
    std::_Exit(70);
}

void real_tzset() {
    const auto real = reinterpret_cast<void (*)()>(dlsym(RTLD_NEXT, "tzset"));
    if (real == nullptr) fail("no tzset to call");
    real();
}

void rewrite_in_place(const char* zone, const char* with) {
    struct stat created, rewritten;
    if (stat(zone, &created) != 0) fail(zone);
    // A change stamped by the coarse clock must still differ from the creation's.
    const timespec pause{0, 20 * 1000 * 1000};
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
    const char* action = std::getenv("TSCONV_TZSET_ACTION");
    const char* zone = std::getenv("TSCONV_TZSET_ZONE");
    const char* with = std::getenv("TSCONV_TZSET_WITH");
    if (action == nullptr || zone == nullptr || with == nullptr) fail("TSCONV_TZSET_ACTION, _ZONE, _WITH not set");
    if (std::strcmp(action, "rewrite") == 0) rewrite_in_place(zone, with);
    if (std::strcmp(action, "create") == 0 && link(with, zone) != 0) fail("cannot create");
    real_tzset();
    if (std::strcmp(action, "replace") == 0 && rename(with, zone) != 0) fail("cannot replace");
}
