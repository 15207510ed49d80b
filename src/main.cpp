// "tsconv SOURCE dummy TARGET": every failure is reported on standard output; the exit status is
// 0 on success and -1 after a failure.

#include <cstdio>
#include <string>

#include "platform.h"
#include "run.h"

namespace {

using tsconv::ConversionResult;
namespace platform = tsconv::platform;

// Closes the file opened so far, if any, and reports a failure naming a file.
int failed(const char* message, const std::string& path, std::FILE* opened = nullptr) {
    if (opened != nullptr) std::fclose(opened);
    std::printf(message, path.c_str());
    return -1;
}

// Converts, closes both files and reports a failure of either.
int convert_and_report(std::FILE* source, std::FILE* target, tsconv::LocalZone& zone,
                       const std::string& source_shown, const std::string& target_shown) {
    // Warnings about skipped records may be many; write them in blocks.
    static char warning_buffer[64 * 1024];
    std::setvbuf(stderr, warning_buffer, _IOFBF, sizeof warning_buffer);
    const ConversionResult result = tsconv::convert_source(source, target, stderr, zone);
    std::fflush(stderr);
    std::fclose(source);
    const bool target_closed = std::fclose(target) == 0;
    if (result == ConversionResult::source_read_failed) {
        return failed("Quelldatei <%s> konnte nicht gelesen werden!\n", source_shown);
    }
    if (result == ConversionResult::target_write_failed || !target_closed) {
        return failed("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_shown);
    }
    return 0;
}

int run_command_line(int argc, const platform::PathChar* const* argv) {
    if (!platform::prepare_process()) return -1;  // before any file takes a standard descriptor
    if (argc <= 3) {
        return failed("Programmaufruf: %s <Quelldatei> dummy <Zieldatei>\n",
                      argc > 0 && argv[0] != nullptr ? platform::shown_text(argv[0]) : "tsconv");
    }
    const std::string source_shown = platform::shown_text(argv[1]);
    const std::string target_shown = platform::shown_text(argv[3]);
    tsconv::LocalZone zone = tsconv::load_local_zone();
    std::FILE* const source = platform::open_source(argv[1]);
    if (source == nullptr) return failed("Quelldatei <%s> konnte nicht geoeffnet werden!\n", source_shown);
    if (platform::is_same_file(source, argv[3])) {
        return failed("Zieldatei <%s> ist die Quelldatei!\n", target_shown, source);
    }
    std::FILE* const target = platform::open_target(argv[3]);
    if (target == nullptr) return failed("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_shown, source);
    return convert_and_report(source, target, zone, source_shown, target_shown);
}

}  // namespace

// On Windows from the wide command line: a name outside the ANSI code page still opens.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_command_line(argc, argv); }
#else
int main(int argc, char** argv) { return run_command_line(argc, argv); }
#endif
