// Decodes one line held in a heap block of exactly its size, so that reading
// one byte beyond it is caught by AddressSanitizer, onto a record whose every
// value has its text, and checks the result against a decoder written from
// the source format with strtod for the values, and every text against its
// value formatted.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "fixed_point.h"
#include "source.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "number;number;number;number": each number is optional white space, an
// optional sign, digits with at most one decimal separator and at least one
// digit, and an exponent when digits follow the "e" and its optional sign.
// Only the first max_decoded_length characters count.
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

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "decode_line_fuzzer: %s\n", what);
    std::abort();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string formatted(double value) {
    char text[tsconv::fixed6_max_length];
    return std::string(text, tsconv::format_fixed6(text, value));
}

// Values no line can produce, each with its text, so that a field written by
// mistake shows, and so does a text left behind by a value that changed.
tsconv::SourceRecord sentinel_record() {
    tsconv::SourceRecord record;
    record.serial_date = -1.0 / 3;
    record.PV = 7e-300;
    record.wSP = -0.0;
    record.wOP = 12345.678;
    for (auto field : {std::make_pair(record.PV, &record.PV_text), std::make_pair(record.wSP, &record.wSP_text),
                       std::make_pair(record.wOP, &record.wOP_text)}) {
        const std::string text = formatted(field.first);
        std::memcpy(field.second->text, text.data(), text.size());
        field.second->length = static_cast<unsigned char>(text.size());
    }
    return record;
}

// A value's text, where there is one, is its double formatted.
void check_text(double value, const tsconv::ValueText& shown) {
    if (shown.length != 0 && std::string_view(shown.text, shown.length) != formatted(value)) {
        fail("value text differs from the value formatted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const tsconv::SourceRecord before = sentinel_record();
    tsconv::SourceRecord record = before;
    std::unique_ptr<char[]> copy(new char[size]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    const int count = tsconv::decode_source_line(copy.get(), size, record);

    double expected[4] = {before.serial_date, before.PV, before.wSP, before.wOP};
    const int expected_count = reference_decode(line, expected);
    if (count != expected_count) fail("number of values differs from the reference");
    const double got[4] = {record.serial_date, record.PV, record.wSP, record.wOP};
    for (int i = 0; i < 4; ++i) {
        // Also the fields not supplied: they keep what they held.
        if (!same_bits(got[i], expected[i])) fail("value differs from the reference");
    }

    check_text(record.PV, record.PV_text);
    check_text(record.wSP, record.wSP_text);
    check_text(record.wOP, record.wOP_text);

    // The decoder leaves the text as it is.
    if (size != 0 && std::memcmp(copy.get(), data, size) != 0) fail("text changed");
    return 0;
}
