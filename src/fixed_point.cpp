#include "fixed_point.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tsconv {

namespace {

constexpr std::uint64_t million = 1000000;

const char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

int decimal_length(std::uint64_t value) {
    int length = 1;
    for (; value >= 10000; value /= 10000) length += 4;
    return length + (value >= 10) + (value >= 100) + (value >= 1000);
}

char* write_unsigned(char* out, std::uint64_t value) {
    char* const end = out + decimal_length(value);
    char* p = end;
    while (value >= 100) {
        p -= 2;
        std::memcpy(p, digit_pairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        std::memcpy(p - 2, digit_pairs + 2 * value, 2);
    } else {
        p[-1] = static_cast<char>('0' + value);
    }
    return end;
}

char* write_millionths(char* out, std::uint32_t millionths) {
    std::memcpy(out, digit_pairs + 2 * (millionths / 10000), 2);
    std::memcpy(out + 2, digit_pairs + 2 * (millionths / 100 % 100), 2);
    std::memcpy(out + 4, digit_pairs + 2 * (millionths % 100), 2);
    return out + 6;
}

std::uint64_t bits_of(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

}  // namespace

bool round_fixed6(double v, std::uint64_t& whole, std::uint32_t& millionths) {
    // Fast path for magnitudes below 2^40 / 10^6: the product |v| * 10^6 is
    // within 2^-14 of its exact value, so unless its fraction lies near one
    // half, rounding the product rounds the exact value the same way.
    const double magnitude = std::fabs(v);
    if (magnitude < 1099511.0) {
        const double scaled = magnitude * 1e6;
        const std::uint64_t truncated = static_cast<std::uint64_t>(scaled);
        const double fraction = scaled - static_cast<double>(truncated);
        if (std::fabs(fraction - 0.5) > 1.0 / 4096) {
            const std::uint64_t rounded = truncated + (fraction > 0.5 ? 1 : 0);
            whole = rounded / million;
            millionths = static_cast<std::uint32_t>(rounded % million);
            return true;
        }
    }
    const std::uint64_t bits = bits_of(v);
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased_exponent == 0x7ff) return false;
    int exponent;  // |v| = mantissa * 2^exponent
    if (biased_exponent == 0) {
        exponent = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased_exponent - 1075;
    }
    if (exponent >= 0) {
        if (exponent > 11) return false;  // 2^64 or more
        whole = mantissa << exponent;
        millionths = 0;
        return true;
    }
    // |v| = mantissa / 2^shift. The fraction times 10^6 is below 2^73; at a
    // shift of 74 or more it stays below one half and rounds to zero.
    const int shift = -exponent;
    if (shift >= 74) {
        whole = 0;
        millionths = 0;
        return true;
    }
    whole = shift < 64 ? mantissa >> shift : 0;
    const std::uint64_t fraction =
        shift < 64 ? mantissa & ((std::uint64_t{1} << shift) - 1) : mantissa;

    // product = fraction * 10^6 as hi:lo.
#ifdef __SIZEOF_INT128__
    __extension__ typedef unsigned __int128 uint128;
    const uint128 product = static_cast<uint128>(fraction) * million;
    const std::uint64_t lo = static_cast<std::uint64_t>(product);
    const std::uint64_t hi = static_cast<std::uint64_t>(product >> 64);
#else
    const std::uint64_t high_part = (fraction >> 32) * million;
    const std::uint64_t low_part = (fraction & 0xffffffffu) * million;
    const std::uint64_t lo = (high_part << 32) + low_part;
    const std::uint64_t hi = (high_part >> 32) + (lo < low_part ? 1 : 0);
#endif

    // quotient = product >> shift (below 10^6); compare the remainder to one half.
    std::uint64_t quotient;
    bool above_half;
    bool exactly_half;
    if (shift < 64) {
        quotient = (lo >> shift) | (hi << (64 - shift));
        const std::uint64_t remainder = lo & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        above_half = remainder > half;
        exactly_half = remainder == half;
    } else if (shift == 64) {
        quotient = hi;
        const std::uint64_t half = std::uint64_t{1} << 63;
        above_half = lo > half;
        exactly_half = lo == half;
    } else {
        const int high_shift = shift - 64;
        quotient = hi >> high_shift;
        const std::uint64_t remainder_high = hi & ((std::uint64_t{1} << high_shift) - 1);
        const std::uint64_t half_high = std::uint64_t{1} << (high_shift - 1);
        above_half = remainder_high > half_high || (remainder_high == half_high && lo != 0);
        exactly_half = remainder_high == half_high && lo == 0;
    }
    if (above_half || (exactly_half && (quotient & 1) != 0)) ++quotient;
    if (quotient == million) {
        ++whole;
        quotient = 0;
    }
    millionths = static_cast<std::uint32_t>(quotient);
    return true;
}

char* format_fixed6(char* out, double v) {
    const std::uint64_t bits = bits_of(v);
    const bool negative = (bits >> 63) != 0;
    if (((bits >> 52) & 0x7ff) == 0x7ff) {
        const char* text = (bits & ((std::uint64_t{1} << 52) - 1)) != 0 ? "nan" : "inf";
        if (negative) *out++ = '-';
        std::memcpy(out, text, 3);
        return out + 3;
    }
    std::uint64_t whole;
    std::uint32_t millionths;
    if (!round_fixed6(v, whole, millionths)) {
        // Beyond 2^64 the exact expansion needs big arithmetic; the library's
        // fixed-precision conversion is exact too.
        return std::to_chars(out, out + fixed6_max_length, v, std::chars_format::fixed, 6).ptr;
    }
    if (negative) *out++ = '-';
    out = write_unsigned(out, whole);
    *out++ = '.';
    return write_millionths(out, millionths);
}

}  // namespace tsconv
