#pragma once

// The source format: lines of "number;number;number;number", the serial date and the three
// values, with "," or "." as the decimal point.

#include <cstddef>
#include <cstdint>

namespace tsconv {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }  // whatever the locale

constexpr std::size_t max_decoded_length = 399;    // the rest of a longer line is passed over
constexpr std::size_t line_read_ahead = 7;         // the decoder reads eight characters at a time
constexpr std::size_t max_value_text_length = 16;  // "-", eight integer digits, ".", six decimals

// A value as the target shows it, taken from the digits of a plain decimal of at most eight
// integer digits and six decimals; empty where its double is to be formatted.
struct ValueText {
    char text[max_value_text_length + 8] = {};  // the text, and room for a last eight-byte store
    unsigned char length = 0;                   // 0: empty
};

// The current record of a run: each decoded line overwrites the fields it supplies; a value no
// line has supplied yet is 0. A text is the text of its double.
struct SourceRecord {
    double serial_date = 0.0;  // spreadsheet serial date on the source clock
    double PV = 0.0, wSP = 0.0, wOP = 0.0;
    ValueText PV_text = {}, wSP_text = {}, wOP_text = {};
};

// Decodes a line where it lies into the record, field by field up to the first character that
// does not fit; returns how many values it stored, 0 to 4. The line ends at its first line end,
// and line_read_ahead readable characters follow that.
int decode_source_line(const char* line, SourceRecord& record);

// Eight characters as one word, the first in the lowest byte, each less "0": digits become
// 0 to 9 (doc/DESIGN.md, "Digit words").
std::uint64_t digit_values(const char* eight_characters);
bool all_digits(std::uint64_t values);                   // all eight were digits
bool five_digits_end(std::uint64_t values);              // five digits, then none
std::uint64_t eight_digits_value(std::uint64_t values);  // the number eight digits make

}  // namespace tsconv
