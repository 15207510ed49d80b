#pragma once

// The current record of a run: the serial date and the three values of the last lines decoded.

#include <cstddef>

namespace tsconv {

constexpr std::size_t max_value_text_length = 16;  // "-", eight integer digits, ".", six decimals

// A value as the target shows it, taken from the digits of a plain decimal of at most eight
// integer digits and six decimals; empty where its double is to be formatted.
struct ValueText {
    char text[max_value_text_length + 8] = {};  // the text, and room for a last eight-byte store
    unsigned char length = 0;                   // 0: empty
};

// Each decoded line overwrites the fields it supplies; a value no line has supplied yet is 0. A
// text is the text of its double. PV, wSP and wOP are named after the target's columns
// LP1_Main.PV, LP1_Main.wSP and LP1_Main.wOP.
struct SourceRecord {
    double serial_date = 0.0;  // spreadsheet serial date on the source clock
    double PV = 0.0, wSP = 0.0, wOP = 0.0;
    ValueText PV_text = {}, wSP_text = {}, wOP_text = {};
};

}  // namespace tsconv
