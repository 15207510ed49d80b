// The real tsconv binary when the disk fails under it: the target's device
// (a small tmpfs mounted here where that is allowed, or /dev/full) fills up,
// closing the target or reading the source fails (the kernel's answers changed
// by tsconv_fault_inject through ptrace). Each ends with its message and
// status -1, and the target keeps exactly what was converted before. And
// when the world around it, set by bash, is hostile.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "format_model.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tsconv_test;
using Words = std::vector<std::string>;

constexpr int injector_unsupported = 77;

// Column names, then records that differ from line to line, CR LF ended.
std::string records_source(std::size_t lines) {
    std::string source = "Zeitstempel;Istwert;Sollwert;Stellgrad\r\n";
    for (std::size_t i = 0; i < lines; ++i) {
        source += std::to_string(45000 + i % 1000) + "," + std::to_string(i % 86400) + ";" +
                  std::to_string(i) + ",5;20;" + std::to_string(i % 100) + "\r\n";
    }
    return source;
}

// What converting the content gives without any fault, with these warnings.
std::string converted(const std::string& content, const std::string& warnings = "") {
    const std::string folder = scratch_folder("-reference");
    write_file(folder + "/source.csv", content);
    const CommandResult result = run_command(TSCONV_BINARY, {folder + "/source.csv", "dummy", folder + "/target.csv"});
    EXPECT_TRUE(ran(result, 0, "", warnings));
    return read_file(folder + "/target.csv");
}

CommandResult tsconv_with_fault(const Words& fault, const std::string& source, const std::string& target) {
    Words arguments = fault;
    arguments.insert(arguments.end(), {"--", TSCONV_BINARY, source, "dummy", target});
    return run_command(TSCONV_FAULT_INJECT, arguments);
}

// Runs a bash script with $0 the tsconv binary and $1... the arguments.
CommandResult tsconv_in_bash(const std::string& script, const Words& arguments) {
    Words words = {"-c", script, TSCONV_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return run_command("/bin/bash", words);
}

// A tmpfs of the given size at folder, unmounted again at the end.
struct SmallDevice {
    SmallDevice(const std::string& at, const std::string& size) : folder(at) {
        fs::create_directories(folder);
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) error = std::strerror(errno);
    }
    SmallDevice(const SmallDevice&) = delete;
    SmallDevice& operator=(const SmallDevice&) = delete;
    ~SmallDevice() { if (error.empty()) umount2(folder.c_str(), MNT_DETACH); }
    std::string folder, error;  // the error: why it could not be mounted
};

// Reads of the source that fail part-way, or closing the target that fails,
// through the kernel's answers.
TEST(FaultInjection, ReadOrCloseFails) {
    // About 700 KiB, so that reads of several blocks happen before a failure.
    const std::string records = records_source(24000);
    const auto [folder, source, target] = scene("CET-1CEST,M3.5.0,M10.5.0/3", records);
    const std::size_t fifth_line_end = records_source(4).size();  // the column names and four records
    const std::string huge_line = "45100;1;2;3;" + std::string(3 * 1024 * 1024, '7') + "\r\n";
    const std::string with_huge_line = records.substr(0, fifth_line_end) + huge_line + "45101;4\r\n";
    constexpr std::size_t closing_fails = std::string::npos;
    // Bytes read before reads fail, or closing_fails.
    const struct { std::string name; const std::string& source; std::size_t readable; } cases[] = {
        {"at the start", records, 0},
        {"inside the first line", records, 10},
        {"right after a line end", records, fifth_line_end},
        {"right before a line end", records, fifth_line_end - 1},
        {"after the first blocks, inside a line", records, 300001},
        {"one byte short of the end", records, records.size() - 1},
        {"inside a line longer than a block", with_huge_line, fifth_line_end + 1024 * 1024},
        {"inside the decoded start of a long line", with_huge_line, fifth_line_end + 100},
        // The read that finds the end of the long line also fails: the line is whole.
        {"in the read that ends a long line", with_huge_line, fifth_line_end + huge_line.size() + 3},
        // The injector itself changes nothing while the reads stay within its limit.
        {"never: one byte beyond the end", records, records.size() + 1},
        // As on a network share that reports a failed write only at close:
        // all that was converted stays.
        {"closing the target", records, closing_fails},
    };
    for (const auto& c : cases) {
        write_file(source, c.source);
        const bool closing = c.readable == closing_fails;
        const std::string limit = std::to_string(c.readable);
        const CommandResult result =
            tsconv_with_fault(closing ? Words{"close-eio", target} : Words{"read-eio", source, limit}, source, target);
        if (result.status == injector_unsupported) GTEST_SKIP() << result.err;
        const std::string message =
            closing ? write_failed(target) : c.readable <= c.source.size() ? read_failed(source) : "";
        EXPECT_TRUE(ran(result, message.empty() ? 0 : failure_status, message)) << c.name;
        // Exactly the records of the lines complete before the failure.
        const std::size_t last_line_end = c.readable == 0 ? std::string::npos : c.source.rfind('\n', c.readable - 1);
        const std::string before = last_line_end == std::string::npos ? "" : c.source.substr(0, last_line_end + 1);
        EXPECT_EQ(read_file(target), converted(before)) << c.name;
    }
}

// Targets cut short: the 1 MiB device fills up part-way, or is full before
// the run and refuses the few records in the buffers only at the last flush;
// a write goes beyond the file-size limit (and fails, instead of SIGXFSZ
// killing the run). The target keeps the start of the full target, cut after
// a line.
TEST(FaultInjection, TargetCutShort) {
    const struct {
        std::string name;
        bool on_device;
        std::string setting;  // run by bash first; $2 is the target, $3 the folder
        std::size_t lines, least_kept, most_kept;
    } cases[] = {
        {"device fills up part-way", true, ":", 40000, 512 * 1024, 1024 * 1024},
        {"device full before the run", true, "cat /dev/zero >\"$3/device/filler\" 2>/dev/null", 3, 0, 0},
        {"file-size limit", false, "ulimit -f 100", 10000, 99 * 1024, 103 * 1024},
        {"file-size limit", false, "ulimit -f 103", 10000, 99 * 1024, 103 * 1024},
        {"file-size limit, SIGXFSZ ignored", false, "trap '' XFSZ; ulimit -f 103", 10000, 99 * 1024, 103 * 1024},
    };
    std::string unmounted;
    for (const auto& c : cases) {
        const std::string records = records_source(c.lines);
        const auto [folder, source, target] = scene("CET-1CEST,M3.5.0,M10.5.0/3", records);
        const std::string full_target = converted(records);
        const std::string what = c.name + " (" + c.setting + ")";
        ASSERT_GT(full_target.size(), c.most_kept * 2) << what;
        std::optional<SmallDevice> device;
        if (c.on_device && !device.emplace(folder + "/device", "1m").error.empty()) {
            unmounted = device->error;
            continue;
        }
        const std::string cut = c.on_device ? folder + "/device/target.csv" : target;
        const CommandResult result = tsconv_in_bash(c.setting + "; exec \"$0\" \"$1\" dummy \"$2\"", {source, cut, folder});
        EXPECT_TRUE(ran(result, failure_status, write_failed(cut))) << what;
        const std::string kept = read_file(cut);
        EXPECT_TRUE(starts_with(full_target, kept)) << what;
        EXPECT_TRUE(kept.empty() || (kept.size() >= 2 && kept.compare(kept.size() - 2, 2, "\r\n") == 0))
            << what << ": ends in " << kept.substr(kept.size() < 20 ? 0 : kept.size() - 20);
        EXPECT_LE(kept.size(), c.most_kept) << what;
        EXPECT_GE(kept.size(), c.least_kept) << what;
        std::printf("%s: %zu of %zu target bytes kept\n", what.c_str(), kept.size(), full_target.size());
    }
    if (!unmounted.empty()) GTEST_SKIP() << "cannot mount a tmpfs here: " << unmounted;
}

// Scenes that bash sets around one run, in UTC: $0 is the binary, $1 the
// source holding the content, $2 the target, $3 the scratch folder, $4 a zone
// file. "$2" in the expected output stands for the target. A run that finds
// a tool missing exits with 77.
TEST(HostileEnvironment, Scenes) {
    set_time_zone("UTC0");
    const std::string three_lines = "45000,5;1;2;3\n1e400;4;5;6\n45001;7;8;9\n";
    const std::string two_records = header + "15.03.2023;10:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                             "15.03.2023;22:00:0.000000;7.000000;8.000000;9.000000\r\n";
    std::string on_terminal = skipped_warning(2) + write_failed("/dev/full");
    for (std::size_t at = 0; (at = on_terminal.find('\n', at)) != std::string::npos; at += 2) on_terminal.insert(at, "\r");
    std::string many_warnings_source, many_warnings;
    for (int i = 0; i < 30000; ++i) {
        many_warnings_source += "45000;" + std::to_string(i) + "\n1e400;1;2;3\n";
        many_warnings += skipped_warning(2 * static_cast<std::size_t>(i) + 2);
    }
    ASSERT_GT(many_warnings.size(), 1000000u);
    struct Case {
        std::string name, content, script;
        int status;
        std::string out, err = "";
        std::optional<std::string> target = std::nullopt;
    };
    std::vector<Case> cases = {
        {"/dev/full as the target", records_source(40000), "exec \"$0\" \"$1\" dummy /dev/full", failure_status,
         write_failed("/dev/full")},
        {"/dev/full as the target of a few records", records_source(3), "exec \"$0\" \"$1\" dummy /dev/full",
         failure_status, write_failed("/dev/full")},
        // Standard output and error both on one terminal (script runs the binary
        // under a pseudo-terminal): a record's warning shows before the message
        // of the failure that ends the run.
        {"warning before failure on a terminal", three_lines,
         "command -v script >/dev/null || exit 77; exec script -qec \"$(printf '%q ' \"$0\" \"$1\" dummy /dev/full)\" /dev/null",
         failure_status, on_terminal},
        // The reader takes ten bytes and leaves: the next write fails, which is
        // reported like any failed write, not a death by SIGPIPE.
        {"target FIFO whose reader leaves", records_source(100000),
         "mkfifo \"$2\"; head -c 10 \"$2\" >/dev/null & exec \"$0\" \"$1\" dummy \"$2\"", failure_status, write_failed("$2")},
        {"target pipe whose reader leaves", records_source(100000),
         "exec 4>&1; \"$0\" \"$1\" dummy /dev/fd/3 3>&1 >&4 | head -c 10 >/dev/null; exit \"${PIPESTATUS[0]}\"",
         failure_status, write_failed("/dev/fd/3")},
        // Warnings are a side channel: when nobody reads them any more, the
        // conversion still goes on to the end.
        {"warning pipe whose reader leaves", many_warnings_source,
         "exec 4>&1; \"$0\" \"$1\" dummy \"$2\" 2>&1 >&4 | head -c 10 >/dev/null; exit \"${PIPESTATUS[0]}\"", 0, "", "",
         converted(many_warnings_source, many_warnings)},
        // Reading and writing one FIFO or pipe at once would wait for ever for
        // the source to end: refused like the same regular file. A character
        // device such as /dev/null as both is harmless and allowed.
        {"same FIFO as source and target", "",
         "mkfifo \"$2\"; (timeout 10 bash -c 'printf \"45000;1;2;3\\n\" >\"$0\"' \"$2\" &); "
         "exec timeout 10 \"$0\" \"$2\" dummy \"$2\"",
         failure_status, target_is_source("$2")},
        {"same pipe as source and target", "",
         "printf '45000;1;2;3\\n' | timeout 10 \"$0\" /dev/stdin dummy /dev/stdin; exit \"${PIPESTATUS[1]}\"",
         failure_status, target_is_source("/dev/stdin")},
        {"same character device as source and target", "", "exec timeout 10 \"$0\" /dev/null dummy /dev/null", 0, ""},
        // A zone file's bytes wait in a FIFO whose writer stays: the C library
        // reads what it needs, and nothing else may open the FIFO again and wait.
        {"zone named by TZ is a FIFO", "45000,5;1;2;3\n",
         "mkfifo \"$3/fifo\"; { cat \"$4\"; sleep 20; } >\"$3/fifo\" 2>/dev/null & "
         "TZ=\"$3/fifo\" timeout 10 \"$0\" \"$1\" dummy \"$2\"",
         0, "", "", header + "15.03.2023;10:00:0.000000;1.000000;2.000000;3.000000\r\n"},
    };
    // No file of the run may take descriptor 0, 1 or 2: the warning for line
    // 2 must not land in the target.
    for (const std::string closed : {">&- 2>&-", "<&- >&- 2>&-", "2>&-", "<&- >&-", "<&-"}) {
        const bool no_error = closed.find("2>&-") != std::string::npos;
        cases.push_back({"closed " + closed, three_lines, "exec \"$0\" \"$1\" dummy \"$2\" " + closed, 0, "",
                         no_error ? "" : skipped_warning(2), two_records});
    }
    const std::string zone = scratch_folder("-zone") + "/zone";
    write_file(zone, zone_file_bytes({{}, {}, "UTC0"}));
    for (const Case& c : cases) {
        const auto [folder, source, target] = scene("UTC0", c.content);
        const CommandResult result = tsconv_in_bash(c.script, {source, target, folder, zone});
        if (result.status == 77) {
            std::printf("%s: skipped, a tool is missing\n", c.name.c_str());
            continue;
        }
        std::string out = c.out;
        if (const std::size_t at = out.find("$2"); at != std::string::npos) out.replace(at, 2, target);
        EXPECT_TRUE(ran(result, c.status, out, c.err)) << c.name;
        if (c.target) {
            EXPECT_EQ(read_file(target), *c.target) << c.name;
        }
    }
}

TEST(HostileEnvironment, ZoneFileReplacedWhileTheRunStarts) {
    // The zone file is swapped by rename, again and again, while the program
    // starts: one file keeps UTC, the other changes its offset every five
    // minutes. Each run must show one file's local times, never a mix.
    std::string content;
    for (long long t = 1678874430; t < 1678874430 + 7200; t += 60) content += serial_date(t) + ";1;2;3\n";
    const auto [folder, source, target] = scene("UTC0", content);  // TZ set below
    std::vector<long long> every_five_minutes;
    for (long long t = 1678874400; t < 1678874400 + 7200; t += 300) every_five_minutes.push_back(t);
    write_file(folder + "/steady", zone_file_bytes({{}, {}, "AAA0"}));
    write_file(folder + "/changing", zone_file_bytes({every_five_minutes, {}, "AAA0"}));
    const CommandResult result = tsconv_in_bash(
        "TZ=\"$2/steady\" \"$0\" \"$1\" dummy \"$2/steady.csv\"; TZ=\"$2/changing\" \"$0\" \"$1\" dummy \"$2/changing.csv\"\n"
        "while :; do for zone in steady changing; do ln -f \"$2/$zone\" \"$2/next\"; mv -f \"$2/next\" \"$2/zone\"; done; done &\n"
        "declare -A shown=([steady]=0 [changing]=0 [mixed]=0)\n"
        "for run in {1..200}; do TZ=\"$2/zone\" \"$0\" \"$1\" dummy \"$2/run.csv\"\n"
        "  if cmp -s \"$2/run.csv\" \"$2/steady.csv\"; then ((++shown[steady]))\n"
        "  elif cmp -s \"$2/run.csv\" \"$2/changing.csv\"; then ((++shown[changing])); else ((++shown[mixed])); fi\n"
        "done; kill $!; echo \"${shown[steady]} ${shown[changing]} ${shown[mixed]}\"",
        {source, folder});
    int steady = 0, changing = 0, mixed = -1;
    std::sscanf(result.out.c_str(), "%d %d %d", &steady, &changing, &mixed);
    std::printf("200 runs: %d as the steady file, %d as the changing one, %d mixed\n", steady, changing, mixed);
    EXPECT_EQ(mixed, 0) << result.out << result.err;
    EXPECT_EQ(steady + changing, 200);
}

}  // namespace
