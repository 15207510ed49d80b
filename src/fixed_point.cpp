#include "fixed_point.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tsconv {

namespace {

constexpr std::uint64_t million = 1000000;

int decimal_length(std::uint64_t value) {
    int length = 1;
    for (; value >= 10000; value /= 10000) length += 4;
    return length + (value >= 10) + (value >= 100) + (value >= 1000);
}

std::uint64_t bits_of(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

}  // namespace

char* write_long_decimal(char* out, std::uint64_t value) {
    char* const end = out + decimal_length(value);
    char* p = end;
    for (; value >= 100; value /= 100) {
        p -= 2;
        std::memcpy(p, digit_pairs + 2 * (value % 100), 2);
    }
    if (value >= 10) {
        std::memcpy(p - 2, digit_pairs + 2 * value, 2);
    } else {
        p[-1] = static_cast<char>('0' + value);
    }
    return end;
}

bool round_fixed6_exact(double v, std::uint64_t& whole, std::uint32_t& millionths) {
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
    std::uint64_t whole;
    std::uint32_t millionths;
    if (round_fixed6(v, whole, millionths)) {
        *out = '-';
        out += std::signbit(v) ? 1 : 0;
        return write_fixed6(out, whole, millionths);
    }
    if (std::signbit(v)) *out++ = '-';
    if (!std::isfinite(v)) {
        std::memcpy(out, std::isnan(v) ? "nan" : "inf", 3);
        return out + 3;
    }
    // Beyond 2^64 the exact expansion needs big arithmetic; the library's
    // fixed-precision conversion is exact too.
    return std::to_chars(out, out + fixed6_max_length, std::fabs(v), std::chars_format::fixed, 6).ptr;
}

}  // namespace tsconv
