#include "fixed_point.h"

#include <charconv>
#include <cmath>

namespace tsconv {

namespace {

// Specified to write what printf("%.6f") writes in the C locale: the exact value, rounded.
char* to_fixed6_text(char* out, double v) {
    return std::to_chars(out, out + fixed6_max_length, v, std::chars_format::fixed, 6).ptr;
}

}  // namespace

char* write_long_decimal(char* out, std::uint64_t value) {
    return std::to_chars(out, out + decimal_max_length, value).ptr;
}

bool round_fixed6_exact(double v, std::uint64_t& whole, std::uint32_t& millionths) {
    const double magnitude = std::fabs(v);
    if (!(magnitude < 0x1p64)) return false;  // also an infinity or NaN
    char text[fixed6_max_length];
    const char* const point = to_fixed6_text(text, magnitude) - 7;
    std::from_chars(text, point, whole);
    std::from_chars(point + 1, point + 7, millionths);
    return true;
}

char* format_fixed6(char* out, double v) {
    std::uint64_t whole;
    std::uint32_t millionths;
    if (!round_fixed6(v, whole, millionths)) return to_fixed6_text(out, v);  // from 2^64 on, and infinities
    *out = '-';
    return write_fixed6(out + (std::signbit(v) ? 1 : 0), whole, millionths);
}

}  // namespace tsconv
