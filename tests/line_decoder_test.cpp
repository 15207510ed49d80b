#include "line_decoder.h"

#include "io_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "format_model.h"
#include "test_support.h"

namespace {

using namespace tsconv_test;
using tsconv::SourceRecord;

std::string shown(const tsconv::ValueText& value) { return std::string(value.text, value.length); }

// The three value texts, ";" between them.
std::string texts(const SourceRecord& record) {
    return shown(record.PV_text) + ";" + shown(record.wSP_text) + ";" + shown(record.wOP_text);
}

// Decodes the lines make(0), make(1) ... in turn onto one record, each against the model; in place, as the reader
// hands a line over (the model sees it up to its line end), or as a padded copy.
template <typename Make>
void expect_decoded_as_the_model(int lines, bool in_place, Make make) {
    SourceRecord record;
    double expected[4] = {0, 0, 0, 0};
    for (int i = 0; i < lines; ++i) {
        const std::string text = make(i);
        const std::string line = in_place ? text.substr(0, text.find('\n')) : text;
        const int count =
            in_place ? tsconv::decode_source_line(text.data(), record) : decode_padded_copy(text, record);
        ASSERT_EQ(decoded_unlike_the_model(count, record, line, expected), "") << line;
    }
}

// Eight characters: `digits` digits, then (where fewer) `end`, then any characters.
std::string word_text(std::mt19937& random, unsigned digits, char end) {
    std::string text;
    while (text.size() < digits) text += static_cast<char>('0' + random() % 10);
    if (digits < 8) text += end;
    while (text.size() < 8) text += static_cast<char>(random() % 2 ? '0' + random() % 10 : random() % 256);
    return text;
}

// Calls check with words of every count of leading digits, every character
// that can end them and random characters after that.
template <typename Check>
void for_each_word(Check check) {
    std::mt19937 random(5);
    for (unsigned digits = 0; digits <= 8; ++digits) {
        for (int end = 0; end < 256; ++end) {
            if (end >= '0' && end <= '9') continue;
            for (int draw = 0; draw < 64; ++draw) check(word_text(random, digits, static_cast<char>(end)), digits);
        }
    }
}

TEST(DigitWords, AllDigitsDependsOnlyOnTheCharactersUpToTheFirstNonDigit) {
    for_each_word([](const std::string& text, unsigned digits) {
        ASSERT_EQ(tsconv::all_digits(tsconv::digit_values(text.data())), digits == 8) << text;
    });
}

TEST(DigitWords, FiveDigitsEndDependsOnlyOnTheCharactersUpToTheSixth) {
    for_each_word([](const std::string& text, unsigned digits) {
        ASSERT_EQ(tsconv::five_digits_end(tsconv::digit_values(text.data())), digits == 5) << text;
    });
}

TEST(DigitWords, EightDigitsValueIsTheNumberTheDigitsMake) {
    // Eight digits, and five moved up to the top of the word as a serial date's are, with any characters after them.
    std::mt19937 random(7);
    for (int i = 0; i < 1000000; ++i) {
        const std::string text = word_text(random, i % 2 ? 8 : 5, ';');
        const std::uint64_t values = tsconv::digit_values(text.data()) << (i % 2 ? 0 : 24);
        ASSERT_EQ(tsconv::eight_digits_value(values), std::stoull(text.substr(0, i % 2 ? 8 : 5))) << text;
    }
}

TEST(DecodeSourceLine, TableInOrderCarriesValuesForward) {
    SourceRecord record;
    for (const DecodedLine& row : decoding_table) {
        EXPECT_EQ(decode_padded_copy(row.line, record), row.count) << row.line;
        EXPECT_EQ((std::vector<double>{record.serial_date, record.PV, record.wSP, record.wOP}),
                  (std::vector<double>{row.serial_date, row.PV, row.wSP, row.wOP})) << row.line;
    }
}

TEST(DecodeSourceLine, NumberGrammar) {
    const struct { std::string line; int count; double first; } cases[] = {
        {"5.;1", 2, 5}, {".5;1", 2, 0.5}, {"-.5;1", 2, -0.5}, {"+5;1", 2, 5}, {"+,5;1", 2, 0.5}, {"-0;1", 2, -0.0},
        {"\t\v\f 5;1", 2, 5}, {"5;\r\n 1", 2, 5},  // white space before a number, line ends too
        {"1,5e3;1", 2, 1500}, {"1E-2;1", 2, 0.01}, {"1e+2;1", 2, 100},
        {"5e;1", 1, 5}, {"5e+;1", 1, 5}, {"5E-x;1", 1, 5},  // an exponent without digits ends the number
        {"0x10;1", 1, 0},                                   // no hexadecimal
        {"1e400;1", 2, inf}, {"-1e400;1", 2, -inf}, {"1e99999999999999999999;1", 2, inf}, {"1e-400;1", 2, 0},
        {"-1e-99999999999999999999;1", 2, -0.0}, {"0e999999;1", 2, 0}, {"4e-320;1", 2, 4e-320},  // subnormal
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
        {"9007199254740993;1", 2, 9007199254740992.0},  // 2^53 + 1: a tie, to even
        {"9007199254740995;1", 2, 9007199254740996.0},
        {"-900719925474099,3;1", 2, -900719925474099.3},
        {"1234567890123456789;1", 2, 1234567890123456789.0},
        {"0,1234567890123456789;1", 2, 0.1234567890123456789},
        {"12345678901234567890;1", 2, 12345678901234567890.0},
        {"18446744073709551617;1", 2, 18446744073709551617.0}, {"0,18446744073709551617;1", 2, 0.18446744073709551617},
        {"0,00000000000000000001;1", 2, 1e-20},
        {"45011,121527777778;1", 2, 45011.121527777778},
        {"45011e2;1", 2, 4501100}, {"00001,5;1", 2, 1.5}, {"1,12345678e1;1", 2, 11.2345678},
        {"5", 1, 5}, {"5\r\n", 1, 5}, {"5\r;1", 1, 5},
        // Exponents counted up to their limit: a long run of digits does not bring them back in range, nor
        // does counting on beyond an int (2^32 - 1, 2^32, 2^32 + 1, 2^32 + 22, 2^33), nor leading zeros.
        {"1" + std::string(380, '0') + "e-100379;1", 2, 0},
        {"0," + std::string(380, '0') + "1e100379;1", 2, inf},
        {"1e-2147483649;1", 2, 0}, {"1e4294967295;1", 2, inf}, {"1e4294967296;1", 2, inf}, {"1e-4294967296;1", 2, 0},
        {"-1e+4294967296;1", 2, -inf}, {"-1e-4294967296;1", 2, -0.0}, {"1e4294967297;1", 2, inf},
        {"1e-4294967297;1", 2, 0}, {"1e-4294967318;1", 2, 0}, {"1e8589934592;1", 2, inf}, {"1e-8589934592;1", 2, 0},
        {"1e0000000000000000000003;1", 2, 1000}, {"1e-0000000000000000000001;1", 2, 0.1},
        // No number: nothing supplied, nothing changed.
        {"inf;1;2;3", 0, 42}, {"nan;1;2;3", 0, 42}, {"-inf", 0, 42}, {"+", 0, 42}, {"-", 0, 42}, {".", 0, 42},
        {",", 0, 42}, {"e5;1", 0, 42}, {";1;2;3", 0, 42}, {"+-5;1", 0, 42}, {"--5", 0, 42}, {" ;5", 0, 42},
        {"\r\n", 0, 42}, {"\n", 0, 42}, {"x45000", 0, 42}, {"", 0, 42},
        // Decoding stops at the first character that does not fit.
        {"1;2;3;4", 4, 1}, {"1;2;3", 3, 1}, {"1;2;", 2, 1}, {"1;;3;4", 1, 1}, {"1; 2; 3; 4", 4, 1},
        {"1 ;2;3;4", 1, 1}, {"1;2;x;4", 2, 1}, {"1;2;3;4;5;6", 4, 1}, {"1;2;3;4abc", 4, 1}, {"1;2;3,4,5;6", 3, 1},
        {std::string("1;2\0;3;4", 8), 2, 1},  // a NUL ends the line for decoding
    };
    for (const auto& c : cases) {
        SourceRecord record;
        record.serial_date = 42;
        EXPECT_EQ(decode_padded_copy(c.line, record), c.count) << c.line;
        EXPECT_EQ(record.serial_date, c.first) << c.line;
        EXPECT_EQ(std::signbit(record.serial_date), std::signbit(c.first)) << c.line;
    }
}

TEST(DecodeSourceLine, EveryCharacterEndsARunOfDigitsAsTheModelSays) {
    // Runs of digits around five integer digits, taken as one word, and
    // around eight decimals, taken eight at a time, ended by every character.
    const char* const starts[] = {"",       "4501",      "45011",      "450111",           "-45011",
                                  "1,",     "1,1234",    "1,1234567",  "1,12345678",       "1,123456781234567"};
    expect_decoded_as_the_model(10 * 256, false, [&](int i) {
        return starts[i / 256] + std::string(1, static_cast<char>(i % 256)) + "5;1";
    });
}

TEST(DecodeSourceLine, MatchesTheModelOnRandomLines) {
    std::mt19937 random(3);
    expect_decoded_as_the_model(200000, false, [&](int) { return random_source_line(random); });
}

TEST(DecodeSourceLine, NothingAfterTheLineEndChangesWhatIsDecoded) {
    // Decoded where it lies, a line is followed by its line end and seven characters of the next line or of old data,
    // digits most of them. First, lines cut short where the characters after the line end would change every result.
    const struct { const char* text; std::size_t end; } cut[] = {
        {"12;34;56;789999", 1}, {"12;34;56;789999", 3}, {"12;34;56;789999", 4}, {"12;34;56;789999", 11}, {"5e7", 2}};
    std::mt19937 random(11);
    expect_decoded_as_the_model(200000, true, [&](int i) {
        if (i < 5) {
            std::string text = cut[i].text + std::string(tsconv::line_read_ahead, '9');
            text[cut[i].end] = '\n';
            return text;
        }
        std::string text = random_source_line(random).substr(0, tsconv::max_decoded_length) + '\n';
        for (std::size_t k = 0; k < tsconv::line_read_ahead; ++k) {
            text += static_cast<char>(random() % 4 != 0 ? '0' + random() % 10 : random() % 256);
        }
        return text;
    });
}

TEST(DecodeSourceLine, FastStepGivesTheCorrectlyRoundedValue) {
    // Mantissas up to 2^53 and just beyond it, divided by powers of ten up
    // to 10^22 and just beyond: what the library's conversion gives.
    std::mt19937_64 random(13);
    const std::uint64_t limit = std::uint64_t{1} << 53;
    expect_decoded_as_the_model(200000, false, [&](int i) {
        std::string line = std::to_string(i % 2 ? limit - 2000 + random() % 4000 : random() % limit);
        const std::size_t decimals = random() % 24;
        if (decimals > line.size()) line.insert(0, decimals - line.size(), '0');
        line.insert(line.size() - decimals, ",");
        return line + ";" + line;
    });
}

TEST(DecodeSourceLine, ShortDecimalsShowAsTheirOwnDigits) {
    // Up to eight integer digits and six decimals, most of them with all
    // fourteen, where the double lies furthest from the decimal.
    std::mt19937 random(17);
    SourceRecord record;
    for (int i = 0; i < 200000; ++i) {
        std::string integer = std::to_string(random() % 100000000);
        if (i % 2) integer = std::to_string(10000000 + random() % 90000000);
        std::string decimals = std::to_string(1000000 + random() % 1000000).substr(1, i % 4 ? 6 : random() % 7);
        const std::string sign = random() % 2 ? "-" : "";
        const std::string line = "1;" + sign + integer + "," + decimals;
        decode_padded_copy(line, record);
        ASSERT_EQ(shown(record.PV_text), sign + integer + "." + decimals + std::string(6 - decimals.size(), '0'));
        ASSERT_TRUE(texts_match_values(record)) << line;
    }
}

TEST(DecodeSourceLine, ValueTextsTakenFromTheDigits) {
    const struct { std::string value, text; } cases[] = {  // an empty text: formatted from the double
        {"63,20", "63.200000"}, {"65", "65.000000"}, {"-0,5", "-0.500000"}, {",5", "0.500000"}, {"-,5", "-0.500000"},
        {"5,", "5.000000"}, {"5.", "5.000000"}, {"-0", "-0.000000"}, {"0", "0.000000"}, {"0,123456", "0.123456"},
        {"-999999,999999", "-999999.999999"}, {"+5", ""}, {" 5", ""}, {"5e0", ""}, {"1" + std::string(20, '0'), ""},
        {"0,1234567", ""}, {"05", ""}, {"00,5", ""},  // seven decimals; a leading zero other than a lone "0"
    };
    for (const auto& c : cases) {
        SourceRecord record;  // holding values no line gives
        record.PV = record.wSP = record.wOP = std::numeric_limits<double>::quiet_NaN();
        const std::string line = "1;" + c.value + ";" + c.value + ";" + c.value + "\r\n";
        ASSERT_EQ(decode_padded_copy(line, record), 4) << line;
        EXPECT_EQ(texts(record), c.text + ";" + c.text + ";" + c.text) << c.value;
        EXPECT_TRUE(texts_match_values(record)) << line;
    }
}

TEST(DecodeSourceLine, ValueTextsGoWithTheirValues) {
    // Each line in turn on one record: a text never outlives its value. A
    // value whose bits stay the same keeps its text, or its lack of one.
    const struct { std::string line, texts; } rows[] = {
        {"1;0;-0;0", ";-0.000000;"}, {"1;-0;0;5", "-0.000000;0.000000;5.000000"},
        {"1;-0,0;0,00;5,000", "-0.000000;0.000000;5.000000"}, {"1;2,5;3;4", "2.500000;3.000000;4.000000"},
        {"1;7", "7.000000;3.000000;4.000000"}, {"1;+2,5e1;-3", ";-3.000000;4.000000"},
        {"1;8;9;1e-7", "8.000000;9.000000;"}, {"1;x;5;5", "8.000000;9.000000;"},
    };
    SourceRecord record;
    for (const auto& row : rows) {
        decode_padded_copy(row.line, record);
        EXPECT_EQ(texts(record), row.texts) << row.line;
        EXPECT_TRUE(texts_match_values(record)) << row.line;
    }
}

}  // namespace
