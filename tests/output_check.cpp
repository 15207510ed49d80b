#include "output_check.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "fixed_point.h"
#include "source.h"

namespace tsconv_test {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads exactly n digits at p as a number; false when any is not a digit.
bool fixed_digits(std::string_view text, std::size_t& p, std::size_t n, int& value) {
    if (text.size() - p < n) return false;
    value = 0;
    for (std::size_t i = 0; i < n; ++i, ++p) {
        if (!is_digit(text[p])) return false;
        value = value * 10 + (text[p] - '0');
    }
    return true;
}

bool literal(std::string_view text, std::size_t& p, std::string_view expected) {
    if (text.substr(p, expected.size()) != expected) return false;
    p += expected.size();
    return true;
}

// One or more digits without a leading zero (a lone "0" is fine), then a point
// and six decimals.
bool fixed6(std::string_view text, std::size_t& p, std::size_t& whole_digits) {
    const std::size_t start = p;
    while (p < text.size() && is_digit(text[p])) ++p;
    whole_digits = p - start;
    if (whole_digits == 0 || (whole_digits > 1 && text[start] == '0')) return false;
    if (!literal(text, p, ".")) return false;
    int decimals;
    return fixed_digits(text, p, 6, decimals);
}

bool value(std::string_view text, std::size_t& p) {
    if (p < text.size() && text[p] == '-') ++p;
    if (literal(text, p, "inf")) return true;
    std::size_t whole_digits;
    return fixed6(text, p, whole_digits);
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool is_record_line(std::string_view line) {
    std::size_t p = 0;
    int day, month, year, hour, minute;
    if (!fixed_digits(line, p, 2, day) || !literal(line, p, ".") || !fixed_digits(line, p, 2, month) ||
        !literal(line, p, ".") || !fixed_digits(line, p, 4, year) || !literal(line, p, ";") ||
        !fixed_digits(line, p, 2, hour) || !literal(line, p, ":") || !fixed_digits(line, p, 2, minute) ||
        !literal(line, p, ":")) {
        return false;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) ||
        hour > 23 || minute > 59) {
        return false;
    }
    const std::size_t seconds_start = p;
    std::size_t whole_digits;
    if (!fixed6(line, p, whole_digits) || whole_digits > 2) return false;
    if (whole_digits == 2 && line[seconds_start] > '5') return false;  // 60 or more
    for (int i = 0; i < 3; ++i) {
        if (!literal(line, p, ";") || !value(line, p)) return false;
    }
    return literal(line, p, "\r\n") && p == line.size();
}

bool split_target(std::string_view target, std::vector<std::string_view>& records) {
    records.clear();
    if (target.substr(0, target_header.size()) != target_header) return false;
    std::size_t p = target_header.size();
    while (p < target.size()) {
        const std::size_t end = target.find("\r\n", p);
        if (end == std::string_view::npos) return false;
        records.push_back(target.substr(p, end + 2 - p));
        p = end + 2;
    }
    return true;
}

void for_each_decoded_part(std::string_view source, const std::function<void(std::string_view)>& use) {
    if (source.substr(0, 3) == "\xEF\xBB\xBF") source.remove_prefix(3);
    while (!source.empty()) {
        const std::size_t end = source.find('\n');
        const std::size_t length = end == std::string_view::npos ? source.size() : end + 1;
        use(source.substr(0, length < tsconv::max_decoded_length ? length : tsconv::max_decoded_length));
        source.remove_prefix(length);
    }
}

std::vector<std::string_view> decoded_parts(std::string_view source) {
    std::vector<std::string_view> parts;
    for_each_decoded_part(source, [&](std::string_view part) { parts.push_back(part); });
    return parts;
}

bool begins_with_number(std::string_view part) {
    std::size_t p = 0;
    while (p < part.size() && is_space(part[p])) ++p;
    if (p < part.size() && (part[p] == '+' || part[p] == '-')) ++p;
    if (p < part.size() && (part[p] == '.' || part[p] == ',')) ++p;
    return p < part.size() && is_digit(part[p]);
}

std::string formatted(double value) {
    char text[tsconv::fixed6_max_length];
    return std::string(text, tsconv::format_fixed6(text, value));
}

int reference_decode(std::string_view line, double values[4]) {
    line = line.substr(0, tsconv::max_decoded_length);
    const std::size_t n = line.size();
    std::size_t p = 0;
    int count = 0;
    for (; count < 4; ++count) {
        if (count > 0) {
            if (p == n || line[p] != ';') break;
            ++p;
        }
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

bool texts_match_values(const tsconv::SourceRecord& record) {
    const std::pair<double, const tsconv::ValueText*> values[] = {
        {record.PV, &record.PV_text}, {record.wSP, &record.wSP_text}, {record.wOP, &record.wOP_text}};
    for (const auto& value : values) {
        const tsconv::ValueText& text = *value.second;
        if (text.length != 0 && std::string_view(text.text, text.length) != formatted(value.first)) return false;
    }
    return true;
}

namespace {

bool same_text(const tsconv::ValueText& a, const tsconv::ValueText& b) {
    return std::string_view(a.text, a.length) == std::string_view(b.text, b.length);
}

// The same bits in every value, the same texts.
bool same_record(const tsconv::SourceRecord& a, const tsconv::SourceRecord& b) {
    return std::memcmp(&a.serial_date, &b.serial_date, sizeof(double)) == 0 &&
           std::memcmp(&a.PV, &b.PV, sizeof(double)) == 0 && std::memcmp(&a.wSP, &b.wSP, sizeof(double)) == 0 &&
           std::memcmp(&a.wOP, &b.wOP, sizeof(double)) == 0 && same_text(a.PV_text, b.PV_text) &&
           same_text(a.wSP_text, b.wSP_text) && same_text(a.wOP_text, b.wOP_text);
}

}  // namespace

std::size_t first_line_decoded_differently(std::FILE* general_file, std::FILE* fused_file) {
    tsconv::SourceStream general, fused;
    tsconv::open_source_stream(general, general_file);
    tsconv::open_source_stream(fused, fused_file);
    tsconv::SourceRecord general_record, fused_record;
    for (std::size_t line_number = 1;; ++line_number) {
        tsconv::SourceLine line;
        const int expected =
            tsconv::read_source_line(general, line) ? tsconv::decode_source_line(line.text, line.length, general_record) : -1;
        if (tsconv::read_and_decode_source_line(fused, fused_record) != expected ||
            !same_record(fused_record, general_record)) {
            return line_number;
        }
        if (expected < 0) return 0;
    }
}

ConversionCheck check_conversion(std::string_view source, std::string_view target, std::string_view warnings) {
    ConversionCheck check;
    if (!split_target(target, check.records)) {
        check.problem = "the target is not the header and CR LF ended lines";
        return check;
    }
    for (const std::string_view record : check.records) {
        if (!is_record_line(record)) {
            check.problem = "malformed record line: " + std::string(record);
            return check;
        }
    }
    std::size_t numbered = 0;
    std::size_t warned = 0;
    for_each_decoded_part(source, [&](std::string_view part) {
        const std::size_t line_number = check.lines.size() + 1;
        const std::string warning = skipped_warning(line_number);
        const bool skipped = warnings.substr(0, warning.size()) == warning;
        if (skipped) {
            warnings.remove_prefix(warning.size());
            ++warned;
        }
        LineOutcome outcome = LineOutcome::nothing;
        if (begins_with_number(part)) {
            ++numbered;
            outcome = skipped ? LineOutcome::warning : LineOutcome::record;
        } else if (skipped && check.problem.empty()) {
            check.problem = "a warning for line " + std::to_string(line_number) + ", which does not begin with a number";
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
