#pragma once

#include <cstddef>

namespace tsconv {

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

}  // namespace tsconv
