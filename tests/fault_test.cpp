// The real tsconv binary when the disk fails under it: the target's device
// fills up part-way or at the last flush, closing the target fails, reading
// the source fails part-way. Each ends with its message and status -1, and
// the target keeps exactly what was converted before.
//
// The device is a small tmpfs mounted here (where mounting is allowed, as
// for root) or /dev/full; read and close failures come from the kernel's
// answers, changed by tsconv_fault_inject through ptrace.
//
// And when the world around it is hostile: standard descriptors closed, a
// pipe whose reader leaves, a file-size limit, one FIFO or pipe as both
// source and target, a FIFO as the zone. These start the binary from bash, which sets the scene.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "output_check.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using tsconv_test::CommandResult;
using tsconv_test::failure_status;
using tsconv_test::read_failed;
using tsconv_test::read_file;
using tsconv_test::starts_with;
using tsconv_test::write_failed;
using tsconv_test::write_file;

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

CommandResult tsconv(const std::string& source, const std::string& target) {
    return tsconv_test::run_command(TSCONV_BINARY, {source, "dummy", target});
}

// A scratch folder with a source of the given content and the path of its
// target, the zone set for the runs.
struct Scene {
    std::string folder;
    std::string source;
    std::string target;
};

Scene scene(const char* zone, const std::string& content) {
    tsconv_test::set_time_zone(zone);
    const std::string folder = tsconv_test::scratch_folder();
    write_file(folder + "/source.csv", content);
    return {folder, folder + "/source.csv", folder + "/target.csv"};
}

// What converting the content gives without any fault.
std::string converted(const std::string& folder, const std::string& content) {
    write_file(folder + "/reference-source.csv", content);
    const CommandResult result = tsconv(folder + "/reference-source.csv", folder + "/reference-target.csv");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    return read_file(folder + "/reference-target.csv");
}

CommandResult tsconv_with_fault(const std::vector<std::string>& fault, const std::string& source,
                                const std::string& target) {
    std::vector<std::string> arguments = fault;
    arguments.insert(arguments.end(), {"--", TSCONV_BINARY, source, "dummy", target});
    return tsconv_test::run_command(TSCONV_FAULT_INJECT, arguments);
}

// Runs a bash script with $0 the tsconv binary and $1... the arguments.
CommandResult tsconv_in_bash(const std::string& script, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {"-c", script, TSCONV_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return tsconv_test::run_command("/bin/bash", words);
}

// After a failed write the target holds the start of the full target, cut
// after a complete record line, never inside one.
void expect_cut_after_a_line(const std::string& kept, const std::string& full_target, const std::string& what) {
    EXPECT_TRUE(starts_with(full_target, kept)) << what;
    EXPECT_TRUE(kept.empty() || (kept.size() >= 2 && kept.compare(kept.size() - 2, 2, "\r\n") == 0))
        << what << ": ends in " << kept.substr(kept.size() < 20 ? 0 : kept.size() - 20);
}

// A tmpfs of the given size at folder, unmounted again at the end.
class SmallDevice {
public:
    SmallDevice(const std::string& folder, const std::string& size) : folder_(folder) {
        fs::create_directories(folder);
        const std::string options = "size=" + size;
        mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    SmallDevice(const SmallDevice&) = delete;
    SmallDevice& operator=(const SmallDevice&) = delete;
    ~SmallDevice() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

    // Writes a file until the device is full.
    void fill() const {
        std::FILE* file = std::fopen((folder_ + "/filler").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string block(64 * 1024, 'x');
        while (std::fwrite(block.data(), 1, block.size(), file) == block.size()) {
        }
        std::fclose(file);
    }

private:
    std::string folder_;
    bool mounted_ = false;
    std::string error_;
};

#define SKIP_WITHOUT_MOUNT(device) \
    if (!(device).mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << (device).error()

TEST(FaultInjection, SourceReadFailsPartWay) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::string folder = tsconv_test::scratch_folder();
    // About 700 KiB, so that reads of several blocks happen before a failure.
    const std::string records = records_source(24000);
    const std::size_t fifth_line_end = [&] {
        std::size_t p = 0;
        for (int i = 0; i < 5; ++i) p = records.find('\n', p) + 1;
        return p;
    }();
    const std::string huge_line = "45100;1;2;3;" + std::string(3 * 1024 * 1024, '7') + "\r\n";
    const std::string with_huge_line = records.substr(0, fifth_line_end) + huge_line + "45101;4\r\n";
    const struct {
        std::string name;
        const std::string& source;
        std::size_t readable;  // bytes read before reads fail
    } cases[] = {
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
    };
    for (const auto& c : cases) {
        const std::string source = folder + "/source.csv";
        const std::string target = folder + "/target.csv";
        write_file(source, c.source);
        const CommandResult result = tsconv_with_fault({"read-eio", source, std::to_string(c.readable)}, source, target);
        if (result.status == injector_unsupported) GTEST_SKIP() << result.err;
        EXPECT_EQ(result.status, failure_status) << c.name;
        EXPECT_EQ(result.out, read_failed(source)) << c.name;
        EXPECT_EQ(result.err, "") << c.name;
        // Exactly the records of the lines complete before the failure.
        const std::size_t last_line_end =
            c.readable == 0 ? std::string::npos : c.source.rfind('\n', c.readable - 1);
        const std::string before = last_line_end == std::string::npos ? "" : c.source.substr(0, last_line_end + 1);
        EXPECT_EQ(read_file(target), converted(folder, before)) << c.name;
    }
}

TEST(FaultInjection, SourceReadToTheEndIsNoFault) {
    // The injector itself changes nothing while the reads stay within its
    // limit, here one byte more than the source holds.
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::string folder = tsconv_test::scratch_folder();
    const std::string records = records_source(12000);
    const std::string source = folder + "/source.csv";
    write_file(source, records);
    const CommandResult result =
        tsconv_with_fault({"read-eio", source, std::to_string(records.size() + 1)}, source, folder + "/target.csv");
    if (result.status == injector_unsupported) GTEST_SKIP() << result.err;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(read_file(folder + "/target.csv"), converted(folder, records));
}

TEST(FaultInjection, TargetDeviceFillsUpPartWay) {
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::string folder = tsconv_test::scratch_folder();
    const std::string source = folder + "/source.csv";
    // Over 2 MiB of target, so the 1 MiB device fills up in the middle.
    const std::string records = records_source(40000);
    write_file(source, records);
    const std::string full_target = converted(folder, records);
    ASSERT_GT(full_target.size(), 2u * 1024 * 1024);

    const CommandResult on_dev_full = tsconv(source, "/dev/full");
    EXPECT_EQ(on_dev_full.status, failure_status);
    EXPECT_EQ(on_dev_full.out, write_failed("/dev/full"));
    EXPECT_EQ(on_dev_full.err, "");

    const SmallDevice device(folder + "/device", "1m");
    SKIP_WITHOUT_MOUNT(device);
    const std::string target = folder + "/device/target.csv";
    const CommandResult result = tsconv(source, target);
    EXPECT_EQ(result.status, failure_status);
    EXPECT_EQ(result.out, write_failed(target));
    EXPECT_EQ(result.err, "");
    // What fitted stays: the start of the full target, most of the device.
    const std::string kept = read_file(target);
    expect_cut_after_a_line(kept, full_target, "1 MiB device");
    EXPECT_LE(kept.size(), 1024u * 1024);
    EXPECT_GE(kept.size(), 512u * 1024);
    std::printf("1 MiB device: %zu of %zu target bytes kept\n", kept.size(), full_target.size());
}

TEST(FaultInjection, TargetDeviceFullAtTheLastFlush) {
    // A few records fit in the buffers; the device refuses them only when
    // they are flushed before the target is closed.
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::string folder = tsconv_test::scratch_folder();
    const std::string source = folder + "/source.csv";
    write_file(source, records_source(3));

    const CommandResult on_dev_full = tsconv(source, "/dev/full");
    EXPECT_EQ(on_dev_full.status, failure_status);
    EXPECT_EQ(on_dev_full.out, write_failed("/dev/full"));

    const SmallDevice device(folder + "/device", "1m");
    SKIP_WITHOUT_MOUNT(device);
    device.fill();
    const std::string target = folder + "/device/target.csv";
    const CommandResult result = tsconv(source, target);
    EXPECT_EQ(result.status, failure_status);
    EXPECT_EQ(result.out, write_failed(target));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(target), "");
}

TEST(FaultInjection, ClosingTheTargetFails) {
    // As on a network share that reports a failed write only at close.
    const std::string records = records_source(3);
    const auto [folder, source, target] = scene("CET-1CEST,M3.5.0,M10.5.0/3", records);
    const CommandResult result = tsconv_with_fault({"close-eio", target}, source, target);
    if (result.status == injector_unsupported) GTEST_SKIP() << result.err;
    EXPECT_EQ(result.status, failure_status);
    EXPECT_EQ(result.out, write_failed(target));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(target), converted(folder, records));
}

TEST(HostileEnvironment, ClosedStandardDescriptors) {
    // No file of the run may take descriptor 0, 1 or 2: the warning for line
    // 2 must not land in the target.
    const auto [folder, source, target] = scene("UTC0", "45000,5;1;2;3\n1e400;4;5;6\n45001;7;8;9\n");
    const std::string records = std::string(tsconv_test::target_header) +
                                "15.03.2023;10:00:0.000000;1.000000;2.000000;3.000000\r\n"
                                "15.03.2023;22:00:0.000000;7.000000;8.000000;9.000000\r\n";
    for (const std::string closed : {">&- 2>&-", "<&- >&- 2>&-", "2>&-", "<&- >&-", "<&-"}) {
        std::remove(target.c_str());
        const CommandResult result = tsconv_in_bash("exec \"$0\" \"$1\" dummy \"$2\" " + closed, {source, target});
        EXPECT_EQ(result.status, 0) << closed;
        EXPECT_EQ(read_file(target), records) << closed;
        if (closed.find("2>&-") == std::string::npos) {
            EXPECT_EQ(result.err, tsconv_test::skipped_warning(2)) << closed;
        }
    }
}

TEST(HostileEnvironment, WarningBeforeFailureOnATerminal) {
    // Standard output and error both on one terminal (script runs the binary
    // under a pseudo-terminal): a record's warning shows before the message
    // of the failure that ends the run.
    const auto [folder, source, target] = scene("UTC0", "45000;1;2;3\n1e400;4;5;6\n45001;7;8;9\n");
    const CommandResult result = tsconv_in_bash(
        "command -v script >/dev/null || exit 77; "
        "exec script -qec \"$(printf '%q ' \"$0\" \"$1\" dummy /dev/full)\" /dev/null",
        {source});
    if (result.status == 77) GTEST_SKIP() << "no script(1)";
    EXPECT_EQ(result.status, failure_status);
    std::string shown = tsconv_test::skipped_warning(2) + write_failed("/dev/full");
    for (std::size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.insert(at, "\r");
    EXPECT_EQ(result.out, shown);
}

TEST(HostileEnvironment, ZoneNamedByTzIsAFifo) {
    // A zone file's bytes wait in a FIFO whose writer stays: the C library
    // reads what it needs, and nothing else may open the FIFO again and wait.
    const auto [folder, source, target] = scene("UTC0", "45000,5;1;2;3\n");  // TZ set below
    write_file(folder + "/zone", tsconv_test::zone_file_bytes({{}, {}, "UTC0"}));
    const CommandResult result = tsconv_in_bash(
        "mkfifo \"$3\"; { cat \"$4\"; sleep 20; } >\"$3\" 2>/dev/null & "
        "TZ=\"$3\" timeout 10 \"$0\" \"$1\" dummy \"$2\"",
        {source, target, folder + "/fifo", folder + "/zone"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(target),
              std::string(tsconv_test::target_header) + "15.03.2023;10:00:0.000000;1.000000;2.000000;3.000000\r\n");
}

TEST(HostileEnvironment, ZoneFileReplacedWhileTheRunStarts) {
    // The zone file is swapped by rename, again and again, while the program
    // starts: one file keeps UTC, the other changes its offset every five
    // minutes. Each run must show one file's local times, never a mix.
    std::string content;
    for (long long t = 1678874430; t < 1678874430 + 7200; t += 60) {
        char serial[40];
        std::snprintf(serial, sizeof serial, "%.17g", 25569 + (t + 7200) / 86400.0);
        content += std::string(serial) + ";1;2;3\n";
    }
    const auto [folder, source, target] = scene("UTC0", content);  // TZ set below
    std::vector<long long> every_five_minutes;
    for (long long t = 1678874400; t < 1678874400 + 7200; t += 300) every_five_minutes.push_back(t);
    write_file(folder + "/steady", tsconv_test::zone_file_bytes({{}, {}, "AAA0"}));
    write_file(folder + "/changing", tsconv_test::zone_file_bytes({every_five_minutes, {}, "AAA0"}));
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

TEST(HostileEnvironment, TargetPipeWhoseReaderLeaves) {
    // The reader takes ten bytes and leaves: the next write fails, which is
    // reported like any failed write, not a death by SIGPIPE.
    tsconv_test::set_time_zone("UTC0");
    const std::string folder = tsconv_test::scratch_folder();
    const std::string source = folder + "/source.csv";
    write_file(source, records_source(100000));
    const struct {
        const char* name;
        std::string target;
        std::string script;
    } cases[] = {
        {"FIFO", folder + "/fifo", "mkfifo \"$2\"; head -c 10 \"$2\" >/dev/null & exec \"$0\" \"$1\" dummy \"$2\""},
        {"pipe", "/dev/fd/3",
         "exec 4>&1; \"$0\" \"$1\" dummy \"$2\" 3>&1 >&4 | head -c 10 >/dev/null; exit \"${PIPESTATUS[0]}\""},
    };
    for (const auto& c : cases) {
        const CommandResult result = tsconv_in_bash(c.script, {source, c.target});
        EXPECT_EQ(result.status, failure_status) << c.name;
        EXPECT_EQ(result.out, write_failed(c.target)) << c.name;
    }
}

TEST(HostileEnvironment, WarningPipeWhoseReaderLeaves) {
    // Warnings are a side channel: when nobody reads them any more, the
    // conversion still goes on to the end.
    tsconv_test::set_time_zone("UTC0");
    const std::string folder = tsconv_test::scratch_folder();
    const std::string source = folder + "/source.csv";
    std::string content;
    for (int i = 0; i < 30000; ++i) content += "45000;" + std::to_string(i) + "\n1e400;1;2;3\n";
    write_file(source, content);
    const CommandResult reference = tsconv(source, folder + "/reference.csv");
    ASSERT_GT(reference.err.size(), 1000000u);
    const CommandResult result = tsconv_in_bash(
        "exec 4>&1; \"$0\" \"$1\" dummy \"$2\" 2>&1 >&4 | head -c 10 >/dev/null; exit \"${PIPESTATUS[0]}\"",
        {source, folder + "/target.csv"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(read_file(folder + "/target.csv") == read_file(folder + "/reference.csv"));
}

TEST(HostileEnvironment, FileSizeLimit) {
    // Under ulimit -f a write beyond the limit fails (instead of SIGXFSZ
    // killing the run), and the target is cut back to its last whole line.
    const std::string records = records_source(10000);
    const auto [folder, source, target] = scene("UTC0", records);
    const std::string full_target = converted(folder, records);
    for (const std::string limit : {"ulimit -f 100", "ulimit -f 103", "trap '' XFSZ; ulimit -f 103"}) {
        const CommandResult result = tsconv_in_bash(limit + "; exec \"$0\" \"$1\" dummy \"$2\"", {source, target});
        EXPECT_EQ(result.status, failure_status) << limit;
        EXPECT_EQ(result.out, write_failed(target)) << limit;
        const std::string kept = read_file(target);
        expect_cut_after_a_line(kept, full_target, limit);
        EXPECT_LE(kept.size(), 103u * 1024) << limit;
        EXPECT_GE(kept.size(), 99u * 1024) << limit;
    }
}

TEST(HostileEnvironment, SameFifoOrPipeAsSourceAndTarget) {
    // Reading and writing one FIFO or pipe at once would wait for ever for
    // the source to end: refused like the same regular file. A character
    // device such as /dev/null as both is harmless and allowed.
    const std::string folder = tsconv_test::scratch_folder();
    const std::string fifo = folder + "/fifo";
    const std::string is_source = "> ist die Quelldatei!\n";
    const struct {
        const char* name;
        std::string target;
        std::string script;
        int status;
        std::string out;
    } cases[] = {
        {"FIFO", fifo,
         "mkfifo \"$1\"; (timeout 10 bash -c 'printf \"45000;1;2;3\\n\" >\"$0\"' \"$1\" &); "
         "exec timeout 10 \"$0\" \"$1\" dummy \"$1\"",
         failure_status, "Zieldatei <" + fifo + is_source},
        {"pipe", "/dev/stdin",
         "printf '45000;1;2;3\\n' | timeout 10 \"$0\" \"$1\" dummy \"$1\"; exit \"${PIPESTATUS[1]}\"",
         failure_status, "Zieldatei </dev/stdin" + is_source},
        {"character device", "/dev/null", "exec timeout 10 \"$0\" \"$1\" dummy \"$1\"", 0, ""},
    };
    for (const auto& c : cases) {
        const CommandResult result = tsconv_in_bash(c.script, {c.target});
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.out, c.out) << c.name;
    }
}

}  // namespace
