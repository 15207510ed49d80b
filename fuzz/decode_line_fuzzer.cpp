// Decodes one line held in a heap block of exactly its size, so that reading
// one byte beyond it is caught by AddressSanitizer, and checks the result
// against a decoder written from the source format with strtod for the
// values, and the texts taken from the digits against the values formatted.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

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

bool same_text(const tsconv::ValueText& a, const tsconv::ValueText& b) {
    return std::string_view(a.text, a.length) == std::string_view(b.text, b.length);
}

// Values no line can produce, so that a field written by mistake shows.
tsconv::SourceRecord sentinel_record() {
    tsconv::SourceRecord record;
    record.serial_date = -1.0 / 3;
    record.PV = 7e-300;
    record.wSP = -0.0;
    record.wOP = 12345.678;
    return record;
}

int decode_copy(const std::uint8_t* data, std::size_t size, tsconv::SourceRecord& record,
                std::unique_ptr<char[]>& copy) {
    copy.reset(new char[size]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    return tsconv::decode_source_line(copy.get(), size, record);
}

// A value's text, where there is one, is its double formatted.
void check_text(double value, const tsconv::ValueText& shown) {
    if (shown.length == 0) return;
    char text[tsconv::fixed6_max_length];
    const char* const end = tsconv::format_fixed6(text, value);
    if (std::string_view(shown.text, shown.length) != std::string_view(text, static_cast<std::size_t>(end - text))) {
        fail("value text differs from the value formatted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    tsconv::SourceRecord record = sentinel_record();
    std::unique_ptr<char[]> copy;
    const int count = decode_copy(data, size, record, copy);

    const tsconv::SourceRecord before = sentinel_record();
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

    // The same line decodes the same way again.
    tsconv::SourceRecord again = sentinel_record();
    std::unique_ptr<char[]> second_copy;
    if (decode_copy(data, size, again, second_copy) != count ||
        !same_bits(again.serial_date, record.serial_date) || !same_bits(again.PV, record.PV) ||
        !same_bits(again.wSP, record.wSP) || !same_bits(again.wOP, record.wOP) ||
        !same_text(again.PV_text, record.PV_text) || !same_text(again.wSP_text, record.wSP_text) ||
        !same_text(again.wOP_text, record.wOP_text) ||
        (size != 0 && std::memcmp(copy.get(), second_copy.get(), size) != 0)) {
        fail("second decoding differs");
    }
    return 0;
}
