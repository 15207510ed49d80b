// The real tsconv binary when the disk fails under it: the target's device (a small tmpfs, or /dev/full) fills
// up, closing the target or reading the source fails (the kernel's answers changed by tsconv_fault_inject through
// ptrace). Each ends with its message and status -1, the target keeping exactly what was converted before. And
// when the world around it is hostile: set by hostile_scenes.sh, or the zone file changed by
// tsconv_tzset_interposer when the program calls tzset().

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "format_model.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tsconv_test;
using Words = std::vector<std::string>;

constexpr int tool_missing = 77;  // the status of a helper that cannot set its scene up here

// Column names, then records that differ from line to line, CR LF ended.
std::string records_source(std::size_t lines) {
    std::string source = "Zeitstempel;Istwert;Sollwert;Stellgrad\r\n";
    for (std::size_t i = 0; i < lines; ++i) {
        source += std::to_string(45000 + i % 1000) + "," + std::to_string(i % 86400) + ";" +
                  std::to_string(i) + ",5;20;" + std::to_string(i % 100) + "\r\n";
    }
    return source;
}

// Runs tsconv from source to target by the program and arguments in front: the fault injector, env.
CommandResult tsconv_behind(Words front, const std::string& source, const std::string& target) {
    front.insert(front.end(), {TSCONV_BINARY, source, "dummy", target});
    return run_command(front[0], Words(front.begin() + 1, front.end()));
}

// What converting the content gives without any fault, with these warnings.
std::string converted(const std::string& content, const std::string& warnings = "") {
    const std::string folder = scratch_folder("-reference");
    write_file(folder + "/source.csv", content);
    EXPECT_TRUE(ran(tsconv_behind({"/usr/bin/env"}, folder + "/source.csv", folder + "/target.csv"), 0, "", warnings));
    return read_file(folder + "/target.csv");
}

// Runs a scene of hostile_scenes.sh: its name and setting, then the source, target, scratch folder, zone file.
CommandResult run_scene(const Words& scene, const Words& files) {
    Words words = {TSCONV_SCENES, scene[0], scene.size() > 1 ? scene[1] : "", TSCONV_BINARY};
    words.insert(words.end(), files.begin(), files.end());
    return run_command("/bin/bash", words);
}

// Reads of the source that fail part-way, for good or once (the disk then
// reads on), or closing the target that fails, through the kernel's answers.
TEST(FaultInjection, ReadOrCloseFails) {
    // About 700 KiB, so that reads of several blocks happen before a failure.
    const std::string records = records_source(24000);
    const auto [folder, source, target] = scene("CET-1CEST,M3.5.0,M10.5.0/3", records);
    const std::size_t fifth_line_end = records_source(4).size();  // the column names and four records
    const std::string huge_line = "45100;1;2;3;" + std::string(3 * 1024 * 1024, '7') + "\r\n";
    const std::string with_huge_line = records.substr(0, fifth_line_end) + huge_line + "45101;4\r\n";
    const std::string failing = "read-eio", once = "read-eio-once", closing = "close-eio";
    // Bytes read before a read fails.
    const struct { std::string name, fault; const std::string& source; std::size_t readable; } cases[] = {
        {"at the start", failing, records, 0},
        {"inside the first line", failing, records, 10},
        {"right after a line end", failing, records, fifth_line_end},
        {"right before a line end", failing, records, fifth_line_end - 1},
        {"after the first blocks, inside a line", failing, records, 300001},
        {"one byte short of the end", failing, records, records.size() - 1},
        {"inside a line longer than a block", failing, with_huge_line, fifth_line_end + 1024 * 1024},
        {"inside the decoded start of a long line", failing, with_huge_line, fifth_line_end + 100},
        // The read that finds the end of the long line also fails: the line is whole.
        {"in the read that ends a long line", failing, with_huge_line, fifth_line_end + huge_line.size() + 3},
        // A read error that clears up again still ends the run.
        {"once, at the start", once, records, 0},
        {"once, right after a line end", once, records, fifth_line_end},
        {"once, after the first blocks, inside a line", once, records, 300001},
        {"once, inside a line longer than a block", once, with_huge_line, fifth_line_end + 1024 * 1024},
        {"once, inside the decoded start of a long line", once, with_huge_line, fifth_line_end + 100},
        // The injector itself changes nothing while the reads stay within its limit.
        {"never: one byte beyond the end", failing, records, records.size() + 1},
        // As on a network share that reports a failed write only at close: all that was converted stays.
        {"closing the target", closing, records, std::string::npos},
    };
    for (const auto& c : cases) {
        write_file(source, c.source);
        Words injector = {TSCONV_FAULT_INJECT, c.fault, source, std::to_string(c.readable), "--"};
        if (c.fault == closing) injector = {TSCONV_FAULT_INJECT, closing, target, "--"};
        const CommandResult result = tsconv_behind(injector, source, target);
        if (result.status == tool_missing) GTEST_SKIP() << result.err;
        const std::string message =
            c.fault == closing ? write_failed(target) : c.readable <= c.source.size() ? read_failed(source) : "";
        EXPECT_TRUE(ran(result, message.empty() ? 0 : failure_status, message)) << c.name;
        // Exactly the records of the lines complete before the failure.
        const std::size_t last_line_end = c.readable == 0 ? std::string::npos : c.source.rfind('\n', c.readable - 1);
        const std::string before = last_line_end == std::string::npos ? "" : c.source.substr(0, last_line_end + 1);
        EXPECT_EQ(read_file(target), converted(before)) << c.name;
    }
}

// Targets cut short: the 1 MiB device fills up part-way, or is full before the run and refuses the few records
// in the buffers only at the last flush; a write goes beyond the file-size limit (and fails, instead of SIGXFSZ
// killing the run). The target keeps the start of the full target, cut after a line.
TEST(FaultInjection, TargetCutShort) {
    const struct { std::string name; Words scene; std::size_t lines, least_kept, most_kept; } cases[] = {
        {"device fills up part-way", {"device"}, 40000, 512 * 1024, 1024 * 1024},
        {"device full before the run", {"device", "full"}, 3, 0, 0},
        {"file-size limit", {"file-size-limit", "100"}, 10000, 99 * 1024, 103 * 1024},
        {"file-size limit", {"file-size-limit", "103"}, 10000, 99 * 1024, 103 * 1024},
        {"file-size limit, SIGXFSZ ignored", {"file-size-limit-ignored", "103"}, 10000, 99 * 1024, 103 * 1024},
    };
    std::string unmounted;
    for (const auto& c : cases) {
        const std::string records = records_source(c.lines);
        const auto [folder, source, target] = scene("CET-1CEST,M3.5.0,M10.5.0/3", records);
        const std::string full_target = converted(records);
        const std::string what = c.name + " (" + c.scene.back() + ")";
        ASSERT_GT(full_target.size(), c.most_kept * 2) << what;
        const CommandResult result = run_scene(c.scene, {source, target, folder});
        if (result.status == tool_missing) {
            unmounted = "cannot mount a tmpfs here: " + result.err;
            continue;
        }
        const std::string written = c.scene[0] == "device" ? folder + "/device/target.csv" : target;
        EXPECT_TRUE(ran(result, failure_status, write_failed(written))) << what;
        const std::string kept = read_file(target);
        EXPECT_TRUE(starts_with(full_target, kept)) << what;
        EXPECT_TRUE(kept.empty() || (kept.size() >= 2 && kept.compare(kept.size() - 2, 2, "\r\n") == 0))
            << what << ": ends in " << kept.substr(kept.size() < 20 ? 0 : kept.size() - 20);
        EXPECT_LE(kept.size(), c.most_kept) << what;
        EXPECT_GE(kept.size(), c.least_kept) << what;
        std::printf("%s: %zu of %zu target bytes kept\n", what.c_str(), kept.size(), full_target.size());
    }
    if (!unmounted.empty()) GTEST_SKIP() << unmounted;
}

// Scenes of hostile_scenes.sh around one run, in UTC. "$2" in the expected output stands for the target.
TEST(HostileEnvironment, Scenes) {
    set_time_zone("UTC0");
    const std::string three_lines = "45000,5;1;2;3\n1e400;4;5;6\n45001;7;8;9\n";
    const std::string two_records = header + "15.03.2023;10:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                             "15.03.2023;22:00:0.000000;7.000000;8.000000;9.000000\r\n";
    std::string on_terminal = skipped_warning(2) + write_failed("/dev/full");
    for (std::size_t i = 0; (i = on_terminal.find('\n', i)) != std::string::npos; i += 2) on_terminal.insert(i, "\r");
    std::string many_warnings_source, many_warnings;
    for (int i = 0; i < 30000; ++i) {
        many_warnings_source += "45000;" + std::to_string(i) + "\n1e400;1;2;3\n";
        many_warnings += skipped_warning(2 * static_cast<std::size_t>(i) + 2);
    }
    ASSERT_GT(many_warnings.size(), 1000000u);
    struct Case {
        std::string content;
        Words scene;
        int status;
        std::string out, err = "";
        std::optional<std::string> target = std::nullopt;
    };
    std::vector<Case> cases = {
        {records_source(40000), {"full-target"}, failure_status, write_failed("/dev/full")},
        {records_source(3), {"full-target"}, failure_status, write_failed("/dev/full")},
        // Standard output and error on one terminal: a record's warning shows before the failure that ends the run.
        {three_lines, {"terminal-full-target"}, failure_status, on_terminal},
        // The reader takes ten bytes and leaves: the next write fails like any write, not by SIGPIPE.
        {records_source(100000), {"target-fifo-reader-leaves"}, failure_status, write_failed("$2")},
        {records_source(100000), {"target-pipe-reader-leaves"}, failure_status, write_failed("/dev/fd/3")},
        // Warnings are a side channel: when nobody reads them any more, the conversion still goes on to the end.
        {many_warnings_source, {"warning-pipe-reader-leaves"}, 0, "", "",
         converted(many_warnings_source, many_warnings)},
        // Reading and writing one FIFO or pipe at once would wait for ever for the source to end: refused like the
        // same regular file. A character device such as /dev/null as both is harmless and allowed.
        {"", {"same-fifo"}, failure_status, target_is_source("$2")},
        {"", {"same-pipe"}, failure_status, target_is_source("/dev/stdin")},
        {"", {"same-device"}, 0, ""},
        // A zone file's bytes wait in a FIFO whose writer stays: the C library reads what it needs, and nothing
        // else may open the FIFO again and wait.
        {"45000,5;1;2;3\n", {"zone-fifo"}, 0, "", "", two_records.substr(0, two_records.rfind("15.03"))},
    };
    // No file of the run may take descriptor 0, 1 or 2: the warning for line 2 must not land in the target.
    for (const std::string closed : {">&- 2>&-", "<&- >&- 2>&-", "2>&-", "<&- >&-", "<&-"}) {
        const bool no_error = closed.find("2>&-") != std::string::npos;
        cases.push_back({three_lines, {"closed", closed}, 0, "", no_error ? "" : skipped_warning(2), two_records});
    }
    const std::string zone = scratch_folder("-zone") + "/zone";
    write_file(zone, zone_file_bytes({{}, {}, "UTC0"}));
    for (const Case& c : cases) {
        const std::string name = c.scene[0] + " " + c.scene.back() + ", source of " + std::to_string(c.content.size());
        const auto [folder, source, target] = scene("UTC0", c.content);
        const CommandResult result = run_scene(c.scene, {source, target, folder, zone});
        if (result.status == tool_missing) {
            std::printf("%s: skipped, a tool is missing\n", name.c_str());
            continue;
        }
        std::string out = c.out;
        if (const std::size_t at = out.find("$2"); at != std::string::npos) out.replace(at, 2, target);
        EXPECT_TRUE(ran(result, c.status, out, c.err)) << name;
        if (c.target) {
            EXPECT_EQ(read_file(target), *c.target) << name;
        }
    }
}

// Records a minute apart over two hours in the source, and two zone files of the same size for them in the
// folder: "steady" keeps its offset over them, "changing" changes it every five minutes.
Scene zone_change_scene() {
    std::string content;
    for (long long t = 1678874430; t < 1678874430 + 7200; t += 60) content += serial_date(t) + ";1;2;3\n";
    const Scene made = scene("UTC0", content);  // the runs set TZ
    std::vector<long long> every_day, every_five_minutes;
    for (long long i = 0; i < 24; ++i) {
        every_day.push_back(1678874400 - (24 - i) * 86400);
        every_five_minutes.push_back(1678874400 + i * 300);
    }
    write_file(made.folder + "/steady", zone_file_bytes({every_day, {}, "AAA0"}));
    write_file(made.folder + "/changing", zone_file_bytes({every_five_minutes, {}, "AAA0"}));
    return made;
}

TEST(HostileEnvironment, ZoneFileReplacedWhileTheRunStarts) {
    // The zone file is swapped by rename, again and again, while the program starts: one file's times, never a mix.
    const auto [folder, source, target] = zone_change_scene();
    const CommandResult result = run_scene({"zone-swapped-runs"}, {source, target, folder});
    std::printf("%s", result.out.c_str());
    EXPECT_EQ(result.status, 0) << result.out << result.err;
}

// The zone file changes at the very moment the program calls tzset(), made by the preloaded interposer: the C
// library reads the changing file, and the target must be that file's, even where the program's own read of the
// zone file found another file, or none, or the same bytes.
TEST(HostileEnvironment, ZoneFileChangesAtTzset) {
    const auto [folder, source, target] = zone_change_scene();
    for (const std::string zone : {"/steady", "/changing"}) {
        ASSERT_TRUE(ran(tsconv_behind({"/usr/bin/env", "TZ=" + folder + zone}, source, folder + zone + ".csv"), 0, ""));
    }
    ASSERT_NE(read_file(folder + "/steady.csv"), read_file(folder + "/changing.csv"));
    const char* asan_options = std::getenv("ASAN_OPTIONS");  // AddressSanitizer wants to be loaded first
    // TZ "AAA0" names the file AAA0 in the folder as TZDIR, or, where there is none, a rule.
    const struct { std::string action, zone_before, with; } cases[] = {
        {"rewrite", "steady", "changing"},  // within a second, the modification time put back
        {"replace", "changing", "steady"},  // by rename, after the C library read the file
        {"create", "", "changing"},         // before the C library reads it
    };
    for (const auto& c : cases) {
        fs::remove(folder + "/AAA0");
        fs::copy_file(folder + "/" + c.with, folder + "/with", fs::copy_options::overwrite_existing);
        // The file made and rewritten early in one second, past the tick of the coarse clock that stamps changes.
        const auto into_second = std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(1);
        if (c.action == "rewrite") std::this_thread::sleep_for(std::chrono::milliseconds(1050) - into_second);
        if (!c.zone_before.empty()) fs::copy_file(folder + "/" + c.zone_before, folder + "/AAA0");
        const CommandResult result = tsconv_behind(
            {"/usr/bin/env", "LD_PRELOAD=" TSCONV_TZSET_INTERPOSER, "TZ=AAA0", "TZDIR=" + folder,
             "ASAN_OPTIONS=" + std::string(asan_options ? asan_options : "") + ":verify_asan_link_order=0",
             "TSCONV_TZSET=" + c.action + " " + folder + "/with"},
            source, target);
        EXPECT_TRUE(ran(result, 0, "")) << c.action;
        EXPECT_EQ(read_file(target), read_file(folder + "/changing.csv")) << c.action;
    }
}

}  // namespace
