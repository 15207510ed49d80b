#include "run.h"

#include <system_error>
#include <thread>

#include "local_time.h"
#include "platform.h"
#include "record_queue.h"
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

// Decoding stage: reads and decodes every line, carries values forward in the
// one current record, and hands over a copy of it for each line that supplied
// a value.
void decode_all(SourceStream& input, RecordQueue& queue) {
    SourceRecord record;
    SourceLine line;
    unsigned long long line_number = 0;
    bool more = true;
    while (more) {
        RecordBatch* const batch = next_batch_to_fill(queue);
        if (batch == nullptr) return;
        while (batch->size < records_per_batch && (more = read_source_line(input, line))) {
            ++line_number;
            if (decode_source_line(line.text, line.length, record) != 0) {
                batch->records[batch->size++] = DecodedRecord{record, line_number};
            }
        }
        fill_done(queue, !more);
    }
}

// Writing stage: converts and writes the records in order.
void write_all(RecordQueue& queue, TargetStream& output, std::FILE* warnings) {
    LocalTimeCache cache;
    while (RecordBatch* const batch = next_batch_to_empty(queue)) {
        for (std::size_t i = 0; i < batch->size; ++i) {
            const DecodedRecord& decoded = batch->records[i];
            if (!write_target_record(output, decoded.record, cache)) {
                warn_unconvertible(warnings, decoded.line_number);
            }
        }
        empty_done(queue);
        if (output.write_failed) {
            abandon(queue);
            return;
        }
    }
}

// Both stages in turn, for a single core or where no thread can be started.
void convert_in_one_thread(SourceStream& input, TargetStream& output, std::FILE* warnings) {
    SourceRecord record;
    LocalTimeCache cache;
    SourceLine line;
    unsigned long long line_number = 0;
    while (!output.write_failed && read_source_line(input, line)) {
        ++line_number;
        if (decode_source_line(line.text, line.length, record) == 0) continue;
        if (!write_target_record(output, record, cache)) warn_unconvertible(warnings, line_number);
    }
}

// Decoding and writing on two cores, overlapped. False, with nothing done,
// when the second thread cannot be started.
bool convert_in_two_threads(SourceStream& input, TargetStream& output, std::FILE* warnings) {
    RecordQueue queue;
    std::thread decoder;
    try {
        decoder = std::thread(decode_all, std::ref(input), std::ref(queue));
    } catch (const std::system_error&) {
        return false;
    }
    write_all(queue, output, warnings);
    decoder.join();
    return true;
}

}  // namespace

ConversionResult convert_source(std::FILE* source, std::FILE* target, std::FILE* warnings,
                                Threading threading) {
    SourceStream input;
    TargetStream output;
    open_source_stream(input, source);
    open_target_stream(output, target);
    write_target_header(output);
    if (threading == Threading::single || platform::usable_processors() == 1 ||
        !convert_in_two_threads(input, output, warnings)) {
        convert_in_one_thread(input, output, warnings);
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
