#pragma once

// The source format: lines of "number;number;number;number", the serial date and the three
// values, with "," or "." as the decimal point.

#include <cstdint>

#include "source_record.h"

namespace tsconv {

// Decodes a line where it lies into the record, field by field up to the first character that
// does not fit; returns how many values it stored, 0 to 4. The line ends at its first line end,
// and line_read_ahead readable characters follow that (io_block.h).
int decode_source_line(const char* line, SourceRecord& record);

// Eight characters as one word, the first in the lowest byte, each less "0": digits become
// 0 to 9 (doc/DESIGN.md, "Digit words").
std::uint64_t digit_values(const char* eight_characters);
bool all_digits(std::uint64_t values);                   // all eight were digits
bool five_digits_end(std::uint64_t values);              // five digits, then none
std::uint64_t eight_digits_value(std::uint64_t values);  // the number eight digits make

}  // namespace tsconv
