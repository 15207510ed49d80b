#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tsconv_test {

namespace fs = std::filesystem;

void set_time_zone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
    _tzset();
#else
    setenv("TZ", zone, 1);
    tzset();
#endif
}

bool has_zone_file(const char* zone) {
#ifdef _WIN32
    (void)zone;
    return false;
#else
    return fs::exists(fs::path("/usr/share/zoneinfo") / zone);
#endif
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

namespace {

fs::path test_folder_path() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    return fs::temp_directory_path() / ("tsconv-" + std::to_string(pid)) / name;
}

#ifdef _WIN32
std::string without_carriage_returns(const std::string& text) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    }
    return lines;
}
#endif

}  // namespace

std::string scratch_folder() {
    const fs::path folder = test_folder_path();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

CommandResult run_command(const std::string& program, const std::vector<std::string>& arguments) {
    const std::string folder = test_folder_path().string() + "-run";
    fs::create_directories(folder);
    const std::string out_path = (fs::path(folder) / "stdout").string();
    const std::string err_path = (fs::path(folder) / "stderr").string();
    std::string command = "\"" + program + "\"";
    for (const std::string& argument : arguments) command += " \"" + argument + "\"";
    command += " >\"" + out_path + "\" 2>\"" + err_path + "\"";
#ifdef _WIN32
    // cmd.exe strips one pair of quotes around the whole line.
    command = "\"" + command + "\"";
#endif
    const int raw = std::system(command.c_str());
    CommandResult result;
#ifdef _WIN32
    result.status = raw;
#else
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
    result.out = read_file(out_path);
    result.err = read_file(err_path);
#ifdef _WIN32
    // Standard output and error are text streams: the C runtime writes each
    // "\n" of a message as CR LF. Compare messages as lines.
    result.out = without_carriage_returns(result.out);
    result.err = without_carriage_returns(result.err);
#endif
    return result;
}

}  // namespace tsconv_test
