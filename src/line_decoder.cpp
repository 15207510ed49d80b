// Each number is scanned once into its sign, digits and decimal exponent, then made a double by
// one exact fast step or the library's exact conversion.

#include "line_decoder.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "ascii.h"
#include "io_block.h"

namespace tsconv {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "words of eight characters are taken in little-endian byte order"
#endif
static_assert(sizeof(std::uint64_t) == 1 + line_read_ahead, "a word read at a line's last character stays in reach");

namespace {

std::uint64_t load_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}
void store_word(char* p, std::uint64_t word) { std::memcpy(p, &word, sizeof word); }
constexpr std::uint64_t each_character(unsigned char byte) { return std::uint64_t{0x0101010101010101} * byte; }

// The high bit of each character that was no digit, and maybe of those after it.
std::uint64_t non_digits(std::uint64_t v) { return (v | (v + each_character(0x80 - 10))) & each_character(0x80); }

// Adds the digits from p on to mantissa; returns the first character after them.
const char* scan_digits(const char* p, std::uint64_t& mantissa) {
    for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9; ++p) {
        mantissa = mantissa * 10 + digit;
    }
    return p;
}

// The same for the decimals of a serial date, mostly ten or more: eight at a time while eight follow.
const char* scan_many_digits(const char* p, std::uint64_t& mantissa) {
    for (std::uint64_t values; all_digits(values = digit_values(p)); p += 8) {
        mantissa = mantissa * 100000000 + eight_digits_value(values);
    }
    return scan_digits(p, mantissa);
}

// The integer digits of a serial date: every date from 1927 to 2173 has five, taken as one word.
const char* scan_date_digits(const char* p, std::uint64_t& mantissa) {
    const std::uint64_t values = digit_values(p);
    if (!five_digits_end(values)) return scan_digits(p, mantissa);
    mantissa = eight_digits_value(values << 24);
    return p + 5;
}

// A number as scanned: mantissa * 10^exponent, negative where a "-" stood before it.
struct ScannedNumber {
    bool negative, bare;         // bare: no white space or "+" before it, no exponent after it
    std::uint64_t mantissa = 0;  // its digits as an integer; exact while there are at most 19
    int exponent, integer_length, fraction_length = 0;
    const char* integer_digits;   // after its sign; at its point if no digit comes first
    const char* fraction_digits;  // after its point
    const char* end;              // just after it
};

// White space (isspace's, less the line end) before a number is rare: passed over apart.
[[gnu::cold]] const char* pass_over_space(const char* p) {
    while (*p == ' ' || *p == '\t' || (*p >= '\v' && *p <= '\r')) ++p;
    return p;
}

// A written exponent is counted up to this, which changes no value: see doc/DESIGN.md, "Exponent limit".
constexpr int exponent_limit = 100000;

// Scans one number at p: white space, a sign, digits with at most one point ("," or ".") and at
// least one digit, and an exponent where digits follow its "e" and sign. False when there is none.
// Nothing after a line end decides what is scanned: see doc/DESIGN.md, "Decoding in place".
inline bool scan_number(const char* p, ScannedNumber& number, bool serial_date) {
    number.negative = false;
    number.bare = true;
    if (static_cast<unsigned char>(*p) <= '-') {  // neither a digit nor a point
        const char* const start = p;
        p = pass_over_space(p);
        number.negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        number.bare = p == start + number.negative;  // nothing, or a "-" alone
    }
    number.integer_digits = p;
    p = serial_date ? scan_date_digits(p, number.mantissa) : scan_digits(p, number.mantissa);
    number.integer_length = static_cast<int>(p - number.integer_digits);
    number.fraction_digits = p;  // no point: no decimals are read from here
    if (*p == '.' || *p == ',') {
        number.fraction_digits = ++p;
        p = serial_date ? scan_many_digits(p, number.mantissa) : scan_digits(p, number.mantissa);
        number.fraction_length = static_cast<int>(p - number.fraction_digits);
    }
    if (number.integer_length + number.fraction_length == 0) return false;
    number.exponent = -number.fraction_length;
    const char* q = p + 1;  // an "e", an optional sign, then digits
    if ((*p == 'e' || *p == 'E') && is_digit(q[*q == '+' || *q == '-'])) {
        const bool negative = *q == '-';
        q += *q == '+' || *q == '-';
        int written = 0;
        for (; is_digit(*q); ++q) written = written < exponent_limit ? written * 10 + (*q - '0') : written;
        number.exponent += negative ? -written : written;
        number.bare = false;
        p = q;
    }
    number.end = p;
    return true;
}

// An exact integer divided by an exact power of ten: see doc/DESIGN.md, "The fast step".
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
bool fits_fast_step(const ScannedNumber& number) {
    return number.integer_length + number.fraction_length <= 19 && number.mantissa <= (std::uint64_t{1} << 53) &&
           number.exponent >= -22 && number.exponent <= 0;
}

double magnitude_fast(const ScannedNumber& number) {
    return static_cast<double>(static_cast<std::int64_t>(number.mantissa)) / exact_powers_of_ten[-number.exponent];
}

// Any other number, by the library; out of line and given no address, so common ones stay in registers.
[[gnu::noinline]] double magnitude_the_long_way(const char* digits, const char* end, int digit_count, int exponent) {
    char text[max_decoded_length];  // with "." as its decimal point
    const std::size_t length = static_cast<std::size_t>(end - digits);
    std::replace_copy(digits, end, text, ',', '.');
    double magnitude;
    if (std::from_chars(text, text + length, magnitude).ec != std::errc::result_out_of_range) return magnitude;
    // Beyond the largest double or below half the smallest one: the significant digits tell which.
    int leading_zeros = 0;
    for (const char* p = text; leading_zeros < digit_count && (*p == '0' || *p == '.'); ++p) {
        if (*p == '0') ++leading_zeros;
    }
    const bool huge = digit_count > leading_zeros && digit_count - leading_zeros + exponent > 0;
    return huge ? std::numeric_limits<double>::infinity() : 0.0;
}

double with_sign(const ScannedNumber& number, double magnitude) { return number.negative ? -magnitude : magnitude; }

inline double number_value(const ScannedNumber& number) {
    if (fits_fast_step(number)) return with_sign(number, magnitude_fast(number));
    return with_sign(number, magnitude_the_long_way(number.integer_digits, number.end,
                                                    number.integer_length + number.fraction_length, number.exponent));
}

// It shows as its own digits and fits the fast step: see doc/DESIGN.md, "Value texts".
bool is_short_decimal(const ScannedNumber& number) {
    return number.bare && number.integer_length <= 8 && number.fraction_length <= 6;
}

// The text of a short decimal, with zeros to six decimals; none with a leading zero but a lone "0".
void take_value_text(const ScannedNumber& number, ValueText& shown) {
    if (number.integer_length > 1 && number.integer_digits[0] == '0') {
        shown.length = 0;
        return;
    }
    char* t = shown.text;
    *t = '-';
    t += number.negative ? 1 : 0;
    if (number.integer_length == 0) {
        *t++ = '0';  // ",5" shows as "0.500000"
    } else {
        store_word(t, load_word(number.integer_digits));
        t += number.integer_length;
    }
    *t = '.';
    const std::uint64_t decimals_read = (std::uint64_t{1} << (8 * number.fraction_length)) - 1;
    store_word(t + 1, (load_word(number.fraction_digits) & decimals_read) | (each_character('0') & ~decimals_read));
    shown.length = static_cast<unsigned char>(t + 7 - shown.text);
}

// A text goes with the bits of its double: where they are the value's already, so is the text.
inline void store_value(const ScannedNumber& number, double& value, ValueText& shown) {
    if (!is_short_decimal(number)) {
        value = number_value(number);
        shown.length = 0;
        return;
    }
    const double read = with_sign(number, magnitude_fast(number));
    if (std::memcmp(&read, &value, sizeof read) == 0) return;
    value = read;
    take_value_text(number, shown);
}

}  // namespace

std::uint64_t digit_values(const char* eight_characters) { return load_word(eight_characters) - each_character('0'); }
bool all_digits(std::uint64_t values) { return non_digits(values) == 0; }
bool five_digits_end(std::uint64_t values) { return (non_digits(values) & 0x0000808080808080) == 0x0000800000000000; }

std::uint64_t eight_digits_value(std::uint64_t values) {
    values = ((values * (1 + (10 << 8))) >> 8) & 0x00ff00ff00ff00ff;
    values = ((values * (1 + (100 << 16))) >> 16) & 0x0000ffff0000ffff;
    return ((values * (1 + (std::uint64_t{10000} << 32))) >> 32) & 0xffffffff;
}

// Unrolled: the serial date takes its own path through the scan, each value is reached without an index.
int decode_source_line(const char* line, SourceRecord& record) {
    double* const values[] = {&record.serial_date, &record.PV, &record.wSP, &record.wOP};
    ValueText* const texts[] = {nullptr, &record.PV_text, &record.wSP_text, &record.wOP_text};
    const char* p = line;
#pragma GCC unroll 4
    for (int field = 0; field < 4; ++field) {
        ScannedNumber number;
        if ((field > 0 && *p++ != ';') || !scan_number(p, number, field == 0)) return field;
        if (field == 0) *values[field] = number_value(number);  // a serial date has no text
        else store_value(number, *values[field], *texts[field]);
        p = number.end;
    }
    return 4;
}

}  // namespace tsconv
