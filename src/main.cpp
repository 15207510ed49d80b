// The program: "tsconv SOURCE dummy TARGET". Checks the command line, opens
// both files, runs the conversion and reports every failure on standard
// output. Exits with 0 on success and -1 after a failure.

#include <cstdint>
#include <cstdio>
#include <string>

#include "local_time.h"
#include "platform.h"
#include "run.h"

namespace {

using tsconv::ConversionResult;
namespace platform = tsconv::platform;

int run(int argc, const platform::PathChar* const* argv) {

    // Before anything else, so that no file of the run takes a standard
    // descriptor and no message goes astray.
    if (!platform::prepare_process()) return -1;
    if (argc <= 3) {
        const std::string program = argc > 0 && argv[0] != nullptr ? platform::shown_text(argv[0]) : "tsconv";
        std::printf("Programmaufruf: %s <Quelldatei> dummy <Zieldatei>\n", program.c_str());
        return -1;
    }
    const platform::PathChar* const source_path = argv[1];
    const platform::PathChar* const target_path = argv[3];
    const std::string source_shown = platform::shown_text(source_path);
    const std::string target_shown = platform::shown_text(target_path);

    const std::int64_t probe_span = tsconv::init_local_time();
    std::FILE* const source = platform::open_source(source_path);
    if (source == nullptr) {
        std::printf("Quelldatei <%s> konnte nicht geoeffnet werden!\n", source_shown.c_str());
        return -1;
    }
    if (platform::is_same_file(source, target_path)) {
        std::fclose(source);
        std::printf("Zieldatei <%s> ist die Quelldatei!\n", target_shown.c_str());
        return -1;
    }
    std::FILE* const target = platform::open_target(target_path);
    if (target == nullptr) {
        std::fclose(source);
        std::printf("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_shown.c_str());
        return -1;
    }

    // Warnings about skipped records may be many; write them in blocks.
    static char warning_buffer[64 * 1024];
    std::setvbuf(stderr, warning_buffer, _IOFBF, sizeof warning_buffer);
    const ConversionResult result = tsconv::convert_source(source, target, stderr, probe_span);
    std::fflush(stderr);
    std::fclose(source);
    const bool target_closed = std::fclose(target) == 0;

    if (result == ConversionResult::source_read_failed) {
        std::printf("Quelldatei <%s> konnte nicht gelesen werden!\n", source_shown.c_str());
        return -1;
    }
    if (result == ConversionResult::target_write_failed || !target_closed) {
        std::printf("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_shown.c_str());
        return -1;
    }
    return 0;
}

}  // namespace

// On Windows the arguments come from the wide command line: a name with
// characters outside the ANSI code page still opens.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run(argc, argv); }
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
