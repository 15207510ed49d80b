// The real tsconv binary on huge and degenerate sources: ten million lines,
// one line of 200 MB without a line end, sources of only NUL bytes, only
// separators, only line ends, or random bytes. Each converts in constant
// memory, without a crash, and gives records exactly where a line begins with
// a number. Prints the peak memory and time of each run.
//
// The sources are generated into a scratch folder and deleted afterwards.
// Run by scripts/test after the release build; ctest leaves this out:
//   build/tests/tsconv_scale_tests

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "output_check.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using tsconv_test::read_file;
using tsconv_test::write_file;

// Bounds on the converter's peak resident memory: small whatever the source,
// and hardly more for a huge source than for a tiny one.
constexpr long max_peak_kib = 16 * 1024;
constexpr long max_growth_kib = 2 * 1024;

constexpr std::size_t megabyte = 1000 * 1000;

struct Measured {
    int status = -1;       // exit status, or 128 + signal
    long peak_kib = 0;     // peak resident memory of the converter
    double seconds = 0.0;  // wall-clock time
    std::string out;
    std::string err;
};

// Runs tsconv SOURCE dummy TARGET through the measuring launcher, which keeps
// this process's own memory out of the figure.
Measured run_tsconv(const std::string& source, const std::string& target, const std::string& folder) {
    const std::string figures_path = folder + "/figures";
    const tsconv_test::CommandResult result = tsconv_test::run_command(
        TSCONV_MEASURE_RUN, {figures_path, "--", TSCONV_BINARY, source, "dummy", target});
    Measured run;
    run.status = result.status;
    run.out = result.out;
    run.err = result.err;
    std::FILE* figures = std::fopen(figures_path.c_str(), "r");
    if (figures == nullptr || std::fscanf(figures, "%ld %lf", &run.peak_kib, &run.seconds) != 2) {
        ADD_FAILURE() << "no figures from the launcher";
    }
    if (figures != nullptr) std::fclose(figures);
    return run;
}

void report(const std::string& what, const Measured& run, std::uintmax_t source_bytes) {
    std::printf("[figures] %-34s %8.1f MB source  peak RSS %6.1f MiB  %7.2f s\n", what.c_str(),
                static_cast<double>(source_bytes) / megabyte, static_cast<double>(run.peak_kib) / 1024,
                run.seconds);
    std::fflush(stdout);
}

// Writes a file of the given size in pieces made by `piece` (called with the
// offset of the piece, returns the text to append).
void generate(const std::string& path, std::uintmax_t size, const std::function<std::string_view(std::uintmax_t)>& piece) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::uintmax_t written = 0;
    while (written < size) {
        std::string_view text = piece(written);
        if (text.size() > size - written) text = text.substr(0, static_cast<std::size_t>(size - written));
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size()) << path;
        written += text.size();
    }
    ASSERT_EQ(std::fclose(file), 0) << path;
}

// The scratch folder of the running test, removed again at its end.
class Scratch {
public:
    Scratch() : folder_(tsconv_test::scratch_folder()) {}
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

// The peak memory of converting a source of a few lines, for comparison.
long small_run_peak_kib(const Scratch& scratch) {
    write_file(scratch.path("small.csv"), "45000;1;2;3\r\n45000,5;4;5;6\r\n");
    const Measured run = run_tsconv(scratch.path("small.csv"), scratch.path("small-target.csv"), scratch.folder());
    EXPECT_EQ(run.status, 0);
    report("a source of two lines", run, 28);
    return run.peak_kib;
}

void expect_small_memory(const Measured& run, long small_peak_kib) {
    EXPECT_LT(run.peak_kib, max_peak_kib);
    EXPECT_LT(run.peak_kib, small_peak_kib + max_growth_kib);
}

// Reads a file in blocks, handing each to `check`.
void for_each_block(const std::string& path, const std::function<void(std::string_view)>& check) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr) << path;
    std::vector<char> block(4 * 1024 * 1024);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) check(std::string_view(block.data(), got));
    std::fclose(file);
}

TEST(Scale, TenMillionLines) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const Scratch scratch;
    const long small_peak = small_run_peak_kib(scratch);

    // A cycle of lines, LF and CR LF ended, one of them partial: every cycle
    // converts to the same records.
    const std::string cycle =
        "45000,5;12,5;20;3,25\r\n"
        "45000,50008391204;12,5;20;3,25\r\n"
        "45122,5;-1,5e1;0;100\n"
        "45245,999999;7\n"
        "45292,0833333333;1e6;-0,000001;0,0000005\r\n";
    constexpr std::uintmax_t cycles = 2000000;  // five lines each
    const std::string head = "Zeitstempel;Istwert;Sollwert;Stellgrad\r\n";
    std::string cycles_block;
    for (int i = 0; i < 1000; ++i) cycles_block += cycle;
    const std::string source = scratch.path("ten-million-lines.csv");
    generate(source, head.size() + cycles * cycle.size(), [&](std::uintmax_t offset) -> std::string_view {
        return offset == 0 ? std::string_view(head) : std::string_view(cycles_block);
    });

    // The records of one cycle, as a conversion of one cycle gives them.
    write_file(scratch.path("cycle.csv"), cycle);
    ASSERT_EQ(run_tsconv(scratch.path("cycle.csv"), scratch.path("cycle-target.csv"), scratch.folder()).status, 0);
    const std::string cycle_target = read_file(scratch.path("cycle-target.csv"));
    const tsconv_test::ConversionCheck cycle_check = tsconv_test::check_conversion(cycle, cycle_target, "");
    ASSERT_EQ(cycle_check.problem, "");
    ASSERT_EQ(cycle_check.records.size(), 5u);
    const std::string cycle_records = cycle_target.substr(tsconv_test::target_header.size());

    const std::string target = scratch.path("ten-million-lines-target.csv");
    const Measured run = run_tsconv(source, target, scratch.folder());
    report("10,000,001 lines", run, fs::file_size(source));
    fs::remove(source);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    expect_small_memory(run, small_peak);

    // The target: the header, then the cycle's records ten million lines long.
    ASSERT_EQ(fs::file_size(target), tsconv_test::target_header.size() + cycles * cycle_records.size());
    std::uintmax_t offset = 0;
    std::uintmax_t mismatches = 0;
    for_each_block(target, [&](std::string_view block) {
        for (const char c : block) {
            const char expected = offset < tsconv_test::target_header.size()
                                      ? tsconv_test::target_header[offset]
                                      : cycle_records[(offset - tsconv_test::target_header.size()) % cycle_records.size()];
            mismatches += c != expected;
            ++offset;
        }
    });
    EXPECT_EQ(mismatches, 0u);
}

TEST(Scale, OneLineOf200MegabytesWithoutLineEnd) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const Scratch scratch;
    const long small_peak = small_run_peak_kib(scratch);

    // A record first, then the long line: its own record, whatever follows
    // its first characters (numbers and separators that must not count).
    const std::string first = "45000;1;2;3\r\n";
    const std::string start = "45001,5;4;5;6;";
    std::string filler;
    for (int i = 0; i < 100000; ++i) filler += "45002;7;8;9;";
    const std::string source = scratch.path("long-line.csv");
    const std::uintmax_t size = first.size() + 200 * megabyte;
    generate(source, size, [&](std::uintmax_t offset) -> std::string_view {
        if (offset == 0) return first;
        if (offset == first.size()) return start;
        return filler;
    });
    const std::string target = scratch.path("long-line-target.csv");
    const Measured run = run_tsconv(source, target, scratch.folder());
    report("one line of 200 MB, no line end", run, size);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    expect_small_memory(run, small_peak);
    EXPECT_EQ(read_file(target), std::string(tsconv_test::target_header) +
                                     "14.03.2023;23:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                     "16.03.2023;11:00:0.000000;4.000000;5.000000;6.000000\r\n");
}

std::string random_bytes(std::mt19937_64& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t bits = random();
        std::memcpy(&bytes[i], &bits, 8);
    }
    return bytes;
}

TEST(Scale, DegenerateSources) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const Scratch scratch;
    const long small_peak = small_run_peak_kib(scratch);
    constexpr std::size_t size = 64 * megabyte;
    std::mt19937_64 random(20240601);

    const struct {
        std::string name;
        std::function<std::string()> make;
    } cases[] = {
        {"only NUL bytes", [] { return std::string(size, '\0'); }},
        {"only separators", [] { return std::string(size, ';'); }},
        {"only LF", [] { return std::string(size, '\n'); }},
        {"only CR LF",
         [] {
             std::string crlf;
             for (std::size_t i = 0; i < size / 2; ++i) crlf += "\r\n";
             return crlf;
         }},
        {"random bytes", [&] { return random_bytes(random, size); }},
        // Where digits, separators and line ends are common, many lines begin
        // with a number and many fields are filled.
        {"random digits, separators, line ends",
         [&] {
             const char alphabet[] = "0123456789;;;,,..ee+-  \t\r\n\n\n\n";
             std::string text = random_bytes(random, size);
             for (char& c : text) c = alphabet[static_cast<unsigned char>(c) % (sizeof alphabet - 1)];
             return text;
         }},
    };
    for (const auto& c : cases) {
        const std::string content = c.make();
        const std::string source = scratch.path("source.csv");
        const std::string target = scratch.path("target.csv");
        write_file(source, content);
        const Measured run = run_tsconv(source, target, scratch.folder());
        report(c.name, run, content.size());
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
        expect_small_memory(run, small_peak);

        const std::string converted = read_file(target);
        const std::string warnings = run.err;
        const tsconv_test::ConversionCheck check = tsconv_test::check_conversion(content, converted, warnings);
        EXPECT_EQ(check.problem, "") << c.name;
        std::size_t skipped = 0;
        for (const tsconv_test::LineOutcome line : check.lines) skipped += line == tsconv_test::LineOutcome::warning;
        std::printf("[figures] %-34s %zu lines, %zu records, %zu skipped\n", "", check.lines.size(),
                    check.records.size(), skipped);
    }
}

}  // namespace
