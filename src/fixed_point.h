#pragma once

// Numbers as text: exact fixed-point notation with six decimals, and decimal
// integers.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tsconv {

constexpr int fixed6_max_length = 317;  // "-", 309 integer digits, ".", six decimals
constexpr int decimal_max_length = 20;  // 2^64 - 1

// Writes v exactly as printf("%.6f") does in the C locale ("inf" and "-inf"
// for infinities) and returns the end of the text.
char* format_fixed6(char* out, double v);

// The magnitude of v rounded to six decimals as format_fixed6 rounds it:
// whole part and millionths. False from 2^64 on, and where v is not finite.
bool round_fixed6_exact(double v, std::uint64_t& whole, std::uint32_t& millionths);

// The same, with a fast path for magnitudes below round_fixed6_fast_limit. Exact: see
// doc/DESIGN.md, "Rounding to six decimals".
constexpr double round_fixed6_fast_limit = 1099511.0;
inline bool round_fixed6(double v, std::uint64_t& whole, std::uint32_t& millionths) {
    const double magnitude = std::fabs(v);
    if (!(magnitude < round_fixed6_fast_limit)) return round_fixed6_exact(v, whole, millionths);
    const double scaled = magnitude * 1e6;
    const std::int64_t truncated = static_cast<std::int64_t>(scaled);
    const double fraction = scaled - static_cast<double>(truncated);
    if (!(std::fabs(fraction - 0.5) > 1.0 / 4096)) return round_fixed6_exact(v, whole, millionths);
    const std::uint64_t rounded = static_cast<std::uint64_t>(truncated) + (fraction > 0.5 ? 1 : 0);
    whole = static_cast<std::uint64_t>(magnitude);
    std::uint64_t rest = rounded - whole * 1000000;
    if (rest == 1000000) {
        ++whole;
        rest = 0;
    }
    millionths = static_cast<std::uint32_t>(rest);
    return true;
}

// "00" to "99". The writers below inline: they write every record's seconds.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes a value below 100 as two digits.
inline char* write_two_digits(char* out, unsigned value) {
    std::memcpy(out, digit_pairs + 2 * std::size_t{value}, 2);
    return out + 2;
}

char* write_long_decimal(char* out, std::uint64_t value);  // write_decimal out of line

// Writes value in decimal and returns the end of the text. Most values shown
// have one or two digits before the point.
inline char* write_decimal(char* out, std::uint64_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return value < 100 ? write_two_digits(out, static_cast<unsigned>(value)) : write_long_decimal(out, value);
}

// Writes whole "." millionths (below 10^6, as six digits); returns the end.
inline char* write_fixed6(char* out, std::uint64_t whole, std::uint32_t millionths) {
    out = write_decimal(out, whole);
    *out = '.';
    write_two_digits(out + 1, millionths / 10000);
    write_two_digits(out + 3, millionths / 100 % 100);
    write_two_digits(out + 5, millionths % 100);
    return out + 7;
}

}  // namespace tsconv
