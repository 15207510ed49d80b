#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace tsconv_test {

namespace fs = std::filesystem;

#ifdef _WIN32
void set_time_zone(const char* zone) {
    _putenv_s("TZ", zone);
    _tzset();
}

bool has_zone_file(const char*) { return false; }

const int process_id = _getpid();
#else
void set_time_zone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

bool has_zone_file(const char* zone) { return fs::exists(fs::path("/usr/share/zoneinfo") / zone); }

const int process_id = static_cast<int>(getpid());
#endif

namespace {

void append_big_endian(std::string& bytes, long long value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) {
        bytes += static_cast<char>(static_cast<unsigned long long>(value) >> shift & 0xff);
    }
}

// A header: its counts in the order UT flags, standard flags, leap records, transitions, types, name characters.
void append_header(std::string& bytes, const std::vector<long long>& counts) {
    bytes.append("TZif2").append(15, '\0');
    for (const long long count : counts) append_big_endian(bytes, count, 4);
}

fs::path run_folder() { return fs::temp_directory_path() / ("tsconv-" + std::to_string(process_id)); }

void remove_run_folder() {
    std::error_code ignored;
    fs::remove_all(run_folder(), ignored);
}

// The running test's folder of that name, made where missing. A new test clears away those of the one before.
fs::path test_folder(const std::string& name_end) {
    static std::string last_test;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    if (name != last_test) {
        if (last_test.empty()) std::atexit(remove_run_folder);
        remove_run_folder();
        last_test = name;
    }
    const fs::path folder = run_folder() / (name + name_end);
    fs::create_directories(folder);
    return folder;
}

}  // namespace

std::string zone_file_bytes(const ZoneFile& zone) {
    const long long transitions = static_cast<long long>(zone.transitions.size());
    const long long leaps = static_cast<long long>(zone.leap_seconds.size());
    std::string bytes;
    append_header(bytes, {0, 0, 0, 0, 1, 4});
    append_big_endian(bytes, zone.standard_offset, 4);
    bytes += std::string("\0\0AAA\0", 6);
    append_header(bytes, {0, 0, leaps, transitions, 2, 8});
    for (const long long t : zone.transitions) append_big_endian(bytes, t, 8);
    for (long long i = 0; i < transitions; ++i) bytes += static_cast<char>(i % 2 == 0 ? 1 : 0);
    append_big_endian(bytes, zone.standard_offset, 4);
    bytes += std::string("\0\0", 2);
    append_big_endian(bytes, zone.daylight_offset, 4);
    bytes += std::string("\1\4AAA\0BBB\0", 10);
    for (long long i = 0; i < leaps; ++i) {
        append_big_endian(bytes, zone.leap_seconds[static_cast<std::size_t>(i)], 8);
        append_big_endian(bytes, i + 1, 4);
    }
    return bytes + "\n" + zone.rule + "\n";
}

const std::vector<DecodedLine> decoding_table = {
    {"45000,5;12,5;20;3,25", 4, 45000.5, 12.5, 20, 3.25, "15.03.2023;11:00:0.000000;12.500000;20.000000;3.250000"},
    {"45000.5;12.5;20;3.25", 4, 45000.5, 12.5, 20, 3.25, "15.03.2023;11:00:0.000000;12.500000;20.000000;3.250000"},
    {"45000,50008391204;12,5;20;3,25", 4, 45000.50008391204, 12.5, 20, 3.25,
     "15.03.2023;11:00:7.250000;12.500000;20.000000;3.250000"},
    {"Datum;Wert1;Wert2;Wert3", 0, 45000.50008391204, 12.5, 20, 3.25, ""},
    {"", 0, 45000.50008391204, 12.5, 20, 3.25, ""},
    {"     ", 0, 45000.50008391204, 12.5, 20, 3.25, ""},
    {"45000,75;7", 2, 45000.75, 7, 20, 3.25, "15.03.2023;17:00:0.000000;7.000000;20.000000;3.250000"},
    {"45000,5 ;12,5;20;3,25", 1, 45000.5, 7, 20, 3.25, "15.03.2023;11:00:0.000000;7.000000;20.000000;3.250000"},
    {"45000,5,2;3;4;5", 1, 45000.5, 7, 20, 3.25, "15.03.2023;11:00:0.000000;7.000000;20.000000;3.250000"},
    {"45000,5;1;2;3;99", 4, 45000.5, 1, 2, 3, "15.03.2023;11:00:0.000000;1.000000;2.000000;3.000000"},
    {"  45000,5;-1,5e1;0;0", 4, 45000.5, -15, 0, 0, "15.03.2023;11:00:0.000000;-15.000000;0.000000;0.000000"},
};

std::string random_source_line(std::mt19937& random) {
    auto digits = [&](unsigned n) {
        std::string s;
        for (unsigned i = 0; i < n; ++i) s += static_cast<char>('0' + random() % 10);
        return s;
    };
    // Every sign, separator, exponent and length around the limits of the fast step and of the texts taken from the
    // digits; exponents with leading zeros, and some just beyond a power of two from 2^32 on.
    auto any_number = [&] {
        std::string number = random() % 3 != 0 ? "" : random() % 2 ? "-" : "+";
        if (random() % 8 == 0) number.insert(0, random() % 2 ? " " : "\t\v\f\r");
        number += digits(random() % 20);
        if (random() % 2) number += random() % 2 ? ',' : '.';
        number += digits(random() % 20 + (number.empty() ? 1 : 0));
        if (random() % 3 == 0) {
            number += random() % 2 ? 'e' : 'E';
            if (random() % 2) number += random() % 2 ? '-' : '+';
            number += std::string(random() % 8 == 0 ? random() % 25 : 0, '0');
            number += std::to_string(random() % 8 ? random() % 400 : (1ull << (32 + random() % 32)) + random() % 30);
        }
        return number;
    };
    auto short_decimal = [&] {
        std::string value = random() % 3 == 0 ? "-" : "";
        value += digits(random() % 10);
        if (random() % 4 != 0) value += random() % 2 ? ',' : '.';
        return value + digits(random() % 9);
    };
    const std::string junk[] = {"x", "", "-", "+", " ", "e5", "inf", "05", "63,20,1", std::string("7\0", 2),
                                "5e", "1e99999999999", "0x10", "\xEF\xBB\xBF" "1"};
    std::string line = random() % 2 ? any_number() : "45011," + digits(10);
    const unsigned fields = random() % 8 == 0 ? random() % 5 : 3;
    for (unsigned i = 0; i < fields; ++i) {
        line += random() % 32 == 0 ? " ;" : ";";
        const unsigned kind = random() % 16;
        line += kind == 0 ? junk[random() % 14] : kind < 6 ? any_number() : short_decimal();
    }
    return line;
}

// Paths are UTF-8: on Windows too, so that any name can be given.
std::string read_file(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string scratch_folder(const std::string& name) {
    fs::remove_all(test_folder(name));
    return test_folder(name).string();
}

Scene scene(const char* zone, const std::string& content) {
    set_time_zone(zone);
    const std::string folder = scratch_folder();
    write_file(folder + "/source.csv", content);
    return {folder, folder + "/source.csv", folder + "/target.csv"};
}

std::string shown_time(int day, int month, int year, int hour, int minute, int second, long millionths) {
    char text[48];
    const int length =
        std::snprintf(text, sizeof text, "%02d.%02d.%04d;%02d:%02d:%d.", day, month, year, hour, minute, second);
    if (millionths >= 0) std::snprintf(text + length, sizeof text - length, "%06ld", millionths);
    return text;
}

double serial_from_unix(double unix_seconds) { return (unix_seconds + 7200.0) / 86400.0 + 25569.0; }

std::string serial_date(long long unix_second) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", serial_from_unix(static_cast<double>(unix_second)));
    return text;
}

ScratchStream::ScratchStream(const std::string& text, const char* mode) {
    static unsigned streams = 0;
    path_ = (test_folder("-streams") / std::to_string(++streams)).string();
    write_file(path_, text);
    file_ = std::fopen(path_.c_str(), mode);
    if (file_ == nullptr) ADD_FAILURE() << "cannot open " << path_;
}

ScratchStream::~ScratchStream() {
    if (file_ != nullptr) std::fclose(file_);
    std::remove(path_.c_str());
}

std::string ScratchStream::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    return read_file(path_);
}

CommandResult run_command(const std::string& program, const std::vector<std::string>& arguments) {
    const fs::path folder = test_folder("-run");
    const std::string out_path = (folder / "stdout").string(), err_path = (folder / "stderr").string();
    CommandResult result;
#ifdef _WIN32
    std::string command = "\"" + program + "\"";
    for (const std::string& argument : arguments) command += " \"" + argument + "\"";
    // cmd.exe strips one pair of quotes around the whole line. The wide command line carries any name.
    const std::string line = "\"" + command + " >\"" + out_path + "\" 2>\"" + err_path + "\"\"";
    std::wstring wide_line(line.size() + 1, L'\0');
    wide_line.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide_line.data(), static_cast<int>(wide_line.size())) - 1));
    result.status = _wsystem(wide_line.c_str());
#else
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int raw = 0;
    if (spawned != 0 || waitpid(pid, &raw, 0) != pid) {
        ADD_FAILURE() << "cannot run " << program;
        return {-1, "", ""};
    }
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
    result.out = read_file(out_path);
    result.err = read_file(err_path);
#ifdef _WIN32
    // The C runtime writes each "\n" to standard output and error, text streams, as CR LF: compare lines.
    for (std::string* text : {&result.out, &result.err}) {
        for (std::size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos;) text->erase(at, 1);
    }
#endif
    return result;
}

testing::AssertionResult ran(const CommandResult& result, int status, const std::string& out, const std::string& err) {
    if (result.status == status && result.out == out && result.err == err) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "status " << result.status << ", not " << status << "\nout: \"" << result.out
                                       << "\", not \"" << out << "\"\nerr: \"" << result.err << "\", not \"" << err
                                       << "\"";
}

}  // namespace tsconv_test
