#include "source.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "format_model.h"
#include "io_block.h"
#include "memory_file.h"
#include "test_support.h"

namespace {

using namespace tsconv_test;
using Lines = std::vector<std::string>;

// The reader against the model of the source format, on the whole content
// and, where the library lets a stream fail, with reading failing part-way.
void expect_read_as_the_model(const std::string& content, const std::string& name, std::vector<std::size_t> limits) {
    const ScratchStream source(content);
    EXPECT_EQ(first_line_read_unlike_the_model(source.file(), content), "") << name;
#ifdef __GLIBC__
    for (const std::size_t limit : limits) {
        MemoryFile memory{content, limit};
        std::FILE* const file = open_memory_file(memory, "rb");
        EXPECT_EQ(first_line_read_unlike_the_model(file, content, limit), "") << name << ", failing at " << limit;
        std::fclose(file);
    }
#else
    (void)limits;
#endif
}

TEST(ReadSourceLine, SplitsPhysicalLines) {
    // The model's decoded parts, line ends included, and the reader's.
    const std::string long_line(450, '7'), huge_line(3 * 1024 * 1024 + 17, '8');
    const struct { std::string name; std::string content; Lines lines; } cases[] = {
        {"empty", "", {}}, {"lf", "a\nb\n", {"a\n", "b\n"}}, {"crlf", "a\r\nb\r\n", {"a\r\n", "b\r\n"}},
        {"no final line end", "a\nb", {"a\n", "b"}}, {"empty lines", "\n\r\n\n", {"\n", "\r\n", "\n"}},
        {"lone cr stays in the line", "a\rb\n", {"a\rb\n"}}, {"byte order mark alone", "\xEF\xBB\xBF", {}},
        {"byte order mark", "\xEF\xBB\xBF" "1;2\n", {"1;2\n"}}, {"partial mark", "\xEF\xBB" "1\n", {"\xEF\xBB" "1\n"}},
        {"byte order mark only at the start", "1\n\xEF\xBB\xBF" "2\n", {"1\n", "\xEF\xBB\xBF" "2\n"}},
        {"399 characters and line end", std::string(399, 'x') + "\ny\n", {std::string(399, 'x'), "y\n"}},
        {"398 characters and line end", std::string(398, 'x') + "\ny", {std::string(398, 'x') + "\n", "y"}},
        {"long line is one line", long_line + "\r\n1\n", {long_line.substr(0, 399), "1\n"}},
        {"long last line", long_line, {long_line.substr(0, 399)}},
        {"line longer than the buffer", huge_line + "\n2\n", {huge_line.substr(0, 399), "2\n"}},
        {"long last line longer than the buffer", "1\n" + huge_line, {"1\n", huge_line.substr(0, 399)}},
        {"nul bytes stay", std::string("1\0" "2\n", 4), {std::string("1\0" "2\n", 4)}},
    };
    for (const auto& c : cases) {
        Lines parts;
        for_each_decoded_part(c.content, [&](std::string_view part) { parts.emplace_back(part); });
        EXPECT_EQ(parts, c.lines) << c.name;
        expect_read_as_the_model(c.content, c.name, {c.content.size() / 2});
    }
}

TEST(ReadSourceLine, MatchesTheModel) {
    const std::string plain = "45011,1215277778;63,20;65;44,31", long_tail(500, 'x');
    const std::size_t block = tsconv::io_block_size;
    // Lines of every length from 1 to 600 characters, so that line ends fall on and around each block end.
    std::string every_length;
    for (std::size_t length = 1; every_length.size() < 3 * block; length = length % 600 + 1) {
        every_length += plain.substr(0, length) + std::string(length - std::min(length, plain.size()), '7') + "\n";
    }
    const struct { std::string name; std::string content; } cases[] = {
        {"plain lines", plain + "\r\n" + plain + "\n"},
        {"long line, then another", plain + long_tail + "\r\n" + plain + "\r\n"},
        {"long last line without a line end", plain + "\n" + plain + long_tail},
        {"long last line of digits", plain + "\n1;2;3;" + std::string(600, '4')},
        {"line of 399 characters", plain + std::string(399 - plain.size() - 1, ' ') + "\n" + plain},
        {"line of 400 characters", plain + std::string(400 - plain.size() - 1, ' ') + "\n" + plain},
        {"byte order mark", "\xEF\xBB\xBF" + plain + "\n" + plain},
        {"lines of every length", every_length},
    };
    for (const auto& c : cases) {
        expect_read_as_the_model(c.content, c.name, {1, 3, 400, block - 1, block, block + 1, c.content.size() - 1});
    }
}

TEST(ReadSourceLine, MatchesTheModelOnRandomSources) {
    // Lines of every form, with every line end, some long, a few beyond a
    // block, over several blocks; the reading failing at random places.
    std::mt19937 random(29);
    const char* const ends[] = {"\r\n", "\n", "\r\r\n", "\r", ";\r\n", ";99\r\n", "abc\n", " \n"};
    for (int source = 0; source < 4; ++source) {
        std::string content = source % 2 ? "\xEF\xBB\xBF" : "";
        while (content.size() < 3 * tsconv::io_block_size) {
            std::string line = random_source_line(random);
            if (random() % 50 == 0) line += std::string(random() % 600, random() % 2 ? '7' : 'x');
            if (random() % 5000 == 0) line += std::string(tsconv::io_block_size + random() % 600, ' ');
            content += line + ends[random() % 3 == 0 ? random() % 8 : 0];
        }
        if (source > 1) content += random_source_line(random);  // no line end at the end
        std::vector<std::size_t> limits;
        for (int i = 0; i < 4; ++i) limits.push_back(random() % content.size());
        expect_read_as_the_model(content, "random source " + std::to_string(source), limits);
    }
}

}  // namespace
