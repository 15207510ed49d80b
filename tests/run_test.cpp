// The whole run: every source line read, decoded, converted and written in turn.

#include "run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "format_model.h"
#include "test_support.h"

namespace {

using namespace tsconv_test;
using tsconv::ConversionResult;

struct Converted { ConversionResult result; std::string target, warnings; };

// Converts between scratch files in the zone set up now, the cache probing as the zone allows or never.
Converted convert(const std::string& source, bool probing = true) {
    const ScratchStream in(source);
    ScratchStream out, warnings;
    tsconv::LocalZone zone = tsconv::load_local_zone();
    if (!probing) zone.probe_span = 0;
    Converted converted;
    converted.result = tsconv::convert_source(in.file(), out.file(), warnings.file(), zone);
    converted.target = out.close();
    converted.warnings = warnings.close();
    return converted;
}

TEST(ConvertSource, LinesOfEveryKindAcrossManyBlocks) {
    // Skipped, partial, unconvertible and long lines mixed, over several read and write blocks: one record per line
    // that supplies a value, and each unconvertible line named by its physical line number; the same target whether
    // the cache probes or not.
    set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    for (const int lines : {0, 1, 50000}) {
        std::string source = "Datum;A;B;C\r\n";
        std::string warnings;
        int records = 0;
        for (int i = 0; i < lines; ++i) {
            const std::string serial = std::to_string(45000 + i / 86400.0);
            switch (i % 11) {
                case 3: source += "\r\n"; break;
                case 5: source += serial + ";" + std::to_string(i) + "\r\n"; ++records; break;
                case 7: source += "1e300;1;2;3\r\n"; warnings += skipped_warning(i + 2); break;
                case 9: source += serial + ";1;2;3" + std::string(500, ' ') + "\r\n"; ++records; break;
                default: source += serial + ";" + std::to_string(i) + ",5;-2;3e-3\r\n"; ++records;
            }
        }
        const auto converted = convert(source);
        EXPECT_EQ(converted.result, ConversionResult::completed) << lines;
        EXPECT_EQ(converted.warnings, warnings) << lines;
        EXPECT_EQ(std::count(converted.target.begin(), converted.target.end(), '\n'), records + 1) << lines;
        EXPECT_EQ(convert(source, false).target, converted.target) << lines;
    }
}

#ifdef __linux__
TEST(ConvertSource, AnyStreamWillDo) {
    // Streams in memory, as callers other than the program may hand over:
    // the converter must not change how they are buffered.
    set_time_zone("UTC0");
    std::string source = "45000;1;2;3\n45001;4\n";
    std::FILE* in = fmemopen(source.data(), source.size(), "rb");
    char* target = nullptr;
    std::size_t target_size = 0;
    std::FILE* out = open_memstream(&target, &target_size);
    std::FILE* warnings = std::fopen("/dev/null", "wb");
    tsconv::LocalZone zone = tsconv::load_local_zone();
    EXPECT_EQ(tsconv::convert_source(in, out, warnings, zone), ConversionResult::completed);
    std::fclose(in);
    std::fclose(out);
    std::fclose(warnings);
    EXPECT_EQ(std::string(target, target_size), header + "14.03.2023;22:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                                         "15.03.2023;22:00:0.000000;4.000000;2.000000;3.000000\r\n");
    std::free(target);
}

TEST(ConvertSource, Failures) {
    std::string source;
    for (int i = 0; i < 100000; ++i) source += "45000;1;2;3\n";
    ScratchStream warnings;
    tsconv::LocalZone zone = tsconv::load_local_zone();

    // A full device: the run stops at the first failed block; the header alone fails at the last flush.
    for (const std::string& content : {source, std::string()}) {
        const ScratchStream in(content);
        std::FILE* full = std::fopen("/dev/full", "wb");
        EXPECT_EQ(tsconv::convert_source(in.file(), full, warnings.file(), zone),
                  ConversionResult::target_write_failed);
        EXPECT_LE(std::ftell(in.file()), static_cast<long>(content.size() / 2));
        std::fclose(full);
    }

    // A source that cannot be read from its start (address 0 is never mapped), to a target that
    // takes everything or fails too: the failed read is the one reported.
    for (const char* target_path : {"/dev/null", "/dev/full"}) {
        std::FILE* unreadable = std::fopen("/proc/self/mem", "rb");
        std::FILE* target = std::fopen(target_path, "wb");
        EXPECT_EQ(tsconv::convert_source(unreadable, target, warnings.file(), zone),
                  ConversionResult::source_read_failed) << target_path;
        std::fclose(unreadable);
        std::fclose(target);
    }
}
#endif

}  // namespace
