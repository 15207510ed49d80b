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

// White space as the C locale's isspace knows it.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A number as scanned: sign, digits and decimal exponent, not yet a double.
struct ScannedNumber {
    bool negative = false;
    std::uint64_t mantissa = 0;    // the digits as an integer; exact while digit_count <= 19
    std::size_t digit_count = 0;   // before and after the decimal point
    std::int64_t exponent = 0;     // the number is mantissa * 10^exponent
    const char* digits = nullptr;  // its first digit or decimal point
    const char* end = nullptr;     // just after it
};

// A written exponent is counted up to this and no further. A number of a
// decoded line (at most 399 digits) reaches zero or infinity well before an
// exponent of 400 + 324 either way, and ten times this still fits an int.
constexpr int exponent_limit = 100000;

// Eight characters as one word, the first in the lowest byte, so that short
// texts are moved and masked whole.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "words of eight characters are taken in little-endian byte order"
#endif
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
// carry into the next character only ever follows such a one.
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

// Scans one number at p: optional white space and sign, digits with at most
// one decimal point ("," or "."), at least one digit, and an exponent only
// when digits follow its "e" and optional sign. False when none starts at p.
// The text before end must end in a line end: every scan of digits, signs and
// points stops there, so only the white space needs checking against end.
bool scan_number(const char* p, const char* end, ScannedNumber& number) {
    while (is_space(*p)) {
        if (++p == end) return false;
    }
    number.negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    number.digits = p;
    const char* const integer_digits = p;
    p = scan_digits(p, number.mantissa);
    number.digit_count = static_cast<std::size_t>(p - integer_digits);
    if (*p == '.' || *p == ',') {
        const char* const fraction_digits = ++p;
        p = scan_digits(p, number.mantissa);
        number.digit_count += static_cast<std::size_t>(p - fraction_digits);
        number.exponent = -(p - fraction_digits);
    }
    if (number.digit_count == 0) return false;
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
            p = q;
        }
    }
    number.end = p;
    return true;
}

// Magnitude of a number whose digits or exponent are beyond the exact fast
// path: the library's correctly rounded conversion, and for what it reports
// as out of range, infinity or zero.
double magnitude_the_long_way(const ScannedNumber& number) {
    char text[max_decoded_length];  // the number with "." as its decimal point
    const std::size_t length = static_cast<std::size_t>(number.end - number.digits);
    std::memcpy(text, number.digits, length);
    std::replace(text, text + length, ',', '.');
    double magnitude;
    if (std::from_chars(text, text + length, magnitude).ec != std::errc::result_out_of_range) return magnitude;
    // Beyond the largest double or below half the smallest one: which of the
    // two, the significant digits and the exponent tell.
    std::size_t leading_zeros = 0;
    for (const char* p = text; leading_zeros < number.digit_count && (*p == '0' || *p == '.'); ++p) {
        if (*p == '0') ++leading_zeros;
    }
    const std::size_t significant_digits = number.digit_count - leading_zeros;
    const bool huge = significant_digits != 0 &&
                      static_cast<std::int64_t>(significant_digits) + number.exponent > 0;
    return huge ? std::numeric_limits<double>::infinity() : 0.0;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double number_value(const ScannedNumber& number) {
    // Exact integer and exact power of ten: one correctly rounded operation
    // gives the correctly rounded value. Everything else goes the long way.
    double magnitude;
    if (number.digit_count <= 19 && number.mantissa <= (std::uint64_t{1} << 53) &&
        number.exponent >= -22 && number.exponent <= 22) {
        const double integer = static_cast<double>(static_cast<std::int64_t>(number.mantissa));
        magnitude = number.exponent < 0 ? integer / exact_powers_of_ten[-number.exponent]
                                        : integer * exact_powers_of_ten[number.exponent];
    } else {
        magnitude = magnitude_the_long_way(number);
    }
    return number.negative ? -magnitude : magnitude;
}

// A number of the form most lines hold, as scanned: digits with at most one
// decimal point and at most a "-" before them.
struct PlainNumber {
    bool negative = false;
    std::uint64_t mantissa = 0;  // the digits as an integer; exact while there are at most 19
    const char* integer_digits = nullptr;
    std::size_t integer_length = 0;
    const char* fraction_digits = nullptr;
    std::size_t fraction_length = 0;
    const char* end = nullptr;  // just after it
};

// Scans the plain form at p; a serial date's digits partly a word at a time.
// What it finds may be no number at all, or the start of a longer one (an
// exponent follows).
inline void scan_plain_number(const char* p, PlainNumber& number, bool serial_date) {
    number.negative = *p == '-';
    if (number.negative) ++p;
    number.integer_digits = p;
    const std::uint64_t values = digit_values(load_word(p));
    if (serial_date && five_digits_end(values)) {
        // Every date from 1927 to 2173 has five digits before the point.
        number.mantissa = eight_digits_value(values << 24);
        p += 5;
    } else {
        p = scan_digits(p, number.mantissa);
    }
    number.integer_length = static_cast<std::size_t>(p - number.integer_digits);
    number.fraction_digits = p;  // no decimals: none are read from here
    if (*p == '.' || *p == ',') {
        number.fraction_digits = ++p;
        // Ten or more decimals on most lines.
        p = serial_date ? scan_many_digits(p, number.mantissa) : scan_digits(p, number.mantissa);
        number.fraction_length = static_cast<std::size_t>(p - number.fraction_digits);
    }
    number.end = p;
}

// The value of a plain number of at most 19 digits whose mantissa is below
// 2^53: an exact integer divided by an exact power of ten, one correctly
// rounded operation, as number_value does.
double plain_value(const PlainNumber& number) {
    const double magnitude = static_cast<double>(static_cast<std::int64_t>(number.mantissa)) /
                             exact_powers_of_ten[number.fraction_length];
    return number.negative ? -magnitude : magnitude;
}

bool exponent_follows(const PlainNumber& number) { return *number.end == 'e' || *number.end == 'E'; }

// True when the plain number is a whole number whose value plain_value
// gives: digits, an exact mantissa, no exponent.
bool is_exact_plain(const PlainNumber& number) {
    const std::size_t digit_count = number.integer_length + number.fraction_length;
    // 1 to 15 digits are below 2^53 by their count; up to 19 may be.
    const bool exact_integer =
        digit_count - 1 < 15 || (digit_count - 1 < 19 && number.mantissa <= (std::uint64_t{1} << 53));
    return exact_integer && !exponent_follows(number);
}

// A plain decimal of at most eight integer digits and six decimals shows as
// its own digits, padded with zeros to six decimals: its double lies within
// 2^-27 of it (half a unit in the last place below 2^27), far less than half
// a millionth, so rounding the double to six decimals gives the decimal back.
bool is_short_decimal(const PlainNumber& number) {
    return number.integer_length <= 8 && number.fraction_length <= 6 &&
           number.integer_length + number.fraction_length != 0 && !exponent_follows(number);
}

// The text of a short decimal. A leading zero other than a lone "0" is not
// shown, so such a number gets no text.
void take_value_text(const PlainNumber& number, ValueText& shown) {
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

// Stores a short decimal and its text. A text goes with the bits of its
// double: where they are those the value already has, as a setpoint's
// mostly are from line to line, so is the text.
inline void store_short_value(const PlainNumber& number, double& value, ValueText& shown) {
    const double read = plain_value(number);  // at most 14 digits
    std::uint64_t read_bits;
    std::uint64_t held_bits;
    std::memcpy(&read_bits, &read, sizeof read);
    std::memcpy(&held_bits, &value, sizeof value);
    if (read_bits == held_bits) return;
    value = read;
    take_value_text(number, shown);
}

// Any number at p: scanned in full, then converted. Returns the character
// after it, or nullptr when no number starts at p. Kept out of line, so that
// the plain form inlines where it is read.
[[gnu::noinline]] const char* read_any_number(const char* p, const char* end, double& value) {
    ScannedNumber number;
    if (!scan_number(p, end, number)) return nullptr;
    value = number_value(number);
    return number.end;
}

// Reads the serial date at p into value. Returns the character after it, or
// nullptr when no number starts at p.
inline const char* read_serial_date(const char* p, const char* end, double& value) {
    PlainNumber number;
    scan_plain_number(p, number, true);
    if (!is_exact_plain(number)) return read_any_number(p, end, value);
    value = plain_value(number);
    return number.end;
}

// Reads a value at p, and its text where it can be taken from the digits.
// Returns the character after it, or nullptr when no number starts at p.
inline const char* read_value(const char* p, const char* end, double& value, ValueText& shown) {
    PlainNumber number;
    scan_plain_number(p, number, false);
    if (!is_short_decimal(number)) {
        p = read_any_number(p, end, value);
        if (p != nullptr) shown.length = 0;
        return p;
    }
    store_short_value(number, value, shown);
    return number.end;
}

// Decodes a line that ends in a line end (see scan_number).
int decode_terminated_line(const char* p, const char* end, SourceRecord& record) {
    if ((p = read_serial_date(p, end, record.serial_date)) == nullptr) return 0;
    if (*p != ';' || (p = read_value(p + 1, end, record.PV, record.PV_text)) == nullptr) return 1;
    if (*p != ';' || (p = read_value(p + 1, end, record.wSP, record.wSP_text)) == nullptr) return 2;
    if (*p != ';' || (p = read_value(p + 1, end, record.wOP, record.wOP_text)) == nullptr) return 3;
    return 4;
}

// Reads ";" and a short decimal at p into value and its text, and moves p
// past them. False, with nothing stored, for anything else.
inline bool read_short_value(const char*& p, double& value, ValueText& shown) {
    PlainNumber number;
    scan_plain_number(p + 1, number, false);
    if (!is_short_decimal(number)) return false;
    store_short_value(number, value, shown);
    p = number.end;
    return true;
}

// Decodes the line at text as decode_terminated_line would, when its numbers
// are plain: a serial date and short decimals. Returns how many values it
// supplied, with stop where decoding stopped; or -1 when it cannot tell this
// way (a number of another form). A serial date it stores has at most 19
// digits and a value 14, so all lie within the first 72 characters, far
// inside the decoded part: decoding the line the general way stores the same.
int decode_plain_line(const char* text, SourceRecord& record, const char*& stop) {
    PlainNumber serial_date;
    scan_plain_number(text, serial_date, true);
    if (!is_exact_plain(serial_date)) return -1;
    record.serial_date = plain_value(serial_date);
    stop = serial_date.end;
    if (*stop != ';') return 1;
    if (!read_short_value(stop, record.PV, record.PV_text)) return -1;
    if (*stop != ';') return 2;
    if (!read_short_value(stop, record.wSP, record.wSP_text)) return -1;
    if (*stop != ';') return 3;
    if (!read_short_value(stop, record.wOP, record.wOP_text)) return -1;
    return 4;
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

// Any other line: read, then decoded from its start. Kept out of line, so
// that the common case inlines where it is used.
[[gnu::noinline]] int read_and_decode_the_general_way(SourceStream& stream, SourceRecord& record) {
    SourceLine line;
    if (!read_source_line(stream, line)) return -1;
    return decode_source_line(line.text, line.length, record);
}

}  // namespace

int read_and_decode_source_line(SourceStream& stream, SourceRecord& record) {
    // The common line, its numbers plain and the decoded part of it all read:
    // decoded where it lies, its end is then found from where decoding
    // stopped, mostly two characters on, instead of by a search from its
    // start. A line longer than the decoded part decodes the same this way,
    // its plain numbers lying well within that part.
    if (stream.start_checked && stream.end - stream.begin >= max_decoded_length) {
        const char* const text = stream.buffer.data() + stream.begin;
        const char* stop = text;
        const int supplied = decode_plain_line(text, record, stop);
        if (supplied >= 0) {
            while (*stop != '\n') ++stop;  // the data is followed by a line end
            if (stop != stream.buffer.data() + stream.end) {
                stream.begin += static_cast<std::size_t>(stop - text) + 1;
                return supplied;
            }
        }
    }
    return read_and_decode_the_general_way(stream, record);
}

int decode_source_line(const char* text, std::size_t length, SourceRecord& record) {
    // Decoded from a copy that ends in a line end and leaves room to read
    // ahead, so that nothing beyond the given text is ever read.
    length = std::min(length, max_decoded_length);
    char line[max_decoded_length + 1 + line_read_ahead];
    std::memcpy(line, text, length);
    if (length == 0 || line[length - 1] != '\n') line[length++] = '\n';
    std::memset(line + length, '\n', line_read_ahead);
    return decode_terminated_line(line, line + length, record);
}

}  // namespace tsconv
