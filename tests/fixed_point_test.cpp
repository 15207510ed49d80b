#include "fixed_point.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "format_model.h"

namespace {

using tsconv_test::formatted;
using tsconv_test::inf;

// The library's fixed conversion is specified to equal printf("%.6f").
std::string reference(double v) {
    char text[400];
    char* end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 6).ptr;
    return std::string(text, end);
}

// The magnitude as `round` splits it and write_fixed6 writes it, or "-" where it does not fit.
std::string split_and_written(bool (*round)(double, std::uint64_t&, std::uint32_t&), double v) {
    std::uint64_t whole;
    std::uint32_t millionths;
    char text[tsconv::fixed6_max_length];
    return round(v, whole, millionths) ? std::string(text, tsconv::write_fixed6(text, whole, millionths)) : "-";
}

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(FormatFixed6, KnownValues) {
    const struct { double value; const char* text; } cases[] = {
        {0.0, "0.000000"}, {-0.0, "-0.000000"}, {12.5, "12.500000"}, {-15.0, "-15.000000"}, {7.2500002, "7.250000"},
        {0.0078125, "0.007812"}, {0.0234375, "0.023438"}, {-0.0078125, "-0.007812"},  // halfway: to even, down and up
        {0.9999995, "1.000000"},  // the double lies just above the half
        {0.9999994999, "0.999999"}, {59.9999996, "60.000000"}, {59.9999994, "59.999999"}, {-3.25, "-3.250000"},
        {1e-7, "0.000000"}, {-1e-7, "-0.000000"}, {5e-324, "0.000000"}, {123456789.125, "123456789.125000"},
        {18446744073709549568.0, "18446744073709549568.000000"},  // largest below 2^64
        {18446744073709551616.0, "18446744073709551616.000000"},  // 2^64
        {1e20, "100000000000000000000.000000"}, {inf, "inf"}, {-inf, "-inf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(formatted(c.value), c.text);
        // The same split into whole part and millionths, wherever it fits: the text less its sign.
        EXPECT_EQ(split_and_written(tsconv::round_fixed6, c.value),
                  std::fabs(c.value) < 0x1p64 ? c.text + (c.text[0] == '-') : "-");
    }
}

TEST(FormatFixed6, LargestValueFitsTheLimit) {
    const std::string text = formatted(-std::numeric_limits<double>::max());
    EXPECT_EQ(text, reference(-std::numeric_limits<double>::max()));
    EXPECT_EQ(text.size(), static_cast<std::size_t>(tsconv::fixed6_max_length));
}

// Microsoft's printf is not exact; MinGW's own, which its libstdc++ selects (__USE_MINGW_ANSI_STDIO), is.
#if !defined(_WIN32) || __USE_MINGW_ANSI_STDIO
constexpr bool c_printf_is_exact = true;
#else
constexpr bool c_printf_is_exact = false;
#endif

TEST(FormatFixed6, MatchesReferenceAndPrintfOnRandomBitPatterns) {
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 300000; ++i) {
        const double v = from_bits(random());
        if (!std::isfinite(v)) continue;
        const std::string text = formatted(v);
        ASSERT_EQ(text, reference(v)) << std::hexfloat << v;
        if (c_printf_is_exact && i % 3 == 0) {
            char printed[400];
            std::snprintf(printed, sizeof printed, "%.6f", v);
            ASSERT_EQ(text, printed) << std::hexfloat << v;
        }
    }
}

TEST(FormatFixed6, MatchesReferenceOnValuesLikeLogs) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> exponent(-12, 22);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 300000; ++i) {
        const double v = unit(random) * std::pow(10.0, exponent(random));
        ASSERT_EQ(formatted(v), reference(v)) << std::hexfloat << v;
    }
    // Short decimals and their neighbours, where rounding is closest to a tie.
    for (long long n = -2000000; n <= 2000000; n += 7) {
        const double v = static_cast<double>(n) / 1e6 + 0.0000005;
        for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 1e9)}) {
            ASSERT_EQ(formatted(w), reference(w)) << std::hexfloat << w;
        }
    }
    // Exact halves, rounded to even: k / 2^7 has at most seven decimals.
    for (int k = -5000; k <= 5000; ++k) ASSERT_EQ(formatted(k / 128.0 + 1000.0), reference(k / 128.0 + 1000.0)) << k;
}

TEST(RoundFixed6, FastPathMatchesExactPath) {
    // Every magnitude the fast path takes, and the ties and near-ties where it
    // must hand over: the same whole part and millionths as the exact path.
    std::mt19937_64 random(5);
    constexpr double limit = tsconv::round_fixed6_fast_limit;
    std::uniform_real_distribution<double> magnitude(0.0, limit + 1);
    auto check = [](double v) {
        std::uint64_t whole = 0, exact_whole = 1;
        std::uint32_t millionths = 0, exact_millionths = 1;
        ASSERT_EQ(tsconv::round_fixed6(v, whole, millionths),
                  tsconv::round_fixed6_exact(v, exact_whole, exact_millionths));
        ASSERT_EQ(whole, exact_whole) << std::hexfloat << v;
        ASSERT_EQ(millionths, exact_millionths) << std::hexfloat << v;
    };
    for (int i = 0; i < 300000; ++i) {
        const double v = magnitude(random);
        const double tie = (std::floor(v * 1e6) + 0.5) / 1e6;  // the half of a millionth near v
        for (const double w : {v, -v, tie, std::nextafter(tie, 0.0), std::nextafter(tie, 2e6)}) check(w);
    }
    for (double v : {0.0, -0.0, limit, std::nextafter(limit, 0.0), limit + 0.6275, 60.9999995, 59.9999995}) check(v);
}

TEST(RoundFixed6, FastPathArgumentHolds) {
    // Below the bound the product stays below 2^40, where doubles lie 2^-13 apart: its rounding error (exact by a
    // fused multiply-add) is at most 2^-14, a quarter of the margin; and it lies between the multiples of 10^6 of the
    // whole part and the next whole number.
    EXPECT_LT(tsconv::round_fixed6_fast_limit * 1e6, 0x1p40);
    EXPECT_EQ(0x1p40 - std::nextafter(0x1p40, 0.0), 0x1p-13);
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> magnitude(0.0, tsconv::round_fixed6_fast_limit);
    for (int i = 0; i < 200000; ++i) {
        double v = i % 2 ? magnitude(random) : std::ldexp(magnitude(random), -(i % 40));
        if (i % 3 == 0) v = std::nextafter(std::floor(v) + 1, 0.0);  // just below a whole number
        ASSERT_LE(std::fabs(std::fma(v, 1e6, -(v * 1e6))), 0x1p-14) << std::hexfloat << v;
        ASSERT_GE(std::nearbyint(v * 1e6), std::floor(v) * 1e6) << std::hexfloat << v;
        ASSERT_LE(std::nearbyint(v * 1e6), (std::floor(v) + 1) * 1e6) << std::hexfloat << v;
    }
}

TEST(RoundFixed6Exact, EdgesOfItsRanges) {
    // Each side of 2^64, where the whole part stops fitting 64 bits, and the
    // smallest and largest fractions of each binary exponent down to 2^-75.
    std::vector<double> values = {0x1p64, std::nextafter(0x1p64, 0.0), 0x1p63, 0x1p52 * 0x1p11};
    for (const int shift : {1, 52, 63, 64, 65, 73, 74, 75}) {
        const double lowest = std::ldexp(1.0, 52 - shift);  // a mantissa of 2^52
        const double highest = std::ldexp(0x1p53 - 1, -shift);
        values.insert(values.end(), {lowest, std::nextafter(lowest, 0.0), std::nextafter(lowest, 1.0), highest,
                                     std::nextafter(highest, 1.0), lowest * 1.5, 3 * lowest / 4 * 1.25});
    }
    for (const double v : values) {
        EXPECT_EQ(split_and_written(tsconv::round_fixed6_exact, v), v < 0x1p64 ? reference(v) : "-")
            << std::hexfloat << v;
    }
}

TEST(WriteDecimal, MatchesToString) {
    std::vector<std::uint64_t> values = {0, 9, 10, 99, 100, 999, 1000, 9999, 10000, 123456789, 18446744073709551615u};
    for (std::uint64_t power = 1; power < 10000000000000000000u; power *= 10) {
        values.insert(values.end(), {power - 1, power, power + 1});
    }
    std::mt19937_64 random(9);
    for (int i = 0; i < 10000; ++i) values.push_back(random() >> (random() % 64));
    for (const std::uint64_t value : values) {
        const std::string expected = std::to_string(value);
        char text[tsconv::decimal_max_length];
        EXPECT_EQ(std::string(text, tsconv::write_decimal(text, value)), expected);
        const auto millionths = static_cast<std::uint32_t>(value % 1000000);
        char decimals[8];
        std::snprintf(decimals, sizeof decimals, ".%06u", static_cast<unsigned>(millionths));
        char fixed[tsconv::decimal_max_length + 7];
        EXPECT_EQ(std::string(fixed, tsconv::write_fixed6(fixed, value, millionths)), expected + decimals);
    }
}

}  // namespace
