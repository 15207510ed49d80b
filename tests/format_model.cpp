#include "format_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fixed_point.h"
#include "io_block.h"
#include "line_decoder.h"
#include "source.h"

namespace tsconv_test {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool literal(std::string_view text, std::size_t& p, std::string_view expected) {
    if (text.substr(p, expected.size()) != expected) return false;
    p += expected.size();
    return true;
}

// One or more digits without a leading zero (a lone "0" is fine), then a point and six decimals.
bool fixed6(std::string_view text, std::size_t& p, std::size_t& whole_digits) {
    const std::size_t start = p;
    while (p < text.size() && is_digit(text[p])) ++p;
    whole_digits = p - start;
    if (whole_digits == 0 || (whole_digits > 1 && text[start] == '0') || !literal(text, p, ".")) return false;
    for (int decimal = 0; decimal < 6; ++decimal, ++p) {
        if (p == text.size() || !is_digit(text[p])) return false;
    }
    return true;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

constexpr std::string_view minute_pattern = "DD.MM.YYYY;HH:MM:";

// A minute as minute_pattern has it, of a real calendar date in the years 1 to 9999.
bool is_minute_text(std::string_view line) {
    for (std::size_t i = 0; i < minute_pattern.size(); ++i) {
        const char c = minute_pattern[i];
        if (i == line.size() || (c >= 'A' ? !is_digit(line[i]) : line[i] != c)) return false;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        int n = 0;
        for (std::size_t i = at; i < at + length; ++i) n = n * 10 + (line[i] - '0');
        return n;
    };
    const int day = number(0, 2), month = number(3, 2), year = number(6, 4);
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month) &&
           number(11, 2) <= 23 && number(14, 2) <= 59;
}

// One record line, CR LF included: "DD.MM.YYYY;HH:MM:S.SSSSSS;V;V;V", seconds of one or two digits without a leading
// zero and below 60, and each value "-?digits.dddddd" (no leading zeros) or "inf" or "-inf".
bool is_record_line(std::string_view line) {
    std::size_t p = minute_pattern.size();
    std::size_t whole_digits;
    if (!is_minute_text(line) || !fixed6(line, p, whole_digits) || whole_digits > 2) return false;
    if (whole_digits == 2 && line[minute_pattern.size()] > '5') return false;  // 60 or more
    for (int i = 0; i < 3; ++i) {
        if (!literal(line, p, ";")) return false;
        if (p < line.size() && line[p] == '-') ++p;
        if (!literal(line, p, "inf") && !fixed6(line, p, whole_digits)) return false;
    }
    return literal(line, p, "\r\n") && p == line.size();
}

// A decoder written from the source format: "number;number;number;number", each number optional white space, an
// optional sign, digits with at most one decimal separator and at least one digit, and an exponent when digits follow
// the "e" and its optional sign, converted by strtod. Only the first max_decoded_length characters count. Returns how
// many numbers it stored in values, 0 to 4.
int reference_decode(std::string_view line, double values[4]) {
    line = line.substr(0, tsconv::max_decoded_length);
    const std::size_t n = line.size();
    std::size_t p = 0;
    int count = 0;
    for (; count < 4; ++count) {
        if (count > 0 && (p == n || line[p++] != ';')) break;  // no separator before the number
        std::size_t q = p;
        while (q < n && is_space(line[q])) ++q;
        std::string number;
        if (q < n && (line[q] == '+' || line[q] == '-')) number += line[q++];
        std::size_t digits = 0;
        while (q < n && is_digit(line[q])) number += line[q++], ++digits;
        if (q < n && (line[q] == '.' || line[q] == ',')) {
            number += '.';
            ++q;
            while (q < n && is_digit(line[q])) number += line[q++], ++digits;
        }
        if (digits == 0) break;
        if (q < n && (line[q] == 'e' || line[q] == 'E')) {
            std::size_t e = q + 1;
            std::string exponent = "e";
            if (e < n && (line[e] == '+' || line[e] == '-')) exponent += line[e++];
            if (e < n && is_digit(line[e])) {
                while (e < n && is_digit(line[e])) exponent += line[e++];
                number += exponent;
                q = e;
            }
        }
        values[count] = std::strtod(number.c_str(), nullptr);
        p = q;
    }
    return count;
}

}  // namespace

void for_each_decoded_part(std::string_view source, const std::function<void(std::string_view)>& use) {
    if (source.substr(0, 3) == "\xEF\xBB\xBF") source.remove_prefix(3);
    while (!source.empty()) {
        const std::size_t end = source.find('\n');
        const std::size_t length = end == std::string_view::npos ? source.size() : end + 1;
        use(source.substr(0, length < tsconv::max_decoded_length ? length : tsconv::max_decoded_length));
        source.remove_prefix(length);
    }
}

std::string formatted(double value) {
    char text[tsconv::fixed6_max_length];
    return std::string(text, tsconv::format_fixed6(text, value));
}

bool texts_match_values(const tsconv::SourceRecord& record) {
    const auto matches = [](double value, const tsconv::ValueText& text) {
        return text.length == 0 || std::string_view(text.text, text.length) == formatted(value);
    };
    return matches(record.PV, record.PV_text) && matches(record.wSP, record.wSP_text) &&
           matches(record.wOP, record.wOP_text);
}

int decode_padded_copy(std::string_view text, tsconv::SourceRecord& record) {
    std::string line(text.substr(0, tsconv::max_decoded_length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::replace(line.begin(), line.end(), '\n', ' ');  // white space to a number, as spaces are
    line.append(1 + tsconv::line_read_ahead, '\n');
    return tsconv::decode_source_line(line.data(), record);
}

std::string decoded_unlike_the_model(int count, const tsconv::SourceRecord& record, std::string_view line,
                                     double expected[4]) {
    const int expected_count = reference_decode(line, expected);
    const double got[4] = {record.serial_date, record.PV, record.wSP, record.wOP};
    for (int field = 0; field < 4; ++field) {
        if (!same_bits(got[field], expected[field])) return "field " + std::to_string(field) + " differs";
    }
    if (count != expected_count) return std::to_string(count) + " values";
    return texts_match_values(record) ? "" : "a value text unlike its value";
}

std::string first_line_read_unlike_the_model(std::FILE* file, std::string_view source, std::size_t failing_at) {
    const bool fails = failing_at < source.size();
    if (fails) source = source.substr(0, source.substr(0, failing_at).rfind('\n') + 1);
    tsconv::SourceStream stream;
    tsconv::open_source_stream(stream, file);
    tsconv::SourceRecord record;
    double expected[4] = {0, 0, 0, 0};
    std::string problem;
    std::size_t line_number = 0;
    for_each_decoded_part(source, [&](std::string_view part) {
        if (!problem.empty()) return;
        const std::string at = "line " + std::to_string(++line_number) + ": ";
        const char* const line = tsconv::read_source_line(stream);
        if (line == nullptr) {
            problem = at + "not read";
            return;
        }
        // A line end is due at index 399 at the latest.
        const char* const end = std::find(line, line + tsconv::max_decoded_length + 1, '\n');
        const auto length = static_cast<std::size_t>(end - line);
        if (std::string_view(line, length) != part.substr(0, part.find('\n'))) {
            problem = at + "read as " + std::string(line, length);
        } else {
            const int count = tsconv::decode_source_line(line, record);
            const std::string decoded = decoded_unlike_the_model(count, record, part, expected);
            if (!decoded.empty()) problem = at + decoded;
        }
    });
    if (!problem.empty()) return problem;
    if (tsconv::read_source_line(stream) != nullptr) return "a line more than the model has";
    return stream.read_failed == fails ? "" : "a read failure not reported as it happened";
}

ConversionCheck check_conversion(std::string_view source, std::string_view target, std::string_view warnings) {
    ConversionCheck check;
    if (!starts_with(target, target_header)) {
        check.problem = "the target does not start with the header";
        return check;
    }
    for (std::size_t p = target_header.size(), end; p < target.size(); p = end + 2) {
        end = target.find("\r\n", p);
        check.records.push_back(target.substr(p, end + 2 - p));
        if (end == std::string_view::npos || !is_record_line(check.records.back())) {
            check.problem = "not a record line ended by CR LF: " + std::string(check.records.back());
            return check;
        }
    }
    std::size_t numbered = 0, warned = 0;
    for_each_decoded_part(source, [&](std::string_view part) {
        const std::size_t line_number = check.lines.size() + 1;
        const std::string warning = skipped_warning(line_number);
        const bool skipped = starts_with(warnings, warning);
        if (skipped) {
            warnings.remove_prefix(warning.size());
            ++warned;
        }
        double values[4];
        LineOutcome outcome = LineOutcome::nothing;
        if (reference_decode(part, values) > 0) {
            ++numbered;
            outcome = skipped ? LineOutcome::warning : LineOutcome::record;
        } else if (skipped && check.problem.empty()) {
            check.problem = "a warning for line " + std::to_string(line_number) + ", which begins with no number";
        }
        check.lines.push_back(outcome);
    });
    if (!check.problem.empty()) return check;
    if (!warnings.empty()) {
        check.problem = "warnings out of line order or malformed: " + std::string(warnings.substr(0, 80));
    } else if (check.records.size() > check.lines.size()) {
        check.problem = "more records than source lines";
    } else if (check.records.size() + warned != numbered) {
        check.problem = std::to_string(check.records.size()) + " records and " + std::to_string(warned) +
                        " warnings for " + std::to_string(numbered) + " lines that begin with a number";
    }
    return check;
}

}  // namespace tsconv_test
