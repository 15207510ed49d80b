// The real tsconv binary on huge and degenerate sources: ten million lines, one line of 200 MB without a line end,
// sources of only NUL bytes, only separators, only line ends, or random bytes. Each converts in constant memory,
// without a crash, and gives records exactly where a line begins with a number. Prints the peak memory and time
// of each run. The sources are generated into a scratch folder and deleted afterwards. Run by scripts/test after
// the release build; ctest leaves this out: build/tests/tsconv_scale_tests

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "format_model.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tsconv_test;

// Bounds on the converter's peak resident memory: small whatever the source, hardly more for a huge one than a tiny.
constexpr long max_peak_kib = 16 * 1024, max_growth_kib = 2 * 1024;

constexpr std::size_t megabyte = 1000 * 1000;

// A run of the converter, its peak resident memory and its wall-clock time.
struct Measured { CommandResult result; long peak_kib = 0; double seconds = 0.0; };

// Writes a file of the given size: the opening text, then the block over and over, the last one cut short.
void generate(const std::string& path, std::uintmax_t size, const std::string& opening, const std::string& block) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    for (std::uintmax_t written = 0; written < size;) {
        const std::string& text = written == 0 ? opening : block;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uintmax_t>(text.size(), size - written));
        ASSERT_EQ(std::fwrite(text.data(), 1, length, file), length) << path;
        written += length;
    }
    ASSERT_EQ(std::fclose(file), 0) << path;
}

// Each test converts in the scratch folder, in one zone, and compares the converter's memory with that of
// converting a source of two lines.
class Scale : public testing::Test {
protected:
    void SetUp() override {
        set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
        folder = scratch_folder();
        write_file(path("small.csv"), "45000;1;2;3\r\n45000,5;4;5;6\r\n");
        small_peak_kib = convert("a source of two lines", path("small.csv")).peak_kib;
    }

    std::string path(const std::string& name) const { return folder + "/" + name; }

    // Runs tsconv SOURCE dummy target.csv through the measuring launcher, which keeps this process's own memory
    // out of the figure, and checks that it succeeded, printed nothing to standard output and used little memory.
    Measured convert(const std::string& what, const std::string& source) {
        Measured run;
        run.result = run_command(
            TSCONV_MEASURE_RUN, {path("figures"), "--", TSCONV_BINARY, source, "dummy", path("target.csv")});
        EXPECT_EQ(std::sscanf(read_file(path("figures")).c_str(), "%ld %lf", &run.peak_kib, &run.seconds), 2)
            << "no figures from the launcher";
        std::printf("[figures] %-34s %8.1f MB source  peak RSS %6.1f MiB  %7.2f s\n", what.c_str(),
                    static_cast<double>(fs::file_size(source)) / megabyte, static_cast<double>(run.peak_kib) / 1024,
                    run.seconds);
        std::fflush(stdout);
        EXPECT_EQ(run.result.status, 0) << what;
        EXPECT_EQ(run.result.out, "") << what;
        EXPECT_LT(run.peak_kib, max_peak_kib) << what;
        EXPECT_LT(run.peak_kib, small_peak_kib > 0 ? small_peak_kib + max_growth_kib : max_peak_kib) << what;
        return run;
    }

    std::string folder;
    long small_peak_kib = 0;
};

TEST_F(Scale, TenMillionLines) {
    // A cycle of lines, LF and CR LF ended, one of them partial: every cycle converts to the same records.
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

    // The records of one cycle, as a conversion of one cycle gives them.
    write_file(path("cycle.csv"), cycle);
    ASSERT_EQ(convert("one cycle", path("cycle.csv")).result.err, "");
    const std::string cycle_target = read_file(path("target.csv"));
    const ConversionCheck cycle_check = check_conversion(cycle, cycle_target, "");
    ASSERT_EQ(cycle_check.problem, "");
    ASSERT_EQ(cycle_check.records.size(), 5u);
    const std::string cycle_records = cycle_target.substr(target_header.size());

    const std::string source = path("ten-million-lines.csv");
    generate(source, head.size() + cycles * cycle.size(), head, cycles_block);
    EXPECT_EQ(convert("10,000,001 lines", source).result.err, "");
    fs::remove(source);

    // The target: the header, then the cycle's records ten million lines long.
    ASSERT_EQ(fs::file_size(path("target.csv")), target_header.size() + cycles * cycle_records.size());
    std::ifstream target(path("target.csv"), std::ios::binary);
    std::string piece(target_header.size(), '\0');
    EXPECT_TRUE(target.read(piece.data(), static_cast<std::streamsize>(piece.size())) && piece == target_header);
    piece.resize(cycle_records.size());
    std::uintmax_t mismatches = 0;
    for (std::uintmax_t i = 0; i < cycles; ++i) {
        mismatches += !target.read(piece.data(), static_cast<std::streamsize>(piece.size())) || piece != cycle_records;
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(Scale, OneLineOf200MegabytesWithoutLineEnd) {
    // A record first, then the long line: its own record, whatever follows its first characters (numbers and
    // separators that must not count).
    const std::string first = "45000;1;2;3\r\n", start = "45001,5;4;5;6;";
    std::string filler;
    for (int i = 0; i < 100000; ++i) filler += "45002;7;8;9;";
    const std::string source = path("long-line.csv");
    generate(source, first.size() + 200 * megabyte, first + start, filler);
    EXPECT_EQ(convert("one line of 200 MB, no line end", source).result.err, "");
    EXPECT_EQ(read_file(path("target.csv")), header + "14.03.2023;23:00:0.000000;1.000000;2.000000;3.000000\r\n"
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

TEST_F(Scale, DegenerateSources) {
    constexpr std::size_t size = 64 * megabyte;
    std::mt19937_64 random(20240601);
    const struct { std::string name; std::function<std::string()> make; } cases[] = {
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
        // Where digits, separators and line ends are common, many lines begin with a number and fields are filled.
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
        write_file(path("source.csv"), content);
        const Measured run = convert(c.name, path("source.csv"));
        const std::string target = read_file(path("target.csv"));
        const ConversionCheck check = check_conversion(content, target, run.result.err);
        EXPECT_EQ(check.problem, "") << c.name;
        std::size_t skipped = 0;
        for (const LineOutcome line : check.lines) skipped += line == LineOutcome::warning;
        std::printf("[figures] %-34s %zu lines, %zu records, %zu skipped\n", "", check.lines.size(),
                    check.records.size(), skipped);
    }
}

}  // namespace
