#pragma once

// The source format: "number;number;number;number", the serial date and the
// three values, with "," or "." as the decimal point, decoded into the record.

#include <cstddef>
#include <cstdint>

namespace tsconv {

// Only the first 399 characters of a line are decoded; the rest of a longer
// line is passed over, never taken as a line of its own.
constexpr std::size_t max_decoded_length = 399;

// The decoder takes eight characters at a time, from anywhere up to the last
// character of a line: it reads up to seven characters beyond the line.
constexpr std::size_t line_read_ahead = 7;

// Longest text of a value taken from its digits: "-", eight integer digits,
// ".", six decimals.
constexpr std::size_t max_value_text_length = 16;

// A value as the target shows it, where the decoder could take its text from
// the digits it read: a plain decimal of at most eight integer digits and six
// decimals shows as exactly those digits. Empty where the value is to be
// formatted from its double.
struct ValueText {
    char text[max_value_text_length + 8] = {};  // the text, and room for a last eight-byte store
    unsigned char length = 0;                   // 0: empty
};

// The current record of a run: each decoded source line overwrites the fields
// it supplies and leaves the others as they were. It starts zeroed, so a value
// that no line has supplied yet prints as 0.000000. A value's text, when not
// empty, is the text of its double, and goes with it.
struct SourceRecord {
    double serial_date = 0.0;  // spreadsheet serial date on the source clock
    double PV = 0.0;
    double wSP = 0.0;
    double wOP = 0.0;
    ValueText PV_text = {};
    ValueText wSP_text = {};
    ValueText wOP_text = {};
};

// Decodes the decoded part of a line where it lies, field by field into the
// record, stopping at the first character that does not fit. The line ends at
// its first line end, and line_read_ahead readable characters follow that;
// nothing is changed. Returns how many values were stored, 0 to 4; fields not
// supplied keep their values. A white space, a sign and an exponent may come
// with a number; a "," counts as a decimal point.
int decode_source_line(const char* line, SourceRecord& record);

// The same for any text, decoded from a padded copy of its first
// max_decoded_length characters: nothing beyond text + length is read. Line
// ends within the text count as white space, as spaces do.
int decode_source_line(const char* text, std::size_t length, SourceRecord& record);

// Eight characters of a line as one word, the first in the lowest byte, each
// less "0": the digits become 0 to 9. Exact: see doc/DESIGN.md, "Digit words".
std::uint64_t digit_values(const char* eight_characters);
bool all_digits(std::uint64_t values);        // all eight were digits
bool five_digits_end(std::uint64_t values);   // the first five were digits, the sixth not
std::uint64_t eight_digits_value(std::uint64_t values);  // the number eight digits make

}  // namespace tsconv
