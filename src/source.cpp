// Reading the source: physical lines out of large blocks of the file, and the
// serial date and the three values decoded from each, "number;number;number;
// number" with "," or "." as the decimal point. A number is scanned once into
// its sign, digits and decimal exponent, then made a double by one exact fast
// step or the library's exact conversion. Most lines are decoded where they
// lie in the block; a line whose decoded part may not all be there yet is
// read whole first and decoded from a copy.

#include "source.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "io_block.h"

namespace tsconv {

static_assert(io_block_size > max_decoded_length, "a block holds the decoded part of a line");

namespace {

// White space before a number, as the C locale's isspace knows it, less the
// line end: decoding stops at the first line end it meets.
bool is_space_within_line(char c) { return c == ' ' || c == '\t' || (c >= '\v' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Eight characters as one word, the first in the lowest byte, so that short
// texts are moved and masked whole. A word taken at the last character of a
// line reaches line_read_ahead characters beyond it.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "words of eight characters are taken in little-endian byte order"
#endif
static_assert(sizeof(std::uint64_t) == 1 + line_read_ahead, "a word read at a line's last character stays in reach");

std::uint64_t load_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void store_word(char* p, std::uint64_t word) { std::memcpy(p, &word, sizeof word); }

// The same byte in each of the eight characters of a word.
constexpr std::uint64_t each_character(unsigned char byte) { return std::uint64_t{0x0101010101010101} * byte; }

constexpr std::uint64_t eight_zeros = each_character('0');

// The eight characters of a word less "0" each: the digits become 0 to 9.
std::uint64_t digit_values(std::uint64_t word) { return word - each_character('0'); }

// True when all eight were digits. A character below "0" has wrapped round
// to its high bit, one above "9" reaches it when 0x76 is added; a borrow or
// carry into the next character only ever follows such a one. So the answer
// depends on the characters up to the first that is no digit, never on those
// after it: a word may reach past the line end without changing what is read.
bool all_digits(std::uint64_t values) {
    return ((values | (values + each_character(0x80 - 10))) & each_character(0x80)) == 0;
}

// True when the first five values were digits and the sixth was not.
bool five_digits_end(std::uint64_t values) {
    const std::uint64_t non_digits = (values | (values + each_character(0x80 - 10))) & each_character(0x80);
    // Any borrow or carry starts at the sixth character, past the five.
    return (non_digits & 0x0000808080808080) == 0x0000800000000000;
}

// The number eight digit values make, the first the most significant:
// combined pairwise, then in fours, then all eight.
std::uint64_t eight_digits_value(std::uint64_t values) {
    values = ((values * (1 + (10 << 8))) >> 8) & 0x00ff00ff00ff00ff;
    values = ((values * (1 + (100 << 16))) >> 16) & 0x0000ffff0000ffff;
    return ((values * (1 + (std::uint64_t{10000} << 32))) >> 32) & 0xffffffff;
}

// Adds the digits from p on to mantissa; returns the first character after them.
const char* scan_digits(const char* p, std::uint64_t& mantissa) {
    for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9; ++p) {
        mantissa = mantissa * 10 + digit;
    }
    return p;
}

// The same for a long run of digits, eight at a time while eight follow.
const char* scan_many_digits(const char* p, std::uint64_t& mantissa) {
    for (std::uint64_t values; all_digits(values = digit_values(load_word(p))); p += 8) {
        mantissa = mantissa * 100000000 + eight_digits_value(values);
    }
    return scan_digits(p, mantissa);
}

// The integer digits of a serial date, the first digits of a number: every
// date from 1927 to 2173 has five, taken as one word.
const char* scan_date_digits(const char* p, std::uint64_t& mantissa) {
    const std::uint64_t values = digit_values(load_word(p));
    if (!five_digits_end(values)) return scan_digits(p, mantissa);
    mantissa = eight_digits_value(values << 24);
    return p + 5;
}

// A number as scanned, not yet a double: mantissa * 10^exponent, negative
// where a "-" stood before it.
struct ScannedNumber {
    bool negative = false;
    bool bare = false;           // no white space or "+" before it, no exponent after it
    std::uint64_t mantissa = 0;  // its digits as an integer; exact while there are at most 19
    int exponent = 0;
    const char* integer_digits = nullptr;   // where it starts after its sign, at its point if no digit comes first
    int integer_length = 0;
    const char* fraction_digits = nullptr;  // the digits after its point
    int fraction_length = 0;
    const char* end = nullptr;              // just after it
};

// What may stand before the digits of a number.
struct Lead {
    const char* next;  // the character after it
    bool negative;     // a "-"
    bool bare;         // nothing, or a "-" alone
};

// Passes over white space and a sign at p. Few numbers have either: kept
// apart, the common path of the scan is the shorter.
[[gnu::cold]] Lead pass_over_lead(const char* p) {
    const char* const start = p;
    while (is_space_within_line(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    return {p, negative, p == start + negative};
}

// A written exponent is counted up to this and no further. A number of a
// decoded line (at most 399 digits) reaches zero or infinity well before an
// exponent of 400 + 324 either way, and ten times this still fits an int.
constexpr int exponent_limit = 100000;

// Scans one number at p: white space, a sign, digits with at most one
// decimal point ("," or ".") and at least one digit, and an exponent only
// where digits follow its "e" and sign. False when no number starts at p.
// Every part stops at a line end: it is no digit, sign, point or "e", nor
// white space here. So nothing after the first line end decides what is
// scanned (a word may reach past it, see all_digits). A serial date's
// digits are taken partly a word at a time.
inline bool scan_number(const char* p, ScannedNumber& number, bool serial_date) {
    number.negative = false;
    number.bare = true;
    if (static_cast<unsigned char>(*p) <= '-') {  // neither a digit nor a point
        const Lead lead = pass_over_lead(p);
        number.negative = lead.negative;
        number.bare = lead.bare;
        p = lead.next;
    }
    number.integer_digits = p;
    p = serial_date ? scan_date_digits(p, number.mantissa) : scan_digits(p, number.mantissa);
    number.integer_length = static_cast<int>(p - number.integer_digits);
    number.fraction_digits = p;  // no point: no decimals are read from here
    if (*p == '.' || *p == ',') {
        number.fraction_digits = ++p;
        // Most serial dates have ten or more decimals.
        p = serial_date ? scan_many_digits(p, number.mantissa) : scan_digits(p, number.mantissa);
        number.fraction_length = static_cast<int>(p - number.fraction_digits);
    }
    if (number.integer_length + number.fraction_length == 0) return false;
    number.exponent = -number.fraction_length;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        const bool exponent_negative = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        if (is_digit(*q)) {
            int written_exponent = 0;
            for (; is_digit(*q); ++q) {
                if (written_exponent < exponent_limit) written_exponent = written_exponent * 10 + (*q - '0');
            }
            number.exponent += exponent_negative ? -written_exponent : written_exponent;
            number.bare = false;
            p = q;
        }
    }
    number.end = p;
    return true;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True when the fast step gives the number's magnitude: at most 19 digits,
// so the mantissa has not wrapped round, a mantissa of at most 2^53, so an
// exact double, and a power of ten to divide by that is exact too. A
// positive exponent, only ever written, goes the long way.
bool fits_fast_step(const ScannedNumber& number) {
    return number.integer_length + number.fraction_length <= 19 && number.mantissa <= (std::uint64_t{1} << 53) &&
           number.exponent >= -22 && number.exponent <= 0;
}

// The fast step: an exact integer divided by an exact power of ten, one
// correctly rounded operation, so the correctly rounded magnitude.
double magnitude_fast(const ScannedNumber& number) {
    return static_cast<double>(static_cast<std::int64_t>(number.mantissa)) / exact_powers_of_ten[-number.exponent];
}

// The slow step, for any other number: the library's correctly rounded
// conversion of its text from its first digit or point, and for what that
// reports as out of range, infinity or zero. Kept out of line and given no
// address of a scanned number, so that those of the common numbers stay in
// registers.
[[gnu::noinline]] double magnitude_the_long_way(const char* digits, const char* end, int digit_count, int exponent) {
    char text[max_decoded_length];  // the number with "." as its decimal point
    const std::size_t length = static_cast<std::size_t>(end - digits);
    std::memcpy(text, digits, length);
    std::replace(text, text + length, ',', '.');
    double magnitude;
    if (std::from_chars(text, text + length, magnitude).ec != std::errc::result_out_of_range) return magnitude;
    // Beyond the largest double or below half the smallest one: which of the
    // two, the significant digits and the exponent tell.
    int leading_zeros = 0;
    for (const char* p = text; leading_zeros < digit_count && (*p == '0' || *p == '.'); ++p) {
        if (*p == '0') ++leading_zeros;
    }
    const int significant_digits = digit_count - leading_zeros;
    const bool huge = significant_digits != 0 && significant_digits + exponent > 0;
    return huge ? std::numeric_limits<double>::infinity() : 0.0;
}

double with_sign(const ScannedNumber& number, double magnitude) { return number.negative ? -magnitude : magnitude; }

inline double number_value(const ScannedNumber& number) {
    if (fits_fast_step(number)) return with_sign(number, magnitude_fast(number));
    return with_sign(number, magnitude_the_long_way(number.integer_digits, number.end,
                                                    number.integer_length + number.fraction_length, number.exponent));
}

// A bare decimal of at most eight integer digits and six decimals shows as
// its own digits, padded with zeros to six decimals: its double lies within
// 2^-27 of it (half a unit in the last place below 2^27), far less than half
// a millionth, so rounding the double to six decimals gives the decimal back.
// With at most 14 digits and an exponent of -6 to 0 it fits the fast step.
bool is_short_decimal(const ScannedNumber& number) {
    return number.bare && number.integer_length <= 8 && number.fraction_length <= 6;
}

// The text of a short decimal. A leading zero other than a lone "0" is not
// shown, so such a number gets no text.
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
    // The decimals read, then zeros.
    const std::uint64_t decimals_read = (std::uint64_t{1} << (8 * number.fraction_length)) - 1;
    store_word(t + 1, (load_word(number.fraction_digits) & decimals_read) | (eight_zeros & ~decimals_read));
    shown.length = static_cast<unsigned char>(t + 7 - shown.text);
}

// Stores a value, and its text where it is a short decimal. A text goes with
// the bits of its double: where they are those the value already has, as a
// setpoint's mostly are from line to line, so is the text.
inline void store_value(const ScannedNumber& number, double& value, ValueText& shown) {
    if (!is_short_decimal(number)) {
        value = number_value(number);
        shown.length = 0;
        return;
    }
    const double read = with_sign(number, magnitude_fast(number));
    std::uint64_t read_bits;
    std::uint64_t held_bits;
    std::memcpy(&read_bits, &read, sizeof read);
    std::memcpy(&held_bits, &value, sizeof value);
    if (read_bits == held_bits) return;
    value = read;
    take_value_text(number, shown);
}

// How far decoding a line got.
struct DecodedLine {
    int supplied = 0;            // the values stored, 0 to 4
    const char* stop = nullptr;  // where decoding stopped: at the line end or before it
};

// Decodes "number;number;number;number" at text into the record, field by
// field, up to the first character that does not fit. The text is the
// decoded part of a line: it ends at its first line end, and line_read_ahead
// readable characters follow that. Inlined where it is used, and its loop
// unrolled: the serial date takes its own path through the scan, and each
// value is reached without an index.
[[gnu::always_inline]] inline DecodedLine decode_line(const char* text, SourceRecord& record) {
    double* const values[] = {&record.serial_date, &record.PV, &record.wSP, &record.wOP};
    ValueText* const texts[] = {nullptr, &record.PV_text, &record.wSP_text, &record.wOP_text};
    const char* p = text;
#pragma GCC unroll 4
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (*p != ';') return {field, p};
            ++p;
        }
        ScannedNumber number;
        if (!scan_number(p, number, field == 0)) return {field, p};
        if (field == 0) {
            *values[field] = number_value(number);  // a serial date has no text
        } else {
            store_value(number, *values[field], *texts[field]);
        }
        p = number.end;
    }
    return {4, p};
}

// Moves the unread rest to the front and appends what the file gives.
// False when nothing more could be read.
bool refill(SourceStream& stream) {
    if (stream.at_end) return false;
    const std::size_t unread = stream.end - stream.begin;
    std::memmove(stream.buffer.data(), stream.buffer.data() + stream.begin, unread);
    stream.begin = 0;
    stream.end = unread;
    const std::size_t got =
        std::fread(stream.buffer.data() + unread, 1, io_block_size - unread, stream.file);
    stream.end += got;
    stream.buffer[stream.end] = '\n';
    if (got < io_block_size - unread) {
        if (std::ferror(stream.file)) stream.read_failed = true;
        if (std::ferror(stream.file) || std::feof(stream.file)) stream.at_end = true;
    }
    return got > 0;
}

// Passes over the rest of a long line. False when reading failed before its
// end; a line whose end arrived with the failing read is whole.
bool pass_over_rest_of_line(SourceStream& stream) {
    stream.begin = stream.end;
    while (refill(stream)) {
        const char* data = stream.buffer.data();
        const void* line_end = std::memchr(data, '\n', stream.end);
        if (line_end != nullptr) {
            stream.begin = static_cast<std::size_t>(static_cast<const char*>(line_end) - data) + 1;
            return true;
        }
        stream.begin = stream.end;
    }
    return !stream.read_failed;
}

void pass_over_byte_order_mark(SourceStream& stream) {
    while (stream.end - stream.begin < 3 && refill(stream)) {
    }
    static const char mark[] = {'\xEF', '\xBB', '\xBF'};
    if (stream.end - stream.begin >= 3 &&
        std::memcmp(stream.buffer.data() + stream.begin, mark, 3) == 0) {
        stream.begin += 3;
    }
    stream.start_checked = true;
}

}  // namespace

void open_source_stream(SourceStream& stream, std::FILE* file) {
    stream.file = file;
    // A block, the line end that always follows the data, and room to read ahead.
    stream.buffer.assign(io_block_size + 1 + line_read_ahead, '\0');
    stream.buffer[0] = '\n';
    stream.begin = stream.end = 0;
    stream.at_end = stream.read_failed = stream.start_checked = false;
}

bool read_source_line(SourceStream& stream, SourceLine& line) {
    if (!stream.start_checked) pass_over_byte_order_mark(stream);
    for (;;) {
        char* text = stream.buffer.data() + stream.begin;
        const std::size_t unread = stream.end - stream.begin;
        if (const void* found = std::memchr(text, '\n', unread)) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(found) - text) + 1;
            line.text = text;
            line.length = std::min(length, max_decoded_length);
            stream.begin += length;
            return true;
        }
        if (stream.read_failed) return false;
        if (unread >= max_decoded_length) {
            // Everything that will be decoded is here; keep it aside and pass
            // over the rest of this long line.
            std::memcpy(stream.long_line_start, text, max_decoded_length);
            line.text = stream.long_line_start;
            line.length = max_decoded_length;
            return pass_over_rest_of_line(stream);
        }
        if (!refill(stream)) {
            if (stream.read_failed || stream.begin == stream.end) return false;
            // The last line has no line end.
            line.text = stream.buffer.data() + stream.begin;
            line.length = stream.end - stream.begin;
            stream.begin = stream.end;
            return true;
        }
    }
}

namespace {

// A line whose decoded part may not all be in the block yet: read whole,
// then decoded from a copy. Kept out of line, so that the common case
// inlines where it is used.
[[gnu::noinline]] int read_and_decode_from_copy(SourceStream& stream, SourceRecord& record) {
    SourceLine line;
    if (!read_source_line(stream, line)) return no_line_read;
    return decode_source_line(line.text, line.length, record);
}

}  // namespace

int read_and_decode_source_line(SourceStream& stream, SourceRecord& record) {
    // Before the start of the source is checked nothing is read, so the first
    // line always takes this way (read_source_line checks it).
    if (stream.end - stream.begin < max_decoded_length) return read_and_decode_from_copy(stream, record);

    // The decoded part of the line is all in the block, and the buffer holds
    // line_read_ahead characters after the block's line end: decoded where it
    // lies, the line reads as its copy in decode_source_line does. There the
    // first line end ends the decoded part; here too, for a line in the block
    // holds no line end but its last. A line longer than the decoded part has
    // none in it: it gets one at the end of that part for the time of
    // decoding, where its copy has one.
    char* const text = stream.buffer.data() + stream.begin;
    char* const decoded_end = text + max_decoded_length;  // at most the block's own line end
    const char held = *decoded_end;
    *decoded_end = '\n';
    const DecodedLine decoded = decode_line(text, record);
    *decoded_end = held;

    // The line's end, found from where decoding stopped, mostly two
    // characters on, not by a search from its start. The data is followed by
    // a line end.
    const char* line_end = decoded.stop;
    while (*line_end != '\n') ++line_end;
    if (line_end == stream.buffer.data() + stream.end) {
        // The line goes on beyond the block, its decoded part all decoded.
        return pass_over_rest_of_line(stream) ? decoded.supplied : no_line_read;
    }
    stream.begin += static_cast<std::size_t>(line_end - text) + 1;
    return decoded.supplied;
}

int decode_source_line(const char* text, std::size_t length, SourceRecord& record) {
    // Decoded from a copy that ends at its first line end and leaves room to
    // read ahead, so that nothing beyond the given text is ever read. Line
    // ends within the text are white space to a number, as spaces are: they
    // become spaces, so that only the last one ends the line.
    length = std::min(length, max_decoded_length);
    char line[max_decoded_length + 1 + line_read_ahead];
    std::memcpy(line, text, length);
    if (length != 0 && line[length - 1] == '\n') --length;
    std::replace(line, line + length, '\n', ' ');
    std::memset(line + length, '\n', 1 + line_read_ahead);
    return decode_line(line, record).supplied;
}

}  // namespace tsconv
