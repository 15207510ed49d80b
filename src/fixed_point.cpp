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

// Takes a finite double apart: |v| = mantissa * 2^exponent, the mantissa
// below 2^53. False for an infinity or a NaN.
bool take_apart(double v, std::uint64_t& mantissa, int& exponent) {
    const std::uint64_t bits = bits_of(v);
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased_exponent == 0x7ff) return false;
    mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased_exponent == 0) {  // subnormal: no hidden bit
        exponent = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased_exponent - 1075;
    }
    return true;
}

// An unsigned number of 128 bits, high:low.
struct Wide {
    std::uint64_t high;
    std::uint64_t low;
};

// The exact product fraction * 10^6.
Wide times_million(std::uint64_t fraction) {
#ifdef __SIZEOF_INT128__
    __extension__ typedef unsigned __int128 uint128;
    const uint128 product = static_cast<uint128>(fraction) * million;
    return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
#else
    // The two 32-bit halves of the fraction times 10^6 each fit 64 bits.
    const std::uint64_t high_part = (fraction >> 32) * million;
    const std::uint64_t low_part = (fraction & 0xffffffffu) * million;
    const std::uint64_t low = (high_part << 32) + low_part;
    return {(high_part >> 32) + (low < low_part ? 1 : 0), low};
#endif
}

// product / 2^shift rounded to the nearest integer, a tie to the even one,
// for a shift of 1 to 73 and a quotient that fits 64 bits.
std::uint64_t shift_rounded(Wide product, int shift) {
    // The quotient, the 64 bits below it (top first) and whether any lie lower.
    std::uint64_t quotient = product.high;
    std::uint64_t below = product.low;
    bool lower = false;
    if (shift < 64) {
        quotient = (product.low >> shift) | (product.high << (64 - shift));
        below = product.low << (64 - shift);
    } else if (shift > 64) {
        const int k = shift - 64;
        quotient = product.high >> k;
        below = (product.high << (64 - k)) | (product.low >> k);
        lower = (product.low << (64 - k)) != 0;
    }
    const std::uint64_t half = std::uint64_t{1} << 63;
    if (below > half || (below == half && (lower || (quotient & 1) != 0))) ++quotient;
    return quotient;
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
    std::uint64_t mantissa;
    int exponent;
    if (!take_apart(v, mantissa, exponent)) return false;
    if (exponent >= 0) {
        if (exponent > 11) return false;
        whole = mantissa << exponent;
        millionths = 0;
        return true;
    }
    const int shift = -exponent;
    if (shift >= 74) {
        whole = 0;
        millionths = 0;
        return true;
    }
    whole = shift < 64 ? mantissa >> shift : 0;
    const std::uint64_t fraction = shift < 64 ? mantissa & ((std::uint64_t{1} << shift) - 1) : mantissa;
    std::uint64_t rounded = shift_rounded(times_million(fraction), shift);
    if (rounded == million) {
        ++whole;
        rounded = 0;
    }
    millionths = static_cast<std::uint32_t>(rounded);
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
