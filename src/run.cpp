#include "run.h"

#include "local_time.h"
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
    write_target_header(output);

    SourceRecord record;
    LocalTimeCache cache;
    SourceLine line;
    unsigned long long line_number = 0;
    while (!output.write_failed && read_source_line(input, line)) {
        ++line_number;
        if (decode_source_line(line.text, line.length, record) == 0) continue;
        if (!write_target_record(output, record, cache)) warn_unconvertible(warnings, line_number);
    }

    const bool flushed = flush_target_stream(output);
    if (input.read_failed) return ConversionResult::source_read_failed;
    return flushed ? ConversionResult::completed : ConversionResult::target_write_failed;
}

}  // namespace tsconv
