// Converts a whole source held in memory and checks what holds for every
// source: every target line is a well-formed record, a line gives a record or
// a warning exactly when it begins with a number, the same source converts
// the same way again lying across the end of a read block (the fuzz build
// reads in blocks of 1 KiB), a read or write that fails part-way keeps
// exactly the records converted before, and decoding lines where they lie in
// the read block matches reading, then decoding them. (How the stream hands
// the bytes over does not matter: fread fills the block whatever pieces the
// system gives it.)

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// A memory stream collecting what is written to it.
struct MemoryStream {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);

    MemoryStream() {
        if (file == nullptr) fail("open_memstream failed");
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    std::string close() {
        std::fclose(file);
        file = nullptr;
        return std::string(data, size);
    }
    ~MemoryStream() {
        if (file != nullptr) std::fclose(file);
        std::free(data);
    }
};

// The source as a stream read from memory. fmemopen takes a writable buffer
// but writes nothing to it when opened for reading.
std::FILE* open_source(std::string_view source) {
    std::FILE* const file = fmemopen(const_cast<char*>(source.data()), source.size(), "rb");
    if (file == nullptr) fail("fmemopen failed");
    return file;
}

// Converts the stream, then closes it.
Outcome convert_stream(std::FILE* file) {
    MemoryStream target;
    MemoryStream warnings;
    Outcome outcome;
    outcome.result = tsconv::convert_source(file, target.file, warnings.file);
    std::fclose(file);
    outcome.target = target.close();
    outcome.warnings = warnings.close();
    return outcome;
}

Outcome convert(std::string_view source) { return convert_stream(open_source(source)); }

// A source that fails with EIO once `limit` bytes have been read.
struct FailingSource {
    std::string_view data;
    std::size_t position = 0;
    std::size_t limit = 0;
};

ssize_t read_failing(void* cookie, char* buffer, std::size_t size) {
    FailingSource& source = *static_cast<FailingSource*>(cookie);
    if (source.position == source.data.size()) return 0;  // the end, read whole
    if (source.position >= source.limit) {
        errno = EIO;
        return -1;
    }
    std::size_t n = source.limit - source.position;
    if (n > size) n = size;
    std::memcpy(buffer, source.data.data() + source.position, n);
    source.position += n;
    return static_cast<ssize_t>(n);
}

// A target whose device is full once `room` bytes have been written.
struct FillingTarget {
    std::string written;
    std::size_t room = 0;
};

ssize_t write_filling(void* cookie, const char* buffer, std::size_t size) {
    FillingTarget& target = *static_cast<FillingTarget*>(cookie);
    std::size_t n = target.room - target.written.size();
    if (n == 0) {
        errno = ENOSPC;
        return -1;
    }
    if (n > size) n = size;
    target.written.append(buffer, n);
    return static_cast<ssize_t>(n);
}

// Converts through a stream that fails at `limit`.
Outcome convert_from_cookie(std::string_view source, std::size_t limit) {
    FailingSource failing{source, 0, limit};
    cookie_io_functions_t functions{};
    functions.read = read_failing;
    std::FILE* const file = fopencookie(&failing, "rb", functions);
    if (file == nullptr) fail("fopencookie failed");
    return convert_stream(file);
}

Outcome convert_with_full_target(std::string_view source, std::size_t room) {
    std::FILE* const file = open_source(source);
    FillingTarget filling;
    filling.room = room;
    cookie_io_functions_t functions{};
    functions.write = write_filling;
    std::FILE* const target = fopencookie(&filling, "wb", functions);
    if (target == nullptr) fail("fopencookie failed");
    MemoryStream warnings;
    Outcome outcome;
    outcome.result = tsconv::convert_source(file, target, warnings.file);
    std::fclose(file);
    std::fclose(target);
    outcome.target = filling.written;
    outcome.warnings = warnings.close();
    return outcome;
}

// Reading fails at `limit`: the target holds what the complete lines before
// the failure gave in the full conversion, and nothing of the broken line.
void check_read_failure(std::string_view source, std::size_t limit, const tsconv_test::ConversionCheck& full) {
    const Outcome failed = convert_from_cookie(source, limit);
    if (failed.result != ConversionResult::source_read_failed) fail("read failure not reported");
    const std::size_t last_line_end = source.substr(0, limit).rfind('\n');
    const std::size_t complete_lines =
        last_line_end == std::string_view::npos ? 0 : tsconv_test::decoded_parts(source.substr(0, last_line_end + 1)).size();
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
    const Outcome full = convert_with_full_target(source, room);
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
