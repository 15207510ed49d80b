#pragma once

#include <cstdint>

namespace tsconv {

// Longest text format_fixed6 writes: sign, 309 integer digits, point, six decimals.
constexpr int fixed6_max_length = 317;

// Writes v exactly as printf("%.6f") does in the C locale (exact decimal
// expansion, rounded half to even) and returns the end of the text. Infinities
// are written as "inf" and "-inf". Writes at most fixed6_max_length characters.
char* format_fixed6(char* out, double v);

// The magnitude of v rounded to six decimals as format_fixed6 rounds it:
// whole part and millionths. False when the magnitude is 2^64 or more, or v is
// not finite.
bool round_fixed6(double v, std::uint64_t& whole, std::uint32_t& millionths);

}  // namespace tsconv
