// Times tsconv against the floor of any converter: a one-pass byte translation
// (tr , .) of the same source. Runs them alternately (tsconv in each zone asked
// for, and another build to compare where one is given), prints medians, and
// the peak resident memory of tsconv on a small and a four times larger source.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Options {
    long lines = 2000000;
    long large_lines = 8000000;
    int runs = 5;
    std::string tsconv = TSCONV_BINARY;
    std::string compare;  // another build, timed the same way
    std::vector<std::string> zones;  // Europe/Berlin unless given
    std::string folder = "/tmp/tsconv-bench";
};

// A 1 Hz controller log as a spreadsheet exports it: fifteen significant digits
// in the serial date, decimal commas, CR LF. The same bytes on every run.
void write_source(const std::string& path, long lines) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs("Zeitstempel;Istwert;Sollwert;Stellgrad\r\n", file);
    std::uint64_t state = 88172645463325252u;
    auto next_unit = [&state] {  // xorshift64, uniform in [0, 1)
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    const double first_second = 1679792100;  // 2023-03-26, across the change to summer time
    double pv = 63.2;
    char line[128];
    for (long i = 0; i < lines; ++i) {
        const double serial = (first_second + static_cast<double>(i) + 7200) / 86400 + 25569;
        pv += next_unit() * 0.1 - 0.05;
        const int setpoint = i / 3600 % 2 ? 70 : 65;
        const double output = 40 + (setpoint - pv) * 2.5 + next_unit() * 0.6 - 0.3;
        int length = std::snprintf(line, sizeof line, "%.15g;%.2f;%d;%.2f\r\n", serial, pv, setpoint, output);
        std::replace(line, line + length, '.', ',');
        std::fwrite(line, 1, static_cast<std::size_t>(length), file);
    }
    std::fclose(file);
}

struct RunResult {
    double seconds;
    long peak_kib;
};

RunResult run(const std::vector<std::string>& command, const std::string& input, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!input.empty()) posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(1);
    }
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    const auto stop = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(1);
    }
    return {std::chrono::duration<double>(stop - start).count(), usage.ru_maxrss};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long file_size(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

long tsconv_peak_kib(const Options& options, const std::string& source) {
    return run({options.tsconv, source, "dummy", options.folder + "/target.csv"}, "", "/dev/null").peak_kib;
}

// One program timed in every round: tsconv of one build in one zone, or the floor.
struct Contender {
    std::string label;
    std::vector<std::string> command;
    std::string input;  // standard input, for the floor
    std::string output;
    std::string zone;
    std::vector<double> seconds;
    long peak_kib = 0;
};

void print_row(const char* label, double seconds, double lines, double megabytes, double floor) {
    std::printf("%-42s %8.3f %12.0f %8.1f %8.1f %6.2f\n", label, seconds, lines / seconds, megabytes / seconds,
                seconds / lines * 1e9, seconds / floor);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--lines") options.lines = std::atol(argv[i + 1]);
        else if (name == "--large-lines") options.large_lines = std::atol(argv[i + 1]);
        else if (name == "--runs") options.runs = std::atoi(argv[i + 1]);
        else if (name == "--tsconv") options.tsconv = argv[i + 1];
        else if (name == "--compare") options.compare = argv[i + 1];
        else if (name == "--zone") options.zones.push_back(argv[i + 1]);
        else if (name == "--folder") options.folder = argv[i + 1];
        else {
            std::fprintf(stderr,
                         "usage: %s [--lines N] [--large-lines N] [--runs N] [--tsconv PATH] [--compare PATH]\n"
                         "       [--zone TZ]... [--folder DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (options.zones.empty()) options.zones.push_back("Europe/Berlin");
    mkdir(options.folder.c_str(), 0755);
    const std::string source = options.folder + "/source.csv";
    const std::string target = options.folder + "/target.csv";
    write_source(source, options.lines);
    const double megabytes = static_cast<double>(file_size(source)) / 1e6;
    std::printf("source: %ld lines, %.1f MB\n", options.lines, megabytes);

    std::vector<Contender> contenders;
    for (const std::string& build : {options.tsconv, options.compare}) {
        if (build.empty()) continue;
        for (const std::string& zone : options.zones) {
            const std::string label = (build == options.tsconv ? "tsconv" : "compared") + std::string(" TZ=") + zone;
            contenders.push_back({label, {build, source, "dummy", target}, "", "/dev/null", zone, {}, 0});
        }
    }
    contenders.push_back({"floor (tr , .)", {"tr", ",", "."}, source, options.folder + "/floor.csv", "", {}, 0});
    for (int i = 0; i < options.runs; ++i) {
        for (Contender& contender : contenders) {
            if (!contender.zone.empty()) setenv("TZ", contender.zone.c_str(), 1);
            const RunResult result = run(contender.command, contender.input, contender.output);
            contender.seconds.push_back(result.seconds);
            contender.peak_kib = std::max(contender.peak_kib, result.peak_kib);
        }
    }

    const double lines = static_cast<double>(options.lines);
    const double floor_median = median(contenders.back().seconds);
    std::printf("medians of %d alternating runs\n", options.runs);
    std::printf("%-42s %8s %12s %8s %8s %6s\n", "", "wall s", "lines/s", "MB/s", "ns/line", "/floor");
    for (const Contender& contender : contenders) {
        print_row(contender.label.c_str(), median(contender.seconds), lines, megabytes, floor_median);
    }
    std::printf("peak resident memory of tsconv, %ld lines: %.1f MiB\n", options.lines,
                contenders.front().peak_kib / 1024.0);

    if (options.large_lines > 0) {
        const std::string large = options.folder + "/large.csv";
        write_source(large, options.large_lines);
        setenv("TZ", options.zones.front().c_str(), 1);
        std::printf("peak resident memory of tsconv, %ld lines: %.1f MiB\n", options.large_lines,
                    tsconv_peak_kib(options, large) / 1024.0);
        std::remove(large.c_str());
    }
    std::remove(target.c_str());
    std::remove((options.folder + "/floor.csv").c_str());
    return 0;
}
