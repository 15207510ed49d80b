#pragma once

// The model of the source and target formats, written from the formats alone: what the reader and the decoder must
// give for any source, and what any conversion's target and warnings must hold. For the tests and the fuzz targets.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tsconv {
struct SourceRecord;
}

namespace tsconv_test {

constexpr double inf = std::numeric_limits<double>::infinity();

constexpr std::string_view target_header = "Datum;Zeit;LP1_Main.PV;LP1_Main.wSP;LP1_Main.wOP\r\n";
inline const std::string header(target_header);

// The warning for a skipped record on the given line.
inline std::string skipped_warning(std::size_t line_number) {
    return "Zeile " + std::to_string(line_number) + ": Zeitstempel nicht umrechenbar, Datensatz uebersprungen\n";
}

inline bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The parts of a source that get decoded: the physical lines (split after each
// LF, the last may lack it) after a leading UTF-8 byte order mark, cut to 399.
void for_each_decoded_part(std::string_view source, const std::function<void(std::string_view)>& use);

// What a decoded line of the source gave.
enum class LineOutcome : unsigned char { nothing, record, warning };

struct ConversionCheck {
    std::string problem;  // empty when everything holds
    std::vector<std::string_view> records;  // into the target
    std::vector<LineOutcome> lines;
};

// Checks a complete conversion against its source: the target is the header and well-formed record lines, and every
// line that begins with a number (as a decoder written from the source format reads one) gave either a record or a
// warning naming it, in line order, while no other line gave either.
ConversionCheck check_conversion(std::string_view source, std::string_view target, std::string_view warnings);

// A value as format_fixed6 writes it.
std::string formatted(double value);

// True when each of the record's value texts, where there is one, is its value formatted.
bool texts_match_values(const tsconv::SourceRecord& record);

// Decodes any text as a line, from a padded copy of its decoded part; line ends in it are white space.
int decode_padded_copy(std::string_view text, tsconv::SourceRecord& record);

// Empty when the record after decoding a line holds what the model decoder gives (the values kept in `expected` from
// line to line, and their count) with texts that match; else what differs.
std::string decoded_unlike_the_model(int count, const tsconv::SourceRecord& record, std::string_view line,
                                     double expected[4]);

// Reads the file, which holds `source` and fails at `failing_at` where that lies within it. Empty when the reader
// hands out the decoded parts of the lines that ended before any failure, each decoded onto one record as the model
// has it, and reports a failure where there was one; else the first difference.
std::string first_line_read_unlike_the_model(std::FILE* file, std::string_view source,
                                             std::size_t failing_at = std::string_view::npos);

}  // namespace tsconv_test
