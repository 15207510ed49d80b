#include "source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "io_block.h"
#include "output_check.h"
#include "test_support.h"

namespace {

using tsconv::SourceRecord;

int decode(const std::string& line, SourceRecord& record) {
    return tsconv::decode_source_line(line.data(), line.size(), record);
}

std::string shown(const tsconv::ValueText& value) { return std::string(value.text, value.length); }

TEST(DecodeSourceLine, TableInOrderCarriesValuesForward) {
    SourceRecord record;
    for (const tsconv_test::DecodedLine& row : tsconv_test::decoding_table) {
        EXPECT_EQ(decode(row.line, record), row.count) << row.line;
        EXPECT_EQ(record.serial_date, row.serial_date) << row.line;
        EXPECT_EQ(record.PV, row.PV) << row.line;
        EXPECT_EQ(record.wSP, row.wSP) << row.line;
        EXPECT_EQ(record.wOP, row.wOP) << row.line;
    }
}

TEST(DecodeSourceLine, NumberGrammar) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::string line;
        int count;
        double first;
    } cases[] = {
        {"5.;1", 2, 5},
        {".5;1", 2, 0.5},
        {"-.5;1", 2, -0.5},
        {"+5;1", 2, 5},
        {"+,5;1", 2, 0.5},
        {"-0;1", 2, -0.0},
        {"\t\v\f 5;1", 2, 5},
        {"5;\r\n 1", 2, 5},            // white space before a number, line ends too
        {"1,5e3;1", 2, 1500},
        {"1E-2;1", 2, 0.01},
        {"1e+2;1", 2, 100},
        {"5e;1", 1, 5},                // an exponent without digits ends the number
        {"5e+;1", 1, 5},
        {"5E-x;1", 1, 5},
        {"0x10;1", 1, 0},              // no hexadecimal
        {"1e400;1", 2, inf},
        {"-1e400;1", 2, -inf},
        {"1e99999999999999999999;1", 2, inf},
        {"1e-400;1", 2, 0},
        {"-1e-99999999999999999999;1", 2, -0.0},
        {"0e999999;1", 2, 0},
        {"4e-320;1", 2, 4e-320},       // subnormal
        {"0.000000000000000000000000000000001e-290;1", 2, 1e-323},
        {"1" + std::string(300, '0') + ";1", 2, 1e300},
        // Out of range only through a long run of digits.
        {"0." + std::string(350, '0') + "1e20;1", 2, 0},
        {"1" + std::string(350, '0') + "e-30;1", 2, inf},
        // Only the first 399 characters of a line are decoded.
        {std::string(397, ' ') + "12;1", 1, 12},
        {std::string(398, ' ') + "12;1", 1, 1},
        {"-0,0" + std::string(30, '0') + "e-300;1", 2, -0.0},
        // Around the limits of the plain form: 19 digits, 2^53, a sign.
        {"9007199254740992;1", 2, 9007199254740992.0},
        {"9007199254740993;1", 2, 9007199254740992.0},   // 2^53 + 1: a tie, to even
        {"9007199254740995;1", 2, 9007199254740996.0},
        {"-900719925474099,3;1", 2, -900719925474099.3},
        {"1234567890123456789;1", 2, 1234567890123456789.0},
        {"0,1234567890123456789;1", 2, 0.1234567890123456789},
        {"12345678901234567890;1", 2, 12345678901234567890.0},
        {"0,00000000000000000001;1", 2, 1e-20},
        {"45011,121527777778;1", 2, 45011.121527777778},
        // Five integer digits as one word: every number of digits around
        // five, and every character that could end them.
        {"45011;1", 2, 45011},
        {"45011,5;1", 2, 45011.5},
        {"-45011.5;1", 2, -45011.5},
        {"4501,5;1", 2, 4501.5},
        {"450111,5;1", 2, 450111.5},
        {"45011e2;1", 2, 4501100},
        {"4501/,5;1", 1, 4501},
        {"45011:5;1", 1, 45011},
        {"45011/5;1", 1, 45011},
        {"4501\xb0" "1;1", 1, 4501},
        {"45011\xff;1", 1, 45011},
        {"00001,5;1", 2, 1.5},
        // Decimals eight at a time: every character that ends a run of
        // digits, just below "0", just above "9" or with the high bit set.
        {"45011,1215277778;1", 2, 45011.1215277778},
        {"1,12345678;1", 2, 1.12345678},
        {"1,1234567812345678;1", 2, 1.1234567812345678},
        {"1,1234567/8;1", 1, 1.1234567},
        {"1,1234567:8;1", 1, 1.1234567},
        {"1,1234/678;1", 1, 1.1234},
        {"1,123:5678;1", 1, 1.123},
        {"1,\xff" "2345678;1", 1, 1},
        {"1,1234567\x80" "8;1", 1, 1.1234567},
        {"1,12345678\xb0;1", 1, 1.12345678},
        {"1,12345678e1;1", 2, 11.2345678},
        {"5", 1, 5},
        {"5\r\n", 1, 5},
        {"5\r;1", 1, 5},
    };
    for (const auto& c : cases) {
        SourceRecord record;
        record.serial_date = 42;
        EXPECT_EQ(decode(c.line, record), c.count) << c.line;
        EXPECT_EQ(record.serial_date, c.first) << c.line;
        EXPECT_EQ(std::signbit(record.serial_date), std::signbit(c.first)) << c.line;
    }
}

TEST(DecodeSourceLine, LinesWithoutANumberSupplyNothing) {
    for (const char* line : {"inf;1;2;3", "nan;1;2;3", "-inf", "+", "-", ".", ",", "e5;1",
                                   ";1;2;3", "+-5;1", "--5", " ;5", "\r\n", "\n", "x45000"}) {
        SourceRecord record;
        EXPECT_EQ(decode(line, record), 0) << line;
        EXPECT_EQ(record.serial_date, 0.0) << line;
    }
}

TEST(DecodeSourceLine, StopsAtTheFirstMisfit) {
    const struct {
        std::string line;
        int count;
    } cases[] = {
        {"1;2;3;4", 4}, {"1;2;3", 3}, {"1;2;", 2}, {"1;;3;4", 1}, {"1; 2; 3; 4", 4},
        {"1 ;2;3;4", 1}, {"1;2;x;4", 2}, {"1;2;3;4;5;6", 4}, {"1;2;3;4abc", 4},
        {std::string("1;2\0;3;4", 8), 2},  // a NUL ends the line for decoding
        {"1;2;3,4,5;6", 3},
    };
    for (const auto& c : cases) {
        SourceRecord record;
        EXPECT_EQ(decode(c.line, record), c.count) << c.line;
    }
}

TEST(DecodeSourceLine, NeverReadsBeyondTheGivenLength) {
    // The characters after the given length would change every result.
    std::string text = "12;34;56;789999";
    SourceRecord record;
    EXPECT_EQ(tsconv::decode_source_line(text.data(), 1, record), 1);
    EXPECT_EQ(record.serial_date, 1);
    EXPECT_EQ(tsconv::decode_source_line(text.data(), 3, record), 1);
    EXPECT_EQ(tsconv::decode_source_line(text.data(), 4, record), 2);
    EXPECT_EQ(record.PV, 3);
    EXPECT_EQ(tsconv::decode_source_line(text.data(), 11, record), 4);
    EXPECT_EQ(record.wOP, 78);
    text = "5e7";
    EXPECT_EQ(tsconv::decode_source_line(text.data(), 2, record), 1);
    EXPECT_EQ(record.serial_date, 5);
}

TEST(DecodeSourceLine, MatchesTheReferenceOnRandomLines) {
    // Numbers of every form in every field, and short decimals as the values
    // of a log have them: every sign, separator and length around the limits
    // of the plain form and of the texts taken from the digits.
    std::mt19937 random(3);
    auto digits = [&](unsigned n) {
        std::string s;
        for (unsigned i = 0; i < n; ++i) s += static_cast<char>('0' + random() % 10);
        return s;
    };
    auto any_number = [&] {
        std::string number = random() % 3 != 0 ? "" : random() % 2 ? "-" : "+";
        number += digits(random() % 20);
        if (random() % 2) number += random() % 2 ? ',' : '.';
        number += digits(random() % 20 + (number.empty() ? 1 : 0));
        if (random() % 3 == 0) {
            number += random() % 2 ? 'e' : 'E';
            if (random() % 2) number += random() % 2 ? '-' : '+';
            number += std::to_string(random() % 400);
        }
        return number;
    };
    auto short_decimal = [&] {
        std::string value = random() % 3 == 0 ? "-" : "";
        value += digits(random() % 10);
        if (random() % 4 != 0) value += random() % 2 ? ',' : '.';
        return value + digits(random() % 9);
    };
    for (int i = 0; i < 200000; ++i) {
        std::string line = any_number();
        for (int field = 1; field < 4; ++field) line += ";" + (random() % 3 == 0 ? any_number() : short_decimal());
        SourceRecord record;
        double expected[4] = {0, 0, 0, 0};
        ASSERT_EQ(decode(line, record), tsconv_test::reference_decode(line, expected)) << line;
        const double got[4] = {record.serial_date, record.PV, record.wSP, record.wOP};
        for (int field = 0; field < 4; ++field) {
            ASSERT_EQ(got[field], expected[field]) << line;
            ASSERT_EQ(std::signbit(got[field]), std::signbit(expected[field])) << line;
        }
        ASSERT_TRUE(tsconv_test::texts_match_values(record)) << line;
    }
}

TEST(DecodeSourceLine, ValueTextsTakenFromTheDigits) {
    const struct {
        std::string value;
        std::string text;  // empty: formatted from the double
    } cases[] = {
        {"63,20", "63.200000"}, {"65", "65.000000"},     {"-0,5", "-0.500000"},
        {",5", "0.500000"},     {"-,5", "-0.500000"},    {"5,", "5.000000"},
        {"5.", "5.000000"},     {"-0", "-0.000000"},     {"0", "0.000000"},
        {"0,123456", "0.123456"}, {"-999999,999999", "-999999.999999"},
        {"0,1234567", ""},      // seven decimals
        {"05", ""},             // a leading zero other than a lone "0"
        {"00,5", ""},           {"+5", ""},              {" 5", ""},
        {"5e0", ""},            {"1" + std::string(20, '0'), ""},
    };
    for (const auto& c : cases) {
        SourceRecord record;  // holding values no line gives
        record.PV = record.wSP = record.wOP = std::numeric_limits<double>::quiet_NaN();
        const std::string line = "1;" + c.value + ";" + c.value + ";" + c.value + "\r\n";
        ASSERT_EQ(decode(line, record), 4) << line;
        EXPECT_EQ(shown(record.PV_text), c.text) << c.value;
        EXPECT_EQ(shown(record.wSP_text), shown(record.PV_text)) << c.value;
        EXPECT_EQ(shown(record.wOP_text), shown(record.PV_text)) << c.value;
        EXPECT_TRUE(tsconv_test::texts_match_values(record)) << line;
    }
}

TEST(DecodeSourceLine, ValueTextsGoWithTheirValues) {
    // Each line in turn on one record: a text never outlives its value. A
    // value whose bits stay the same keeps its text, or its lack of one.
    const struct {
        std::string line;
        std::string PV, wSP, wOP;
    } rows[] = {
        {"1;0;-0;0", "", "-0.000000", ""},
        {"1;-0;0;5", "-0.000000", "0.000000", "5.000000"},
        {"1;-0,0;0,00;5,000", "-0.000000", "0.000000", "5.000000"},
        {"1;2,5;3;4", "2.500000", "3.000000", "4.000000"},
        {"1;7", "7.000000", "3.000000", "4.000000"},
        {"1;+2,5e1;-3", "", "-3.000000", "4.000000"},
        {"1;8;9;1e-7", "8.000000", "9.000000", ""},
        {"1;x;5;5", "8.000000", "9.000000", ""},
    };
    SourceRecord record;
    for (const auto& row : rows) {
        decode(row.line, record);
        EXPECT_EQ(shown(record.PV_text), row.PV) << row.line;
        EXPECT_EQ(shown(record.wSP_text), row.wSP) << row.line;
        EXPECT_EQ(shown(record.wOP_text), row.wOP) << row.line;
        EXPECT_TRUE(tsconv_test::texts_match_values(record)) << row.line;
    }
}

std::vector<std::string> read_lines(const std::string& content) {
    const tsconv_test::ScratchStream source(content);
    tsconv::SourceStream stream;
    tsconv::open_source_stream(stream, source.file());
    std::vector<std::string> lines;
    tsconv::SourceLine line;
    while (tsconv::read_source_line(stream, line)) lines.emplace_back(line.text, line.length);
    return lines;
}

using Lines = std::vector<std::string>;

TEST(ReadSourceLine, SplitsPhysicalLines) {
    const std::string long_line(450, '7');
    const std::string huge_line(3 * 1024 * 1024 + 17, '8');
    const struct {
        std::string name;
        std::string content;
        Lines lines;
    } cases[] = {
        {"empty", "", {}},
        {"lf", "a\nb\n", {"a\n", "b\n"}},
        {"crlf", "a\r\nb\r\n", {"a\r\n", "b\r\n"}},
        {"no final line end", "a\nb", {"a\n", "b"}},
        {"empty lines", "\n\r\n\n", {"\n", "\r\n", "\n"}},
        {"lone cr stays in the line", "a\rb\n", {"a\rb\n"}},
        {"byte order mark", "\xEF\xBB\xBF" "1;2\n", {"1;2\n"}},
        {"byte order mark alone", "\xEF\xBB\xBF", {}},
        {"byte order mark only at the start", "1\n\xEF\xBB\xBF" "2\n", {"1\n", "\xEF\xBB\xBF" "2\n"}},
        {"partial mark", "\xEF\xBB" "1\n", {"\xEF\xBB" "1\n"}},
        {"399 characters and line end", std::string(399, 'x') + "\ny\n", {std::string(399, 'x'), "y\n"}},
        {"398 characters and line end", std::string(398, 'x') + "\ny", {std::string(398, 'x') + "\n", "y"}},
        {"long line is one line", long_line + "\r\n1\n", {long_line.substr(0, 399), "1\n"}},
        {"long last line", long_line, {long_line.substr(0, 399)}},
        {"line longer than the buffer", huge_line + "\n2\n", {huge_line.substr(0, 399), "2\n"}},
        {"long last line longer than the buffer", "1\n" + huge_line, {"1\n", huge_line.substr(0, 399)}},
        {"nul bytes stay", std::string("1\0" "2\n", 4), {std::string("1\0" "2\n", 4)}},
    };
    for (const auto& c : cases) EXPECT_EQ(read_lines(c.content), c.lines) << c.name;
}

TEST(ReadSourceLine, LinesAcrossBlockBoundaries) {
    // Lines of every length from 1 to 600 characters, so that line ends fall
    // on and around each block boundary.
    std::string content;
    Lines expected;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t length = 1; length <= 600; ++length) {
            const std::string line(length, static_cast<char>('a' + length % 26));
            content += line + "\n";
            expected.push_back(length + 1 <= tsconv::max_decoded_length
                                   ? line + "\n"
                                   : line.substr(0, tsconv::max_decoded_length));
        }
    }
    EXPECT_EQ(read_lines(content), expected);
}

// Decoding each line where it lies gives what reading, then decoding it gives.
void expect_same_as_reading_then_decoding(const std::string& content, const std::string& name) {
    const tsconv_test::ScratchStream general(content), fused(content);
    EXPECT_EQ(tsconv_test::first_line_decoded_differently(general.file(), fused.file()), 0u) << name;
}

TEST(ReadAndDecodeSourceLine, MatchesReadingThenDecoding) {
    const std::string plain = "45011,1215277778;63,20;65;44,31";
    const std::string long_tail(500, 'x');
    const struct {
        std::string name;
        std::string content;
    } cases[] = {
        {"plain lines", plain + "\r\n" + plain + "\n"},
        {"long line, then another", plain + long_tail + "\r\n" + plain + "\r\n"},
        {"long last line without a line end", plain + "\n" + plain + long_tail},
        {"long last line of digits", plain + "\n1;2;3;" + std::string(600, '4')},
        {"line of 399 characters", plain + std::string(399 - plain.size() - 1, ' ') + "\n" + plain},
        {"line of 400 characters", plain + std::string(400 - plain.size() - 1, ' ') + "\n" + plain},
        {"byte order mark", "\xEF\xBB\xBF" + plain + "\n" + plain},
    };
    for (const auto& c : cases) expect_same_as_reading_then_decoding(c.content, c.name);
}

TEST(ReadAndDecodeSourceLine, MatchesReadingThenDecodingOnRandomSources) {
    // Lines of every kind, most of them plain, over several blocks.
    std::mt19937 random(29);
    const char* const serial_dates[] = {"45011,1215277778", "45011,1215625", "-1", "45011", "4,5e4", "+45011",
                                        " 45011", "12345678901234567890", "0,00000000000000000001", "45011,12x"};
    const std::string values[] = {"63,20", "65", "-0,5", ",5", "5,", "-", "1e3", "05", "0,1234567",
                                  "123456789", "+1", " 2", "x", "", "63,20,1", std::string("7\0", 2)};
    const char* const ends[] = {"\r\n", "\n", ";\r\n", ";99\r\n", "abc\n", "\r", "\r\r\n"};
    std::string content = random() % 2 ? "\xEF\xBB\xBF" : "";
    while (content.size() < 3 * tsconv::io_block_size) {
        std::string line = serial_dates[random() % 4 == 0 ? random() % 10 : random() % 2];
        const unsigned fields = random() % 8 == 0 ? random() % 4 : 3;
        for (unsigned i = 0; i < fields; ++i) {
            line += ';';
            line += values[random() % 4 == 0 ? random() % 16 : random() % 3];
        }
        if (random() % 50 == 0) line += std::string(random() % 600, random() % 2 ? '7' : 'x');
        line += ends[random() % 3 == 0 ? random() % 7 : 0];
        content += line;
    }
    content += "45011,5;1;2;3";  // no line end at the end
    expect_same_as_reading_then_decoding(content, "random");
}

}  // namespace
