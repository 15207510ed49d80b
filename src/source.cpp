#include "source.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tsconv {

namespace {

constexpr std::size_t read_block_size = 256 * 1024;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// White space as the C locale's isspace knows it.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Value of a scanned number that the library reports as out of range: beyond
// the largest double or below half the smallest one. The number is the integer
// of its digit_count digits (starting at digits, a point among them) times
// 10^exponent.
double out_of_range_value(const char* digits, std::size_t digit_count, std::int64_t exponent, bool negative) {
    std::size_t leading_zeros = 0;
    for (const char* p = digits; leading_zeros < digit_count && (*p == '0' || *p == '.'); ++p) {
        if (*p == '0') ++leading_zeros;
    }
    const std::size_t significant_digits = digit_count - leading_zeros;
    const bool huge =
        significant_digits != 0 && static_cast<std::int64_t>(significant_digits) + exponent > 0;
    const double magnitude = huge ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Scans one number: optional white space and sign, digits with at most one
// decimal point ("," or "."), at least one digit, and an exponent only when
// digits follow its "e" and optional sign. Returns the end of the number, or
// null when none starts at p.
char* scan_number(char* p, char* end, double& value) {
    while (p != end && is_space(*p)) ++p;
    char* number = p;  // from_chars takes "-" but not "+"
    bool negative = false;
    if (p != end && *p == '+') {
        number = ++p;
    } else if (p != end && *p == '-') {
        negative = true;
        ++p;
    }
    // The digits as an integer with a decimal exponent; exact up to 19 digits.
    std::uint64_t mantissa = 0;
    const char* const integer_digits = p;
    while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    std::size_t digits = static_cast<std::size_t>(p - integer_digits);
    std::int64_t exponent = 0;
    if (p != end && (*p == '.' || *p == ',')) {
        *p++ = '.';
        const char* const fraction_digits = p;
        while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
        const std::size_t fraction_length = static_cast<std::size_t>(p - fraction_digits);
        digits += fraction_length;
        exponent = -static_cast<std::int64_t>(fraction_length);
    }
    if (digits == 0) return nullptr;
    if (p != end && (*p == 'e' || *p == 'E')) {
        char* q = p + 1;
        const bool exponent_negative = q != end && *q == '-';
        if (q != end && (*q == '+' || *q == '-')) ++q;
        if (q != end && is_digit(*q)) {
            int written_exponent = 0;
            for (; q != end && is_digit(*q); ++q) {
                if (written_exponent < 100000) written_exponent = written_exponent * 10 + (*q - '0');
            }
            exponent += exponent_negative ? -written_exponent : written_exponent;
            p = q;
        }
    }
    // Exact integer and exact power of ten: one correctly rounded operation
    // gives the correctly rounded value. Everything else goes the long way.
    if (digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && exponent >= -22 &&
        exponent <= 22) {
        const double magnitude = static_cast<double>(static_cast<std::int64_t>(mantissa));
        value = exponent < 0 ? magnitude / exact_powers_of_ten[-exponent]
                             : magnitude * exact_powers_of_ten[exponent];
        if (negative) value = -value;
        return p;
    }
    const std::from_chars_result result = std::from_chars(number, p, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = out_of_range_value(integer_digits, digits, exponent, negative);
    }
    return p;
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
        std::fread(stream.buffer.data() + unread, 1, stream.buffer.size() - unread, stream.file);
    stream.end += got;
    if (got < stream.buffer.size() - unread) {
        if (std::ferror(stream.file)) stream.read_failed = true;
        if (std::ferror(stream.file) || std::feof(stream.file)) stream.at_end = true;
    }
    return got > 0;
}

void pass_over_rest_of_line(SourceStream& stream) {
    stream.begin = stream.end;
    while (refill(stream)) {
        const char* data = stream.buffer.data();
        const void* line_end = std::memchr(data, '\n', stream.end);
        if (line_end != nullptr) {
            stream.begin = static_cast<std::size_t>(static_cast<const char*>(line_end) - data) + 1;
            return;
        }
        stream.begin = stream.end;
    }
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
    stream.buffer.assign(read_block_size, '\0');
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
            pass_over_rest_of_line(stream);
            return !stream.read_failed;
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

int decode_source_line(char* text, std::size_t length, SourceRecord& record) {
    double* const fields[] = {&record.serial_date, &record.PV, &record.wSP, &record.wOP};
    char* p = text;
    char* const end = text + length;
    for (int count = 0; count < 4; ++count) {
        if (count > 0) {
            if (p == end || *p != ';') return count;
            ++p;
        }
        double value;
        char* const next = scan_number(p, end, value);
        if (next == nullptr) return count;
        *fields[count] = value;
        p = next;
    }
    return 4;
}

}  // namespace tsconv
