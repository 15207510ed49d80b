// Converts a whole source held in memory and checks what holds for every source: every target line is a well-formed
// record, a line gives a record or a warning exactly when it begins with a number, a read or write that fails
// part-way keeps exactly the records converted before, and the reader hands out and the decoder decodes each line
// as the model of the source format has it, wherever the ends of the read blocks (1 KiB in the fuzz build) fall.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "format_model.h"
#include "fuzz_failure.h"
#include "io_block.h"
#include "local_time.h"
#include "memory_file.h"
#include "run.h"

namespace {

using tsconv::ConversionResult;
using tsconv_test::starts_with;

[[noreturn]] void fail(const char* what) { tsconv_test::fuzz_failure("convert_source_fuzzer", what); }

struct Outcome { ConversionResult result = ConversionResult::completed; std::string target, warnings; };

// The zone, set up once; its probe span, or 0: every second its own breakdown.
tsconv::LocalZone zone;

// Converts the source, with reading failing at `limit` and the target's device full at `room` where they are given.
Outcome convert(std::string_view source, std::size_t limit = std::string_view::npos,
                std::size_t room = std::string_view::npos, std::int64_t probe_span = zone.probe_span) {
    tsconv_test::MemoryFile input{source, limit}, target, warnings;
    target.room = room;
    std::FILE* const files[] = {tsconv_test::open_memory_file(input, "rb"), tsconv_test::open_memory_file(target, "wb"),
                                tsconv_test::open_memory_file(warnings, "wb")};
    for (std::FILE* file : files) {
        if (file == nullptr) fail("fopencookie failed");
    }
    tsconv::LocalZone probed = zone;
    probed.probe_span = probe_span;
    const ConversionResult result = tsconv::convert_source(files[0], files[1], files[2], probed);
    for (std::FILE* file : files) std::fclose(file);
    return {result, target.written, warnings.written};
}

// Reading fails at `limit`: the target holds what the complete lines before
// the failure gave in the full conversion, and nothing of the broken line.
void check_read_failure(std::string_view source, std::size_t limit, const tsconv_test::ConversionCheck& full) {
    const Outcome failed = convert(source, limit);
    if (failed.result != ConversionResult::source_read_failed) fail("read failure not reported");
    std::size_t complete_lines = 0;
    tsconv_test::for_each_decoded_part(source.substr(0, source.substr(0, limit).rfind('\n') + 1),
                                       [&](std::string_view) { ++complete_lines; });
    std::string target(tsconv_test::target_header);
    std::string warnings;
    std::size_t record = 0;
    for (std::size_t i = 0; i < complete_lines; ++i) {
        if (full.lines[i] == tsconv_test::LineOutcome::record) target += full.records[record++];
        if (full.lines[i] == tsconv_test::LineOutcome::warning) warnings += tsconv_test::skipped_warning(i + 1);
    }
    if (failed.target != target || failed.warnings != warnings) fail("read failure changed the records before it");
}

// The device fills up half-way through the target: what was written is the
// start of the full target, and the failure is reported.
void check_write_failure(std::string_view source, const Outcome& outcome) {
    const std::size_t room = outcome.target.size() / 2;
    const Outcome full = convert(source, std::string_view::npos, room);
    if (full.result != ConversionResult::target_write_failed) fail("write failure not reported");
    if (full.target.size() != room || !starts_with(outcome.target, full.target) ||
        !starts_with(outcome.warnings, full.warnings)) {
        fail("write failure changed what was written before it");
    }
}

// The reader hands out every line as the model of the source format has it: also where reading fails half-way, and
// with the source moved behind empty lines so that the first block ends in the middle of it.
void check_reader(std::string_view source) {
    static std::string moved;  // kept from run to run, for speed
    moved.assign(tsconv::io_block_size - source.size() / 2 % tsconv::io_block_size, '\n');
    moved += source;
    for (const std::string_view text : {source, std::string_view(moved)}) {
        for (const std::size_t limit : {text.size(), text.size() / 2}) {
            tsconv_test::MemoryFile memory{text, limit};
            std::FILE* const file = tsconv_test::open_memory_file(memory, "rb");
            const std::string problem = tsconv_test::first_line_read_unlike_the_model(file, text, limit);
            std::fclose(file);
            if (!problem.empty()) fail(problem.c_str());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone with daylight-saving time that needs no time-zone database.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    zone = tsconv::load_local_zone();
    if (zone.probe_span == 0) fail("the zone does not keep its offsets");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const Outcome outcome = convert(source);
    if (outcome.result != ConversionResult::completed) fail("conversion from memory did not complete");
    const tsconv_test::ConversionCheck check = tsconv_test::check_conversion(source, outcome.target, outcome.warnings);
    if (!check.problem.empty()) fail(check.problem.c_str());
    const Outcome unprobed = convert(source, std::string_view::npos, std::string_view::npos, 0);
    if (unprobed.target != outcome.target || unprobed.warnings != outcome.warnings) fail("probing changed the result");
    if (size > 0) check_read_failure(source, size / 2, check);
    check_write_failure(source, outcome);
    check_reader(source);
    return 0;
}
