#include "run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

using tsconv::ConversionResult;
using tsconv::Threading;

struct Converted {
    ConversionResult result;
    std::string target;
    std::string warnings;
};

Converted convert(const std::string& source, Threading threading) {
    const std::string folder = tsconv_test::scratch_folder();
    tsconv_test::write_file(folder + "/source", source);
    std::FILE* in = std::fopen((folder + "/source").c_str(), "rb");
    std::FILE* out = std::fopen((folder + "/target").c_str(), "wb");
    std::FILE* warnings = std::fopen((folder + "/warnings").c_str(), "wb");
    Converted converted;
    converted.result = tsconv::convert_source(in, out, warnings, threading);
    std::fclose(in);
    std::fclose(out);
    std::fclose(warnings);
    converted.target = tsconv_test::read_file(folder + "/target");
    converted.warnings = tsconv_test::read_file(folder + "/warnings");
    return converted;
}

// Enough lines for many batches, with every kind of line mixed in: skipped,
// partial, unconvertible, long.
std::string mixed_source(int lines) {
    std::string source = "Datum;A;B;C\r\n";
    for (int i = 0; i < lines; ++i) {
        const std::string serial = std::to_string(45000 + i / 86400.0);
        switch (i % 11) {
            case 3: source += "\r\n"; break;
            case 5: source += serial + ";" + std::to_string(i) + "\r\n"; break;
            case 7: source += "1e300;1;2;3\r\n"; break;
            case 9: source += serial + ";1;2;3" + std::string(500, ' ') + "\r\n"; break;
            default: source += serial + ";" + std::to_string(i) + ",5;-2;3e-3\r\n";
        }
    }
    return source;
}

TEST(ConvertSource, SameOutputOnOneAndTwoThreads) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    for (const int lines : {0, 1, 4095, 4096, 4097, 50000}) {
        const std::string source = mixed_source(lines);
        const Converted single = convert(source, Threading::single);
        const Converted pipelined = convert(source, Threading::automatic);
        EXPECT_EQ(single.result, ConversionResult::completed);
        EXPECT_EQ(pipelined.result, ConversionResult::completed);
        EXPECT_EQ(single.target, pipelined.target) << lines;
        EXPECT_EQ(single.warnings, pipelined.warnings) << lines;
        if (lines == 50000) {
            EXPECT_NE(single.warnings.find("Zeile 49993: Zeitstempel nicht umrechenbar"), std::string::npos);
        }
    }
}

#ifdef __linux__
TEST(ConvertSource, AnyStreamWillDo) {
    // Streams in memory, as callers other than the program may hand over:
    // the converter must not change how they are buffered.
    tsconv_test::set_time_zone("UTC0");
    std::string source = "45000;1;2;3\n45001;4\n";
    std::FILE* in = fmemopen(source.data(), source.size(), "rb");
    char* target = nullptr;
    std::size_t target_size = 0;
    std::FILE* out = open_memstream(&target, &target_size);
    std::FILE* warnings = std::fopen("/dev/null", "wb");
    EXPECT_EQ(tsconv::convert_source(in, out, warnings), ConversionResult::completed);
    std::fclose(in);
    std::fclose(out);
    std::fclose(warnings);
    EXPECT_EQ(std::string(target, target_size),
              "Datum;Zeit;LP1_Main.PV;LP1_Main.wSP;LP1_Main.wOP\r\n"
              "14.03.2023;22:00:0.000000;1.000000;2.000000;3.000000\r\n"
              "15.03.2023;22:00:0.000000;4.000000;2.000000;3.000000\r\n");
    std::free(target);
}

TEST(ConvertSource, FailuresOnOneAndTwoThreads) {
    const std::string source = mixed_source(100000);
    for (const Threading threading : {Threading::single, Threading::automatic}) {
        const std::string folder = tsconv_test::scratch_folder();
        tsconv_test::write_file(folder + "/source", source);
        std::FILE* warnings = std::fopen((folder + "/warnings").c_str(), "wb");

        // A full device: the writing stage stops, and so does the decoding.
        std::FILE* in = std::fopen((folder + "/source").c_str(), "rb");
        std::FILE* full = std::fopen("/dev/full", "wb");
        EXPECT_EQ(tsconv::convert_source(in, full, warnings, threading), ConversionResult::target_write_failed);
        std::fclose(in);
        std::fclose(full);

        // A source that cannot be read.
        std::FILE* unreadable = std::fopen("/proc/self/mem", "rb");
        std::FILE* out = std::fopen((folder + "/target").c_str(), "wb");
        EXPECT_EQ(tsconv::convert_source(unreadable, out, warnings, threading), ConversionResult::source_read_failed);
        std::fclose(unreadable);
        std::fclose(out);
        std::fclose(warnings);
    }
}
#endif

}  // namespace
