#include "run.h"

#include <cstring>

#include "local_time.h"
#include "platform.h"
#include "source.h"
#include "target.h"

namespace tsconv {

namespace {

void warn_unconvertible(std::FILE* warnings, unsigned long long line_number) {
    // Formatted here: "%llu" is not understood by every C runtime this runs on.
    char digits[24];
    char* p = digits + sizeof digits;
    *--p = '\0';
    do {
        *--p = static_cast<char>('0' + line_number % 10);
        line_number /= 10;
    } while (line_number != 0);
    std::fputs("Zeile ", warnings);
    std::fputs(p, warnings);
    std::fputs(": Zeitstempel nicht umrechenbar, Datensatz uebersprungen\n", warnings);
}

}  // namespace

ConversionResult convert_source(std::FILE* source, std::FILE* target, std::FILE* warnings) {
    SourceStream input;
    TargetStream output;
    open_source_stream(input, source);
    open_target_stream(output, target);
    SourceRecord record;
    LocalTimeCache cache;
    SourceLine line;
    unsigned long long line_number = 0;

    write_target_header(output);
    while (!output.write_failed && read_source_line(input, line)) {
        ++line_number;
        if (decode_source_line(line.text, line.length, record) == 0) continue;
        if (!write_target_record(output, record, cache)) warn_unconvertible(warnings, line_number);
    }
    const bool flushed = flush_target_stream(output);
    if (input.read_failed) return ConversionResult::source_read_failed;
    return flushed ? ConversionResult::completed : ConversionResult::target_write_failed;
}

int run_tsconv(int argc, char** argv) {
    if (argc <= 3) {
        std::printf("Programmaufruf: %s <Quelldatei> dummy <Zieldatei>\n",
                    argc > 0 && argv[0] != nullptr ? argv[0] : "tsconv");
        return -1;
    }
    const char* const source_path = argv[1];
    const char* const target_path = argv[3];

    platform::init_local_time();
    std::FILE* const source = platform::open_source(source_path);
    if (source == nullptr) {
        std::printf("Quelldatei <%s> konnte nicht geoeffnet werden!\n", source_path);
        return -1;
    }
    if (platform::is_same_file(source, target_path)) {
        std::fclose(source);
        std::printf("Zieldatei <%s> ist die Quelldatei!\n", target_path);
        return -1;
    }
    std::FILE* const target = platform::open_target(target_path);
    if (target == nullptr) {
        std::fclose(source);
        std::printf("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_path);
        return -1;
    }

    // Warnings about skipped records may be many; write them in blocks.
    static char warning_buffer[64 * 1024];
    std::setvbuf(stderr, warning_buffer, _IOFBF, sizeof warning_buffer);
    const ConversionResult result = convert_source(source, target, stderr);
    std::fflush(stderr);
    std::fclose(source);
    const bool target_closed = std::fclose(target) == 0;

    if (result == ConversionResult::source_read_failed) {
        std::printf("Quelldatei <%s> konnte nicht gelesen werden!\n", source_path);
        return -1;
    }
    if (result == ConversionResult::target_write_failed || !target_closed) {
        std::printf("Zieldatei <%s> konnte nicht geschrieben werden!\n", target_path);
        return -1;
    }
    return 0;
}

}  // namespace tsconv
