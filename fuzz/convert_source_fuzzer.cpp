// Converts a whole source held in memory and checks what holds for every
// source: every target line is a well-formed record, a line gives a record or
// a warning exactly when it begins with a number, the same source converts
// the same way again lying across the end of a read block (the fuzz build
// reads in blocks of 1 KiB), a read or write that fails part-way keeps
// exactly the records converted before, and the reader hands out and the
// decoder decodes each line as the model of the source format has it. (How
// the stream hands the bytes over does not matter: fread fills the block
// whatever pieces the system gives it.)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "io_block.h"
#include "local_time.h"
#include "output_check.h"
#include "run.h"

namespace {

using tsconv::ConversionResult;
using tsconv_test::starts_with;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "convert_source_fuzzer: %s\n", what);
    std::abort();
}

struct Outcome {
    ConversionResult result = ConversionResult::completed;
    std::string target;
    std::string warnings;
};

// Converts the source, with reading failing at `limit` and the target's
// device full at `room` where they are given.
Outcome convert(std::string_view source, std::size_t limit = std::string_view::npos,
                std::size_t room = std::string_view::npos) {
    tsconv_test::MemoryFile input{source, limit}, target, warnings;
    target.room = room;
    std::FILE* const files[] = {tsconv_test::open_memory_file(input, "rb"), tsconv_test::open_memory_file(target, "wb"),
                                tsconv_test::open_memory_file(warnings, "wb")};
    for (std::FILE* file : files) {
        if (file == nullptr) fail("fopencookie failed");
    }
    Outcome outcome;
    outcome.result = tsconv::convert_source(files[0], files[1], files[2]);
    for (std::FILE* file : files) std::fclose(file);
    outcome.target = target.written;
    outcome.warnings = warnings.written;
    return outcome;
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

// The same source after lines that do not begin with a number, so that the
// converter's first block ends in the middle of it: it gives the same records,
// each line what it gave before. (Except when a byte order mark begins the
// source, which is no longer at the very start.)
void check_across_block_boundary(std::string_view source, const Outcome& outcome,
                                 const tsconv_test::ConversionCheck& check) {
    static std::string padded;  // kept from run to run, for speed
    padded.clear();
    const std::size_t padding = tsconv::io_block_size - source.size() / 2 % tsconv::io_block_size;
    std::size_t padding_lines = 0;
    while (padded.size() < padding) {
        const std::size_t length = std::min<std::size_t>(1000, padding - padded.size());
        padded.append(length - 1, 'x');
        padded += '\n';
        ++padding_lines;
    }
    padded += source;
    const Outcome shifted = convert(padded);
    if (starts_with(source, "\xEF\xBB\xBF")) {
        const tsconv_test::ConversionCheck shifted_check =
            tsconv_test::check_conversion(padded, shifted.target, shifted.warnings);
        if (!shifted_check.problem.empty()) fail(shifted_check.problem.c_str());
        return;
    }
    // The padding lines give nothing; every warning names a line that many further on.
    std::string warnings;
    for (std::size_t i = 0; i < check.lines.size(); ++i) {
        if (check.lines[i] == tsconv_test::LineOutcome::warning) {
            warnings += tsconv_test::skipped_warning(padding_lines + i + 1);
        }
    }
    if (shifted.target != outcome.target || shifted.warnings != warnings) {
        fail("a block boundary inside the source changed the records");
    }
}

// The reader hands out every line as the model of the source format has
// it, also where reading fails half-way.
void check_reader(std::string_view source) {
    for (const std::size_t limit : {source.size(), source.size() / 2}) {
        tsconv_test::MemoryFile memory{source, limit};
        std::FILE* const file = tsconv_test::open_memory_file(memory, "rb");
        const std::string problem = tsconv_test::first_line_read_unlike_the_model(file, source, limit);
        std::fclose(file);
        if (!problem.empty()) fail(problem.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone with daylight-saving time that needs no time-zone database.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tsconv::init_local_time();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const Outcome outcome = convert(source);
    if (outcome.result != ConversionResult::completed) fail("conversion from memory did not complete");
    const tsconv_test::ConversionCheck check = tsconv_test::check_conversion(source, outcome.target, outcome.warnings);
    if (!check.problem.empty()) fail(check.problem.c_str());
    if (size > 0) check_read_failure(source, size / 2, check);
    check_write_failure(source, outcome);
    check_across_block_boundary(source, outcome, check);
    check_reader(source);
    return 0;
}
